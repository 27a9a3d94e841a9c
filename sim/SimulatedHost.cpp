#include "SimulatedHost.h"

#include <cmath>

namespace Sim {

SimulatedHost::SimulatedHost(ZoCAcquisitionSteeringOrbal2& steering, VirtualScanner& scanner, EAreaType area)
    : m_steering(steering),
      m_scanner(&scanner),
      m_area(ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2).ProvideImageArea(area)) {
    steering.GetAxisChain().GetNeutralConfiguration(m_current);
}

int SimulatedHost::Record(const ZoCOrbal2AxisChain::CJointPositionSequence& seq, std::vector<ZoCFieldCoord>* fields) {
    for (int64_t i = 0; i < seq.GetCount(); ++i) {
        const ZoCOrbal2AxisChain::NSConfigurationRequest& request = seq[i];
        m_dTravelTime += ZoCJawScanJointSequenceGenerator::StepTimeShortWay(m_current.Data(), request.m_config.Data());
        m_current = request.m_config;

        RecordedImage image = m_scanner->Record(request.m_config);
        const CImageSource source = MakeImageSource(image, request.m_strName);
        m_area.AddImageSource(source);
        m_steering.AssociateRequestAndImageSourceID(request.m_strName, source.GetID());
        m_steering.PutScan(image.coords, source.GetID());
        if (fields) fields->push_back(image.coords);

        // The optical axis from the eye to the focus point, carried into the disc.
        const CbMatrix4Rf camToDisc = m_scanner->GetAxisChain().GetCamToDiscTransformation(request.m_config, false);
        CCoordinate3<double> eye, view;
        m_scanner->GetCamera().GetEyePt(eye);
        m_scanner->GetCamera().GetViewDirection(view);
        const double focus = -(eye.x * view.x + eye.y * view.y + eye.z * view.z);
        const CbVector3f e(static_cast<float>(eye.x), static_cast<float>(eye.y), static_cast<float>(eye.z));
        const CbVector3f f = e + CbVector3f(static_cast<float>(view.x), static_cast<float>(view.y),
                                            static_cast<float>(view.z)) * static_cast<float>(focus);
        const CbVector3f eyeDisc = camToDisc.TransformPoint(e), focusDisc = camToDisc.TransformPoint(f);
        m_viewRays.push_back(CyRay(eyeDisc, focusDisc - eyeDisc));
        ++m_iNumImages;
    }
    return static_cast<int>(seq.GetCount());
}

}  // namespace Sim
