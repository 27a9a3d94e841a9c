#include "ZoCPMatrix.h"

// All ones: every column is a leading column, so an unfactorised permutation means "keep order".
ZoCPMatrix::ZoCPMatrix(int n) : order(n) {
    for (int i = 0; i < order.size; ++i)
        order[i] = 1;
}
