// Dense vector owning its elements; the companion of ZoTMatrix.
#pragma once

#include "ZoDebugPrint.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>

template <typename T>
class ZoTVector {
  public:
    int size = 0;
    T* data = nullptr;  // owned; null when size is 0

    ZoTVector() = default;
    explicit ZoTVector(int n) { allocate(n); }
    ZoTVector(const ZoTVector& other) {
        allocate(other.size);
        std::copy(other.data, other.data + size, data);
    }
    ZoTVector(ZoTVector&& other) noexcept
        : size(std::exchange(other.size, 0)), data(std::exchange(other.data, nullptr)) {}
    ~ZoTVector() { delete[] data; }

    ZoTVector& operator=(const ZoTVector& other) {
        if (this == &other)
            return *this;
        ZoTVector copy(other);
        swap(copy);
        return *this;
    }
    ZoTVector& operator=(ZoTVector&& other) noexcept {
        swap(other);
        return *this;
    }
    void swap(ZoTVector& other) noexcept {
        std::swap(size, other.size);
        std::swap(data, other.data);
    }

    // Keeps the content when the size does not change; otherwise all elements become zero.
    void Resize(int n) {
        if (n == size)
            return;
        ZoTVector fresh(n);
        swap(fresh);
    }

    T& operator[](int i) { return data[i]; }
    const T& operator[](int i) const { return data[i]; }

    T Norm() const {
        T sum = 0;
        for (int i = 0; i < size; ++i)
            sum += data[i] * data[i];
        return static_cast<T>(std::sqrt(sum));
    }
    // Sums over this vector's length; the other vector must be at least as long.
    T Dot(const ZoTVector& other) const {
        T sum = 0;
        for (int i = 0; i < size; ++i)
            sum += data[i] * other.data[i];
        return sum;
    }
    // NaN for an empty vector; the mean of the two middle elements for an even size.
    T Median() const;
    // Largest absolute element, 0 for an empty vector. A NaN element makes the result NaN (a
    // plain std::max would drop it), so that "every element is small" cannot hold for garbage.
    T MaxAbs() const {
        T best = 0;
        for (int i = 0; i < size; ++i) {
            const T magnitude = static_cast<T>(std::abs(data[i]));
            if (magnitude != magnitude)
                return magnitude;
            best = std::max<T>(best, magnitude);
        }
        return best;
    }

    ZoTVector operator+(const ZoTVector& other) const {
        ZoTVector sum(*this);
        for (int i = 0; i < size; ++i)
            sum.data[i] += other.data[i];
        return sum;
    }
    ZoTVector operator-(const ZoTVector& other) const {
        ZoTVector difference(*this);
        for (int i = 0; i < size; ++i)
            difference.data[i] -= other.data[i];
        return difference;
    }
    ZoTVector operator*(T factor) const {
        ZoTVector scaled(*this);
        for (int i = 0; i < size; ++i)
            scaled.data[i] *= factor;
        return scaled;
    }

    void Print() const;

  private:
    void allocate(int n) {
        size = std::max(n, 0);
        data = size > 0 ? new T[size]() : nullptr;
    }
};

template <typename T>
T ZoTVector<T>::Median() const {
    if (size == 0)
        return std::numeric_limits<T>::quiet_NaN();
    ZoTVector work(*this);
    const int upper = size / 2;
    std::nth_element(work.data, work.data + upper, work.data + size);
    const T upperValue = work.data[upper];
    if (size % 2 == 1)
        return upperValue;
    // The lower middle element is the largest of the partition below the upper one.
    const T lowerValue = *std::max_element(work.data, work.data + upper);
    return static_cast<T>((lowerValue + upperValue) * 0.5);
}

// Writes one element of a printed row: "\t%g" (or "\t%i" for integers), then "," unless it
// is the last element of the full row. Shared by the vector and matrix prints.
template <typename T>
void ZoPrintElement(T value, int index, int fullLength) {
    const char* separator = index < fullLength - 1 ? "," : ";";
    if constexpr (std::is_integral_v<T>)
        ZoDebugPrint("\t%i%s", static_cast<int>(value), separator);
    else
        ZoDebugPrint("\t%g%s", static_cast<double>(value), separator);
}

// At most the first ten elements are printed, so long vectors stay readable in the log.
template <typename T>
void ZoTVector<T>::Print() const {
    ZoDebugPrint("%i-vector:\n", size);
    const int shown = std::min(size, 10);
    for (int i = 0; i < shown; ++i)
        ZoPrintElement(data[i], i, size);
    ZoDebugPrint("\n");
}
