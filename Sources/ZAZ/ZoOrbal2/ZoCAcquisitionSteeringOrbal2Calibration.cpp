// The steering's part in an axis calibration: it knows which joints produced each recorded
// image, so it pairs the host's registrations with them and feeds the calibration.
#include "ZoCAcquisitionSteeringOrbal2.h"

#include "ZoCOrbal2AxisCalibration.h"

void ZoCAcquisitionSteeringOrbal2::AddToCalibrationSet(const GUID& id, const CbMatrix4Rf& registration) {
    const float* joints = GetDHParametersForImageSourceID(id);
    if (joints)
        m_pAxisCalibration->AddInputResponse(joints, registration);
}

// The checker file is written before the log-file name is set: the report of the run itself
// goes to the log file named before, this call's report to the one given here.
void ZoCAcquisitionSteeringOrbal2::RunAxisCalibration(const CString& logFileName, std::stringstream*) {
    m_pAxisCalibration->Run(0, 0, 0);
    m_pAxisCalibration->GenerateCalibCheckerOutput(0, "???");
    m_pAxisCalibration->SetLogfileName(logFileName);
    m_pAxisCalibration->GenerateReport();
}

ZoCOrbal2AxisCalibration* ZoCAcquisitionSteeringOrbal2::GetAxisCalibration() const {
    return m_pAxisCalibration.get();
}

void ZoCAcquisitionSteeringOrbal2::GetDefaultCalibrationSequence(CJointPositionSequence& sequence) const {
    m_pAxisCalibration->GetDefaultCalibrationSequence(sequence);
}
