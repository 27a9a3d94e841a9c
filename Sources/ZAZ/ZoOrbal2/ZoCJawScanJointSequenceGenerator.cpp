#include "ZoCJawScanJointSequenceGenerator.h"

#include <algorithm>
#include <cmath>
#include <numeric>

ZoCJawScanJointSequenceGenerator::ZoCJawScanJointSequenceGenerator(int size, float angleDegrees)
    : ZoCJointSequenceGenerator(size, 60.0f),
      m_iSize(std::clamp(size, 0, c_iMaxPositions)),
      m_aiOrder(static_cast<size_t>(m_iSize)),
      m_aiBestOrder(static_cast<size_t>(m_iSize)),
      m_fAngle(angleDegrees * c_fDegToRad) {
    std::iota(m_aiOrder.begin(), m_aiOrder.end(), 0);
    std::iota(m_aiBestOrder.begin(), m_aiBestOrder.end(), 0);
}

float ZoCJawScanJointSequenceGenerator::StepTime(const ZoCOrbal2AxisChain::NCJointConfiguration& from,
                                                 const ZoCOrbal2AxisChain::NCJointConfiguration& to) {
    float slowest = 0;
    for (int j = 0; j < 5; ++j) slowest = std::max(slowest, TravelTime(j + 1, std::fabs(to[j] - from[j])));
    return slowest;
}

int ZoCJawScanJointSequenceGenerator::ChooseStartIndex(const ZoCOrbal2AxisChain::CJointPositionSequence& seq,
                                                       const ZoCOrbal2AxisChain::NCJointConfiguration& current) const {
    const int n = static_cast<int>(seq.GetCount());
    if (n <= 1) return 0;
    const int candidates = std::min(n, c_iNumStartCandidates);
    const float wrap = StepTime(seq[n - 1].m_config, seq[0].m_config);
    int best = 0;
    float bestCost = StepTime(current, seq[0].m_config);
    for (int k = 1; k < candidates; ++k) {
        const float cost = wrap - StepTime(seq[k - 1].m_config, seq[k].m_config) + StepTime(current, seq[k].m_config);
        if (cost < bestCost) {
            bestCost = cost;
            best = k;
        }
    }
    return best;
}
