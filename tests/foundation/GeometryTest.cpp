// Geometry: homogeneous transformations, boxes, polylines and the Hermite spline.
#include "Geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {
CbMatrix4Rf randomRigid(std::mt19937_64& rng) {
    std::uniform_real_distribution<float> angle(-3.1f, 3.1f), shift(-200.0f, 200.0f);
    return CbMatrix4Rf::Translation(shift(rng), shift(rng), shift(rng)) * CbMatrix4Rf::RotationZ(angle(rng)) *
           CbMatrix4Rf::RotationX(angle(rng)) * CbMatrix4Rf::RotationY(angle(rng));
}
void expectNear(const CbMatrix4Rf& a, const CbMatrix4Rf& b, float tol) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a[i], b[i], tol) << "element " << i;
}
}  // namespace

TEST(CbMatrix4Rf, StoresColumnByColumnWithTranslationInTwelveToFourteen) {
    const CbMatrix4Rf t = CbMatrix4Rf::Translation(1, 2, 3);
    EXPECT_EQ(t[12], 1);
    EXPECT_EQ(t[13], 2);
    EXPECT_EQ(t[14], 3);
    EXPECT_EQ(t(0, 3), 1);
    const CbMatrix4Rf m = CbMatrix4Rf::FromRows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    EXPECT_EQ(m[1], 5);  // row 1, column 0
}

TEST(CbMatrix4Rf, TransformsPointsWithHomogeneousDivide) {
    CbMatrix4Rf m = CbMatrix4Rf::Translation(1, 0, 0);
    m(3, 3) = 2;  // w = 2 for every point with a zero last row elsewhere
    const CbVector3f p = m.TransformPoint({3, 4, 6});
    EXPECT_FLOAT_EQ(p.x, 2);
    EXPECT_FLOAT_EQ(p.y, 2);
    EXPECT_FLOAT_EQ(p.z, 3);
    // Scaling and rotation leave w at 1: (1, 2, 3) scaled by 2, then turned a quarter about z.
    const CbVector3f q = (CbMatrix4Rf::RotationZ(1.5707964f) * CbMatrix4Rf::Scaling(2)).TransformPoint({1, 2, 3});
    EXPECT_NEAR(q.x, -4, 1e-5);
    EXPECT_NEAR(q.y, 2, 1e-5);
    EXPECT_NEAR(q.z, 6, 1e-5);
}

TEST(CbMatrix4Rf, InverseOfRandomRigidAndGeneralMatricesGivesIdentity) {
    std::mt19937_64 rng(5489);
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        const CbMatrix4Rf m = randomRigid(rng);
        expectNear(m * m.Inverted(), c_matIdentity, 2e-4f);
        // A general matrix, projective row included (diagonally dominant: well conditioned).
        std::uniform_real_distribution<float> entry(-1.0f, 1.0f);
        CbMatrix4Rf g;
        for (int k = 0; k < 16; ++k)
            g[k] = entry(rng) + (k % 5 == 0 ? 4.0f : 0.0f);
        expectNear(g * g.Inverted(), c_matIdentity, 1e-5f);
        expectNear(m.Inverted().Inverted(), m, 2e-3f);
    }
}

TEST(CbMatrix4Rf, SingularMatrixThrowsAndStaysUnchanged) {
    CbMatrix4Rf m;
    m(2, 2) = 0;
    const CbMatrix4Rf before = m;
    try {
        m.Invert();
        FAIL() << "no exception";
    } catch (const CyExceptionNotInvertible& e) {
        EXPECT_STREQ(e.what(), "CbMatrixInternal::CyBaseMatrix4x4<class CbMatrix4Rf>::Invert");
    }
    EXPECT_EQ(m, before);
}

TEST(CbMatrix4Rf, NegatingRowAndColumnKeepsTheCommonElement) {
    CbMatrix4Rf m = CbMatrix4Rf::FromRows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 0, 0, 1});
    m.NegateRow(2);
    m.NegateColumn(1);
    EXPECT_EQ(m(2, 1), 10);
    EXPECT_EQ(m(2, 0), -9);
    EXPECT_EQ(m(0, 1), -2);
    EXPECT_EQ(m(0, 0), 1);
}

TEST(CyBoundingBox3D, CornersPickMinimumOrMaximumPerAxisBit) {
    CyBoundingBox3D box;
    EXPECT_TRUE(box.IsEmpty());
    box.Add({1, 2, 3});
    box.Add({-1, 5, 0});
    EXPECT_EQ(box.GetCorner(0), CbVector3f(-1, 2, 0));
    EXPECT_EQ(box.GetCorner(7), CbVector3f(1, 5, 3));
    EXPECT_EQ(box.GetCorner(5), CbVector3f(1, 2, 3));
    EXPECT_FLOAT_EQ(box.GetDepth(), 3);
}

TEST(CyPolyline3D, ClosedAreaIsPositiveCounterClockwiseAboutTheAxis) {
    CyPolyline3D square({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}});
    EXPECT_FLOAT_EQ(square.ComputeClosedArea({0, 0, 1}), 4);
    EXPECT_FLOAT_EQ(square.ComputeClosedArea({0, 0, -1}), -4);
    CyPolyline3D clockwise({{0, 0, 0}, {0, 2, 0}, {2, 2, 0}, {2, 0, 0}});
    EXPECT_FLOAT_EQ(clockwise.ComputeClosedArea({0, 0, 1}), -4);
    EXPECT_FLOAT_EQ(square.GetLength(), 6);
}

TEST(CyHermiteSpline, PassesThroughItsControlPoints) {
    const std::vector<CbVector3f> points = {{0, 0, 0}, {10, 5, 0}, {20, 0, 2}, {30, -5, 0}};
    CyHermiteSpline spline(points);
    for (int i = 0; i < 4; ++i) {
        const CbVector3f p = spline.ComputePosition(static_cast<float>(i));
        EXPECT_NEAR((p - points[static_cast<size_t>(i)]).Length(), 0, 1e-5);
    }
}

TEST(CyHermiteSpline, ArcLengthOfAStraightSplineIsItsChord) {
    CyHermiteSpline spline({{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {40, 0, 0}});
    EXPECT_NEAR(spline.SubdivideByLength(), 40.0f, 1e-3);
    EXPECT_NEAR(spline.ComputePositionAtLength(25.0f).x, 25.0f, 1e-2);
    EXPECT_EQ(spline.ComputePositionAtLength(-5).x, 0);
    EXPECT_EQ(spline.ComputePositionAtLength(100).x, 40);
    CbVector3f tangent, normal;
    spline.ComputeDirectionVectors(1.5f, tangent, normal);
    EXPECT_NEAR(tangent.x, 1, 1e-6);
    EXPECT_NEAR(normal.y, 1, 1e-6);  // z cross x
}

// The tangent is the curve's own direction: a central difference of positions agrees.
TEST(CyHermiteSpline, TangentFollowsTheCurve) {
    const CyHermiteSpline spline({{0, 0, 0}, {10, 5, 0}, {20, 0, 2}, {30, -5, 0}});
    for (const float t : {0.3f, 1.5f, 2.25f}) {
        CbVector3f tangent, normal;
        spline.ComputeDirectionVectors(t, tangent, normal);
        const CbVector3f chord = (spline.ComputePosition(t + 1e-3f) - spline.ComputePosition(t - 1e-3f)).Normalized();
        EXPECT_NEAR((tangent - chord).Length(), 0, 1e-3) << t;
        EXPECT_NEAR(normal.Dot(tangent), 0, 1e-5) << t;
    }
}

TEST(CyHermiteSpline, ArcLengthOfAQuarterCircleApproachesPiOverTwo) {
    std::vector<CbVector3f> points;
    for (int i = 0; i <= 16; ++i) {
        const float a = 1.5707964f * static_cast<float>(i) / 16;
        points.push_back({100 * std::cos(a), 100 * std::sin(a), 0});
    }
    CyHermiteSpline spline(points);
    EXPECT_NEAR(spline.SubdivideByLength(), 157.0796f, 0.05f);
}

// Knots at NaN, Inf or so far apart that the length overflows give a length that is not finite;
// every query still lands on one of the samples (the first for a NaN or non-positive length, the
// last beyond the end) instead of reading outside them.
TEST(CyHermiteSpline, DegenerateAndNonFiniteKnotsAnswerWithTheirSamples) {
    auto same = [](const CbVector3f& a, const CbVector3f& b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    for (const float bad : {NAN, INFINITY, 3e38f}) {
        SCOPED_TRACE(bad);
        CyHermiteSpline spline({{0, 0, 0}, {10, bad, 0}, {-bad, 0, 0}, {40, 0, 0}});
        EXPECT_FALSE(std::isfinite(spline.SubdivideByLength()));
        const CyPolyline3D& samples = spline.GetSubdivision();
        const CbVector3f first = samples[0], last = samples[samples.GetCount() - 1];
        for (const float s : {NAN, -1.0f, 0.0f})
            EXPECT_TRUE(same(spline.ComputePositionAtLength(s), first)) << s;
        EXPECT_TRUE(same(spline.ComputePositionAtLength(INFINITY), last));
        for (const float s : {5.0f, 1e30f})
            spline.ComputePositionAtLength(s);  // inside: any sample, but inside the buffers
    }
    CyHermiteSpline empty;  // no knots, or one: answers without samples
    EXPECT_EQ(empty.SubdivideByLength(), 0);
    EXPECT_EQ(empty.ComputePositionAtLength(3), CbVector3f());
    CyHermiteSpline single({{1, 2, 3}});
    EXPECT_EQ(single.ComputePosition(0.5f), CbVector3f(1, 2, 3));
    EXPECT_EQ(single.SubdivideByLength(), 0);
    CyHermiteSpline line({{0, 0, 0}, {10, 0, 0}});
    EXPECT_EQ(line.ComputePosition(NAN), CbVector3f(0, 0, 0));
    CbVector3f tangent, normal;
    line.ComputeDirectionVectors(NAN, tangent, normal);
    EXPECT_NEAR(tangent.x, 1, 1e-6);
}
