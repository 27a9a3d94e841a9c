#include "ZoCJawScanJointSequenceGenerator.h"

#include <algorithm>
#include <limits>
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

double ZoCJawScanJointSequenceGenerator::StepTimeShortWay(const float* from, const float* to) {
    float slowest = 0;
    for (int j = 0; j < 5; ++j) {
        float d;
        if (j == 4) {
            d = std::fabs((to[j] < 0 ? to[j] + 360.0f : to[j]) - (from[j] < 0 ? from[j] + 360.0f : from[j]));
            if (d > 180.0f) d = 360.0f - d;
        } else {
            d = std::fabs(to[j] - from[j]);
        }
        slowest = std::max(slowest, TravelTime(j + 1, d));
    }
    return slowest;
}

bool ZoCJawScanJointSequenceGenerator::FindLeastTimeOrderExhaustive(
    const ZoCOrbal2AxisChain::NCJointConfiguration& start, std::vector<int>& order) const {
    const int n = m_iSize;
    if (n == 0) return false;
    std::vector<int> perm(static_cast<size_t>(n));
    std::iota(perm.begin(), perm.end(), 0);
    double best = std::numeric_limits<double>::max();
    bool found = false;
    do {
        double cost = 0;
        const float* previous = start.Data();
        for (int k = 0; k < n; ++k) {
            cost += StepTimeShortWay(previous, m_afPositions[perm[static_cast<size_t>(k)]]);
            previous = m_afPositions[perm[static_cast<size_t>(k)]];
        }
        if (cost < best && cost >= 0) {
            best = cost;
            order = perm;
            found = true;
        }
    } while (std::next_permutation(perm.begin(), perm.end()));
    return found;
}

namespace {

// Depth-first search over the orders in lexicographic order. A prefix is abandoned when even
// the cheapest way into each remaining position cannot beat the best complete order; since
// orders are visited in lexicographic order and only a strictly smaller cost replaces the best,
// the first cheapest order wins, as with the exhaustive search.
class LeastTimeOrderSearch {
public:
    LeastTimeOrderSearch(int n, std::vector<std::vector<double>> step, std::vector<double> fromStart)
        : m_n(n), m_step(std::move(step)), m_fromStart(std::move(fromStart)),
          m_used(static_cast<size_t>(n), false), m_prefix(static_cast<size_t>(n)) {}

    bool Run(std::vector<int>& order) {
        visit(0, -1, 0.0);
        if (m_bestOrder.empty()) return false;
        order = m_bestOrder;
        return true;
    }

private:
    // Cheapest way into each position not yet placed, from the current end or another open one.
    double lowerBound(int last) const {
        double bound = 0;
        for (int v = 0; v < m_n; ++v) {
            if (m_used[static_cast<size_t>(v)]) continue;
            double cheapest = last < 0 ? m_fromStart[static_cast<size_t>(v)] : m_step[static_cast<size_t>(last)][static_cast<size_t>(v)];
            for (int u = 0; u < m_n; ++u)
                if (u != v && !m_used[static_cast<size_t>(u)])
                    cheapest = std::min(cheapest, m_step[static_cast<size_t>(u)][static_cast<size_t>(v)]);
            bound += cheapest;
        }
        return bound;
    }

    void visit(int depth, int last, double cost) {
        if (depth == m_n) {
            if (cost < m_best) {
                m_best = cost;
                m_bestOrder = m_prefix;
            }
            return;
        }
        // The bound is a sum in another order than the costs: allow for its rounding.
        if (cost + lowerBound(last) > m_best + 1e-9 * (1.0 + m_best)) return;
        for (int v = 0; v < m_n; ++v) {
            if (m_used[static_cast<size_t>(v)]) continue;
            const double step = last < 0 ? m_fromStart[static_cast<size_t>(v)] : m_step[static_cast<size_t>(last)][static_cast<size_t>(v)];
            m_used[static_cast<size_t>(v)] = true;
            m_prefix[static_cast<size_t>(depth)] = v;
            visit(depth + 1, v, cost + step);
            m_used[static_cast<size_t>(v)] = false;
        }
    }

    const int m_n;
    const std::vector<std::vector<double>> m_step;
    const std::vector<double> m_fromStart;
    std::vector<bool> m_used;
    std::vector<int> m_prefix;
    std::vector<int> m_bestOrder;
    double m_best = std::numeric_limits<double>::max();
};

}  // namespace

bool ZoCJawScanJointSequenceGenerator::FindLeastTimeOrder(const ZoCOrbal2AxisChain::NCJointConfiguration& start,
                                                          std::vector<int>& order) const {
    const int n = m_iSize;
    if (n == 0) return false;
    std::vector<std::vector<double>> step(static_cast<size_t>(n), std::vector<double>(static_cast<size_t>(n)));
    std::vector<double> fromStart(static_cast<size_t>(n));
    for (int u = 0; u < n; ++u) {
        fromStart[static_cast<size_t>(u)] = StepTimeShortWay(start.Data(), m_afPositions[u]);
        for (int v = 0; v < n; ++v) step[static_cast<size_t>(u)][static_cast<size_t>(v)] = StepTimeShortWay(m_afPositions[u], m_afPositions[v]);
    }
    return LeastTimeOrderSearch(n, std::move(step), std::move(fromStart)).Run(order);
}
