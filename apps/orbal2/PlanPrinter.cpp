#include "PlanPrinter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orbal2 {

void PrintSequence(std::ostream& out, const ZoCOrbal2AxisChain::CJointPositionSequence& seq) {
    char line[160];
    std::snprintf(line, sizeof line, "%-16s %9s %9s %9s %9s %9s\n", "request", "L1", "L2", "L3", "L4", "L5");
    out << line;
    for (int64_t i = 0; i < seq.GetCount(); ++i) {
        const auto& r = seq[i];
        std::snprintf(line, sizeof line, "%-16s %9.3f %9.3f %9.3f %9.3f %9.3f\n", r.m_strName.ToUtf8().c_str(),
                      r.m_config[0], r.m_config[1], r.m_config[2], r.m_config[3], r.m_config[4]);
        out << line;
    }
}

double SequenceTravelTime(const ZoCOrbal2AxisChain::CJointPositionSequence& seq,
                          const ZoCOrbal2AxisChain::NCJointConfiguration& start) {
    double total = 0;
    ZoCOrbal2AxisChain::NCJointConfiguration from = start;
    for (int64_t i = 0; i < seq.GetCount(); ++i) {
        const auto& to = seq[i].m_config;
        float slowest = 0;
        for (int j = 0; j < 5; ++j) {
            float d = std::fabs(to[j] - from[j]);
            if (j == 4) {
                d = std::fabs((to[j] < 0 ? to[j] + 360 : to[j]) - (from[j] < 0 ? from[j] + 360 : from[j]));
                if (d > 180) d = 360 - d;
            }
            slowest = std::max(slowest, ZoCJointSequenceGenerator::TravelTime(j + 1, d));
        }
        total += slowest;
        from = to;
    }
    return total;
}

}  // namespace orbal2
