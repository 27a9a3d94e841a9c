// The saw-cut extractor: its records, the bitmap of a range image, and each step of the search
// (contour length, tangents, segments, edges, pairs, cuts, validation) on inputs whose answers
// are known in closed form; then whole bitmaps of drawn shapes.
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

double angleDeg(const CbVector2f& v) {
    return std::atan2(v.y, v.x) * 180.0 / c_dPi;
}

// Angle between two undirected lines, in [0, 90].
double lineAngleDeg(double a, double b) {
    double d = std::fmod(std::fabs(a - b), 180.0);
    return std::min(d, 180.0 - d);
}

Edge edge(double x0, double y0, double x1, double y1) {
    return Edge(Line(V(x0, y0), V(x1, y1)));
}

// The straight segments of every region of a bitmap, found as the extractor finds them.
std::vector<Line> segmentsOf(ExtractorProbe& probe, const Bitmap& b) {
    ZoCPaddedImage image = Padded(b);
    std::vector<Line> lines;
    std::vector<CbVector2f> points;
    std::vector<double> angles;
    ZoNPixel at;
    while (image.FindNext(c_uValid, at.x, at.y)) {
        const ZoCPixelChain chain = ZoCBoundaryTracer::TraceOuterBoundary(image, at, c_uValid);
        ZoCPixelPolygon polygon(chain, ExtractorProbe::contourLength(chain));
        for (const auto& span : polygon.GetAreaSpans())
            image.FillSpan(span.y, span.x0, span.x1, 0);
        if (polygon.GetContourLength() < 60)
            continue;
        probe.computeTangents(polygon, points, angles);
        for (size_t next = 0; next < points.size();)
            next = probe.findSegment(points, angles, next, lines);
    }
    return lines;
}

std::vector<Cut> cutsOf(const Bitmap& b, const ZoCSawCutExtractor::ZoNGuideLine& guide) {
    ZoCSawCutExtractor extractor(b, guide);
    std::vector<Cut> cuts;
    extractor.detectSawCuts(cuts);
    return cuts;
}

std::vector<Cut> validOnly(const std::vector<Cut>& cuts) {
    std::vector<Cut> valid;
    for (const Cut& c : cuts)
        if (c.m_bValid)
            valid.push_back(c);
    return valid;
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Records

TEST(ZoCSawCutExtractor, LineFollowsItsEndPoints) {
    Line line(V(1, 2), V(4, 6));
    EXPECT_DOUBLE_EQ(line.GetLength(), 5.0);
    EXPECT_FLOAT_EQ(line.GetDirection().x, 0.6f);
    EXPECT_FLOAT_EQ(line.GetDirection().y, 0.8f);
    EXPECT_FLOAT_EQ(line.GetNormal().x, -0.8f);  // the direction turned a quarter: (-dy, dx)
    EXPECT_FLOAT_EQ(line.GetNormal().y, 0.6f);
    EXPECT_EQ(line.GetCentre(), V(2.5, 4));
    line.SetStart(V(4, 2));
    EXPECT_DOUBLE_EQ(line.GetLength(), 4.0);
    EXPECT_EQ(line.GetDirection(), V(0, 1));
    EXPECT_EQ(line.GetNormal(), V(-1, 0));
    line.SetEnd(V(4, 2));  // zero length: no direction
    EXPECT_EQ(line.GetLength(), 0.0);
    EXPECT_EQ(line.GetDirection(), V(0, 0));
    EXPECT_EQ(line.GetNormal(), V(0, 0));
    EXPECT_FALSE(line.m_bUsed);
}

TEST(ZoCSawCutExtractor, LineExtendsOnlyBeyondItsEnds) {
    Line line(V(0, 0), V(10, 0));
    line.ExtendTo(V(5, 3));  // beside the line, between its ends
    EXPECT_EQ(line.GetStart(), V(0, 0));
    EXPECT_EQ(line.GetEnd(), V(10, 0));
    line.ExtendTo(V(-3, 1));
    EXPECT_EQ(line.GetStart(), V(-3, 1));
    line.ExtendTo(V(12, 0));
    EXPECT_EQ(line.GetEnd(), V(12, 0));
}

TEST(ZoCSawCutExtractor, GuideLineTakesThePolynomialsCoefficients) {
    const ZoCSawCutExtractor::ZoNGuideLine guide = GuideThrough(0, 0, 5, 1, 10, 4);  // x = 10 t, y = 4 t^2
    EXPECT_NEAR(guide.c0.x, 0, 1e-5);
    EXPECT_NEAR(guide.c1.x, 10, 1e-5);
    EXPECT_NEAR(guide.c2.x, 0, 1e-5);
    EXPECT_NEAR(guide.c1.y, 0, 1e-5);
    EXPECT_NEAR(guide.c2.y, 4, 1e-5);
    EXPECT_NEAR(guide.At(0.5).y, 1, 1e-5);
    EXPECT_NEAR(guide.x(0.25), 2.5, 1e-9);

    double t[2] = {0, 1}, x[2] = {3, 5};
    const ZoCSawCutExtractor::ZoNGuideLine linear(ZoCPolynomial::Fit(2, t, x, 1),
                                                  ZoCPolynomial::Fit(2, t, x, 1));
    EXPECT_EQ(linear.c2, V(0, 0));  // no quadratic term
    EXPECT_NEAR(linear.c1.x, 2, 1e-5);

    const ZoCSawCutExtractor::ZoNGuideLine invalid(ZoCPolynomial(), ZoCPolynomial(2));
    EXPECT_EQ(invalid.c0, V(0, 0));
    EXPECT_EQ(invalid.c1, V(0, 0));
    EXPECT_EQ(invalid.c2, V(0, 0));
}

TEST(ZoCSawCutExtractor, CopiesOwnTheirPixels) {
    Bitmap b(4, 3);
    b.At(1, 1) = c_uValid;
    ZoCSawCutExtractor extractor(b);
    b.At(1, 1) = 0;
    ZoCSawCutExtractor copy = extractor;
    EXPECT_EQ(extractor.GetBitmap().At(1, 1), c_uValid);
    EXPECT_EQ(copy.GetBitmap().At(1, 1), c_uValid);
    EXPECT_NE(copy.GetBitmap().pixels.data(), extractor.GetBitmap().pixels.data());
    const ZoCSawCutExtractor moved = std::move(copy);
    EXPECT_EQ(moved.GetBitmap().width, 4);
    EXPECT_EQ(moved.GetBitmap().At(1, 1), c_uValid);
}

// ---------------------------------------------------------------------------------------------
// The bitmap of a range image

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

TEST(ZoCSawCutExtractor, ImagesWithoutRangeGiveAnEmptyBitmap) {
    CImage none;
    EXPECT_TRUE(ZoCSawCutExtractor::MakeBitmap(none).pixels.empty());
    CImage zeros;
    zeros.SetFieldRange(ZoCFieldRange(5, 5, 0.0f));
    const Bitmap b = ZoCSawCutExtractor::MakeBitmap(zeros);
    EXPECT_EQ(b.width, 0);
    EXPECT_TRUE(b.pixels.empty());
    ZoCSawCutExtractor extractor(zeros, ZoCSawCutExtractor::ZoNGuideLine());
    std::vector<Cut> cuts;
    extractor.detectSawCuts(cuts);
    EXPECT_TRUE(cuts.empty());
}

// ---------------------------------------------------------------------------------------------
// Contour length and tangents

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

TEST(ZoCSawCutExtractor, TangentsOfADiscAreSquareToItsRadius) {
    Bitmap b(120, 120);
    const double cx = 60.2, cy = 59.7, r = 40.0;
    FillDisc(b, cx, cy, r);
    ZoCPaddedImage image = Padded(b);
    ZoNPixel at;
    ASSERT_TRUE(image.FindNext(c_uValid, at.x, at.y));
    ZoCPixelPolygon polygon(ZoCBoundaryTracer::TraceOuterBoundary(image, at, c_uValid), 0);
    ExtractorProbe probe(b);
    std::vector<CbVector2f> points;
    std::vector<double> angles;
    probe.computeTangents(polygon, points, angles);
    for (size_t i = 0; i < points.size(); ++i) {
        const double radial = std::atan2(points[i].y - cy, points[i].x - cx) * 180.0 / c_dPi;
        double d = std::fabs(angles[i] - (radial - 90.0));
        d = std::fmod(d, 360.0);
        EXPECT_LT(std::min(d, 360.0 - d), 5.0) << "point " << i;
    }
}

// ---------------------------------------------------------------------------------------------
// Straight segments

class FindSegment : public ::testing::Test {
protected:
    FindSegment() : m_probe(Bitmap(200, 200)) {}
    // n points along y = 100 from x = 50, with the given tangent angles.
    void along(const std::vector<double>& a) {
        angles = a;
        points.clear();
        for (size_t i = 0; i < a.size(); ++i)
            points.push_back(V(50.0 + static_cast<double>(i), 100));
    }
    size_t find(size_t start) { return m_probe.findSegment(points, angles, start, lines); }
    static std::vector<double> repeat(double value, size_t n) { return std::vector<double>(n, value); }
    static std::vector<double> join(std::vector<double> a, const std::vector<double>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    ExtractorProbe m_probe;
    std::vector<CbVector2f> points;
    std::vector<double> angles;
    std::vector<Line> lines;
};

TEST_F(FindSegment, StraightRunFromTheSecondPointToTheLast) {
    along(repeat(0.0, 50));
    EXPECT_EQ(find(0), 50u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].GetStart(), points[1]);
    EXPECT_EQ(lines[0].GetEnd(), points[49]);
}

TEST_F(FindSegment, SkipsTheBendBeforeTheRun) {
    along(join({0.0, 20.0, 40.0}, repeat(40.0, 40)));
    EXPECT_EQ(find(0), 43u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].GetStart(), points[3]);  // d(20, 40) > 7.5, d(40, 40) is not
}

TEST_F(FindSegment, ToleratesFifteenDeviationsButNotSixteen) {
    along(join(join(repeat(0.0, 31), repeat(10.0, 15)), repeat(1.0, 30)));
    EXPECT_EQ(find(0), 76u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].GetEnd(), points[75]);

    lines.clear();
    along(join(join(repeat(0.0, 31), repeat(7.5, 16)), repeat(0.0, 30)));  // 7.5 already deviates
    EXPECT_EQ(find(0), 46u);                                               // stops at the sixteenth deviation
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].GetEnd(), points[30]);
}

TEST_F(FindSegment, NeedsMoreThanTwentyPointsBetweenItsEnds) {
    along(join(repeat(0.0, 22), repeat(90.0, 20)));  // points 1..21: 20 apart
    EXPECT_EQ(find(0), 37u);                         // the sixteenth deviating point
    EXPECT_TRUE(lines.empty());
    along(join(repeat(0.0, 23), repeat(90.0, 20)));  // points 1..22
    find(0);
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(FindSegment, AnglesWrapAroundTheHalfTurn) {
    std::vector<double> a;
    for (int i = 0; i < 40; ++i)
        a.push_back(i % 2 ? -178.0 : 179.0);
    along(a);
    EXPECT_EQ(find(0), 40u);
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(FindSegment, RunsAlongTheImageBorderAreNoSegments) {
    // Bitmap 200 x 200: x <= 10 and x >= 189 are near the left and right border.
    const std::vector<std::pair<CbVector2f, CbVector2f>> border = {
        {V(10, 20), V(3, 150)}, {V(189, 20), V(199, 150)}, {V(20, 10), V(150, 0)}, {V(20, 189), V(150, 195)}};
    for (const auto& [a, b] : border) {
        angles = repeat(0.0, 40);
        points.assign(40, a);
        points.back() = b;
        lines.clear();
        find(0);
        EXPECT_TRUE(lines.empty()) << a.x << "," << a.y << " - " << b.x << "," << b.y;
    }
    // One end near a border is not enough; nor are ends near different borders.
    for (const auto& [a, b] :
         std::vector<std::pair<CbVector2f, CbVector2f>>{{V(10, 20), V(11, 150)}, {V(5, 20), V(150, 195)}}) {
        angles = repeat(0.0, 40);
        points.assign(40, a);
        points.back() = b;
        lines.clear();
        find(0);
        EXPECT_EQ(lines.size(), 1u);
    }
}

TEST_F(FindSegment, StartsAtTheEndGiveNothing) {
    along(repeat(0.0, 10));
    EXPECT_EQ(find(9), 10u);
    EXPECT_EQ(find(20), 21u);
    along(join({0.0}, {50.0, 100.0}));
    EXPECT_EQ(find(0), 3u);  // the bend never ends
    EXPECT_TRUE(lines.empty());
}

// ---------------------------------------------------------------------------------------------
// Edges: merging segments

TEST(ZoCSawCutExtractor, CollinearSegmentsMergeIntoOneEdge) {
    std::vector<Line> lines = {Line(V(0, 50), V(100, 50)), Line(V(110, 50), V(200, 50))};
    std::vector<Edge> edges;
    ExtractorProbe probe(Bitmap(10, 10));
    probe.combineSegments(lines, edges);
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_EQ(edges[0].GetStart(), V(0, 50));
    EXPECT_EQ(edges[0].GetEnd(), V(200, 50));
    EXPECT_TRUE(lines[0].m_bUsed && lines[1].m_bUsed);
}

TEST(ZoCSawCutExtractor, MergingRepeatsUntilNoSegmentJoins) {
    // The far piece is too short for its gap to the first one; once the middle piece has
    // joined, the gap is small enough.
    std::vector<Line> lines = {Line(V(0, 0), V(100, 0)), Line(V(330, 0), V(400, 0)),
                               Line(V(110, 0), V(290, 0))};
    std::vector<Edge> edges;
    ExtractorProbe probe(Bitmap(10, 10));
    probe.combineSegments(lines, edges);
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_EQ(edges[0].GetEnd(), V(400, 0));
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

TEST(ZoCSawCutExtractor, ExtensionRefusesTurnedReversedShortOrUsedPieces) {
    const double c10 = std::cos(10.0 * c_dPi / 180.0), s10 = std::sin(10.0 * c_dPi / 180.0);
    const double c9 = std::cos(9.0 * c_dPi / 180.0), s9 = std::sin(9.0 * c_dPi / 180.0);
    {
        Edge e = edge(0, 50, 100, 50);
        Line turned(V(105, 50), V(105 + 100 * c10, 50 + 100 * s10));  // cos 10 deg < 0.985
        EXPECT_FALSE(ExtractorProbe::extend(e, turned));
        Line slightly(V(105, 50), V(105 + 100 * c9, 50 + 100 * s9));
        EXPECT_TRUE(ExtractorProbe::extend(e, slightly));
        EXPECT_TRUE(slightly.m_bUsed);
        EXPECT_FLOAT_EQ(e.GetEnd().x, static_cast<float>(105 + 100 * c9));
    }
    {
        Edge e = edge(0, 50, 100, 50);
        Line reversed(V(200, 50), V(110, 50));
        EXPECT_FALSE(ExtractorProbe::extend(e, reversed));
    }
    {
        // Length 10 against the gap: 10 / (1 + 30) < 0.4 is refused, 10 / (1 + 20) is not.
        Edge e = edge(0, 50, 100, 50);
        Line far(V(130, 50), V(140, 50));
        EXPECT_FALSE(ExtractorProbe::extend(e, far));
        Line near(V(120, 50), V(130, 50));
        EXPECT_TRUE(ExtractorProbe::extend(e, near));
        EXPECT_EQ(e.GetEnd(), V(130, 50));
    }
    {
        Edge e = edge(0, 50, 100, 50);
        Line used(V(110, 50), V(200, 50));
        used.m_bUsed = true;
        EXPECT_FALSE(ExtractorProbe::extend(e, used));
        Line inside(V(20, 50), V(80, 50));
        EXPECT_TRUE(ExtractorProbe::extend(e, inside));  // absorbed without growing the edge
        EXPECT_EQ(e.GetStart(), V(0, 50));
        EXPECT_EQ(e.GetEnd(), V(100, 50));
    }
}

// ---------------------------------------------------------------------------------------------
// Pairs and the cuts built from them

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

// For edges that are not quite parallel, the cut is their bisector: each of its points lies as
// far from one edge's line as from the other's.
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

// ---------------------------------------------------------------------------------------------
// Validation against the guide line

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

TEST(ZoCSawCutExtractor, GuideLineCosineOfAPointLikeGuideIsZero) {
    ExtractorProbe probe(Bitmap(10, 10));  // empty guide line: P(t) = 0
    EXPECT_EQ(probe.guideLineCosine(Cut(V(0, 0), V(10, 0))), 0.0);
    EXPECT_EQ(probe.guideLineCosine(Cut(V(5, 5), V(10, 20))), 0.0);
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
        // A straight guide line has no quadratic term along the cut's normal: no intersection
        // by rule, although the lines cross.
        ExtractorProbe probe(Bitmap(10, 10), GuideThrough(0, 100, 100, 100, 200, 100));
        EXPECT_FALSE(probe.intersectGuideLine(Cut(V(150, 0), V(150, 300)), t));
    }
}

// ---------------------------------------------------------------------------------------------
// Whole bitmaps

namespace {
// Two plates 400 pixels tall side by side with a gap of 20 pixels (columns 280..299).
Bitmap twoPlates(int height = 400) {
    Bitmap b(600, 600);
    FillRect(b, 100, 100, 279, 99 + height);
    FillRect(b, 300, 100, 479, 99 + height);
    return b;
}
}  // namespace

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
    {
        const std::vector<Cut> cuts = cutsOf(twoPlates(), GuideThrough(285, 60, 300, 300, 290, 540));
        ASSERT_EQ(cuts.size(), 1u);
        EXPECT_FALSE(cuts[0].m_bValid);
    }
    {
        const std::vector<Cut> cuts = cutsOf(twoPlates(250), GuideThrough(50, 220, 250, 210, 550, 240));
        ASSERT_EQ(cuts.size(), 1u);
        EXPECT_LT(cuts[0].GetLength(), 300.0);
        EXPECT_FALSE(cuts[0].m_bValid);
    }
    {
        // The guide line ends before it reaches the gap.
        const std::vector<Cut> cuts = cutsOf(twoPlates(), GuideThrough(50, 300, 130, 290, 250, 320));
        ASSERT_EQ(cuts.size(), 1u);
        EXPECT_FALSE(cuts[0].m_bValid);
    }
    {
        // Without a guide line nothing is valid.
        const std::vector<Cut> cuts = cutsOf(twoPlates(), ZoCSawCutExtractor::ZoNGuideLine());
        ASSERT_EQ(cuts.size(), 1u);
        EXPECT_FALSE(cuts[0].m_bValid);
    }
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
        EXPECT_LT(lineAngleDeg(angleDeg(valid[0].GetDirection()), deg), 1.0);
        EXPECT_NEAR(valid[0].m_dHalfWidth, 12.5, 1.5);
        EXPECT_NEAR(valid[0].GetCentre().x, cx, 3.0 + 200 * std::fabs(ux));
        EXPECT_NEAR((valid[0].GetCentre().x - cx) * nx + (valid[0].GetCentre().y - cy) * ny, 0.0, 1.0);
    }
}

TEST(ZoCSawCutExtractor, BoundariesAlongTheImageBorderGiveNoSegments) {
    ExtractorProbe probe(Bitmap(10, 10));
    {
        Bitmap full(300, 300);
        FillRect(full, 0, 0, 299, 299);
        EXPECT_TRUE(segmentsOf(probe, full).empty());
    }
    {
        // A square in the top-left corner: only its right and bottom sides are segments.
        Bitmap corner(300, 300);
        FillRect(corner, 0, 0, 99, 99);
        ExtractorProbe cornerProbe(corner);
        const std::vector<Line> lines = segmentsOf(cornerProbe, corner);
        ASSERT_EQ(lines.size(), 2u);
        for (const Line& l : lines)
            EXPECT_TRUE(std::fabs(l.GetStart().x - 99) < 0.5 || std::fabs(l.GetStart().y - 99) < 0.5);
    }
    {
        // Plates that fill the image from top to bottom still have their gap.
        Bitmap b(400, 400);
        FillRect(b, 0, 0, 189, 399);
        FillRect(b, 210, 0, 399, 399);
        const std::vector<Cut> cuts = cutsOf(b, GuideThrough(20, 200, 170, 190, 380, 230));
        ASSERT_EQ(cuts.size(), 1u);
        EXPECT_TRUE(cuts[0].m_bValid);
    }
}

TEST(ZoCSawCutExtractor, SegmentNormalsPointOutOfTheirRegion) {
    Bitmap b(300, 300);
    FillRect(b, 50, 60, 249, 199);
    ExtractorProbe probe(b);
    const std::vector<Line> lines = segmentsOf(probe, b);
    ASSERT_EQ(lines.size(), 4u);
    for (const Line& l : lines) {
        // A step along the normal from the segment's centre leaves the rectangle.
        const int x = static_cast<int>(std::lround(l.GetCentre().x + 2 * l.GetNormal().x));
        const int y = static_cast<int>(std::lround(l.GetCentre().y + 2 * l.GetNormal().y));
        EXPECT_EQ(b.At(x, y), 0) << l.GetCentre().x << "," << l.GetCentre().y;
    }
}

TEST(ZoCSawCutExtractor, SearchLeavesTheBitmapAndRepeats) {
    const Bitmap b = twoPlates();
    ZoCSawCutExtractor extractor(b, GuideThrough(50, 300, 250, 290, 550, 320));
    std::vector<Cut> first, second;
    extractor.detectSawCuts(first);
    extractor.detectSawCuts(second);
    EXPECT_EQ(extractor.GetBitmap().pixels, b.pixels);
    ASSERT_EQ(first.size(), second.size());
    EXPECT_EQ(first[0].GetStart(), second[0].GetStart());
    // Appends to what the caller already has.
    extractor.detectSawCuts(first);
    EXPECT_EQ(first.size(), 2 * second.size());
}
