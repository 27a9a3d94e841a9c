#include "ZoCOrbal2AxisCalibrationObjFunction.h"

#include "ZoDebugPrint.h"
#include "ZoLapack.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <type_traits>
#include <random>
#include <stdexcept>
#include <utility>

namespace {

// Slightly below the exact pi; the model's angles (and so every calibrated angle) are defined
// with this value.
constexpr double c_dPi = 3.14159265358979;
constexpr double c_dDegToRad = c_dPi / 180.0;
// DH translations are in millimetres, registrations in image-area units.
constexpr double c_dImageAreaUnitsPerMillimetre = 40.0;

// Reference point of the disc and the axis of the hollow cylinder in front of the sensor that
// random calibration configurations must keep it in (image-area units).
constexpr double c_adCylinderA[3] = {22.0 * 40.0, 12.0 * 40.0, -10.0 * 40.0};
constexpr double c_adCylinderB[3] = {22.0 * 40.0, 12.0 * 40.0, 7.0 * 40.0};
constexpr double c_dCylinderInnerRadius = 1260.0;
// One step above 1540, so that a point at exactly 1540 still counts as inside.
constexpr double c_dCylinderOuterRadius = 1540.0000000000002;

constexpr std::uint_fast64_t c_uRandomSequenceSeed = 5489;
constexpr std::uint_fast64_t c_uSortSeed = 47110518;
constexpr std::uint_fast64_t c_uDesignSeed = 47110815;
constexpr double c_dExchangeTolerance = 1e-5;

// The table kinds fix the parameter layout: joints 1 and 4 translate, 2, 3 and 5 turn.
constexpr bool c_abRevoluteInLayout[5] = {false, true, true, false, true};

using Params = ZoCOrbal2AxisCalibrationObjFunction::ZoSJointParams;

double& field(Params& p, int k) {
    return k == 0 ? p.theta : k == 1 ? p.d : k == 2 ? p.a : p.alpha;
}
double field(const Params& p, int k) {
    return k == 0 ? p.theta : k == 1 ? p.d : k == 2 ? p.a : p.alpha;
}

// One 64-bit output divided by 2^64.
double uniformVariate(std::mt19937_64& rng) {
    return static_cast<double>(rng()) / 18446744073709551616.0;
}

// Front-to-back shuffle of 0..count-1: element i is swapped with element i + floor((count - i) u).
// The conversion of a 64-bit output to double can round up to 2^64 (u = 1); the offset is then
// kept inside the array.
std::vector<int> randomPermutation(int count, std::mt19937_64& rng) {
    std::vector<int> permutation(static_cast<size_t>(std::max(count, 0)));
    std::iota(permutation.begin(), permutation.end(), 0);
    for (int i = 0; i + 1 < count; ++i) {
        const int offset =
            std::min(static_cast<int>(std::floor((count - i) * uniformVariate(rng))), count - 1 - i);
        std::swap(permutation[static_cast<size_t>(i)], permutation[static_cast<size_t>(i + offset)]);
    }
    return permutation;
}

// The four evaluations of one finite-difference column (the stencil's offsets), one per lane.
// Each lane goes through exactly the operations of a single evaluation, in the same order (no
// fused or reassociated arithmetic), so every lane's result equals its own evaluation to the bit.
// The lanes live only inside this file, so the calling convention of such vectors on machines
// without AVX, which GCC warns about, concerns no other code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
typedef double NSLanes __attribute__((vector_size(32)));
// The lane code is inlined whole into each of its builds (see evaluateColumn).
#define c_inlineLanes inline __attribute__((always_inline))

template <class V>
constexpr int c_iLanes = 1;
template <>
constexpr int c_iLanes<NSLanes> = 4;

inline double laneOf(double v, int) { return v; }
inline double laneOf(const NSLanes& v, int lane) { return v[lane]; }
template <class V>
V splat(double v) {
    if constexpr (std::is_same_v<V, double>)
        return v;
    else
        return NSLanes{v, v, v, v};
}
inline double sqrtOf(double v) { return std::sqrt(v); }
c_inlineLanes NSLanes sqrtOf(NSLanes v) {
    for (int lane = 0; lane < 4; ++lane)
        v[lane] = std::sqrt(v[lane]);
    return v;
}

// A 4 x 4 matrix on the stack, column by column like ZoTMatrix, for the hot path of the
// residuals (every Jacobian builds thousands of transforms). Product and inversion repeat
// ZoTMatrix's operations in the same order, so the results agree to the bit.
template <class V>
struct NSMatrix4T {
    V e[16] = {};

    V& operator()(int r, int c) { return e[4 * c + r]; }
    const V& operator()(int r, int c) const { return e[4 * c + r]; }
    static NSMatrix4T Identity() {
        NSMatrix4T m;
        m.e[0] = m.e[5] = m.e[10] = m.e[15] = splat<V>(1.0);
        return m;
    }
    static NSMatrix4T From(const ZoTMatrix<double>& m) {
        NSMatrix4T out;
        for (int c = 0; c < 4 && c < m.cols; ++c)
            for (int r = 0; r < 4 && r < m.rows; ++r)
                out(r, c) = m(r, c);
        return out;
    }
    ZoTMatrix<double> ToMatrix() const {
        ZoTMatrix<double> m(4);
        std::copy(e, e + 16, m.data);
        return m;
    }
};
using NSMatrix4 = NSMatrix4T<double>;

c_inlineLanes NSMatrix4 laneOf(const NSMatrix4T<NSLanes>& m, int lane) {
    NSMatrix4 out;
    for (int i = 0; i < 16; ++i)
        out.e[i] = m.e[i][lane];
    return out;
}
c_inlineLanes void setLane(NSMatrix4T<NSLanes>& m, int lane, const NSMatrix4& value) {
    for (int i = 0; i < 16; ++i)
        m.e[i][lane] = value.e[i];
}

// The product of two rigid transforms in homogeneous form (last row 0 0 0 1, as every DH matrix
// and every product or inverse of them has it exactly), equal to the bit to ZoTMatrix's product
// (sums over k = 0..3 in order, starting at +0): the terms left out are products with an exact
// zero, and a sum that starts at +0 never becomes -0, so adding them changes no bit of a finite
// result.
template <class VA, class VB>
c_inlineLanes auto multiplyRigid(const NSMatrix4T<VA>& a, const NSMatrix4T<VB>& b) {
    using V = decltype(VA() * VB());
    NSMatrix4T<V> product;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 3; ++r) {
            V sum = V();
            for (int k = 0; k < 3; ++k)
                sum += a(r, k) * b(k, c);
            if (c == 3)
                sum += a(r, 3);  // times b(3, 3) = 1
            product(r, c) = sum;
        }
    product(3, 3) = splat<V>(1.0);
    return product;
}

// A rotation about x on the right: columns 0 and 3 stay, columns 1 and 2 mix. Exact-zero terms
// are left out as in multiplyRigid; 0 + x turns a -0 of column 0 or 3 into +0 as the full product
// does.
template <class V>
c_inlineLanes NSMatrix4T<V> multiplyRotationX(const NSMatrix4T<V>& a, double c, double s) {
    NSMatrix4T<V> product;
    for (int r = 0; r < 4; ++r) {
        product(r, 0) = 0.0 + a(r, 0);
        product(r, 1) = (0.0 + a(r, 1) * c) + a(r, 2) * s;
        product(r, 2) = (0.0 + a(r, 1) * -s) + a(r, 2) * c;
        product(r, 3) = 0.0 + a(r, 3);
    }
    return product;
}

enum class NSInversion { eDone, eSingular, eLanesDiffer };

// ZoTMatrix::Invert (LU with partial row pivoting, the first largest pivot winning; a singular
// matrix stays as it is) for a rigid transform whose last row is exactly (+0, +0, +0, 1), with
// the work on that row left out. In the general LU the row never wins a pivot (its entries stay
// +0), its multipliers are zeros, so its eliminations and substitutions subtract only zeros from
// +0 and 1 and leave them, and its division is one by 1: for finite entries the result is the
// general one to the bit. The products with the last row's zeros that land in the other rows are
// kept, as they can turn a -0 into +0. With lanes, all lanes must take the same pivots (they almost always do, the
// evaluations of a column differ by a tiny step); otherwise, or when a lane is singular, nothing
// changes and the caller inverts lane by lane.
template <class V>
c_inlineLanes NSInversion invertRigid(NSMatrix4T<V>& m) {
    NSMatrix4T<V> lu = m;
    int permutation[3] = {0, 1, 2};
    for (int k = 0; k < 3; ++k) {
        int pivot = k;
        for (int lane = 0; lane < c_iLanes<V>; ++lane) {
            int lanePivot = k;
            for (int r = k + 1; r < 3; ++r)
                if (std::abs(laneOf(lu(r, k), lane)) > std::abs(laneOf(lu(lanePivot, k), lane)))
                    lanePivot = r;
            if (laneOf(lu(lanePivot, k), lane) == 0.0)
                return NSInversion::eSingular;
            if (lane == 0)
                pivot = lanePivot;
            else if (lanePivot != pivot)
                return NSInversion::eLanesDiffer;
        }
        if (pivot != k) {
            for (int c = 0; c < 4; ++c)
                std::swap(lu(pivot, c), lu(k, c));
            std::swap(permutation[pivot], permutation[k]);
        }
        for (int r = k + 1; r < 3; ++r) {
            lu(r, k) /= lu(k, k);
            for (int c = k + 1; c < 4; ++c)
                lu(r, c) -= lu(r, k) * lu(k, c);
        }
    }
    for (int j = 0; j < 4; ++j) {
        V x[4];
        for (int r = 0; r < 3; ++r)
            x[r] = splat<V>(permutation[r] == j ? 1.0 : 0.0);
        x[3] = splat<V>(j == 3 ? 1.0 : 0.0);
        for (int r = 1; r < 3; ++r)
            for (int k = 0; k < r; ++k)
                x[r] -= lu(r, k) * x[k];
        for (int r = 2; r >= 0; --r) {
            for (int k = r + 1; k < 4; ++k)
                x[r] -= lu(r, k) * x[k];
            x[r] /= lu(r, r);
        }
        for (int r = 0; r < 4; ++r)
            m(r, j) = x[r];
    }
    return NSInversion::eDone;
}

// Cosine and sine of an angle in degrees. Every joint matrix takes its trigonometry from here,
// so that a matrix assembled from stored values equals one computed afresh, to the bit.
struct NSTrig {
    double c, s;
};
NSTrig trigOf(double degrees) {
    return {std::cos(degrees * c_dDegToRad), std::sin(degrees * c_dDegToRad)};
}

// Rot_z(theta) Trans_z(d) Trans_x(a) Rot_x(alpha) from the cosines and sines of theta and alpha.
NSMatrix4 dhFromTrig(NSTrig theta, double d, double a, NSTrig alpha) {
    const double ct = theta.c, st = theta.s, ca = alpha.c, sa = alpha.s;
    NSMatrix4 m;
    m(0, 0) = ct, m(0, 1) = -st * ca, m(0, 2) = st * sa, m(0, 3) = a * ct;
    m(1, 0) = st, m(1, 1) = ct * ca, m(1, 2) = -ct * sa, m(1, 3) = a * st;
    m(2, 1) = sa, m(2, 2) = ca, m(2, 3) = d;
    m(3, 3) = 1.0;
    return m;
}

// Rot_z(theta) Trans_z(d) Trans_x(a) Rot_x(alpha), angles in degrees.
NSMatrix4 dhMatrix(double theta, double d, double a, double alpha) {
    return dhFromTrig(trigOf(theta), d, a, trigOf(alpha));
}

// The DH angle theta and offset d that a joint has at a joint value.
struct NSEffectiveJoint {
    double theta, d;
};
NSEffectiveJoint effectiveJoint(const Params& joint, double value, bool offsets) {
    if (joint.type == 'R')
        return {value + (offsets ? joint.theta : 0.0), joint.d};
    return {joint.theta, value + (offsets ? joint.d : 0.0)};
}

// The turn by pi about x from the disc's frame into the camera's.
const NSTrig& rotationX() {
    static const NSTrig turn{std::cos(c_dPi), std::sin(c_dPi)};
    return turn;
}

// One joint at one value: a revolute joint's value turns theta, any other kind's shifts d.
NSMatrix4 jointMatrix(const Params& joint, double value, bool offsets) {
    const NSEffectiveJoint e = effectiveJoint(joint, value, offsets);
    return dhMatrix(e.theta, e.d, joint.a, joint.alpha);
}

// The chain product A1 (A2 (A3 (A4 (A5)))), built from the disc end as the model defines it.
// With a store of suffix products (from the last evaluation at the same sample), the suffix
// A_i ... A_5 is taken from it as long as the joints i..5 and their values are unchanged; a
// Jacobian column moves one joint, so the joints after it are not recomputed. Equal inputs give
// equal products, so the result is the same to the bit.
NSMatrix4 chainProduct(const Params joints[5], const ZoTVector<double>& values, bool offsets,
                       ZoCOrbal2AxisCalibrationObjFunction::ZoNSuffixProducts* store) {
    auto keyOf = [&](int i, double key[6]) {
        key[0] = joints[i].theta, key[1] = joints[i].d, key[2] = joints[i].a, key[3] = joints[i].alpha;
        key[4] = joints[i].type, key[5] = values[i];
    };
    int reused = 5;  // the suffix from this joint on comes from the store
    if (store && store->filled) {
        for (int i = 4; i >= 0; --i) {
            double key[6];
            keyOf(i, key);
            if (std::memcmp(key, store->keys[i], sizeof key) != 0)
                break;
            reused = i;
        }
    }
    NSMatrix4 P = NSMatrix4::Identity();
    if (reused < 5)
        std::copy(store->products[reused], store->products[reused] + 16, P.e);
    for (int i = reused - 1; i >= 0; --i) {
        NSMatrix4 A;
        if (store) {
            double key[6];
            keyOf(i, key);
            if (store->jointFilled[i] && std::memcmp(key, store->jointKeys[i], sizeof key) == 0) {
                std::copy(store->joints[i], store->joints[i] + 16, A.e);
            } else {
                A = jointMatrix(joints[i], values[i], offsets);
                std::copy(key, key + 6, store->jointKeys[i]);
                std::copy(A.e, A.e + 16, store->joints[i]);
                store->jointFilled[i] = true;
            }
        } else {
            A = jointMatrix(joints[i], values[i], offsets);
        }
        P = multiplyRigid(A, P);
        if (store) {
            keyOf(i, store->keys[i]);
            std::copy(P.e, P.e + 16, store->products[i]);
        }
    }
    if (store)
        store->filled = true;
    return P;
}

// (A1 ... A5 with the translation scaled to image-area units)^-1, turned by pi about x into the
// camera frame.
NSMatrix4 cameraToDisc(const Params joints[5], const ZoTVector<double>& values, bool offsets,
                       ZoCOrbal2AxisCalibrationObjFunction::ZoNSuffixProducts* store = nullptr) {
    NSMatrix4 P = chainProduct(joints, values, offsets, store);
    for (int r = 0; r < 3; ++r)
        P(r, 3) *= c_dImageAreaUnitsPerMillimetre;
    invertRigid(P);  // a singular product stays as it is
    return multiplyRotationX(P, rotationX().c, rotationX().s);
}

// The unit quaternion (w, x, y, z) of the upper-left 3 x 3 block; the branch with the largest
// diagonal term keeps the square root away from zero.
template <typename Matrix>
std::array<double, 4> quaternionOf(const Matrix& R) {
    std::array<double, 4> q;
    const double trace = R(0, 0) + R(1, 1) + R(2, 2);
    if (trace > 0) {
        const double s = std::sqrt(trace + 1.0);
        const double f = 0.5 / s;
        q = {s / 2, (R(2, 1) - R(1, 2)) * f, (R(0, 2) - R(2, 0)) * f, (R(1, 0) - R(0, 1)) * f};
    } else if (R(0, 0) > R(1, 1) && R(0, 0) > R(2, 2)) {
        const double s = 2.0 * std::sqrt(1.0 + R(0, 0) - R(1, 1) - R(2, 2));
        q = {(R(2, 1) - R(1, 2)) / s, s / 4, (R(0, 1) + R(1, 0)) / s, (R(0, 2) + R(2, 0)) / s};
    } else if (R(1, 1) > R(2, 2)) {
        const double s = 2.0 * std::sqrt(1.0 + R(1, 1) - R(0, 0) - R(2, 2));
        q = {(R(0, 2) - R(2, 0)) / s, (R(0, 1) + R(1, 0)) / s, s / 4, (R(1, 2) + R(2, 1)) / s};
    } else {
        const double s = 2.0 * std::sqrt(1.0 + R(2, 2) - R(0, 0) - R(1, 1));
        q = {(R(1, 0) - R(0, 1)) / s, (R(0, 2) + R(2, 0)) / s, (R(1, 2) + R(2, 1)) / s, s / 4};
    }
    const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (norm > 0)
        for (double& v : q)
            v /= norm;
    return q;
}

// The twelve differences of two transforms: the rotation block row by row, then the translation.
void twelveDifferences(const NSMatrix4& predicted, const NSMatrix4& measured, double twelve[12]) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            twelve[3 * r + c] = predicted(r, c) - measured(r, c);
    for (int r = 0; r < 3; ++r)
        twelve[9 + r] = predicted(r, 3) - measured(r, 3);
}

// The distance of two transforms in the objective's modes: 7 quaternion and translation
// differences; 12 rotation block and translation differences; 1 the norm of the twelve. Other
// modes have none. Returns the number of values written. Quaternion signs are not aligned: near
// half a turn a flip of sign shows as a large error, which calibration configurations do not reach.
int transformDistance(const NSMatrix4& predicted, const NSMatrix4& measured, int mode, double out[12],
                      const double* measuredQuaternion = nullptr) {
    double twelve[12];
    twelveDifferences(predicted, measured, twelve);
    switch (mode) {
        case 12:
            std::copy(twelve, twelve + 12, out);
            return 12;
        case 1: {
            double sum = 0.0;
            for (double v : twelve)
                sum += v * v;
            out[0] = std::sqrt(sum);
            return 1;
        }
        case 7: {
            const std::array<double, 4> qp = quaternionOf(predicted);
            std::array<double, 4> qm;
            if (measuredQuaternion)
                std::copy(measuredQuaternion, measuredQuaternion + 4, qm.begin());
            else
                qm = quaternionOf(measured);
            for (int i = 0; i < 4; ++i)
                out[i] = qp[i] - qm[i];
            std::copy(twelve + 9, twelve + 12, out + 4);
            return 7;
        }
        default:
            return 0;
    }
}

// quaternionOf for lanes, with the same arithmetic. False when the lanes would take different
// branches, or only some lanes have a norm to divide by; the caller then goes lane by lane.
template <class V>
c_inlineLanes bool quaternionLanes(const NSMatrix4T<V>& R, V q[4]) {
    const V trace = R(0, 0) + R(1, 1) + R(2, 2);
    int branch = 0;
    for (int lane = 0; lane < c_iLanes<V>; ++lane) {
        const double r00 = laneOf(R(0, 0), lane), r11 = laneOf(R(1, 1), lane), r22 = laneOf(R(2, 2), lane);
        const int laneBranch = laneOf(trace, lane) > 0 ? 0 : r00 > r11 && r00 > r22 ? 1 : r11 > r22 ? 2 : 3;
        if (lane == 0)
            branch = laneBranch;
        else if (laneBranch != branch)
            return false;
    }
    if (branch == 0) {
        const V s = sqrtOf(trace + 1.0);
        const V f = 0.5 / s;
        q[0] = s / 2.0, q[1] = (R(2, 1) - R(1, 2)) * f, q[2] = (R(0, 2) - R(2, 0)) * f, q[3] = (R(1, 0) - R(0, 1)) * f;
    } else if (branch == 1) {
        const V s = 2.0 * sqrtOf(1.0 + R(0, 0) - R(1, 1) - R(2, 2));
        q[0] = (R(2, 1) - R(1, 2)) / s, q[1] = s / 4.0, q[2] = (R(0, 1) + R(1, 0)) / s, q[3] = (R(0, 2) + R(2, 0)) / s;
    } else if (branch == 2) {
        const V s = 2.0 * sqrtOf(1.0 + R(1, 1) - R(0, 0) - R(2, 2));
        q[0] = (R(0, 2) - R(2, 0)) / s, q[1] = (R(0, 1) + R(1, 0)) / s, q[2] = s / 4.0, q[3] = (R(1, 2) + R(2, 1)) / s;
    } else {
        const V s = 2.0 * sqrtOf(1.0 + R(2, 2) - R(0, 0) - R(1, 1));
        q[0] = (R(1, 0) - R(0, 1)) / s, q[1] = (R(0, 2) + R(2, 0)) / s, q[2] = (R(1, 2) + R(2, 1)) / s, q[3] = s / 4.0;
    }
    const V norm = sqrtOf(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    int positive = 0;
    for (int lane = 0; lane < c_iLanes<V>; ++lane)
        positive += laneOf(norm, lane) > 0 ? 1 : 0;
    if (positive == c_iLanes<V>)
        for (int i = 0; i < 4; ++i)
            q[i] /= norm;
    else if (positive > 0)
        return false;
    return true;
}

// transformDistance for lanes of predictions against one measured transform and its quaternion;
// -1 when the lanes must go one by one (see quaternionLanes).
template <class V>
c_inlineLanes int distanceLanes(const NSMatrix4T<V>& predicted, const NSMatrix4& measured, const double measuredQuaternion[4],
                  int mode, V out[12]) {
    V twelve[12];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            twelve[3 * r + c] = predicted(r, c) - measured(r, c);
    for (int r = 0; r < 3; ++r)
        twelve[9 + r] = predicted(r, 3) - measured(r, 3);
    switch (mode) {
        case 12:
            std::copy(twelve, twelve + 12, out);
            return 12;
        case 1: {
            V sum = V();
            for (const V& v : twelve)
                sum += v * v;
            out[0] = sqrtOf(sum);
            return 1;
        }
        case 7: {
            V q[4];
            if (!quaternionLanes(predicted, q))
                return -1;
            for (int i = 0; i < 4; ++i)
                out[i] = q[i] - measuredQuaternion[i];
            std::copy(twelve + 9, twelve + 12, out + 4);
            return 7;
        }
        default:
            return 0;
    }
}

// What a sample's evaluations share while one joint's parameter moves: the trigonometry of each
// joint's theta and each joint matrix at the unperturbed parameters, the products A_j ... A_5
// (suffix[5] the identity), and the measured response with its quaternion.
struct NSSampleTerms {
    NSTrig theta[5];
    NSMatrix4 A[5];
    NSMatrix4 suffix[6];
    NSMatrix4 measured;
    double measuredQuaternion[4] = {};
};

// camera -> disc of one sample with joint i's matrix replaced by Ai: the same products in the same
// order as cameraToDisc (A1 (A2 (... (Ai (A_i+1 ... A5))))). With lanes, a failed inversion is left
// to the caller, lane by lane; a single evaluation keeps a singular product as it is.
template <class V>
c_inlineLanes NSInversion cameraToDiscWith(const NSMatrix4T<V>& Ai, int i, const NSSampleTerms& terms, NSMatrix4T<V>& T) {
    NSMatrix4T<V> P = multiplyRigid(Ai, terms.suffix[i + 1]);
    for (int j = i - 1; j >= 0; --j)
        P = multiplyRigid(terms.A[j], P);
    for (int r = 0; r < 3; ++r)
        P(r, 3) *= c_dImageAreaUnitsPerMillimetre;
    const NSInversion inversion = invertRigid(P);
    if (inversion != NSInversion::eDone && c_iLanes<V> > 1)
        return inversion;
    T = multiplyRotationX(P, rotationX().c, rotationX().s);
    return NSInversion::eDone;
}

// One finite-difference column: joint `joint`'s field `field` at the four perturbed values of
// `record` (with their alpha and theta trigonometry), for every sample after the first, written
// to `out` (one entry per residual).
struct NSColumn {
    const std::vector<ZoCOrbal2AxisCalibrationObjFunction::ZoSInputResponsePair>* samples = nullptr;
    const std::vector<NSSampleTerms>* terms = nullptr;
    bool offsets = false;
    int mode = 0;
    double coefficients[4] = {};
    double step = 0.0;
    int joint = 0, field = 0;
    Params record[4] = {};
    NSTrig alpha[4] = {}, theta[4] = {};
    double* out = nullptr;
};

template <int>
c_inlineLanes void evaluateColumnBody(const NSColumn& column) {
    const std::vector<NSSampleTerms>& terms = *column.terms;
    const int i = column.joint, sampleCount = static_cast<int>(terms.size());
    // Joint i's matrix at sample s for the four perturbed records.
    auto jointLanes = [&](int s) {
        NSMatrix4T<NSLanes> A;
        for (int l = 0; l < 4; ++l) {
            const Params& record = column.record[l];
            const NSEffectiveJoint e =
                effectiveJoint(record, (*column.samples)[static_cast<size_t>(s)].input[i], column.offsets);
            const NSTrig theta = column.field != 0   ? terms[static_cast<size_t>(s)].theta[i]
                                 : record.type == 'R' ? trigOf(e.theta)
                                                      : column.theta[l];
            setLane(A, l, dhFromTrig(theta, e.d, record.a, column.alpha[l]));
        }
        return A;
    };
    const NSMatrix4T<NSLanes> A0 = jointLanes(0);
    NSMatrix4T<NSLanes> T0;
    if (cameraToDiscWith(A0, i, terms[0], T0) != NSInversion::eDone) {
        for (int l = 0; l < 4; ++l) {
            NSMatrix4 lane;
            cameraToDiscWith(laneOf(A0, l), i, terms[0], lane);
            setLane(T0, l, lane);
        }
    }
    NSMatrix4T<NSLanes> firstInverse = T0;
    if (invertRigid(firstInverse) != NSInversion::eDone) {
        for (int l = 0; l < 4; ++l) {
            NSMatrix4 lane = laneOf(T0, l);
            invertRigid(lane);  // a singular one stays as it is
            setLane(firstInverse, l, lane);
        }
    }
    for (int s = 1; s < sampleCount; ++s) {
        const NSSampleTerms& t = terms[static_cast<size_t>(s)];
        const NSMatrix4T<NSLanes> A = jointLanes(s);
        NSLanes block[12];
        int size = -1;
        NSMatrix4T<NSLanes> T;
        if (cameraToDiscWith(A, i, t, T) == NSInversion::eDone)
            size = distanceLanes(multiplyRigid(firstInverse, T), t.measured, t.measuredQuaternion, column.mode, block);
        if (size < 0) {
            for (int l = 0; l < 4; ++l) {
                NSMatrix4 laneT;
                cameraToDiscWith(laneOf(A, l), i, t, laneT);
                double laneBlock[12];
                size = distanceLanes(multiplyRigid(laneOf(firstInverse, l), laneT), t.measured, t.measuredQuaternion,
                                     column.mode, laneBlock);
                for (int e = 0; e < size; ++e)
                    block[e][l] = laneBlock[e];
            }
        }
        double* rows = column.out + static_cast<size_t>(s - 1) * static_cast<size_t>(column.mode);
        for (int e = 0; e < size; ++e) {
            double derivative = 0.0;
            for (int l = 0; l < 4; ++l)
                derivative += column.coefficients[l] * block[e][l];
            rows[e] = derivative / column.step;
        }
    }
}

// The lanes take twice as few instructions with AVX; where the processor has it, the column runs
// in a copy of the code built for it. AVX brings no fused multiply-add, so the arithmetic, and
// with it every bit, is the same in both copies.
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx"), flatten)) void evaluateColumnAvx(const NSColumn& column) {
    evaluateColumnBody<0>(column);
}
#endif
__attribute__((flatten)) void evaluateColumnPlain(const NSColumn& column) { evaluateColumnBody<0>(column); }

void evaluateColumn(const NSColumn& column) {
#if defined(__GNUC__) && defined(__x86_64__)
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        return evaluateColumnAvx(column);
#endif
    evaluateColumnPlain(column);
}

ZoTVector<double> vectorOf(const double* values, int count) {
    ZoTVector<double> v(count);
    std::copy(values, values + count, v.data);
    return v;
}

}  // namespace

const Params ZoCOrbal2AxisCalibrationObjFunction::m_defaultJointParams[c_iNumJoints] = {
    {53.130104064941406, 0, 0, 90, 'T', -169, 25}, {0, 0, 0, 90, 'R', -60, 60}, {0, 0, 24, 90, 'R', -104, 60},
    {126.8698959350586, 0, 0, 0, 'T', -23, 23},    {0, 0, 0, 0, 'R', 0, 360},
};

const Params ZoCOrbal2AxisCalibrationObjFunction::m_defaultHomePositionJointParams[c_iNumJoints] = {
    {53.130104064941406, 0, 0, 90, 'T', -169, 25},
    {90, 0, 0, 90, 'R', -60, 60},
    {90, 0, 24, 90, 'R', -104, 60},
    {126.8698959350586, 0, 0, 0, 'T', -23, 23},
    {0, 0, 0, 0, 'R', 0, 360},
};

const Params ZoCOrbal2AxisCalibrationObjFunction::m_simulationJointParams[c_iNumJoints] = {
    {50.4293, 4.50615, -0.275728, 90.262, 'T', -178, 25},
    {91.4616, -4.32838, 0, 92.025, 'R', -60, 60},
    {90.4174, 0, 24.352, 90.1837, 'R', -60, 105},
    {126.87, 0, 0, 0, 'T', -24, 24},
    {0, 0, 0, 0, 'R', 0, 360},
};

// -----------------------------------------------------------------------------------------------
// Construction and samples

ZoCOrbal2AxisCalibrationObjFunction::ZoCOrbal2AxisCalibrationObjFunction(bool firstJointOnly,
                                                                         bool calibrateOffsets)
    : ZoCNLSObjectiveFunction(0, 0),
      m_referenceInverse(ZoTMatrix<double>::Identity(4)),
      m_firstJointOnly(firstJointOnly),
      m_calibrateOffsets(calibrateOffsets) {
    const int perJoint = calibrateOffsets ? 4 : 3;
    SetNumParams(static_cast<unsigned int>(firstJointOnly ? perJoint : 5 * perJoint));
    std::copy(std::begin(m_defaultJointParams), std::end(m_defaultJointParams), m_jointParams);
    setConstraints();
}

void ZoCOrbal2AxisCalibrationObjFunction::AddInputResponseSample(const ZoTVector<double>& joints,
                                                                 const ZoTMatrix<double>& registration) {
    m_samples.push_back({joints, registration});
    forgetEvaluations();
    if (m_samples.size() == 1) {
        PrepareNextOptimizationRun(ExportJointParameters(m_defaultJointParams));
        m_referenceInverse = registration;
        m_referenceInverse.Invert();  // a singular registration stays as it is
    } else {
        SetNumMeasurements(GetNumMeasurements() + m_errorsPerSample);
    }
    m_samples.back().response = m_referenceInverse * registration;
}

ZoCOrbal2AxisCalibrationObjFunction::ZoSInputResponsePair
ZoCOrbal2AxisCalibrationObjFunction::ReplaceInputResponseSample(int index, const ZoTVector<double>& joints,
                                                                const ZoTMatrix<double>& registration) {
    if (index < 0 || index >= GetNumSamples())
        throw std::invalid_argument("ReplaceInputResponseSample: no sample at that index");
    ZoSInputResponsePair& sample = m_samples[static_cast<size_t>(index)];
    ZoSInputResponsePair old = sample;
    sample.input = joints;
    sample.response = registration;
    forgetEvaluations();
    return old;
}

void ZoCOrbal2AxisCalibrationObjFunction::RemoveAllSamples() {
    m_samples.clear();
    forgetEvaluations();
    SetNumMeasurements(0);
}

// -----------------------------------------------------------------------------------------------
// Kinematics

ZoTMatrix<double> ZoCOrbal2AxisCalibrationObjFunction::dhTransformation(double theta, double d, double a,
                                                                        double alpha) {
    return dhMatrix(theta, d, a, alpha).ToMatrix();
}

ZoTMatrix<double> ZoCOrbal2AxisCalibrationObjFunction::getRelativeTransformation(const ZoSJointParams& joint,
                                                                                 double value) const {
    return jointMatrix(joint, value, m_calibrateOffsets).ToMatrix();
}

ZoTMatrix<double> ZoCOrbal2AxisCalibrationObjFunction::BuildTrafo(
    const ZoSJointParams joints[c_iNumJoints], const ZoTVector<double>& jointValues) const {
    return cameraToDisc(joints, jointValues, m_calibrateOffsets).ToMatrix();
}

ZoTMatrix<double> ZoCOrbal2AxisCalibrationObjFunction::BuildTrafoWithDefaultParams(
    const ZoTVector<double>& jointValues) const {
    return BuildTrafo(m_defaultJointParams, jointValues);
}

// -----------------------------------------------------------------------------------------------
// Parameter mapping

int ZoCOrbal2AxisCalibrationObjFunction::parameterIndex(int joint, int field) const {
    if (m_firstJointOnly && joint > 0)
        return -1;
    const int variableField = c_abRevoluteInLayout[joint] ? 0 : 1;
    if (!m_calibrateOffsets && field == variableField)
        return -1;
    const int perJoint = m_calibrateOffsets ? 4 : 3;
    const int skipped = !m_calibrateOffsets && field > variableField ? 1 : 0;
    return joint * perJoint + field - skipped;
}

ZoTVector<double> ZoCOrbal2AxisCalibrationObjFunction::ExportJointParameters(
    const ZoSJointParams joints[c_iNumJoints]) const {
    ZoTVector<double> params(GetNumParams());
    for (int j = 0; j < c_iNumJoints; ++j)
        for (int k = 0; k < 4; ++k)
            if (const int index = parameterIndex(j, k); index >= 0)
                params[index] = field(joints[j], k);
    return params;
}

std::unique_ptr<Params[]> ZoCOrbal2AxisCalibrationObjFunction::ImportJointParameters(
    const ZoTVector<double>& params) const {
    auto joints = std::make_unique<Params[]>(c_iNumJoints);
    for (int j = 0; j < c_iNumJoints; ++j)
        joints[j] = ImportJointParameters(params, j);
    return joints;
}

// DH values from the parameter vector where it has them, otherwise from the working records;
// the ranges stay those of the nominal table. Without the joint in the layout at all (first
// joint only) the working record is taken whole.
Params ZoCOrbal2AxisCalibrationObjFunction::ImportJointParameters(const ZoTVector<double>& params,
                                                                  int joint) const {
    if (joint < 0 || joint >= c_iNumJoints)
        throw std::invalid_argument("ImportJointParameters: joint index outside 0..4");
    if (params.size < GetNumParams())
        throw std::invalid_argument("ImportJointParameters: parameter vector shorter than the layout");
    if (m_firstJointOnly && joint > 0)
        return m_jointParams[joint];
    Params record = m_defaultJointParams[joint];
    for (int k = 0; k < 4; ++k) {
        const int index = parameterIndex(joint, k);
        field(record, k) = index >= 0 ? params[index] : field(m_jointParams[joint], k);
    }
    record.type = m_jointParams[joint].type;
    return record;
}

void ZoCOrbal2AxisCalibrationObjFunction::PrepareNextOptimizationRun(const ZoTVector<double>& params) {
    const std::unique_ptr<Params[]> joints = ImportJointParameters(params);
    std::copy(joints.get(), joints.get() + c_iNumJoints, m_jointParams);
}

// -----------------------------------------------------------------------------------------------
// Constraints

// The tilts and the first joint are estimated within generous bounds (their offsets virtually
// unbounded, so that multistart can sample them); the lift and the disc rotation are fixed,
// because relative registrations cannot see what lies at the disc end of the chain.
void ZoCOrbal2AxisCalibrationObjFunction::setConstraints() {
    struct NSRange {
        double lower, upper;
    };
    auto bound = [this](int index, NSRange range) {
        if (index < 0)
            return;
        addBound(index, range.lower, true);
        addBound(index, range.upper, false);
    };
    auto fix = [this](int index, double value) {
        if (index >= 0)
            AddEquality(index, value);
    };
    constexpr NSRange c_angle{-180, 180}, c_length{-150, 150}, c_offset{-100000, 100000};
    bound(parameterIndex(0, 0), c_angle);
    bound(parameterIndex(0, 1), NSRange{-178, 25});
    bound(parameterIndex(0, 2), c_length);
    bound(parameterIndex(0, 3), c_angle);
    if (m_firstJointOnly)
        return;
    for (int joint = 1; joint <= 2; ++joint) {
        bound(parameterIndex(joint, 0), c_offset);
        bound(parameterIndex(joint, 1), c_length);
        bound(parameterIndex(joint, 2), c_length);
        bound(parameterIndex(joint, 3), c_angle);
    }
    fix(parameterIndex(3, 0), 126.869896);
    for (int k = 1; k < 4; ++k)
        fix(parameterIndex(3, k), 0.0);
    for (int k = 0; k < 4; ++k)
        fix(parameterIndex(4, k), 0.0);
}

// -----------------------------------------------------------------------------------------------
// Objective

// Calls sink(sampleIndex, prediction, block, blockSize) for every sample after the first, the
// prediction taken relative to the first sample's.
template <typename Sink>
void ZoCOrbal2AxisCalibrationObjFunction::forEachSampleBlock(const ZoSJointParams joints[c_iNumJoints],
                                                             Sink sink) const {
    m_suffixProducts.resize(m_samples.size());
    NSMatrix4 firstInverse =
        cameraToDisc(joints, m_samples.front().input, m_calibrateOffsets, &m_suffixProducts[0]);
    invertRigid(firstInverse);
    double block[12];
    for (size_t k = 1; k < m_samples.size(); ++k) {
        const NSMatrix4 prediction = multiplyRigid(
            firstInverse, cameraToDisc(joints, m_samples[k].input, m_calibrateOffsets, &m_suffixProducts[k]));
        ZoNSuffixProducts& cache = m_suffixProducts[k];
        if (!cache.responseFilled) {
            const NSMatrix4 measured = NSMatrix4::From(m_samples[k].response);
            const std::array<double, 4> q = quaternionOf(measured);
            std::copy(measured.e, measured.e + 16, cache.response);
            std::copy(q.begin(), q.end(), cache.responseQuaternion);
            cache.responseFilled = true;
        }
        NSMatrix4 measured;
        std::copy(cache.response, cache.response + 16, measured.e);
        const int size = transformDistance(prediction, measured, m_errorsPerSample, block, cache.responseQuaternion);
        sink(static_cast<int>(k), prediction, block, size);
    }
}

ZoTVector<double> ZoCOrbal2AxisCalibrationObjFunction::Error(const ZoTVector<double>& params) {
    Params joints[c_iNumJoints];
    for (int j = 0; j < c_iNumJoints; ++j)
        joints[j] = ImportJointParameters(params, j);
    if (m_samples.size() < 2)
        return ZoTVector<double>();
    ZoTVector<double> r(GetNumMeasurements());
    forEachSampleBlock(joints, [&](int k, const NSMatrix4&, const double* block, int size) {
        const int offset = (k - 1) * m_errorsPerSample;
        for (int i = 0; i < size && offset + i < r.size; ++i)
            r[offset + i] = block[i];
    });
    return r;
}

// -----------------------------------------------------------------------------------------------
// Exact derivatives of the residuals (opt-in)

namespace {

// d/dv of a joint's DH matrix for field k (0 theta, 1 d, 2 a, 3 alpha) at the effective values.
NSMatrix4 dhDerivative(double ct, double st, double ca, double sa, double a, int k) {
    NSMatrix4 m;
    switch (k) {
        case 0:
            m(0, 0) = -st, m(0, 1) = -ct * ca, m(0, 2) = ct * sa, m(0, 3) = -a * st;
            m(1, 0) = ct, m(1, 1) = -st * ca, m(1, 2) = st * sa, m(1, 3) = a * ct;
            for (double& v : m.e)
                v *= c_dDegToRad;
            break;
        case 1:
            m(2, 3) = 1.0;
            break;
        case 2:
            m(0, 3) = ct, m(1, 3) = st;
            break;
        default:
            m(0, 1) = st * sa, m(0, 2) = st * ca;
            m(1, 1) = -ct * sa, m(1, 2) = -ct * ca;
            m(2, 1) = ca, m(2, 2) = -sa;
            for (double& v : m.e)
                v *= c_dDegToRad;
    }
    return m;
}

NSMatrix4 minus(const NSMatrix4& a, const NSMatrix4& b) {
    NSMatrix4 m;
    for (int i = 0; i < 16; ++i)
        m.e[i] = a.e[i] - b.e[i];
    return m;
}

// a b for two matrices whose last rows are zero but for their last entry (rigid transforms and
// their derivatives): the products with those zeros are left out.
NSMatrix4 multiplyAffine(const NSMatrix4& a, const NSMatrix4& b) {
    NSMatrix4 product;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 3; ++r) {
            double sum = a(r, 0) * b(0, c) + a(r, 1) * b(1, c) + a(r, 2) * b(2, c);
            if (c == 3)
                sum += a(r, 3) * b(3, 3);
            product(r, c) = sum;
        }
    product(3, 3) = a(3, 3) * b(3, 3);
    return product;
}

void scaleTranslation(NSMatrix4& m) {
    for (int r = 0; r < 3; ++r)
        m(r, 3) *= c_dImageAreaUnitsPerMillimetre;
}

// The derivative of quaternionOf(R) along dR, on the same branch.
std::array<double, 4> quaternionDerivative(const NSMatrix4& R, const NSMatrix4& dR) {
    std::array<double, 4> q, dq;
    const double trace = R(0, 0) + R(1, 1) + R(2, 2);
    if (trace > 0) {
        const double s = std::sqrt(trace + 1.0), ds = (dR(0, 0) + dR(1, 1) + dR(2, 2)) / (2 * s);
        const double f = 0.5 / s, df = -0.5 * ds / (s * s);
        const double u[3] = {R(2, 1) - R(1, 2), R(0, 2) - R(2, 0), R(1, 0) - R(0, 1)};
        const double du[3] = {dR(2, 1) - dR(1, 2), dR(0, 2) - dR(2, 0), dR(1, 0) - dR(0, 1)};
        q = {s / 2, u[0] * f, u[1] * f, u[2] * f};
        dq = {ds / 2, du[0] * f + u[0] * df, du[1] * f + u[1] * df, du[2] * f + u[2] * df};
    } else {
        // The branch of the largest diagonal term: index i, and the other two j, k in cyclic order.
        int i = 2;
        if (R(0, 0) > R(1, 1) && R(0, 0) > R(2, 2))
            i = 0;
        else if (R(1, 1) > R(2, 2))
            i = 1;
        const int j = (i + 1) % 3, k = (i + 2) % 3;
        const double inner = 1.0 + R(i, i) - R(j, j) - R(k, k);
        const double dinner = dR(i, i) - dR(j, j) - dR(k, k);
        const double s = 2.0 * std::sqrt(inner), ds = dinner / std::sqrt(inner);
        auto over = [&](double num, double dnum, double& v, double& dv) {
            v = num / s;
            dv = dnum / s - num * ds / (s * s);
        };
        double w, dw, a, da, b, db;
        over(R(k, j) - R(j, k), dR(k, j) - dR(j, k), w, dw);
        over(R(i, j) + R(j, i), dR(i, j) + dR(j, i), a, da);
        over(R(i, k) + R(k, i), dR(i, k) + dR(k, i), b, db);
        q[0] = w, dq[0] = dw;
        q[1 + i] = s / 4, dq[1 + i] = ds / 4;
        q[1 + j] = a, dq[1 + j] = da;
        q[1 + k] = b, dq[1 + k] = db;
    }
    const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (!(norm > 0))
        return dq;
    double projection = 0.0;
    for (int n = 0; n < 4; ++n)
        projection += q[n] * dq[n];
    for (int n = 0; n < 4; ++n)
        dq[n] = (dq[n] - q[n] / norm * (projection / norm)) / norm;
    return dq;
}

}  // namespace

ZoTMatrix<double> ZoCOrbal2AxisCalibrationObjFunction::Jacobian(const ZoTVector<double>& z) {
    if (m_exactDerivatives)
        return exactJacobian(z);
    if (GetNumMeasurements() == 0)
        return ZoTMatrix<double>();
    const ZoTVector<double> x = BuildParamsFromFree(z);
    // The driver's statistics ask for the Jacobian at the solution, where the solver's last
    // accepted step has just computed it: the same columns are handed out again.
    NSJacobianMemo& memo = m_lastJacobian;
    if (memo.valid && isMemoOf(x))
        return memo.jacobian;
    ZoTMatrix<double> J = differencesJacobian(z, x);
    memo.valid = true;
    memo.x = x;
    memo.freeIndices = GetFreeVariablesIndices();
    memo.measurements = GetNumMeasurements();
    memo.errorsPerSample = m_errorsPerSample;
    std::copy(m_jointParams, m_jointParams + c_iNumJoints, memo.joints);
    memo.jacobian = J;
    return J;
}

bool ZoCOrbal2AxisCalibrationObjFunction::isMemoOf(const ZoTVector<double>& x) const {
    const NSJacobianMemo& memo = m_lastJacobian;
    const ZoTVector<int>& freeIndices = GetFreeVariablesIndices();
    if (memo.x.size != x.size || memo.freeIndices.size != freeIndices.size ||
        memo.measurements != GetNumMeasurements() || memo.errorsPerSample != m_errorsPerSample)
        return false;
    if (std::memcmp(memo.x.data, x.data, sizeof(double) * static_cast<size_t>(x.size)) != 0 ||
        !std::equal(freeIndices.data, freeIndices.data + freeIndices.size, memo.freeIndices.data))
        return false;
    for (int j = 0; j < c_iNumJoints; ++j) {
        const ZoSJointParams &a = memo.joints[j], &b = m_jointParams[j];
        const double fa[4] = {a.theta, a.d, a.a, a.alpha}, fb[4] = {b.theta, b.d, b.a, b.alpha};
        if (std::memcmp(fa, fb, sizeof fa) != 0 || a.type != b.type)
            return false;
    }
    return true;
}

void ZoCOrbal2AxisCalibrationObjFunction::forgetEvaluations() {
    m_suffixProducts.clear();
    m_lastJacobian.valid = false;
}

// The base's finite differences of Error (the same perturbed values, the same arithmetic, so the
// same bits), without evaluating whole residual vectors: a parameter of joint i leaves the
// joints' trigonometry, the products A_i+1 ... A_5 and the measured quaternions as they are, so
// these are computed once per Jacobian, and the stencil's four evaluations of a column run side by
// side in lanes. Shapes the fast path does not cover go to the base.
ZoTMatrix<double> ZoCOrbal2AxisCalibrationObjFunction::differencesJacobian(const ZoTVector<double>& z,
                                                                           const ZoTVector<double>& x) {
    const int m = GetNumMeasurements(), mode = m_errorsPerSample;
    const int sampleCount = static_cast<int>(m_samples.size());
    const ZoTVector<int>& freeIndices = GetFreeVariablesIndices();
    const int k = freeIndices.size;
    const double* stencil = FiniteDifferenceStencil(c_iJacobianOrder);
    int offsets[4] = {}, lanes = 0;
    double coefficients[4] = {};
    for (int offset = -(c_iJacobianOrder / 2); offset <= (c_iJacobianOrder + 1) / 2; ++offset) {
        const double c = stencil[offset + c_iJacobianOrder / 2];
        if (c == 0.0)
            continue;
        if (lanes == 4)
            return ZoCNLSObjectiveFunction::Jacobian(z);
        offsets[lanes] = offset;
        coefficients[lanes++] = c;
    }
    if (lanes != 4 || sampleCount < 2 || m != (sampleCount - 1) * mode || (mode != 1 && mode != 7 && mode != 12))
        return ZoCNLSObjectiveFunction::Jacobian(z);
    std::vector<int> jointOf(static_cast<size_t>(k), -1), fieldOf(static_cast<size_t>(k), -1);
    for (int col = 0; col < k; ++col) {
        for (int j = 0; j < c_iNumJoints; ++j)
            for (int f = 0; f < 4; ++f)
                if (parameterIndex(j, f) == freeIndices[col])
                    jointOf[static_cast<size_t>(col)] = j, fieldOf[static_cast<size_t>(col)] = f;
        if (jointOf[static_cast<size_t>(col)] < 0)
            return ZoCNLSObjectiveFunction::Jacobian(z);
    }

    Params joints[c_iNumJoints];
    NSTrig alpha[c_iNumJoints];
    for (int j = 0; j < c_iNumJoints; ++j) {
        joints[j] = ImportJointParameters(x, j);
        alpha[j] = trigOf(joints[j].alpha);
    }
    std::vector<NSSampleTerms> terms(static_cast<size_t>(sampleCount));
    for (int s = 0; s < sampleCount; ++s) {
        NSSampleTerms& t = terms[static_cast<size_t>(s)];
        const ZoTVector<double>& q = m_samples[static_cast<size_t>(s)].input;
        for (int j = 0; j < c_iNumJoints; ++j) {
            const NSEffectiveJoint e = effectiveJoint(joints[j], q[j], m_calibrateOffsets);
            t.theta[j] = trigOf(e.theta);
            t.A[j] = dhFromTrig(t.theta[j], e.d, joints[j].a, alpha[j]);
        }
        t.suffix[c_iNumJoints] = NSMatrix4::Identity();
        for (int j = c_iNumJoints - 1; j >= 0; --j)
            t.suffix[j] = multiplyRigid(t.A[j], t.suffix[j + 1]);
        if (s > 0) {
            t.measured = NSMatrix4::From(m_samples[static_cast<size_t>(s)].response);
            const std::array<double, 4> mq = quaternionOf(t.measured);
            std::copy(mq.begin(), mq.end(), t.measuredQuaternion);
        }
    }

    ZoTMatrix<double> J(m, k);
    NSColumn column;
    column.samples = &m_samples;
    column.terms = &terms;
    column.offsets = m_calibrateOffsets;
    column.mode = mode;
    column.step = c_dJacobianStep;
    std::copy(coefficients, coefficients + 4, column.coefficients);
    for (int col = 0; col < k; ++col) {
        const int i = jointOf[static_cast<size_t>(col)], f = fieldOf[static_cast<size_t>(col)];
        const double x0 = x[freeIndices[col]];
        column.joint = i;
        column.field = f;
        for (int l = 0; l < 4; ++l) {
            Params& record = column.record[l];
            record = joints[i];
            field(record, f) = x0 + offsets[l] * c_dJacobianStep;
            column.alpha[l] = f == 3 ? trigOf(record.alpha) : alpha[i];
            column.theta[l] = trigOf(record.theta);  // theta itself is the angle of a joint that slides
        }
        column.out = J.data + static_cast<size_t>(col) * static_cast<size_t>(m);
        evaluateColumn(column);
    }
    return J;
}

ZoTMatrix<double> ZoCOrbal2AxisCalibrationObjFunction::exactJacobian(const ZoTVector<double>& z) {
    const int m = GetNumMeasurements();
    if (m == 0)
        return ZoTMatrix<double>();
    const ZoTMatrix<double>& K = GetEqualityConstraintsKernel();
    const int k = K.cols - 1;
    ZoTMatrix<double> J(m, k);
    if (m_samples.size() < 2 || z.size != k)
        return J;
    const ZoTVector<double> x = BuildParamsFromFree(z);
    Params joints[c_iNumJoints];
    for (int j = 0; j < c_iNumJoints; ++j)
        joints[j] = ImportJointParameters(x, j);
    // Parameters that no free variable moves (the lift and the disc) need no derivative.
    bool moved[4 * c_iNumJoints] = {};
    for (int p = 0; p < K.rows && p < 4 * c_iNumJoints; ++p)
        for (int j = 0; j < k && !moved[p]; ++j)
            moved[p] = K(p, 1 + j) != 0.0;
    int parameters[4 * c_iNumJoints], jointOf[4 * c_iNumJoints], fieldOf[4 * c_iNumJoints], count = 0;
    for (int i = 0; i < c_iNumJoints; ++i)
        for (int f = 0; f < 4; ++f)
            if (const int p = parameterIndex(i, f); p >= 0 && moved[p])
                parameters[count] = p, jointOf[count] = i, fieldOf[count++] = f;

    // With P' the chain product with its translation in image-area units, T = P'^-1 Rx, and
    // dT = -P'^-1 dP' T for a parameter's dP'. The prediction T0^-1 Tn then moves by
    // d(T0^-1 Tn) = W T0^-1 Tn - (T0^-1 P'n^-1) dP'n Tn, where W = Rx^-1 dP'0 T0 (as
    // T0^-1 P'0^-1 = Rx^-1) belongs to the first sample alone.
    struct NSSampleChain {
        NSMatrix4 prefix[c_iNumJoints + 1], suffix[c_iNumJoints + 1];
        NSTrig theta[c_iNumJoints];
        NSMatrix4 inverse, T;  // P'^-1 and P'^-1 Rx
    };
    NSTrig alpha[c_iNumJoints];
    for (int i = 0; i < c_iNumJoints; ++i)
        alpha[i] = trigOf(joints[i].alpha);
    auto chainOf = [&](const ZoTVector<double>& q, NSSampleChain& out) {
        NSMatrix4 A[c_iNumJoints];
        for (int i = 0; i < c_iNumJoints; ++i) {
            const NSEffectiveJoint e = effectiveJoint(joints[i], q[i], m_calibrateOffsets);
            out.theta[i] = trigOf(e.theta);
            A[i] = dhFromTrig(out.theta[i], e.d, joints[i].a, alpha[i]);
        }
        out.prefix[0] = NSMatrix4::Identity();
        for (int i = 0; i < c_iNumJoints; ++i)
            out.prefix[i + 1] = multiplyRigid(out.prefix[i], A[i]);
        out.suffix[c_iNumJoints] = NSMatrix4::Identity();
        for (int i = c_iNumJoints - 1; i >= 0; --i)
            out.suffix[i] = multiplyRigid(A[i], out.suffix[i + 1]);
        out.inverse = out.suffix[0];
        scaleTranslation(out.inverse);
        invertRigid(out.inverse);
        out.T = multiplyRotationX(out.inverse, rotationX().c, rotationX().s);
    };
    // dP' of parameter t at a sample.
    auto chainDerivative = [&](const NSSampleChain& chain, int t) {
        const int i = jointOf[t];
        const NSTrig& th = chain.theta[i];
        NSMatrix4 dP = multiplyAffine(multiplyAffine(chain.prefix[i], dhDerivative(th.c, th.s, alpha[i].c, alpha[i].s,
                                                                                   joints[i].a, fieldOf[t])),
                                      chain.suffix[i + 1]);
        scaleTranslation(dP);
        return dP;
    };

    NSSampleChain first, sample;
    chainOf(m_samples.front().input, first);
    NSMatrix4 firstInverse = first.T;
    invertRigid(firstInverse);
    NSMatrix4 turnBack = NSMatrix4::Identity();  // Rx^-1
    turnBack(1, 1) = rotationX().c, turnBack(1, 2) = rotationX().s;
    turnBack(2, 1) = -rotationX().s, turnBack(2, 2) = rotationX().c;
    NSMatrix4 W[4 * c_iNumJoints];
    for (int t = 0; t < count; ++t)
        W[t] = multiplyAffine(multiplyAffine(turnBack, chainDerivative(first, t)), first.T);
    for (size_t n = 1; n < m_samples.size(); ++n) {
        chainOf(m_samples[n].input, sample);
        const NSMatrix4 prediction = multiplyRigid(firstInverse, sample.T);
        const NSMatrix4 toFirst = multiplyRigid(firstInverse, sample.inverse);
        const NSMatrix4 measured = NSMatrix4::From(m_samples[n].response);
        double values[12];
        const int size = transformDistance(prediction, measured, m_errorsPerSample, values);
        const int row0 = static_cast<int>(n - 1) * m_errorsPerSample;
        for (int t = 0; t < count; ++t) {
            const NSMatrix4 dPrediction =
                minus(multiplyAffine(W[t], prediction),
                      multiplyAffine(multiplyAffine(toFirst, chainDerivative(sample, t)), sample.T));
            double d[12];
            for (int r = 0; r < 3; ++r)
                for (int col = 0; col < 3; ++col)
                    d[3 * r + col] = dPrediction(r, col);
            for (int r = 0; r < 3; ++r)
                d[9 + r] = dPrediction(r, 3);
            double block[12] = {};
            switch (m_errorsPerSample) {
                case 12:
                    std::copy(d, d + 12, block);
                    break;
                case 1: {
                    double twelve[12];
                    twelveDifferences(prediction, measured, twelve);
                    double dot = 0.0;
                    for (int e = 0; e < 12; ++e)
                        dot += twelve[e] * d[e];
                    block[0] = values[0] > 0 ? dot / values[0] : 0.0;
                    break;
                }
                case 7: {
                    const std::array<double, 4> dq = quaternionDerivative(prediction, dPrediction);
                    std::copy(dq.begin(), dq.end(), block);
                    std::copy(d + 9, d + 12, block + 4);
                    break;
                }
                default:
                    break;
            }
            const int p = parameters[t];
            for (int j = 0; j < k; ++j) {
                const double weight = K(p, 1 + j);
                if (weight == 0.0)
                    continue;
                for (int e = 0; e < size && row0 + e < m; ++e)
                    J(row0 + e, j) += block[e] * weight;
            }
        }
    }
    return J;
}

ZoTVector<double> ZoCOrbal2AxisCalibrationObjFunction::ComputeTrafoErrors(const ZoTVector<double>& params,
                                                                          bool verbose) {
    if (m_samples.empty())
        return ZoTVector<double>();
    const std::unique_ptr<Params[]> joints = ImportJointParameters(params);
    ZoTVector<double> errors(static_cast<int>(m_samples.size()) - 1);
    forEachSampleBlock(joints.get(), [&](int k, const NSMatrix4& prediction, const double* block, int size) {
        errors[k - 1] = vectorOf(block, size).Norm();
        if (!verbose)
            return;
        ZoDebugPrint("-----------------------------------\n");
        m_samples[static_cast<size_t>(k)].input.Print();
        ZoDebugPrint("--- gegeben:\n");
        m_samples[static_cast<size_t>(k)].response.Print();
        ZoDebugPrint("--- simuliert:\n");
        prediction.ToMatrix().Print();
        ZoDebugPrint("===> Fehler: %g\n", errors[k - 1]);
    });
    return errors;
}

ZoTVector<double> ZoCOrbal2AxisCalibrationObjFunction::trafoDist(const ZoTMatrix<double>& predicted,
                                                                 const ZoTMatrix<double>& measured) const {
    double block[12];
    const int size =
        transformDistance(NSMatrix4::From(predicted), NSMatrix4::From(measured), m_errorsPerSample, block);
    return vectorOf(block, size);
}

// -----------------------------------------------------------------------------------------------
// Quaternions

ZoTVector<double> ZoCOrbal2AxisCalibrationObjFunction::QuaternionFromRotation(const ZoTMatrix<double>& R) {
    const std::array<double, 4> q = quaternionOf(R);
    return vectorOf(q.data(), 4);
}

ZoTMatrix<double> ZoCOrbal2AxisCalibrationObjFunction::RotationFromQuaternion(const ZoTVector<double>& q) {
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    ZoTMatrix<double> R(3);
    R(0, 0) = w * w + x * x - y * y - z * z, R(0, 1) = 2 * (x * y - w * z), R(0, 2) = 2 * (x * z + w * y);
    R(1, 0) = 2 * (x * y + w * z), R(1, 1) = w * w - x * x + y * y - z * z, R(1, 2) = 2 * (y * z - w * x);
    R(2, 0) = 2 * (x * z - w * y), R(2, 1) = 2 * (y * z + w * x), R(2, 2) = w * w - x * x - y * y + z * z;
    return R;
}

ZoTVector<double> ZoCOrbal2AxisCalibrationObjFunction::QuaternionFromEuler(double h, double t, double b) {
    const double c1 = std::cos(h / 2), s1 = std::sin(h / 2);
    const double c2 = std::cos(t / 2), s2 = std::sin(t / 2);
    const double c3 = std::cos(b / 2), s3 = std::sin(b / 2);
    ZoTVector<double> q(4);
    q[0] = c2 * c1 * c3 - s2 * s1 * s3;
    q[1] = c2 * c1 * s3 + s2 * s1 * c3;
    q[2] = c2 * s1 * c3 + s2 * c1 * s3;
    q[3] = s2 * c1 * c3 - c2 * s1 * s3;
    return q;
}

// Near the poles (|test| > 0.499 of the squared norm) heading and bank share one axis; the bank
// is then set to 0.
ZoTVector<double> ZoCOrbal2AxisCalibrationObjFunction::EulerFromQuaternion(const ZoTVector<double>& q) {
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double ww = w * w, xx = x * x, yy = y * y, zz = z * z;
    const double unit = ww + xx + yy + zz;
    const double test = x * y + z * w;
    ZoTVector<double> angles(3);
    if (test > 0.499 * unit) {
        angles[0] = 2 * std::atan2(x, w);
        angles[1] = 1.5707963267949;
    } else if (test < -0.499 * unit) {
        angles[0] = -2 * std::atan2(x, w);
        angles[1] = -1.5707963267949;
    } else {
        angles[0] = std::atan2(2 * y * w - 2 * x * z, xx - yy - zz + ww);
        angles[1] = std::asin(2 * test / unit);
        angles[2] = std::atan2(2 * x * w - 2 * y * z, -xx + yy - zz + ww);
    }
    return angles;
}

// Rounding can leave |w| of a unit quaternion a hair above 1; it is clamped so that a rotation
// by nothing reads as 0 rather than NaN.
double ZoCOrbal2AxisCalibrationObjFunction::QuaternionToAngle(const ZoTVector<double>& q) {
    return 2.0 * std::acos(std::clamp(q[0], -1.0, 1.0));
}

// Without rotation (sin of half the angle below 0.0005) there is no axis; the vector part is
// returned unscaled then.
ZoTVector<double> ZoCOrbal2AxisCalibrationObjFunction::QuaternionToAxis(const ZoTVector<double>& q) {
    double s = std::sqrt(std::max(0.0, 1.0 - q[0] * q[0]));
    if (std::abs(s) < 0.0005)
        s = 1.0;
    ZoTVector<double> axis(3);
    for (int i = 0; i < 3; ++i)
        axis[i] = static_cast<float>(q[i + 1] / s);
    return axis;
}

// -----------------------------------------------------------------------------------------------
// Random calibration sequences

namespace {

// Whether the point p (image-area units) lies in the hollow cylinder around the axis A-B.
bool insideCalibrationCylinder(const double p[3]) {
    const double axis[3] = {0.0, 0.0, 1.0};
    double w[3], foot[3], radial[3];
    for (int i = 0; i < 3; ++i)
        w[i] = p[i] - c_adCylinderA[i];
    const double s = w[0] * axis[0] + w[1] * axis[1] + w[2] * axis[2];
    for (int i = 0; i < 3; ++i) {
        foot[i] = c_adCylinderA[i] + s * axis[i];
        radial[i] = p[i] - foot[i];
    }
    const double r = std::sqrt(radial[0] * radial[0] + radial[1] * radial[1] + radial[2] * radial[2]);
    if (r < c_dCylinderInnerRadius || r >= c_dCylinderOuterRadius)
        return false;
    double fromA = 0.0, fromB = 0.0;
    for (int i = 0; i < 3; ++i) {
        fromA += (foot[i] - c_adCylinderA[i]) * axis[i];
        fromB += (foot[i] - c_adCylinderB[i]) * axis[i];
    }
    return fromA >= 0 && fromB <= 0;
}

}  // namespace

// Draws joint values uniformly within the nominal ranges and keeps those that put the disc's
// reference point into the working volume in front of the sensor. Should the volume be out of
// reach (c_iMaxRejectedDrawsInARow draws rejected in a row), the rows accepted so far are
// returned rather than searching forever.
ZoTMatrix<double> ZoCOrbal2AxisCalibrationObjFunction::GenerateRandomCalibrationSequence(int n) {
    ZoDebugPrint("(CALIB OED) Generating %i random samples\n", n);
    ZoTVector<double> reference(4);
    reference[0] = (c_adCylinderA[0] + c_adCylinderB[0]) / 2;
    reference[1] = (c_adCylinderA[1] + c_adCylinderB[1]) / 2;
    reference[2] = (c_adCylinderA[2] + c_adCylinderB[2]) / 2;
    reference[3] = 1.0;
    std::mt19937_64 rng(c_uRandomSequenceSeed);
    std::vector<ZoTVector<double>> accepted;
    int rejectedInARow = 0;
    while (static_cast<int>(accepted.size()) < n && rejectedInARow < c_iMaxRejectedDrawsInARow) {
        ZoTVector<double> q(c_iNumJoints);
        for (int j = 0; j < c_iNumJoints; ++j) {
            const Params& joint = m_defaultJointParams[j];
            const double v = joint.type == 'R' ? joint.theta : joint.d;
            const double lo = v + joint.minValue, hi = v + joint.maxValue;
            q[j] = lo + uniformVariate(rng) * (hi - lo);
        }
        const ZoTVector<double> point = BuildTrafo(m_defaultJointParams, q) * reference;
        if (!insideCalibrationCylinder(point.data)) {
            ++rejectedInARow;
            continue;
        }
        rejectedInARow = 0;
        ZoTVector<double> p(3);
        std::copy(point.data, point.data + 3, p.data);
        p.Print();
        accepted.push_back(q);
    }
    ZoTMatrix<double> requests(static_cast<int>(accepted.size()), c_iNumJoints);
    for (int r = 0; r < requests.rows; ++r)
        for (int c = 0; c < c_iNumJoints; ++c)
            requests(r, c) = accepted[static_cast<size_t>(r)][c];
    SortRequests(requests);
    return requests;
}

// -----------------------------------------------------------------------------------------------
// Travel order of requests: shortest open path through the rows by nearest-neighbour tours and
// best-improvement 2-opt, closed through a dummy node at distance 0 from every row.

namespace {

class ZoCTourPlanner {
  public:
    explicit ZoCTourPlanner(const ZoTMatrix<double>& requests)
        : m_n(requests.rows + 1), m_dist(m_n * m_n, 0.0) {
        for (int i = 0; i < requests.rows; ++i)
            for (int j = i + 1; j < requests.rows; ++j)
                m_dist[index(i, j)] = m_dist[index(j, i)] = jointDistance(requests, i, j);
    }

    int NodeCount() const { return m_n; }

    std::vector<int> NearestNeighbourTour(int start) const {
        std::vector<int> tour{start};
        std::vector<bool> visited(static_cast<size_t>(m_n), false);
        visited[static_cast<size_t>(start)] = true;
        for (int step = 1; step < m_n; ++step) {
            const int from = tour.back();
            int next = -1;
            for (int j = 0; j < m_n; ++j)
                if (!visited[static_cast<size_t>(j)] && (next < 0 || D(from, j) < D(from, next)))
                    next = j;
            visited[static_cast<size_t>(next)] = true;
            tour.push_back(next);
        }
        return tour;
    }

    // Best-improvement 2-opt. The move whose end nodes coincide (b first, d last: a == d) only
    // reverses the whole tour; its gain is zero up to rounding and is never applied, since it
    // would be found again forever. The cap on moves guards against rounding cycles elsewhere.
    void TwoOpt(std::vector<int>& t) const {
        const int n = static_cast<int>(t.size());
        const long maxMoves = 100L * n * n + 100;
        for (long moves = 0; moves < maxMoves; ++moves) {
            double bestChange = 0.0;
            int bestP = -1, bestQ = -1;
            for (int p = 0; p + 2 < n; ++p) {
                const int a = t[static_cast<size_t>(p == 0 ? n - 1 : p - 1)], b = t[static_cast<size_t>(p)];
                for (int q = p + 2; q < n; ++q) {
                    const int c = t[static_cast<size_t>(q - 1)], d = t[static_cast<size_t>(q)];
                    if (a == d)
                        continue;
                    const double change = D(a, c) + D(b, d) - D(a, b) - D(c, d);
                    if (change < bestChange) {
                        bestChange = change;
                        bestP = p;
                        bestQ = q;
                    }
                }
            }
            if (bestP < 0)
                return;
            std::reverse(t.begin() + bestP, t.begin() + bestQ);
        }
    }

    double ClosedLength(const std::vector<int>& t) const {
        double length = 0.0;
        for (size_t i = 0; i < t.size(); ++i)
            length += D(t[i], t[(i + 1) % t.size()]);
        return length;
    }

  private:
    size_t index(int i, int j) const { return static_cast<size_t>(i) * static_cast<size_t>(m_n) + j; }
    double D(int i, int j) const { return m_dist[index(i, j)]; }

    // Tilts and disc angles are compared on the circle; the linear joints directly.
    static double jointDistance(const ZoTMatrix<double>& m, int i, int j) {
        double sum = 0.0;
        for (int k = 0; k < 5; ++k) {
            double delta = m(i, k) - m(j, k);
            if (c_abRevoluteInLayout[k]) {
                delta = std::fmod(std::abs(delta), 360.0);
                if (delta > 180.0)
                    delta = 360.0 - delta;
            }
            sum += delta * delta;
        }
        return std::sqrt(sum);
    }

    int m_n;
    std::vector<double> m_dist;
};

}  // namespace

void ZoCOrbal2AxisCalibrationObjFunction::SortRequests(ZoTMatrix<double>& requests) {
    const int N = requests.rows;
    if (N < 2)
        return;
    const ZoCTourPlanner planner(requests);
    std::mt19937_64 rng(c_uSortSeed);
    const std::vector<int> starts = randomPermutation(N + 1, rng);
    std::vector<int> best;
    double bestLength = std::numeric_limits<double>::infinity();
    for (int s = 0; s < N / 2; ++s) {
        std::vector<int> tour = planner.NearestNeighbourTour(starts[static_cast<size_t>(s)]);
        planner.TwoOpt(tour);
        const double length = planner.ClosedLength(tour);
        if (length < bestLength) {
            bestLength = length;
            best = std::move(tour);
        }
    }
    // Cut the closed tour at the dummy node N.
    const size_t dummy = static_cast<size_t>(std::find(best.begin(), best.end(), N) - best.begin());
    const ZoTMatrix<double> original(requests);
    for (int k = 0; k < N; ++k) {
        const int node = best[(dummy + 1 + static_cast<size_t>(k)) % best.size()];
        for (int c = 0; c < requests.cols; ++c)
            requests(k, c) = original(node, c);
    }
}

// -----------------------------------------------------------------------------------------------
// D-optimal subsets by Fedorov's exchange

namespace {

// One exchange run over the rows x of the linearised model (the candidates' Jacobian rows).
class ZoCFedorovExchange {
  public:
    struct NSOutcome {
        int exchanges = 0;
        bool positiveDefinite = false;
        double detStart = 0.0;
        double detStop = 0.0;
        std::vector<int> design;  // ascending
    };

    explicit ZoCFedorovExchange(const ZoTMatrix<double>& rows) : m_rows(rows) {}

    NSOutcome Run(const std::vector<int>& start) const {
        NSOutcome outcome;
        const int nc = m_rows.rows;
        std::vector<bool> member(static_cast<size_t>(nc), false);
        for (int i : start)
            member[static_cast<size_t>(i)] = true;
        ZoTMatrix<double> inverse;
        if (!information(member, inverse, outcome.detStart))
            return outcome;
        outcome.positiveDefinite = true;
        double det = outcome.detStart;
        // Exchanges raise det by at least the tolerance each, so they end; the cap only guards
        // against an inverse spoilt by rounding.
        const int maxExchanges = 10 * nc * std::max<int>(1, static_cast<int>(start.size())) + 1000;
        while (outcome.exchanges < maxExchanges) {
            const std::vector<ZoTVector<double>> mapped = mapRows(inverse);
            double bestDelta = -std::numeric_limits<double>::infinity();
            int bestI = -1, bestJ = -1;
            for (int j = 0; j < nc; ++j) {
                if (member[static_cast<size_t>(j)])
                    continue;
                const double dj = dot(j, mapped[static_cast<size_t>(j)]);
                for (int i = 0; i < nc; ++i) {
                    if (!member[static_cast<size_t>(i)])
                        continue;
                    const double di = dot(i, mapped[static_cast<size_t>(i)]);
                    const double dij = dot(j, mapped[static_cast<size_t>(i)]);
                    const double delta = dj - di - di * dj + dij * dij;
                    if (delta > bestDelta) {
                        bestDelta = delta;
                        bestI = i;
                        bestJ = j;
                    }
                }
            }
            if (bestJ < 0 || bestDelta < c_dExchangeTolerance)
                break;
            rankOneUpdate(inverse, bestJ, +1.0);
            rankOneUpdate(inverse, bestI, -1.0);
            det *= 1.0 + bestDelta;
            member[static_cast<size_t>(bestJ)] = true;
            member[static_cast<size_t>(bestI)] = false;
            ++outcome.exchanges;
        }
        outcome.detStop = det;
        for (int i = 0; i < nc; ++i)
            if (member[static_cast<size_t>(i)])
                outcome.design.push_back(i);
        return outcome;
    }

  private:
    // M = sum x x^T over the members; its inverse and determinant through Cholesky.
    bool information(const std::vector<bool>& member, ZoTMatrix<double>& inverse, double& det) const {
        const int k = m_rows.cols;
        ZoTMatrix<double> M(k);
        for (int r = 0; r < m_rows.rows; ++r) {
            if (!member[static_cast<size_t>(r)])
                continue;
            for (int a = 0; a < k; ++a)
                for (int b = 0; b < k; ++b)
                    M(a, b) += m_rows(r, a) * m_rows(r, b);
        }
        if (k == 0 || !cholesky(M))
            return false;
        double product = 1.0;
        for (int i = 0; i < k; ++i)
            product *= M(i, i);
        det = product * product;
        choleskyInverse(M, inverse);
        return true;
    }

    // M^-1 x for every row x.
    std::vector<ZoTVector<double>> mapRows(const ZoTMatrix<double>& inverse) const {
        std::vector<ZoTVector<double>> mapped;
        mapped.reserve(static_cast<size_t>(m_rows.rows));
        for (int r = 0; r < m_rows.rows; ++r)
            mapped.push_back(inverse * m_rows.Row(r));
        return mapped;
    }

    double dot(int row, const ZoTVector<double>& v) const {
        double sum = 0.0;
        for (int c = 0; c < m_rows.cols; ++c)
            sum += m_rows(row, c) * v[c];
        return sum;
    }

    // Sherman-Morrison: the inverse after adding (sign +1) or removing (sign -1) row x x^T.
    void rankOneUpdate(ZoTMatrix<double>& inverse, int row, double sign) const {
        const ZoTVector<double> v = inverse * m_rows.Row(row);
        const double factor = 1.0 / (1.0 + sign * dot(row, v));
        for (int c = 0; c < inverse.cols; ++c)
            for (int r = 0; r < inverse.rows; ++r)
                inverse(r, c) -= sign * factor * v[r] * v[c];
    }

    const ZoTMatrix<double>& m_rows;
};

}  // namespace

// The design search needs a subset that can carry a positive-definite information matrix
// (at least as many rows as free parameters) and a candidate outside it to exchange with.
// Outside that range no run can be counted, so the search is not started: a subset not
// smaller than the candidates gives all candidate indices, a smaller one than the free
// parameters gives no indices. Should c_iMaxDiscardedDesignRuns runs be discarded before
// `starts` runs have been counted (candidates of too low rank), the search stops there.
// Without a counted run the result is the discarded start design with the largest
// determinant, if any start was positive definite, otherwise empty.
ZoTVector<int> ZoCOrbal2AxisCalibrationObjFunction::OptimizeCalibrationSequence(
    const ZoTMatrix<double>& candidates, int starts, int subsetSize) {
    // The simulation replaces the samples for the time of the search; the reference and the
    // working records go with them.
    std::vector<ZoSInputResponsePair> saved = std::move(m_samples);
    const ZoTMatrix<double> savedReferenceInverse = m_referenceInverse;
    ZoSJointParams savedJointParams[c_iNumJoints];
    std::copy(m_jointParams, m_jointParams + c_iNumJoints, savedJointParams);
    RemoveAllSamples();
    m_errorsPerSample = 1;
    ZoTVector<double> home(c_iNumJoints);
    home[1] = home[2] = 90.0;
    AddInputResponseSample(home, BuildTrafo(m_simulationJointParams, home));
    const int nc = candidates.rows;
    for (int r = 0; r < nc; ++r) {
        const ZoTVector<double> row = candidates.Row(r);
        AddInputResponseSample(row, BuildTrafo(m_simulationJointParams, row));
    }
    SetNumMeasurements(nc);

    const ZoTVector<double> homeParams = GetDefaultHomePositionParameters();
    const ZoTVector<int>& freeIndices = GetFreeVariablesIndices();
    ZoTVector<double> z(freeIndices.size);
    for (int j = 0; j < z.size; ++j)
        z[j] = homeParams[freeIndices[j]];
    const ZoTMatrix<double> J = Jacobian(z);
    ZoDebugPrint("(CALIB OED) Starting search for D-optimal design...\n");

    const ZoCFedorovExchange exchange(J);
    std::mt19937_64 rng(c_uDesignSeed);
    double best = 0.0;
    std::vector<int> design;
    double fallbackDet = -1.0;
    std::vector<int> fallback;
    auto consider = [&](const ZoCFedorovExchange::NSOutcome& outcome) {
        if (outcome.exchanges > 0) {
            ZoDebugPrint("(NLS OED) #iters=%i: det start=%g, det stop=%g\n", outcome.exchanges,
                         outcome.detStart, outcome.detStop);
            if (outcome.detStop > best) {
                best = outcome.detStop;
                design = outcome.design;
            }
            return true;
        }
        if (outcome.positiveDefinite && outcome.detStart > fallbackDet) {
            fallbackDet = outcome.detStart;
            fallback = outcome.design;
        }
        return false;
    };
    const bool searchable = J.rows == nc && subsetSize >= z.size && subsetSize < nc && z.size > 0;
    if (!searchable && subsetSize >= nc && nc > 0) {
        std::vector<int> all(static_cast<size_t>(nc));
        std::iota(all.begin(), all.end(), 0);
        consider(exchange.Run(all));
        if (fallback.empty())
            fallback = all;
    }
    int counted = 0, discarded = 0;
    while (searchable && counted < starts && discarded < c_iMaxDiscardedDesignRuns) {
        std::vector<int> start = randomPermutation(nc, rng);
        start.resize(static_cast<size_t>(subsetSize));
        if (consider(exchange.Run(start)))
            ++counted;
        else
            ++discarded;
    }
    if (counted == 0 && !fallback.empty()) {
        design = fallback;
        best = std::max(fallbackDet, 0.0);
    }
    ZoDebugPrint("(NLS OED) det best=%g\n", best);
    ZoDebugPrint("(CALIB OED) D-criterion value for optimal design: %g\n", best);

    m_samples = std::move(saved);
    forgetEvaluations();
    m_referenceInverse = savedReferenceInverse;
    std::copy(savedJointParams, savedJointParams + c_iNumJoints, m_jointParams);
    m_errorsPerSample = 12;
    ZoTVector<int> indices(static_cast<int>(design.size()));
    std::copy(design.begin(), design.end(), indices.data);
    return indices;
}
