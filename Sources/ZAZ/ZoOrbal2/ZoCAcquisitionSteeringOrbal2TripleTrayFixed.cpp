// Triple-tray steering: the fixed scans, and the polygon around a jaw as the jaw border.
#include "ZoCAcquisitionSteeringOrbal2TripleTray.h"

#include "ZoCCreateJawBoundaries.h"
#include "ZoCCreateScanPositionsAlongJawline.h"

#include <algorithm>
#include <exception>

// ---------------------------------------------------------------------------------------------
// Fixed scans

bool ZoCAcquisitionSteeringOrbal2TripleTray::GetJointConfigurationForFixed(CJointPositionSequence& seq,
                                                                           int mode) {
    seq.RemoveAll();
    NCJointConfiguration neutral;
    if (!m_axisChain.GetNeutralConfiguration(neutral))
        return false;
    for (int j = 0; j < 5; ++j) {
        m_afHomeJoints[j] = neutral[j];
        m_axisChain.GetMinMaxPosition(j, m_afLowerLimits[j], m_afUpperLimits[j]);
    }
    NSConfigurationRequest request;
    request.m_config = GetStartJointPositionOvw();
    setJointParamsForOverview(0, request, c_fFixedOverviewStep);
    SetOffsetAngle(request.m_config[4]);

    std::vector<NSConfigurationRequest> requests;
    if (mode == 1) {
        requests = CreateTripleTrayConfiguration(request, 1);
    } else {
        appendAlongJawline(requests);
        std::sort(requests.begin(), requests.end(),
                  [](const NSConfigurationRequest& a, const NSConfigurationRequest& b) {
                      return a.m_config[1] + a.m_config[2] < b.m_config[1] + b.m_config[2];
                  });
    }
    for (size_t k = 0; k < requests.size(); ++k) {
        NSConfigurationRequest& req = requests[k];
        req.m_strName.Format(L"%03d_D0_%d", GetNewRequestNumber(), static_cast<int>(k));
        seq.Add(req);
        AssociateRequestAndDHParameters(req.m_strName, req.m_config.Data());
    }
    return true;
}

// Every view ray of every position along the jaw line that the planning can reach.
void ZoCAcquisitionSteeringOrbal2TripleTray::appendAlongJawline(
    std::vector<NSConfigurationRequest>& requests) {
    ZoCCreateScanPositionsAlongJawline positions;
    try {
        positions.Calculate(m_skeleton);
    } catch (...) {
        if (logger().IsLogLevelEnabled(Logging::Error))
            logger().Error(__FILE__, __LINE__, __func__,
                           L"GetJointConfigurationForFixed: Fehler beim Berechnen der Scanpositionen");
    }
    for (const auto& position : positions.GetScanPositions()) {
        for (const CbVector3f& direction : position.m_viewDirections) {
            CJointPositionSequence raySequence;
            if (!GetSequenceForUserDefinedRay(CyRay(position.m_origin, direction), raySequence))
                continue;
            for (int64_t i = 0; i < raySequence.GetCount(); ++i)
                requests.push_back(raySequence[i]);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Jaw border

namespace {
// The valid points of one registered image, heights pointing up (z negated).
void appendValidPoints(const ZoCPointSetField::CSubSet& subset, std::vector<CbVector3f>& points) {
    CbMatrix4Rf m = subset.GetTransformation();
    m.NegateRow(2);
    const ZoCFieldCoord field(&subset.GetFieldRay(), subset.GetFieldRange(), &m);
    // The image library's valid rectangle excludes its right and bottom bounds.
    const ZoCRect2& r = field.RectValid();
    const CbVector3f invalid = field.GetInvalidValue();
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (!(field.At(x, y) == invalid))
                points.push_back(field.At(x, y));
}
}  // namespace

void ZoCAcquisitionSteeringOrbal2TripleTray::CalcInvalidJawRegionsFromJawLine(
    const ZoCImageDataBase& database, EAreaType area, const CbMatrix4Rf* transformation) {
    const ZoCPointSetField set(ZoCPointSetField::eModeRangeImages, database, area, 0, false,
                               ZoCPointSetField::eCorrelationPathRegistered, transformation, 1, 1);
    std::vector<CbVector3f> points;
    for (ZoCPointSetField::CIterSubSet it(set); it; ++it)
        appendValidPoints(*it.GetCurrent(), points);
    try {
        if (logger().IsLogLevelEnabled(Logging::Info))
            logger().Info(__FILE__, __LINE__, __func__, L"Berechne Umgebendes Polygon-ROI");
        ZoCCreateJawBoundaries boundaries;
        boundaries.Calculate(points, m_skeleton);
        m_jawBorder = boundaries.GetPolygon();
    } catch (...) {
        if (logger().IsLogLevelEnabled(Logging::Error))
            logger().Error(
                __FILE__, __LINE__, __func__,
                L"CalcInvalidJawRegionsFromJawLine: Fehler beim Berechnen des umgebenden Polynoms auf "
                L"Grundlage der Leitlinie");
    }
}
