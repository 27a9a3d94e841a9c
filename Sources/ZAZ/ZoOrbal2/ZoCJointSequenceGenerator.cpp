#include "ZoCJointSequenceGenerator.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

// One joint's travel-time table: distances with their times; linear between neighbours.
struct TravelTable {
    const float* distances;
    const float* times;
    int count;
};

constexpr float c_afDistL1[] = {2, 6, 10, 14, 18, 22, 26, 30, 34, 38, 42};
constexpr float c_afTimeL1[] = {0.26f, 0.41f, 0.52f, 0.63f, 0.75f, 0.85f, 0.98f, 1.08f, 1.19f, 1.30f, 1.43f};
constexpr float c_afDistL2[] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110};
constexpr float c_afTimeL2[] = {0.49f, 0.75f, 0.98f, 1.22f, 1.47f, 1.73f, 1.97f, 2.23f, 2.47f, 2.71f, 3.07f};
constexpr float c_afTimeL3[] = {0.26f, 0.39f, 0.47f, 0.60f, 0.74f, 0.81f, 0.95f, 1.05f, 1.15f, 1.28f, 1.40f};
constexpr float c_afTimeL4[] = {0.48f, 0.95f, 1.42f, 1.86f, 2.33f, 2.81f, 3.27f, 3.74f, 4.22f, 4.68f, 5.14f};
constexpr float c_afDistL5[] = {20, 40, 60, 80, 100, 120, 140, 160, 180};
constexpr float c_afTimeL5[] = {0.32f, 0.44f, 0.56f, 0.68f, 0.83f, 0.95f, 1.07f, 1.23f, 1.34f};

constexpr TravelTable c_tables[5] = {{c_afDistL1, c_afTimeL1, 11},
                                     {c_afDistL2, c_afTimeL2, 11},
                                     {c_afDistL2, c_afTimeL3, 11},
                                     {c_afDistL1, c_afTimeL4, 11},
                                     {c_afDistL5, c_afTimeL5, 9}};

// Disc angles are compared on [0, 360).
float discAngle(float a) { return a < 0 ? a + 360.0f : a; }

}  // namespace

ZoCJointSequenceGenerator::ZoCJointSequenceGenerator(int numPositions, float tiltDegrees)
    : m_iNumPositions(std::clamp(numPositions, 0, c_iMaxPositions)), m_fTilt(tiltDegrees * c_fDegToRad) {
    std::iota(m_aiOrder, m_aiOrder + c_iMaxPositions, 0);
    std::iota(m_aiBestOrder, m_aiBestOrder + c_iMaxPositions, 0);
}

void ZoCJointSequenceGenerator::FillComponent(int component) {
    if (component != 1 && component != 2) return;
    m_fTilt = std::min(m_fTilt, c_fMaxConeTilt);
    const float x = m_fTilt;
    const float a = std::acos(std::sqrt(std::cos(x)));
    const float h = 1.5707964f;  // pi / 2
    const float lo = h - a, hi = h + a;
    const float l2[8] = {x + h, hi, h, lo, h - x, lo, h, hi};
    const float l3[8] = {h, hi, x + h, hi, h, lo, h - x, lo};
    const float* values = component == 1 ? l2 : l3;
    // The cone has eight positions (the table holds ten, so all eight always fit); then the
    // component of every position of this generator is turned from radians into degrees.
    for (int i = 0; i < 8; ++i) m_afPositions[i][component] = values[i];
    for (int i = 0; i < m_iNumPositions; ++i) m_afPositions[i][component] *= c_fRadToDeg;
}

float ZoCJointSequenceGenerator::TravelCost(const int* order, int component) const {
    if (m_iNumPositions < 2) return 0;
    float cost = 0;
    for (int i = 1; i < m_iNumPositions; ++i) {
        float a = m_afPositions[order[i]][component];
        float b = m_afPositions[order[i - 1]][component];
        if (component == 4) {
            a = discAngle(a);
            b = discAngle(b);
        }
        cost += std::fabs(a - b);
    }
    return cost;
}

bool ZoCJointSequenceGenerator::Optimize(float weight) {
    const float w = std::clamp(weight, 0.0f, 1.0f);
    const bool useL3 = 1.0f - w > 0;
    float best = std::numeric_limits<float>::max();
    bool found = false;
    FillComponent(1);
    if (useL3) FillComponent(2);

    // Every order, in lexicographic order from the identity; the first cheapest one wins.
    const int length = std::clamp(m_iNumPositions, 2, 20);
    int order[c_iMaxPositions];
    std::iota(order, order + c_iMaxPositions, 0);
    do {
        float cost = w * TravelCost(order, 1);
        if (useL3) cost += (1.0f - w) * TravelCost(order, 2);
        if (cost < best && cost > 0) {
            best = cost;
            std::copy(order, order + c_iMaxPositions, m_aiBestOrder);
            found = true;
        }
    } while (std::next_permutation(order, order + length));

    if (found) {
        float old[c_iMaxPositions][5];
        std::copy(&m_afPositions[0][0], &m_afPositions[0][0] + c_iMaxPositions * 5, &old[0][0]);
        for (int i = 0; i < m_iNumPositions; ++i) std::copy(old[m_aiBestOrder[i]], old[m_aiBestOrder[i]] + 5, m_afPositions[i]);
    }
    return found;
}

void ZoCJointSequenceGenerator::GetPosition(int i, float& joint1, float& joint2) const {
    if (i < 0 || i >= m_iNumPositions) {
        joint1 = joint2 = 0;
        return;
    }
    joint1 = m_afPositions[i][1];
    joint2 = m_afPositions[i][2];
}

void ZoCJointSequenceGenerator::SetPositionValues(int i, const float values[5]) {
    if (i < 0 || i >= m_iNumPositions) return;
    std::copy(values, values + 5, m_afPositions[i]);
}

void ZoCJointSequenceGenerator::GetBestOrder(int* out) const {
    std::copy(m_aiBestOrder, m_aiBestOrder + m_iNumPositions, out);
}

float ZoCJointSequenceGenerator::TravelTime(int joint, float d) {
    if (joint < 1 || joint > 5) return 0;
    if (joint == 5) {
        // The disc turns endlessly: a move of more than a full turn ends where its remainder
        // does, and beyond half a turn the disc goes the other way round. Without the
        // remainder, 360 - d turns negative past a full turn and a long move looks free.
        d = std::fmod(d, 360.0f);
        if (d < 0) d += 360.0f;
        if (d > 180.0f) d = 360.0f - d;
    }
    const TravelTable& t = c_tables[joint - 1];
    const float firstD = t.distances[0], lastD = t.distances[t.count - 1];
    if (d <= firstD) return d / firstD * t.times[0];
    if (d >= lastD) return d / lastD * t.times[t.count - 1];
    int k = 1;
    while (t.distances[k] < d) ++k;  // t.distances[k - 1] < d <= t.distances[k]
    if (d == t.distances[k]) return t.times[k];
    const float f = (d - t.distances[k - 1]) / (t.distances[k] - t.distances[k - 1]);
    return t.times[k - 1] + f * (t.times[k] - t.times[k - 1]);
}

double ZoCJointSequenceGenerator::StepTime(const int* order, int k, int j,
                                           ZoCOrbal2AxisChain::NSConfigurationRequest start) const {
    if (k < 0) return 0;
    float from = k == 0 ? start.m_config[j] : m_afPositions[order[k - 1]][j];
    float to = m_afPositions[order[k]][j];
    float d;
    if (j == 4) {
        d = std::fabs(discAngle(to) - discAngle(from));
        if (d > 180.0f) d = 360.0f - d;
    } else {
        d = std::fabs(to - from);
    }
    return TravelTime(j + 1, d);
}
