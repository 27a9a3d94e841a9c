// Joint sequence generator of the jaw steering: chooses where a cyclic sequence of scans along
// the jaw line starts, and holds the table of up to ten requests whose order is optimised.
#pragma once

#include "ZoCJointSequenceGenerator.h"

#include <vector>

class ZoCJawScanJointSequenceGenerator : public ZoCJointSequenceGenerator {
public:
    static constexpr int c_iNumStartCandidates = 4;

    ZoCJawScanJointSequenceGenerator(int size, float angleDegrees);

    int GetSize() const { return m_iSize; }
    float GetAngle() const { return m_fAngle; }
    const std::vector<int>& GetOrder() const { return m_aiOrder; }
    const std::vector<int>& GetBestOrder() const { return m_aiBestOrder; }

    // Time between two configurations: the slowest of the five joints (absolute differences).
    static float StepTime(const ZoCOrbal2AxisChain::NCJointConfiguration& from,
                          const ZoCOrbal2AxisChain::NCJointConfiguration& to);
    // Index among the first four requests at which the cycle is best entered from `current`:
    // entering at k saves the step into k and adds the wrap from the last to the first request.
    int ChooseStartIndex(const ZoCOrbal2AxisChain::CJointPositionSequence& seq,
                         const ZoCOrbal2AxisChain::NCJointConfiguration& current) const;

    // Time between two configurations with the disc taken the short way round: the slowest joint.
    static double StepTimeShortWay(const float* from, const float* to);
    // The visiting order of the positions with the least total step time from `start`: the
    // first such order in lexicographic order, exactly as trying every order would find it,
    // but found by a depth-first search that prunes prefixes which cannot win. False for an
    // empty table.
    bool FindLeastTimeOrder(const ZoCOrbal2AxisChain::NCJointConfiguration& start, std::vector<int>& order) const;
    // The same by trying every order (n! of them); for comparison.
    bool FindLeastTimeOrderExhaustive(const ZoCOrbal2AxisChain::NCJointConfiguration& start,
                                      std::vector<int>& order) const;

private:
    int m_iSize;
    std::vector<int> m_aiOrder;
    std::vector<int> m_aiBestOrder;
    float m_fAngle;  // radians
};
