// orbal2 calibrate: a simulated axis calibration of the reference device.
#pragma once

#include <ostream>

namespace orbal2 {

// Records the default calibration sequence on a perturbed device (the design search's
// simulation chain), optionally with registration noise, calibrates the reference device's
// steering with it, writes the calibration log and the checker file into the working
// directory and prints true and estimated joint parameters side by side.
// `args` are the arguments after "calibrate". Returns the process exit code.
int RunCalibrateCommand(int argc, const char* const* args, std::ostream& out, std::ostream& err);

}  // namespace orbal2
