#include "BuiltInModels.h"

#include <cmath>

namespace orbal2 {

CyHermiteSpline HorseshoeSkeleton() {
    std::vector<CbVector3f> points;
    constexpr int c_iControlPoints = 13;
    for (int i = 0; i < c_iControlPoints; ++i) {
        // From 40 to 320 degrees: the arch's open side faces +x.
        const float a = (40.0f + 280.0f * static_cast<float>(i) / (c_iControlPoints - 1)) * 0.017453292f;
        points.push_back({40.0f * 22.0f * std::cos(a), 40.0f * 26.0f * std::sin(a), 40.0f * -18.0f});
    }
    return CyHermiteSpline(points);
}

}  // namespace orbal2
