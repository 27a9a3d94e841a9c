// Printing of plans as tables, shared by the program's commands.
#pragma once

#include "ZoOrbal2.h"

#include <ostream>

namespace orbal2 {
// One line per request: its name and the five joint values.
void PrintSequence(std::ostream& out, const ZoCOrbal2AxisChain::CJointPositionSequence& seq);
// Sum of the step times (slowest joint of each step) along the sequence, from `start`.
double SequenceTravelTime(const ZoCOrbal2AxisChain::CJointPositionSequence& seq,
                          const ZoCOrbal2AxisChain::NCJointConfiguration& start);
}  // namespace orbal2
