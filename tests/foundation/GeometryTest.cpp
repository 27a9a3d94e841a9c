// Geometry: homogeneous transformations, boxes, polylines and the Hermite spline.
#include "Geometry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {
std::vector<float> entries(const CbMatrix4Rf& m) {
    return {m.Data(), m.Data() + 16};
}
}  // namespace

// Column by column, translation in 12..14, points divided by w; negating a row and a column.
TEST(CbMatrix4Rf, StoresColumnByColumnTransformsPointsWithHomogeneousDivideAndNegatesRows) {
    EXPECT_EQ(entries(CbMatrix4Rf::Translation(1, 2, 3)),
              (std::vector<float>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}));
    CbMatrix4Rf m = CbMatrix4Rf::Translation(1, 0, 0);
    m(3, 3) = 2;
    EXPECT_NEAR((m.TransformPoint({3, 4, 6}) - CbVector3f(2, 2, 3)).Length(), 0, 1e-5);
    const CbMatrix4Rf turn = CbMatrix4Rf::RotationZ(1.5707964f) * CbMatrix4Rf::Scaling(2);
    EXPECT_NEAR((turn.TransformPoint({1, 2, 3}) - CbVector3f(-4, 2, 6)).Length(), 0, 1e-5);
    m = CbMatrix4Rf::FromRows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 0, 0, 1});
    m.NegateRow(2);
    m.NegateColumn(1);
    EXPECT_EQ(entries(m), (std::vector<float>{1, 5, -9, 0, -2, -6, 10, 0, 3, 7, -11, 0, 4, 8, -12, 1}));
}

// General inverses (projective row included); a singular matrix throws and stays unchanged.
TEST(CbMatrix4Rf, InverseOfRandomGeneralMatricesGivesIdentitySingularThrows) {
    std::mt19937_64 rng(5489);
    std::uniform_real_distribution<float> entry(-1.0f, 1.0f);
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        CbMatrix4Rf g;
        for (int k = 0; k < 16; ++k)
            g[k] = entry(rng) + (k % 5 == 0 ? 4.0f : 0.0f);
        EXPECT_THAT(entries(g * g.Inverted()),
                    testing::Pointwise(testing::FloatNear(1e-5f), entries(c_matIdentity)));
    }
    CbMatrix4Rf singular;
    singular(2, 2) = 0;
    const CbMatrix4Rf before = singular;
    EXPECT_THAT([&] { singular.Invert(); },
                testing::ThrowsMessage<CyExceptionNotInvertible>(
                    testing::StrEq("CbMatrixInternal::CyBaseMatrix4x4<class CbMatrix4Rf>::Invert")));
    EXPECT_EQ(singular, before);
}

// Corner i takes the maximum on axis k when bit k is set; an area turns sign with axis and winding.
TEST(CyBoundingBox3DAndPolyline, CornersPickMinimumOrMaximumPerAxisBitAndAreasTurnWithTheAxis) {
    CyBoundingBox3D box;
    EXPECT_TRUE(box.IsEmpty());
    box.Add({1, 2, 3});
    box.Add({-1, 5, 0});
    EXPECT_EQ((std::vector<CbVector3f>{box.GetCorner(0), box.GetCorner(7), box.GetCorner(5)}),
              (std::vector<CbVector3f>{{-1, 2, 0}, {1, 5, 3}, {1, 2, 3}}));
    EXPECT_FLOAT_EQ(box.GetDepth(), 3);
    const CyPolyline3D square({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}});
    const CyPolyline3D reversed({{0, 0, 0}, {0, 2, 0}, {2, 2, 0}, {2, 0, 0}});
    EXPECT_EQ((std::vector<float>{square.ComputeClosedArea({0, 0, 1}), square.ComputeClosedArea({0, 0, -1}),
                                  reversed.ComputeClosedArea({0, 0, 1}), square.GetLength()}),
              (std::vector<float>{4, -4, -4, 6}));
}

// Knots, tangents along the chord, normals square to them; lengths of a line and a quarter circle.
TEST(CyHermiteSpline, PassesThroughItsKnotsAlongItsTangentWithTheArcLengthOfLinesAndCircles) {
    const std::vector<CbVector3f> points = {{0, 0, 0}, {10, 5, 0}, {20, 0, 2}, {30, -5, 0}};
    const CyHermiteSpline spline(points);
    CbVector3f tangent, normal;
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NEAR((spline.ComputePosition(static_cast<float>(i)) - points[i]).Length(), 0, 1e-5) << i;
    for (const float t : {0.3f, 1.5f, 2.25f}) {
        spline.ComputeDirectionVectors(t, tangent, normal);
        const CbVector3f chord =
            (spline.ComputePosition(t + 1e-3f) - spline.ComputePosition(t - 1e-3f)).Normalized();
        EXPECT_NEAR((tangent - chord).Length(), 0, 1e-3) << t;
        EXPECT_NEAR(normal.Dot(tangent), 0, 1e-5) << t;
    }
    CyHermiteSpline line({{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {40, 0, 0}});
    EXPECT_NEAR(line.SubdivideByLength(), 40.0f, 1e-3);
    EXPECT_NEAR(line.ComputePositionAtLength(25.0f).x, 25.0f, 1e-2);
    EXPECT_EQ(std::make_pair(line.ComputePositionAtLength(-5).x, line.ComputePositionAtLength(100).x),
              std::make_pair(0.0f, 40.0f));
    std::vector<CbVector3f> arc;  // a quarter circle of radius 100 in 16 steps
    for (float a = 0; a < 1.6f; a += 1.5707964f / 16)
        arc.push_back({100 * std::cos(a), 100 * std::sin(a), 0});
    EXPECT_NEAR(CyHermiteSpline(arc).SubdivideByLength(), 157.0796f, 0.05f);
}

// Non-finite or overflowing knots: queries land on a sample (first for NaN or <= 0, last beyond).
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
    }
    CyHermiteSpline empty, single({{1, 2, 3}}), line({{0, 0, 0}, {10, 0, 0}});
    EXPECT_EQ(std::make_pair(empty.SubdivideByLength(), single.SubdivideByLength()),
              std::make_pair(0.0f, 0.0f));
    EXPECT_EQ((std::vector<CbVector3f>{empty.ComputePositionAtLength(3), single.ComputePosition(0.5f),
                                       line.ComputePosition(NAN)}),
              (std::vector<CbVector3f>{{}, {1, 2, 3}, {0, 0, 0}}));
}
