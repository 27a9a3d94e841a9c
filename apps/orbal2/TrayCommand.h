// The program's double-arch tray scan: `orbal2 tray`.
#pragma once

#include <ostream>

namespace orbal2 {
// Scans the built-in double-arch tray on the virtual scanner through all stages of the tray
// steering, prints each stage and writes an SVG of the tray with its jaw borders. `args` are
// the words after the command. Returns the program's exit code.
int RunTrayCommand(int argc, char** args, std::ostream& out, std::ostream& err);
}  // namespace orbal2
