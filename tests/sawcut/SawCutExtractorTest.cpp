// The saw-cut extractor: the bitmap of a range image, each step of the search (contour length,
// tangents, segments, edges, pairs, cuts, validation) on inputs whose answers are known in
// closed form, and whole bitmaps of drawn plates whose gaps are known.
#include "SawCutTestSupport.h"
#include "ZoCSawCutExtractor.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using namespace sawcuttest;
using Line = ZoCSawCutExtractor::ZoNLine;
using Edge = ZoCSawCutExtractor::ZoNEdge;
using Cut = ZoCSawCutExtractor::ZoNSawCut;

namespace {
constexpr double c_dPi = 3.14159265358979;

Edge edge(double x0, double y0, double x1, double y1) {
    return Edge(Line(V(x0, y0), V(x1, y1)));
}

std::vector<Cut> validOnly(const std::vector<Cut>& cuts) {
    std::vector<Cut> valid;
    for (const Cut& c : cuts)
        if (c.m_bValid)
            valid.push_back(c);
    return valid;
}

// Two plates 400 pixels tall side by side with a gap of 20 pixels (columns 280..299).
Bitmap twoPlates(int height = 400) {
    Bitmap b(600, 600);
    FillRect(b, 100, 100, 279, 99 + height);
    FillRect(b, 300, 100, 479, 99 + height);
    return b;
}
}  // namespace

TEST(ZoCSawCutExtractor, BitmapCoversTheValidRectangleAndDropsRejectedPixels) {
    ZoCFieldRange range(8, 6, 0.0f);
    ZoCFieldMask mask(8, 6, 1);
    range.At(2, 1) = 100.0f;
    range.At(5, 4) = 100.0f;  // together they span columns 2..5, rows 1..4
    range.At(3, 2) = 50.0f;
    range.At(4, 2) = -FLT_MAX;  // the other mark of a missing range
    range.At(3, 3) = 70.0f;
    mask.At(3, 3) = 0x41;  // bit 0x040: not trusted
    range.At(4, 3) = 70.0f;
    mask.At(4, 3) = 0x80;  // other bits do not matter
    CImage image;
    image.SetFieldRange(range);
    image.SetFieldMask(mask);
    const Bitmap b = ZoCSawCutExtractor::MakeBitmap(image);
    ASSERT_EQ(b.width, 4);
    ASSERT_EQ(b.height, 4);
    const Bitmap expected = FromText({"#...", ".#..", "..#.", "...#"});
    EXPECT_EQ(b.pixels, expected.pixels);
    EXPECT_EQ(ZoCSawCutExtractor::ValidRectangle(range), (ZoCRect2{2, 1, 6, 5}));

    // A mask of another size is not consulted.
    image.SetFieldMask(ZoCFieldMask(3, 3, 0x40));
    EXPECT_EQ(ZoCSawCutExtractor::MakeBitmap(image).At(1, 2), c_uValid);
}

TEST(ZoCSawCutExtractor, ContourLengthCountsDiagonalStepsAsRootTwo) {
    Bitmap rect(12, 9);
    FillRect(rect, 3, 2, 9, 6);  // 7 x 5: 2 * 6 + 2 * 4 straight steps
    ZoCPaddedImage image = Padded(rect);
    EXPECT_DOUBLE_EQ(
        ExtractorProbe::contourLength(ZoCBoundaryTracer::TraceOuterBoundary(image, {3, 2}, c_uValid)), 20.0);
    const Bitmap diagonal = FromText({"#..", ".#.", "..#"});
    image = Padded(diagonal);
    EXPECT_DOUBLE_EQ(
        ExtractorProbe::contourLength(ZoCBoundaryTracer::TraceOuterBoundary(image, {0, 0}, c_uValid)),
        4.0 * std::sqrt(2.0));
    const Bitmap dot = FromText({".#"});
    image = Padded(dot);
    EXPECT_DOUBLE_EQ(
        ExtractorProbe::contourLength(ZoCBoundaryTracer::TraceOuterBoundary(image, {1, 0}, c_uValid)),
        3.5449077);  // 2 sqrt(pi): a disc of one pixel's area
}

TEST(ZoCSawCutExtractor, TangentsOfARectangleFollowItsSides) {
    // 60 x 40 at (10, 10), walked down the left side first: 196 boundary points.
    Bitmap b(100, 80);
    FillRect(b, 10, 10, 69, 49);
    ZoCPaddedImage image = Padded(b);
    ZoCPixelPolygon polygon(ZoCBoundaryTracer::TraceOuterBoundary(image, {10, 10}, c_uValid), 196);
    ExtractorProbe probe(b);
    std::vector<CbVector2f> points;
    std::vector<double> angles;
    probe.computeTangents(polygon, points, angles);
    ASSERT_EQ(points.size(), 196u);
    ASSERT_EQ(angles.size(), 196u);
    // Degrees come from pi to ten digits (3.1415926535): a half turn reads 180 + 5e-9.
    const double c_dPiDigits = 1e-8;
    EXPECT_EQ(points[0], V(10, 10));
    EXPECT_EQ(points[39], V(10, 49));  // bottom-left corner
    for (size_t i = 5; i <= 34; ++i)
        EXPECT_NEAR(angles[i], 90.0, c_dPiDigits) << i;  // down the screen
    for (size_t i = 44; i <= 93; ++i)
        EXPECT_NEAR(angles[i], 0.0, c_dPiDigits) << i;
    for (size_t i = 103; i <= 132; ++i)
        EXPECT_NEAR(angles[i], -90.0, c_dPiDigits) << i;
    for (size_t i = 142; i <= 191; ++i)
        EXPECT_NEAR(angles[i], 180.0, c_dPiDigits) << i;  // west is +180, not -180
    EXPECT_NEAR(angles[39], 45.0, c_dPiDigits);           // a corner: 5 steps down against 5 steps east
}

// ---------------------------------------------------------------------------------------------
// Straight segments, on points along y = 100 with given tangent angles

TEST(ZoCSawCutExtractor, SegmentsAreStraightRunsOfMoreThanTwentyPoints) {
    auto run = [](double value, size_t n) { return std::vector<double>(n, value); };
    auto join = [](std::vector<double> a, const std::vector<double>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* name;
        std::vector<double> angles;
        size_t start, next;
        int first, last;  // indices of the segment's ends; -1: no segment
    };
    const std::vector<Case> cases = {
        {"straight run from the second point", run(0, 50), 0, 50, 1, 49},
        {"bend skipped", join({0, 20, 40}, run(40, 40)), 0, 43, 3, 42},
        {"fifteen deviations tolerated", join(join(run(0, 31), run(10, 15)), run(1, 30)), 0, 76, 1, 75},
        {"fifteen deviations right after the start", join(join(run(0, 2), run(10, 15)), run(0, 25)), 0, 42, 1, 41},
        {"sixteen deviations right after the start", join(join(run(0, 2), run(10, 16)), run(0, 25)), 0, 17, -1, -1},
        {"sixteenth deviation (7.5 deviates) ends it", join(join(run(0, 31), run(7.5, 16)), run(0, 30)), 0, 46, 1, 30},
        {"twenty apart is too short", join(run(0, 22), run(90, 20)), 0, 37, -1, -1},
        {"twenty-one apart is a segment", join(run(0, 23), run(90, 20)), 0, 38, 1, 22},
        {"angles wrap around the half turn", join(run(179, 1), join(run(-178, 20), run(179, 19))), 0, 40, 1, 39},
        {"start at the end", run(0, 10), 9, 10, -1, -1},
        {"start beyond the end", run(0, 10), 20, 21, -1, -1},
        {"a bend that never ends", {0, 50, 100}, 0, 3, -1, -1},
    };
    ExtractorProbe probe(Bitmap(200, 200));
    for (const Case& c : cases) {
        std::vector<double> angles = c.angles;
        std::vector<CbVector2f> points;
        for (size_t i = 0; i < angles.size(); ++i)
            points.push_back(V(50.0 + static_cast<double>(i), 100));
        std::vector<Line> lines;
        EXPECT_EQ(probe.findSegment(points, angles, c.start, lines), c.next) << c.name;
        ASSERT_EQ(lines.size(), c.first < 0 ? 0u : 1u) << c.name;
        if (c.first >= 0) {
            EXPECT_EQ(lines[0].GetStart(), points[static_cast<size_t>(c.first)]) << c.name;
            EXPECT_EQ(lines[0].GetEnd(), points[static_cast<size_t>(c.last)]) << c.name;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Edges, pairs and cuts

// The far piece is too short for its gap to the first one; once the middle piece has joined,
// the gap is small enough: passes repeat until none joins.
TEST(ZoCSawCutExtractor, SegmentsMergeIntoEdgesUntilNoneJoins) {
    std::vector<Line> lines = {Line(V(0, 0), V(100, 0)), Line(V(330, 0), V(400, 0)), Line(V(110, 0), V(290, 0)),
                               Line(V(0, 50), V(100, 50))};
    std::vector<Edge> edges;
    ExtractorProbe probe(Bitmap(10, 10));
    probe.combineSegments(lines, edges);
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0].GetStart(), V(0, 0));
    EXPECT_EQ(edges[0].GetEnd(), V(400, 0));
    EXPECT_EQ(edges[1].GetEnd(), V(100, 50));
    EXPECT_TRUE(lines[0].m_bUsed && lines[1].m_bUsed && lines[2].m_bUsed && lines[3].m_bUsed);
}

TEST(ZoCSawCutExtractor, ParallelOffsetLimitGrowsWithTheGap) {
    // Parallel pieces 10 apart along the line and d aside: weight 0.4, so the piece joins
    // while d * 0.4 / (gap / 100) <= 7.5 with gap = 1 + sqrt(10^2 + d^2).
    auto joins = [](double d) {
        Edge e = edge(0, 50, 100, 50);
        Line l(V(110, 50 + d), V(210, 50 + d));
        return ExtractorProbe::extend(e, l);
    };
    auto limit = [](double d) { return 7.5 * (1.0 + std::sqrt(100.0 + d * d)) / 40.0; };
    EXPECT_LT(2.0, limit(2.0));
    EXPECT_TRUE(joins(2.0));
    EXPECT_GT(2.2, limit(2.2));
    EXPECT_FALSE(joins(2.2));
    EXPECT_FALSE(joins(-2.2));
}

// An edge from (0, 50) to (100, 50) and a piece: whether the piece joins, and the edge's new end.
TEST(ZoCSawCutExtractor, ExtensionRefusesTurnedReversedShortOrUsedPieces) {
    const double c10 = std::cos(10.0 * c_dPi / 180.0), s10 = std::sin(10.0 * c_dPi / 180.0);
    const double c9 = std::cos(9.0 * c_dPi / 180.0), s9 = std::sin(9.0 * c_dPi / 180.0);
    struct Case {
        const char* name;
        Line piece;
        bool used, joins;
        float start, end;
    };
    const std::vector<Case> cases = {
        {"turned 10 degrees (cos < 0.985)", Line(V(105, 50), V(105 + 100 * c10, 50 + 100 * s10)), false, false, 0, 100},
        {"turned 9 degrees", Line(V(105, 50), V(105 + 100 * c9, 50 + 100 * s9)), false, true, 0, float(105 + 100 * c9)},
        {"reversed", Line(V(200, 50), V(110, 50)), false, false, 0, 100},
        {"10 long, 31 away (10 / 31 < 0.4)", Line(V(130, 50), V(140, 50)), false, false, 0, 100},
        {"10 long, 21 away", Line(V(120, 50), V(130, 50)), false, true, 0, 130},
        {"already used", Line(V(110, 50), V(200, 50)), true, false, 0, 100},
        {"inside: absorbed without growing", Line(V(20, 50), V(80, 50)), false, true, 0, 100},
        {"before the start", Line(V(-90, 50), V(-10, 50)), false, true, -90, 100},
    };
    for (Case c : cases) {
        Edge e = edge(0, 50, 100, 50);
        c.piece.m_bUsed = c.used;
        EXPECT_EQ(ExtractorProbe::extend(e, c.piece), c.joins) << c.name;
        EXPECT_EQ(c.piece.m_bUsed, c.used || c.joins) << c.name;
        EXPECT_EQ(e.GetStart(), V(c.start, 50)) << c.name;
        EXPECT_FLOAT_EQ(e.GetEnd().x, c.end) << c.name;
    }
}

// A piece 6 degrees off the edge, starting 22 along and 4 aside: its near end lies far from the
// edge's line (10.6 after weighting, more than 7.5), but the edge's end lies close to the piece's
// line (4.4): one close end is enough, whichever of the two is the edge.
TEST(ZoCSawCutExtractor, ExtensionNeedsOnlyOneEndCloseToTheOtherLine) {
    const double a = 6.0 * c_dPi / 180.0;
    const CbVector2f p0 = V(122, 54), p1 = V(122 + 100 * std::cos(a), 54 + 100 * std::sin(a));
    Edge e = edge(0, 50, 100, 50);
    Line tilted(p0, p1);
    EXPECT_TRUE(ExtractorProbe::extend(e, tilted));
    EXPECT_EQ(e.GetEnd(), p1);
    Edge tiltedEdge(Line(p0, p1));
    Line level(V(0, 50), V(100, 50));
    EXPECT_TRUE(ExtractorProbe::extend(tiltedEdge, level));
    EXPECT_EQ(tiltedEdge.GetStart(), V(0, 50));
}

TEST(ZoCSawCutExtractor, FacingEdgesScoreByGapLengthRatioAndParallelism) {
    // e1 runs west along y = 0 (normal (0, -1)); e2 runs east along y = -d (normal (0, 1)).
    const Edge e1 = edge(100, 0, 0, 0);
    EXPECT_NEAR(ExtractorProbe::pairScore(e1, edge(0, -20, 100, -20)), std::sqrt(1.0 / 20.0), 1e-12);
    EXPECT_NEAR(ExtractorProbe::pairScore(e1, edge(25, -20, 75, -20)), std::sqrt(1.0 / 20.0) * 0.5, 1e-12);
    // Turned by 5 degrees about its centre: every factor from its own definition.
    const double a = 5.0 * c_dPi / 180.0;
    const Edge turned =
        edge(50 - 50 * std::cos(a), -30 - 50 * std::sin(a), 50 + 50 * std::cos(a), -30 + 50 * std::sin(a));
    const double c = std::cos(a);
    EXPECT_NEAR(ExtractorProbe::pairScore(e1, turned),
                std::sqrt(1.0 / 30.0) * (turned.GetLength() / 100.0) * ((c - 0.985) / 0.015 * 0.75 + 0.25),
                1e-6);
    // The score is symmetric.
    EXPECT_NEAR(ExtractorProbe::pairScore(turned, e1), ExtractorProbe::pairScore(e1, turned), 1e-12);
}

TEST(ZoCSawCutExtractor, PairsNeedFacingNormalsAGapOfTwoToOneFiftyAndOverlap) {
    const Edge e1 = edge(100, 0, 0, 0);
    EXPECT_EQ(ExtractorProbe::pairScore(e1, edge(100, -20, 0, -20)), 0.0);  // parallel normals
    EXPECT_EQ(ExtractorProbe::pairScore(e1, edge(0, 20, 100, 20)), 0.0);    // facing away
    EXPECT_EQ(ExtractorProbe::pairScore(e1, edge(0, -1.9, 100, -1.9)), 0.0);
    EXPECT_GT(ExtractorProbe::pairScore(e1, edge(0, -2.0, 100, -2.0)), 0.0);
    EXPECT_EQ(ExtractorProbe::pairScore(e1, edge(120, -20, 220, -20)), 0.0);  // centres too far apart
    const Edge long1 = edge(200, 0, 0, 0);
    EXPECT_GT(ExtractorProbe::pairScore(long1, edge(0, -150, 200, -150)), 0.0);
    EXPECT_EQ(ExtractorProbe::pairScore(long1, edge(0, -150.5, 200, -150.5)), 0.0);
    EXPECT_EQ(ExtractorProbe::pairScore(e1, edge(0, -20, 0, -20)), 0.0);  // a point has no normal
}

TEST(ZoCSawCutExtractor, CutRunsHalfWayAcrossTheGapOverBothEdges) {
    const Cut cut = ExtractorProbe::buildSawCut(edge(100, 0, 0, 0), edge(10, -20, 120, -20));
    EXPECT_EQ(cut.GetStart(), V(120, -10));
    EXPECT_EQ(cut.GetEnd(), V(0, -10));
    EXPECT_DOUBLE_EQ(cut.GetLength(), 120.0);
    EXPECT_DOUBLE_EQ(cut.m_dHalfWidth, 10.0);
    EXPECT_EQ(cut.GetCentre(), V(60, -10));
    EXPECT_FALSE(cut.m_bValid);
}

TEST(ZoCSawCutExtractor, CutOfTurnedEdgesIsTheirBisector) {
    std::mt19937_64 rng(5489);
    std::uniform_real_distribution<double> angle(-4.0, 4.0), shift(-30.0, 30.0), gap(5.0, 100.0);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const double a = angle(rng) * c_dPi / 180.0, g = gap(rng), s = shift(rng);
        const Edge e1 = edge(150, 0, 0, 0);
        const Edge e2 = edge(s, -g, s + 150 * std::cos(a), -g + 150 * std::sin(a));
        const Cut cut = ExtractorProbe::buildSawCut(e1, e2);
        for (const CbVector2f& p : {cut.GetStart(), cut.GetEnd(), cut.GetCentre()}) {
            const double d1 =
                (p.x - e1.GetCentre().x) * e1.GetNormal().x + (p.y - e1.GetCentre().y) * e1.GetNormal().y;
            const double d2 =
                (p.x - e2.GetCentre().x) * e2.GetNormal().x + (p.y - e2.GetCentre().y) * e2.GetNormal().y;
            EXPECT_NEAR(d1, d2, 1e-3);
        }
        EXPECT_GE(cut.GetLength(), 150.0 - 1e-3);
    }
}

TEST(ZoCSawCutExtractor, BestPairsFirstAndEachEdgeOnce) {
    ExtractorProbe probe(Bitmap(10, 10));
    // e0 faces e1 across 20 and e2 across 10: the narrower gap wins, e1 stays alone.
    std::vector<Edge> edges = {edge(100, 0, 0, 0), edge(0, -20, 100, -20), edge(0, -10, 100, -10)};
    std::vector<Cut> cuts;
    probe.findSawCuts(edges, cuts);
    ASSERT_EQ(cuts.size(), 1u);
    EXPECT_DOUBLE_EQ(cuts[0].m_dHalfWidth, 5.0);
    EXPECT_TRUE(edges[0].m_bPaired);
    EXPECT_FALSE(edges[1].m_bPaired);
    EXPECT_TRUE(edges[2].m_bPaired);

    // Equal scores: the first pair in order is taken.
    edges = {edge(100, 0, 0, 0), edge(0, -20, 100, -20), edge(0, -20, 100, -20)};
    cuts.clear();
    probe.findSawCuts(edges, cuts);
    ASSERT_EQ(cuts.size(), 1u);
    EXPECT_TRUE(edges[1].m_bPaired);
    EXPECT_FALSE(edges[2].m_bPaired);

    // Two separate gaps give two cuts, the better one first.
    edges = {edge(100, 0, 0, 0), edge(0, -30, 100, -30), edge(100, 200, 0, 200), edge(0, 190, 100, 190)};
    cuts.clear();
    probe.findSawCuts(edges, cuts);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_DOUBLE_EQ(cuts[0].m_dHalfWidth, 5.0);
    EXPECT_DOUBLE_EQ(cuts[1].m_dHalfWidth, 15.0);
}

TEST(ZoCSawCutExtractor, GuideLineCosineWeighsTheNearPartMost) {
    // Guide line along y = 100 from x = 0 to 200; the cut's centre lies off its start, so the
    // last sample (whose tangent step has no room and is zero) has weight 0 and the result is
    // the plain |cos| of the cut against the horizontal.
    double t[2] = {0, 1}, x[2] = {0, 200}, y[2] = {100, 100};
    ExtractorProbe probe(Bitmap(10, 10), {ZoCPolynomial::Fit(2, t, x, 1), ZoCPolynomial::Fit(2, t, y, 1)});
    for (double deg : {0.0, 30.0, 45.0, 80.0, 90.0, 135.0}) {
        const double a = deg * c_dPi / 180.0;
        const Cut cut(V(-20 - 10 * std::cos(a), 50 - 10 * std::sin(a)),
                      V(-20 + 10 * std::cos(a), 50 + 10 * std::sin(a)));
        EXPECT_NEAR(probe.guideLineCosine(cut), std::fabs(std::cos(a)), 1e-5) << deg;
    }
}

// The cut's centre lies on the guide line's extension 20 beyond its end: distances fall linearly,
// so sample k weighs k / 25, and the last sample (t = 1, tangent zero) still counts with weight 1:
// the result is 12 / 13 of |cos|.
TEST(ZoCSawCutExtractor, GuideLineCosineCountsTheLastSampleWithoutATangent) {
    double t[2] = {0, 1}, x[2] = {0, 200}, y[2] = {100, 100};
    ExtractorProbe probe(Bitmap(10, 10), {ZoCPolynomial::Fit(2, t, x, 1), ZoCPolynomial::Fit(2, t, y, 1)});
    for (double deg : {0.0, 60.0}) {
        const double a = deg * c_dPi / 180.0;
        const Cut cut(V(220 - 10 * std::cos(a), 100 - 10 * std::sin(a)), V(220 + 10 * std::cos(a), 100 + 10 * std::sin(a)));
        EXPECT_NEAR(probe.guideLineCosine(cut), 12.0 / 13.0 * std::cos(a), 1e-5) << deg;
    }
}

TEST(ZoCSawCutExtractor, IntersectionSolvesTheGuideLinesQuadratic) {
    double t = -1;
    {
        // x(t) = 100 + 200 t + 100 t^2: a vertical cut at x = 150 crosses at t = -1 + sqrt(1.5).
        ExtractorProbe probe(Bitmap(10, 10), GuideThrough(100, 100, 225, 100, 400, 100));
        EXPECT_TRUE(probe.intersectGuideLine(Cut(V(150, 0), V(150, 300)), t));
        EXPECT_NEAR(t, -1 + std::sqrt(1.5), 1e-5);
        EXPECT_TRUE(probe.intersectGuideLine(Cut(V(150, 300), V(150, 0)), t));  // either way round
        EXPECT_NEAR(t, -1 + std::sqrt(1.5), 1e-5);
        EXPECT_FALSE(probe.intersectGuideLine(Cut(V(50, 0), V(50, 300)), t));  // only at t < 0
    }
    {
        // x(t) = 400 (t - 1/2)^2 + 100, y(t) = 300 t: x = 150 at t = 1/2 -+ sqrt(1/8); the root
        // whose guide point is nearer to the cut's centre wins.
        ExtractorProbe probe(Bitmap(10, 10), GuideThrough(200, 0, 100, 150, 200, 300));
        EXPECT_TRUE(probe.intersectGuideLine(Cut(V(150, 150), V(150, 250)), t));
        EXPECT_NEAR(t, 0.5 + std::sqrt(0.125), 1e-5);
        EXPECT_TRUE(probe.intersectGuideLine(Cut(V(150, 10), V(150, 110)), t));
        EXPECT_NEAR(t, 0.5 - std::sqrt(0.125), 1e-5);
        EXPECT_FALSE(probe.intersectGuideLine(Cut(V(50, 0), V(50, 300)), t));  // no real root
    }
    {
        // x(t) = 400 (t - 0.2)^2 + 100: x = 200 at t = 0.7 and at -0.3; the root inside counts
        // although the other one's guide point lies nearer to the cut's centre.
        ExtractorProbe probe(Bitmap(10, 10), GuideThrough(116, 0, 136, 150, 356, 300));
        EXPECT_TRUE(probe.intersectGuideLine(Cut(V(200, -110), V(200, -10)), t));
        EXPECT_NEAR(t, 0.7, 1e-5);
    }
    {
        // A straight guide line has no quadratic term along the cut's normal: no intersection
        // by rule, although the lines cross.
        ExtractorProbe probe(Bitmap(10, 10), GuideThrough(0, 100, 100, 100, 200, 100));
        EXPECT_FALSE(probe.intersectGuideLine(Cut(V(150, 0), V(150, 300)), t));
    }
}

// ---------------------------------------------------------------------------------------------
// Whole bitmaps

TEST(ZoCSawCutExtractor, GapCrossingTheGuideLineSteeplyIsAValidCut) {
    // The guide line runs across the plates (x = 50 + 300 t + 200 t^2, a little bent).
    const auto guide = GuideThrough(50, 300, 250, 290, 550, 320);
    const std::vector<Cut> cuts = cutsOf(twoPlates(), guide);
    ASSERT_EQ(cuts.size(), 1u);
    const Cut& cut = cuts[0];
    EXPECT_TRUE(cut.m_bValid);
    EXPECT_NEAR(cut.GetCentre().x, 289.5, 0.5);
    EXPECT_NEAR(cut.GetCentre().y, 299.5, 10.0);
    EXPECT_NEAR(std::fabs(cut.GetDirection().y), 1.0, 1e-4);
    EXPECT_GT(cut.GetLength(), 380.0);
    EXPECT_LE(cut.GetLength(), 400.0);
    EXPECT_NEAR(cut.m_dHalfWidth, 10.5, 0.5);  // boundary pixels 279 and 300
}

TEST(ZoCSawCutExtractor, GapAlongTheGuideLineOrTooShortIsNoValidCut) {
    const std::vector<std::pair<const char*, std::vector<Cut>>> cases = {
        {"along the guide line", cutsOf(twoPlates(), GuideThrough(285, 60, 300, 300, 290, 540))},
        {"250 long", cutsOf(twoPlates(250), GuideThrough(50, 220, 250, 210, 550, 240))},
        {"the guide line ends before the gap", cutsOf(twoPlates(), GuideThrough(50, 300, 130, 290, 250, 320))},
        {"no guide line", cutsOf(twoPlates(), ZoCSawCutExtractor::ZoNGuideLine())},
    };
    for (const auto& [name, cuts] : cases) {
        ASSERT_EQ(cuts.size(), 1u) << name;
        EXPECT_FALSE(cuts[0].m_bValid) << name;
    }
    // 340 tall is long enough, with the guide line of the 250 case.
    EXPECT_TRUE(cutsOf(twoPlates(340), GuideThrough(50, 220, 250, 210, 550, 240)).at(0).m_bValid);
}

TEST(ZoCSawCutExtractor, TurnedGapIsFoundAtItsAngle) {
    for (double deg : {15.0, 30.0, 60.0, 120.0, 160.0}) {
        SCOPED_TRACE("angle " + std::to_string(deg));
        const double a = deg * c_dPi / 180.0, ux = std::cos(a), uy = std::sin(a), nx = -uy, ny = ux;
        const double cx = 400, cy = 400;
        Bitmap b(800, 800);
        // Plates 420 long and 150 wide, 24 apart across the gap.
        FillRotatedRect(b, cx + nx * 87, cy + ny * 87, 210, 75, deg);
        FillRotatedRect(b, cx - nx * 87, cy - ny * 87, 210, 75, deg);
        // A guide line across the gap, spaced unevenly so that it bends along the normal.
        const auto guide = GuideThrough(cx - 200 * nx + 30 * ux, cy - 200 * ny + 30 * uy, cx, cy,
                                        cx + 300 * nx + 30 * ux, cy + 300 * ny + 30 * uy);
        const std::vector<Cut> valid = validOnly(cutsOf(b, guide));
        ASSERT_EQ(valid.size(), 1u);
        // Along the plates: |sin| of the angle to them below sin 1 degree.
        const CbVector2f d = valid[0].GetDirection();
        EXPECT_LT(std::fabs(d.x * uy - d.y * ux), 0.0175);
        EXPECT_NEAR(valid[0].m_dHalfWidth, 12.5, 1.5);
        EXPECT_NEAR(valid[0].GetCentre().x, cx, 3.0 + 200 * std::fabs(ux));
        EXPECT_NEAR((valid[0].GetCentre().x - cx) * nx + (valid[0].GetCentre().y - cy) * ny, 0.0, 1.0);
    }
}

// A strip six pixels wide beside the image border and a plate 20 pixels beyond it: the strip's
// inner side pairs with the plate only when it lies more than 10 pixels from the border; the
// strip's outer side, on the border, never counts. Drawn for each of the four borders.
TEST(ZoCSawCutExtractor, SidesWithinTenPixelsOfTheImageBorderArePairedWithNothing) {
    constexpr int c_iSize = 400;
    for (int border = 0; border < 4; ++border)
        for (const int inner : {10, 11}) {
            Bitmap b(c_iSize, c_iSize);
            // Drawn against the left border, then mirrored (right) and transposed (top, bottom).
            auto fill = [&](int x0, int x1, int y0, int y1) {
                if (border % 2)
                    std::tie(x0, x1) = std::make_pair(c_iSize - 1 - x1, c_iSize - 1 - x0);
                if (border >= 2)
                    FillRect(b, y0, x0, y1, x1);
                else
                    FillRect(b, x0, y0, x1, y1);
            };
            fill(inner - 5, inner, 50, 349);
            fill(inner + 20, inner + 200, 50, 349);
            std::vector<Cut> cuts = cutsOf(b);
            SCOPED_TRACE("border " + std::to_string(border) + ", inner side " + std::to_string(inner));
            ASSERT_EQ(cuts.size(), inner > 10 ? 1u : 0u);
            if (!cuts.empty()) {
                EXPECT_NEAR(cuts[0].m_dHalfWidth, 10.0, 0.5);  // boundary pixels 20 apart
            }
            // Plates reaching out from the border, a gap between them: their facing sides end near
            // the border at one end only, and pair.
            b = Bitmap(c_iSize, c_iSize);
            fill(0, 300, 100, 180);
            fill(0, 300, 200, 280);
            cuts = cutsOf(b);
            ASSERT_EQ(cuts.size(), 1u);
            EXPECT_NEAR(cuts[0].m_dHalfWidth, 10.0, 0.5);
        }
}

// A bar of 30 x 2 pixels over a plate: its boundary has 60 straight steps and is searched; with
// one corner cut off (59.4: two straight steps become one diagonal) the same long side is not.
TEST(ZoCSawCutExtractor, RegionsWithAContourShorterThanSixtyAreIgnored) {
    for (const bool cornerCut : {false, true}) {
        Bitmap b(300, 300);
        FillRect(b, 100, 100, 129, 101);
        if (cornerCut)
            b.At(100, 100) = 0;
        FillRect(b, 60, 112, 169, 200);
        ZoCSawCutExtractor extractor(b);
        std::vector<Cut> cuts;
        extractor.detectSawCuts(cuts);
        ASSERT_EQ(cuts.size(), cornerCut ? 0u : 1u) << cornerCut;
        if (!cornerCut) {
            EXPECT_NEAR(cuts[0].m_dHalfWidth, 5.0, 0.5);  // rows 101 and 112
        }
    }
}

TEST(ZoCSawCutExtractor, DegenerateBitmapsGiveNoCut) {
    std::vector<std::pair<std::string, Bitmap>> cases = {{"0 x 0", Bitmap()}, {"negative", Bitmap(-3, 5)}};
    for (auto [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {1, 500}, {500, 1}, {700, 300}}) {
        Bitmap full(w, h);
        FillRect(full, 0, 0, w - 1, h - 1);
        cases.push_back({"all valid " + std::to_string(w) + " x " + std::to_string(h), full});
    }
    Bitmap grey = twoPlates();
    for (uint8_t& p : grey.pixels)
        p = p ? 128 : 0;  // plates of another value are not data
    cases.push_back({"plates of value 128", grey});
    Bitmap broken = twoPlates();
    broken.pixels.resize(50);  // fewer pixels than the size says
    cases.push_back({"inconsistent", broken});
    for (const auto& [name, bitmap] : cases)
        EXPECT_TRUE(cutsOf(bitmap, GuideThrough(0, 0, 50, 70, 300, 40)).empty()) << name;
}

// Random bitmaps and random guide lines: whatever is found is finite, found again on a second
// search (the bitmap is left as it was), and valid only when long enough.
TEST(ZoCSawCutExtractor, RandomBitmapsGiveFiniteRepeatableCuts) {
    std::mt19937_64 rng(47110518);
    for (int trial = 0; trial < 30; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        std::uniform_int_distribution<int> size(1, 220);
        const int w = size(rng), h = size(rng);
        Bitmap b = RandomBitmap(rng, w, h, 0.05 + 0.9 * (trial % 7) / 6.0);
        if (trial % 2)
            FillRect(b, w / 4, 0, w / 2 - 3, h - 1, 0);  // a clean gap through the noise
        std::uniform_real_distribution<double> x(0, w), y(0, h);
        ZoCSawCutExtractor extractor(b, GuideThrough(x(rng), y(rng), x(rng), y(rng), x(rng), y(rng)));
        std::vector<Cut> first, second;
        extractor.detectSawCuts(first);
        extractor.detectSawCuts(second);
        EXPECT_EQ(extractor.GetBitmap().pixels, b.pixels);
        ASSERT_EQ(first.size(), second.size());
        for (size_t i = 0; i < first.size(); ++i) {
            EXPECT_EQ(first[i].GetStart(), second[i].GetStart());
            EXPECT_EQ(first[i].m_bValid, second[i].m_bValid);
            EXPECT_TRUE(std::isfinite(first[i].GetStart().x + first[i].GetEnd().y + first[i].m_dHalfWidth));
            EXPECT_TRUE(!first[i].m_bValid || first[i].GetLength() >= 300.0);
        }
    }
}
