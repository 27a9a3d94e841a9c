// The program's saw-cut detection: `orbal2 sawcuts`.
#pragma once

#include <ostream>

namespace orbal2 {
// Records the overview ring of the built-in sectioned jaw on the virtual scanner, finds its saw
// cuts, prints them beside the model's true cuts, hands them to the jaw steering and writes an
// SVG of one range image with its guide line and cuts. `args` are the words after the command.
// Returns the program's exit code.
int RunSawCutsCommand(int argc, char** args, std::ostream& out, std::ostream& err);
}  // namespace orbal2
