// Scan positions of a double-arch tray along its jaw line.
#include "ZoCCreateScanPositionsAlongJawline.h"

#include <cfloat>
#include <cmath>

Logging::CLogger& ZoCCreateScanPositionsAlongJawline::logger() {
    static Logging::CLogger logger("ZAZ.ZoOrbal2.Steering.ZoCCreateScanPositionsAlongJawline");
    return logger;
}

CbVector3f ZoCCreateScanPositionsAlongJawline::normalizedOrZero(const CbVector3f& v) {
    const float squared = v.Dot(v);
    return squared <= FLT_MIN ? CbVector3f() : v * (1.0f / std::sqrt(squared));
}

void ZoCCreateScanPositionsAlongJawline::Calculate(const CyHermiteSpline& jawLine) {
    if (jawLine.GetNumControlPoints() == 0) {
        if (logger().IsLogLevelEnabled(Logging::Error))
            logger().Error(__FILE__, __LINE__, __func__, L"Condition failed: %ls",
                           L"Spline ungültig. Sie hat keine Kontrollpunkte");
        return;
    }
    m_positions.clear();
    calculateScanPositions(jawLine);
    for (ZoNScanPosition& p : m_positions)
        p.m_viewDirections = ViewDirections(p.m_lineDirection);
}

int ZoCCreateScanPositionsAlongJawline::NumberOfPositions(float length) {
    return static_cast<int>(std::ceil(length / c_fSpacingUnit - 0.5f));
}

float ZoCCreateScanPositionsAlongJawline::Spacing(float length) {
    const int n = NumberOfPositions(length);
    return n > 1 ? length / static_cast<float>(n) : length / 2;
}

void ZoCCreateScanPositionsAlongJawline::calculateScanPositions(const CyHermiteSpline& jawLine) {
    std::vector<CbVector3f> flat;
    for (const CbVector3f& p : jawLine.GetControlPoints())
        flat.emplace_back(p.x, p.y, 0.0f);
    CyHermiteSpline projected(CyPolyline3D(std::move(flat)).Points());
    projected.Adjust();
    // The walk runs along the arc length, so that the spacing is a length on the disc plane.
    const float length = projected.GetNumControlPoints() > 1 ? projected.SubdivideByLength() : 0.0f;
    if (!(length > 0)) {
        if (logger().IsLogLevelEnabled(Logging::Error))
            logger().Error(__FILE__, __LINE__, __func__, L"Condition failed: %ls",
                           L"Die Spline hat die Länge 0");
        return;
    }
    const float spacing = Spacing(length);
    CbVector3f previous = projected.ComputePositionAtLength(0.0f);
    float accumulated = 0;
    // Counting the steps keeps the walk exact over thousands of them.
    for (int step = 0; static_cast<float>(step) * c_fWalkStep < length; ++step) {
        CbVector3f current = projected.ComputePositionAtLength(static_cast<float>(step) * c_fWalkStep);
        current.z = 0;
        if (accumulated > spacing) {
            m_positions.push_back({current, normalizedOrZero(previous - current), {}});
            accumulated = 0;
        }
        accumulated += c_fWalkStep;
        previous = current;
    }
    if (m_positions.empty() && logger().IsLogLevelEnabled(Logging::Warn))
        logger().Warn(__FILE__, __LINE__, __func__, L"calculateScanPositions: Keine Scanpositionen gefunden");
}

// Tilted across the line: alpha is the azimuth perpendicular to the line direction, and the two
// directions lean by the tilt angle to either side of the vertical.
std::vector<CbVector3f> ZoCCreateScanPositionsAlongJawline::ViewDirections(const CbVector3f& d) {
    const double pi = 3.14159265358979323846;
    double alpha =
        std::atan2(std::sqrt(static_cast<double>(d.y) * d.y + static_cast<double>(d.z) * d.z), d.x) + pi / 2;
    if (d.y < 0)
        alpha = pi - alpha;
    std::vector<CbVector3f> out;
    for (const float tau : {c_fTiltAngle, -c_fTiltAngle}) {
        const CbVector3f v(static_cast<float>(-std::sin(tau) * std::cos(alpha)),
                           static_cast<float>(-std::sin(tau) * std::sin(alpha)), -std::cos(tau));
        out.push_back(normalizedOrZero(v));
    }
    return out;
}
