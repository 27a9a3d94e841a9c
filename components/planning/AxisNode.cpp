// Nodes of the joint collision tree.
#include "AcquisitionPlanning.h"

bool AxisNode::operator==(const AxisNode& other) const {
    return m_bInterval == other.m_bInterval && m_fLower == other.m_fLower && m_fUpper == other.m_fUpper;
}

size_t AxisNode::CountDescendants() const {
    size_t count = 0;
    for (const AxisNode& child : *this)
        count += 1 + child.CountDescendants();
    return count;
}
