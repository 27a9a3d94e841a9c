// Geometry: homogeneous transformations, boxes, polylines and the Hermite spline.
#include "Geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {
void expectNear(const CbMatrix4Rf& a, const CbMatrix4Rf& b, float tol) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(a[i], b[i], tol) << "element " << i;
}
}  // namespace

// Column by column, translation in 12..14; points divide by w; the default is the identity and
// scaling and rotation leave w at 1.
TEST(CbMatrix4Rf, StoresColumnByColumnAndTransformsPointsWithHomogeneousDivide) {
    const CbMatrix4Rf t = CbMatrix4Rf::Translation(1, 2, 3);
    EXPECT_EQ(CbVector3f(t[12], t[13], t[14]), CbVector3f(1, 2, 3));
    EXPECT_EQ(t(0, 3), 1);
    EXPECT_EQ(CbMatrix4Rf::FromRows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16})[1], 5);
    CbMatrix4Rf m = CbMatrix4Rf::Translation(1, 0, 0);
    m(3, 3) = 2;
    const struct {
        CbMatrix4Rf m;
        CbVector3f in, out;
    } cases[] = {
        {m, {3, 4, 6}, {2, 2, 3}},
        {CbMatrix4Rf(), {1, 2, 3}, {1, 2, 3}},
        {CbMatrix4Rf::RotationZ(1.5707964f) * CbMatrix4Rf::Scaling(2), {1, 2, 3}, {-4, 2, 6}},
    };
    for (const auto& c : cases)
        EXPECT_NEAR((c.m.TransformPoint(c.in) - c.out).Length(), 0, 1e-5) << &c - cases;
}

TEST(CbMatrix4Rf, InverseOfRandomRigidAndGeneralMatricesGivesIdentity) {
    std::mt19937_64 rng(5489);
    std::uniform_real_distribution<float> angle(-3.1f, 3.1f), shift(-200.0f, 200.0f), entry(-1.0f, 1.0f);
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        const CbMatrix4Rf m = CbMatrix4Rf::Translation(shift(rng), shift(rng), shift(rng)) *
                              CbMatrix4Rf::RotationZ(angle(rng)) * CbMatrix4Rf::RotationX(angle(rng)) *
                              CbMatrix4Rf::RotationY(angle(rng));
        expectNear(m * m.Inverted(), c_matIdentity, 2e-4f);
        expectNear(m.Inverted().Inverted(), m, 2e-3f);
        // A general matrix, projective row included (diagonally dominant: well conditioned).
        CbMatrix4Rf g;
        for (int k = 0; k < 16; ++k)
            g[k] = entry(rng) + (k % 5 == 0 ? 4.0f : 0.0f);
        expectNear(g * g.Inverted(), c_matIdentity, 1e-5f);
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
    EXPECT_EQ(m, CbMatrix4Rf::FromRows({1, -2, 3, 4, 5, -6, 7, 8, -9, 10, -11, -12, 0, 0, 0, 1}));
}

TEST(CyBoundingBox3DAndPolyline, CornersPickMinimumOrMaximumPerAxisBitAndAreasTurnWithTheAxis) {
    CyBoundingBox3D box;
    EXPECT_TRUE(box.IsEmpty());
    box.Add({1, 2, 3});
    box.Add({-1, 5, 0});
    EXPECT_EQ(box.GetCorner(0), CbVector3f(-1, 2, 0));
    EXPECT_EQ(box.GetCorner(7), CbVector3f(1, 5, 3));
    EXPECT_EQ(box.GetCorner(5), CbVector3f(1, 2, 3));
    EXPECT_FLOAT_EQ(box.GetDepth(), 3);
    CyPolyline3D square({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}});
    EXPECT_FLOAT_EQ(square.ComputeClosedArea({0, 0, 1}), 4);
    EXPECT_FLOAT_EQ(square.ComputeClosedArea({0, 0, -1}), -4);
    EXPECT_FLOAT_EQ(CyPolyline3D({{0, 0, 0}, {0, 2, 0}, {2, 2, 0}, {2, 0, 0}}).ComputeClosedArea({0, 0, 1}),
                    -4);
    EXPECT_FLOAT_EQ(square.GetLength(), 6);
}

// The spline passes through its knots; its tangent is a central difference of positions and its
// normal square to it.
TEST(CyHermiteSpline, PassesThroughItsKnotsAlongItsTangent) {
    const std::vector<CbVector3f> points = {{0, 0, 0}, {10, 5, 0}, {20, 0, 2}, {30, -5, 0}};
    const CyHermiteSpline spline(points);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NEAR((spline.ComputePosition(static_cast<float>(i)) - points[i]).Length(), 0, 1e-5) << i;
    for (const float t : {0.3f, 1.5f, 2.25f}) {
        CbVector3f tangent, normal;
        spline.ComputeDirectionVectors(t, tangent, normal);
        const CbVector3f chord =
            (spline.ComputePosition(t + 1e-3f) - spline.ComputePosition(t - 1e-3f)).Normalized();
        EXPECT_NEAR((tangent - chord).Length(), 0, 1e-3) << t;
        EXPECT_NEAR(normal.Dot(tangent), 0, 1e-5) << t;
    }
}

// A straight spline's length is its chord, a quarter circle's approaches pi/2 r; positions at a
// length clamp to the ends.
TEST(CyHermiteSpline, ArcLengthsOfLinesAndCircles) {
    CyHermiteSpline line({{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {40, 0, 0}});
    EXPECT_NEAR(line.SubdivideByLength(), 40.0f, 1e-3);
    EXPECT_NEAR(line.ComputePositionAtLength(25.0f).x, 25.0f, 1e-2);
    EXPECT_EQ(line.ComputePositionAtLength(-5).x, 0);
    EXPECT_EQ(line.ComputePositionAtLength(100).x, 40);
    CbVector3f tangent, normal;
    line.ComputeDirectionVectors(1.5f, tangent, normal);
    EXPECT_NEAR((tangent - CbVector3f(1, 0, 0)).Length(), 0, 1e-6);
    EXPECT_NEAR((normal - CbVector3f(0, 1, 0)).Length(), 0, 1e-6);  // z cross x
    std::vector<CbVector3f> points;
    for (int i = 0; i <= 16; ++i) {
        const float a = 1.5707964f * static_cast<float>(i) / 16;
        points.push_back({100 * std::cos(a), 100 * std::sin(a), 0});
    }
    EXPECT_NEAR(CyHermiteSpline(points).SubdivideByLength(), 157.0796f, 0.05f);
}

// Knots at NaN, Inf or so far apart that the length overflows give a length that is not finite;
// every query still lands on one of the samples (the first for a NaN or non-positive length, the
// last beyond the end) instead of reading outside them. No knots, or one, answer without samples.
TEST(CyHermiteSpline, DegenerateAndNonFiniteKnotsAnswerWithTheirSamples) {
    auto same = [](const CbVector3f& a, const CbVector3f& b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    for (const float bad : {NAN, INFINITY, 3e38f}) {
        SCOPED_TRACE(bad);
        CyHermiteSpline spline({{0, 0, 0}, {10, bad, 0}, {-bad, 0, 0}, {40, 0, 0}});
        EXPECT_FALSE(std::isfinite(spline.SubdivideByLength()));
        const CyPolyline3D& samples = spline.GetSubdivision();
        for (const float s : {NAN, -1.0f, 0.0f})
            EXPECT_TRUE(same(spline.ComputePositionAtLength(s), samples[0])) << s;
        EXPECT_TRUE(same(spline.ComputePositionAtLength(INFINITY), samples[samples.GetCount() - 1]));
        for (const float s : {5.0f, 1e30f})
            spline.ComputePositionAtLength(s);  // inside: any sample, but inside the buffers
    }
    CyHermiteSpline empty, single({{1, 2, 3}}), line({{0, 0, 0}, {10, 0, 0}});
    EXPECT_EQ(empty.SubdivideByLength(), 0);
    EXPECT_EQ(empty.ComputePositionAtLength(3), CbVector3f());
    EXPECT_EQ(single.ComputePosition(0.5f), CbVector3f(1, 2, 3));
    EXPECT_EQ(single.SubdivideByLength(), 0);
    EXPECT_EQ(line.ComputePosition(NAN), CbVector3f(0, 0, 0));
    CbVector3f tangent, normal;
    line.ComputeDirectionVectors(NAN, tangent, normal);
    EXPECT_NEAR(tangent.x, 1, 1e-6);
}
