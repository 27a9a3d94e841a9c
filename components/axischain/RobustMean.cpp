// Outlier-resistant weighted mean.
#include "AxisChain.h"

#include <cmath>
#include <vector>

template <>
bool RobustMean<float, float, float>(const float* values, const float* weights, int count, float& mean,
                                     float& deviation) {
    mean = 0;
    deviation = 0;
    if (!values || !weights || count <= 0) return false;
    std::vector<char> kept(static_cast<size_t>(count), 1);
    // Each round can only drop values, so at most `count` rounds are needed.
    for (int round = 0; round <= count; ++round) {
        double sw = 0, swx = 0, swxx = 0;
        for (int i = 0; i < count; ++i) {
            if (!kept[static_cast<size_t>(i)] || !(weights[i] > 0)) continue;
            sw += weights[i];
            swx += static_cast<double>(weights[i]) * values[i];
            swxx += static_cast<double>(weights[i]) * values[i] * values[i];
        }
        if (sw <= 0) return round > 0;
        const double m = swx / sw;
        const double sd = std::sqrt(std::max(0.0, swxx / sw - m * m));
        mean = static_cast<float>(m);
        deviation = static_cast<float>(sd);
        bool changed = false;
        for (int i = 0; i < count; ++i) {
            if (kept[static_cast<size_t>(i)] && std::fabs(values[i] - m) > 3.0 * sd && sd > 0) {
                kept[static_cast<size_t>(i)] = 0;
                changed = true;
            }
        }
        if (!changed) return true;
    }
    return true;
}
