// The program's gyration and scan-body plans: `orbal2 gyration` and `orbal2 scanbody`.
#pragma once

#include <ostream>

namespace orbal2 {
// Plans the gyration of four stumps in the multi-die holder. `args` are the words after the
// command. Returns the program's exit code.
int RunGyrationCommand(int argc, char** args, std::ostream& out, std::ostream& err);
// Plans the scans of a scan body on a given axis.
int RunScanbodyCommand(int argc, char** args, std::ostream& out, std::ostream& err);
}  // namespace orbal2
