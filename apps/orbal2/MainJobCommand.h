// The program's main job: a complete simulated scan of a jaw model on the reference device.
#pragma once

#include <ostream>

namespace orbal2 {
// `orbal2` or `orbal2 --model FILE.stl`: scans the built-in jaw (or the user's model), prints a
// progress line per sequence and a final table, writes jaw_scan_top.svg and
// jaw_scan_coverage.svg into the working directory. Returns the exit code.
int RunMainJobCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
// `orbal2 limit [--model FILE]`: the best coverage any plan reaches on the reference device,
// kept for later main jobs of the same model.
int RunLimitCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
}  // namespace orbal2
