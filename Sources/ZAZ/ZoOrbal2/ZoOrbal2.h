// Umbrella header of the ZoOrbal2 library: includes every exported header.
#pragma once

// Numerics
