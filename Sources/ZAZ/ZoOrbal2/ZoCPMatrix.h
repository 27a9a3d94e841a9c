// Column permutation of a pivoted QR factorisation.
#pragma once

#include "ZoTVector.h"

class ZoCPMatrix {
  public:
    // Every entry starts as 1: handed to lapack::qrp, a nonzero entry marks a leading column, so
    // a fresh permutation keeps the columns in their given order. After the factorisation
    // order[j] is the zero-based index of the input column standing at position j.
    explicit ZoCPMatrix(int n = 0);

    ZoTVector<int> order;
};
