// The saw-cut extractor: each step on inputs with closed-form answers, and drawn plates whose gaps are known.
#include "SawCutTestSupport.h"

#include <gmock/gmock.h>

#include <cfloat>

using namespace sawcuttest;
using Line = ZoCSawCutExtractor::ZoNLine;
using Edge = ZoCSawCutExtractor::ZoNEdge;
using Cut = ZoCSawCutExtractor::ZoNSawCut;
using Guide = ZoCSawCutExtractor::ZoNGuideLine;

namespace {
Line line(double x0, double y0, double x1, double y1) {
    return Line(V(x0, y0), V(x1, y1));
}
Edge edge(double x0, double y0, double x1, double y1) {
    return Edge(line(x0, y0, x1, y1));
}

// A guide line through three points at t = 0, 1/2 and 1.
Guide guideThrough(double x0, double y0, double xm, double ym, double x1, double y1) {
    double t[3] = {0.0, 0.5, 1.0}, xs[3] = {x0, xm, x1}, ys[3] = {y0, ym, y1};
    return {ZoCPolynomial::Fit(3, t, xs, 2), ZoCPolynomial::Fit(3, t, ys, 2)};
}

std::vector<Cut> cutsOf(const Bitmap& b, const Guide& guide = {}) {
    std::vector<Cut> cuts;
    ZoCSawCutExtractor(b, guide).detectSawCuts(cuts);
    return cuts;
}

// `n` cuts, each reaching `width` to either side.
auto halfWidths(size_t n, double width, double tolerance) {
    using namespace testing;
    return AllOf(SizeIs(n), Each(Field(&Cut::m_dHalfWidth, DoubleNear(width, tolerance))));
}

// Plates 2 halfLength long, 150 wide along u at the angle, beside a 24 wide gap through (400.5, 400.5).
Bitmap plates(double deg, double halfLength = 210) {
    const double ux = std::cos(deg * c_dPi / 180), uy = std::sin(deg * c_dPi / 180), c = 400.5;
    Bitmap b(800, 800);
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            const double along = (x - c) * ux + (y - c) * uy, aside = std::fabs((y - c) * ux - (x - c) * uy);
            b.At(x, y) = std::fabs(along) <= halfLength && aside >= 12 && aside <= 162 ? c_uValid : 0;
        }
    return b;
}
}  // namespace

// Ranges at (2, 1) and (5, 4) span the bitmap; -FLT_MAX is no range; mask bits 0x040 and 0x800 reject.
TEST(ZoCSawCutExtractor, BitmapCoversTheValidRectangleAndDropsRejectedPixels) {
    ZoCFieldRange range(8, 6, 0.0f);
    ZoCFieldMask mask(8, 6, 1);
    range.At(2, 1) = range.At(5, 4) = range.At(3, 3) = range.At(4, 3) = range.At(5, 1) = 70.0f;
    range.At(4, 2) = -FLT_MAX;
    mask.At(3, 3) = 0x41;
    mask.At(4, 3) = 0x480;  // other bits do not matter
    mask.At(5, 1) = 0x801;
    CImage image;
    image.SetFieldRange(range);
    image.SetFieldMask(mask);
    const Bitmap b = ZoCSawCutExtractor::MakeBitmap(image);
    const uint8_t v = c_uValid;
    EXPECT_EQ(std::make_tuple(b.width, b.height, b.pixels),
              std::make_tuple(4, 4, std::vector<uint8_t>{v, 0, 0, 0, 0, 0, 0, 0, 0, 0, v, 0, 0, 0, 0, v}));
    image.SetFieldMask(ZoCFieldMask(3, 3, 0x40));  // a mask of another size is not consulted
    EXPECT_EQ(ZoCSawCutExtractor::MakeBitmap(image).At(1, 2), c_uValid);
}

// A 60 x 40 rectangle from its left side down: chords over 5 either side, in degrees, at each side's ends.
TEST(ZoCSawCutExtractor, TangentsOfARectangleFollowItsSides) {
    Bitmap b(100, 80);
    FillRect(b, 10, 10, 69, 49);
    const ZoCPaddedImage image(b.pixels.data(), b.width, b.height, b.width);
    ZoCPixelPolygon polygon(ZoCBoundaryTracer::TraceOuterBoundary(image, {10, 10}, c_uValid), 196);
    std::vector<CbVector2f> points;
    std::vector<double> angles;
    ExtractorProbe(b).computeTangents(polygon, points, angles);
    ASSERT_EQ(angles.size(), 196u);
    const std::vector<double> ends = {angles[5],   angles[34],  angles[39],  angles[44], angles[93],
                                      angles[103], angles[132], angles[142], angles[191]};
    EXPECT_THAT(ends, testing::Pointwise(testing::DoubleNear(1e-8), {90, 90, 45, 0, 0, -90, -90, 180, 180}));
}

// Points on y = 100 at given angles: segments start after bends, run within 7.5 degrees, 15 deviations.
TEST(ZoCSawCutExtractor, SegmentsAreStraightRunsOfMoreThanTwentyPoints) {
    using Runs = std::vector<std::pair<double, size_t>>;  // angle, count
    using Ends = std::vector<std::pair<float, float>>;     // indices of the segments' ends
    const struct { const char* name; Runs runs; size_t start, next; Ends ends; } cases[] = {
        {"straight run from the second point", {{0, 50}}, 0, 50, {{1, 49}}},
        {"bend skipped", {{0, 1}, {20, 1}, {40, 41}}, 0, 43, {{3, 42}}},
        {"fifteen deviations right after the start", {{0, 2}, {10, 15}, {0, 25}}, 0, 42, {{1, 41}}},
        {"sixteen deviations right after the start", {{0, 2}, {10, 16}, {0, 25}}, 0, 17, {}},
        {"sixteenth deviation (7.5 deviates) ends it", {{0, 31}, {7.5, 16}, {0, 30}}, 0, 46, {{1, 30}}},
        {"twenty apart is too short", {{0, 22}, {90, 20}}, 0, 37, {}},
        {"twenty-one apart is a segment", {{0, 23}, {90, 20}}, 0, 38, {{1, 22}}},
        {"angles wrap around the half turn", {{179, 1}, {-178, 20}, {179, 19}}, 0, 40, {{1, 39}}},
        {"start at the end", {{0, 10}}, 9, 10, {}},
        {"a bend that never ends", {{0, 1}, {50, 1}, {100, 1}}, 0, 3, {}},
    };
    for (const auto& c : cases) {
        std::vector<double> angles;
        for (const auto& [angle, n] : c.runs)
            angles.insert(angles.end(), n, angle);
        std::vector<CbVector2f> points(angles.size());
        std::generate(points.begin(), points.end(), [x = 50.0]() mutable { return V(x++, 100); });
        std::vector<Line> lines;
        EXPECT_EQ(ExtractorProbe(Bitmap(200, 200)).findSegment(points, angles, c.start, lines), c.next)
            << c.name;
        Ends found;
        for (const Line& l : lines)
            found.push_back({l.GetStart().x - 50, l.GetEnd().x - 50});
        EXPECT_EQ(found, c.ends) << c.name;
    }
}

// Passes repeat until none joins: the far piece joins once the middle one has narrowed its gap.
TEST(ZoCSawCutExtractor, SegmentsMergeIntoEdgesUntilNoneJoins) {
    std::vector<Line> lines = {line(0, 0, 100, 0), line(330, 0, 400, 0), line(110, 0, 290, 0),
                               line(0, 50, 100, 50)};
    std::vector<Edge> edges;
    ExtractorProbe(Bitmap(10, 10)).combineSegments(lines, edges);
    std::vector<std::pair<CbVector2f, CbVector2f>> ends;
    for (const Edge& e : edges)
        ends.push_back({e.GetStart(), e.GetEnd()});
    EXPECT_EQ(ends, (decltype(ends){{V(0, 0), V(400, 0)}, {V(0, 50), V(100, 50)}}));
}

// Parallel, 10 on and d aside: joins while 0.4 d / (gap / 100) <= 7.5, gap = 1 + sqrt(100 + d^2), to d = 2.1.
// One end close is enough; at 8 degrees, weight 0.4 + 0.6 (1 - (cos 8 - 0.985) / 0.015) = 0.79: 6.05, 16.5.
TEST(ZoCSawCutExtractor, ExtensionRefusesTurnedReversedShortFarOrUsedPieces) {
    auto turned = [](double deg, double x, double y) {
        return line(x, y, x + 100 * std::cos(deg * c_dPi / 180), y + 100 * std::sin(deg * c_dPi / 180));
    };
    const Line level = line(0, 50, 100, 50), tilted = turned(8, 125, 48), nine = turned(9, 105, 50);
    const struct { const char* name; Line edge, piece; bool used, joins; Line after; } cases[] = {
        {"turned 10 degrees (cos < 0.985)", level, turned(10, 105, 50), false, false, level},
        {"turned 9 degrees", level, nine, false, true, Line(V(0, 50), nine.GetEnd())},
        {"10 long, 31 away (10 / 31 < 0.4)", level, line(130, 50, 140, 50), false, false, level},
        {"10 long, 21 away", level, line(120, 50, 130, 50), false, true, line(0, 50, 130, 50)},
        {"already used", level, line(110, 50, 200, 50), true, false, level},
        {"inside: absorbed without growing", level, line(20, 50, 80, 50), false, true, level},
        {"before the start", level, line(-90, 50, -10, 50), false, true, line(-90, 50, 100, 50)},
        {"parallel, 2 aside", level, line(110, 52, 210, 52), false, true, Line(V(0, 50), V(210, 52))},
        {"parallel, 2.2 aside", level, line(110, 52.2, 210, 52.2), false, false, level},
        {"parallel, 2.2 aside below", level, line(110, 47.8, 210, 47.8), false, false, level},
        {"tilted piece, level edge", level, tilted, false, true, Line(V(0, 50), tilted.GetEnd())},
        {"level piece, tilted edge", tilted, level, false, true, Line(V(0, 50), tilted.GetEnd())},
    };
    for (auto c : cases) {
        Edge e(c.edge);
        c.piece.m_bUsed = c.used;
        EXPECT_EQ(ExtractorProbe::extend(e, c.piece), c.joins) << c.name;
        EXPECT_EQ(c.piece.m_bUsed, c.used || c.joins) << c.name;
        EXPECT_EQ(std::make_pair(e.GetStart(), e.GetEnd()),
                  std::make_pair(c.after.GetStart(), c.after.GetEnd()))
            << c.name;
    }
}

// Facing edges 2..150 apart, centres within the shorter length: sqrt(1 / gap) x length ratio x parallelism.
TEST(ZoCSawCutExtractor, PairScoreNeedsFacingNormalsAGapOfTwoToOneFiftyAndOverlap) {
    const double a = 5.0 * c_dPi / 180.0, c = std::cos(a), s = std::sin(a);
    const Edge e1 = edge(100, 0, 0, 0), long1 = edge(200, 0, 0, 0);
    const Edge turned = edge(50 - 50 * c, -30 - 50 * s, 50 + 50 * c, -30 + 50 * s);  // about (50, -30)
    const double turnedScore =
        std::sqrt(1.0 / 30) * turned.GetLength() / 100 * ((c - 0.985) / 0.015 * 0.75 + 0.25);
    const struct { const char* name; Edge e1, e2; double score; } cases[] = {
        {"20 below", e1, edge(0, -20, 100, -20), std::sqrt(1.0 / 20.0)},
        {"half as long", e1, edge(25, -20, 75, -20), std::sqrt(1.0 / 20.0) * 0.5},
        {"turned", e1, turned, turnedScore},
        {"2 below", e1, edge(0, -2.0, 100, -2.0), std::sqrt(0.5)},
        {"150 below", long1, edge(0, -150, 200, -150), std::sqrt(1.0 / 150.0)},
        {"1.9 below", e1, edge(0, -1.9, 100, -1.9), 0.0},
        {"150.5 below", long1, edge(0, -150.5, 200, -150.5), 0.0},
        {"parallel normals", e1, edge(100, -20, 0, -20), 0.0},
        {"facing away", e1, edge(0, 20, 100, 20), 0.0},
        {"centres too far apart", e1, edge(120, -20, 220, -20), 0.0},
    };
    for (const auto& p : cases) {
        EXPECT_NEAR(ExtractorProbe::pairScore(p.e1, p.e2), p.score, 1e-6) << p.name;
        EXPECT_NEAR(ExtractorProbe::pairScore(p.e2, p.e1), p.score, 1e-6) << p.name;
    }
}

// Pairs are taken best score first (the first of equal scores first), each edge once.
TEST(ZoCSawCutExtractor, BestPairsFirstAndEachEdgeOnce) {
    const struct { const char* name; std::vector<Edge> edges; std::string paired; double hw; } cases[] = {
        {"narrower gap wins", {edge(100, 0, 0, 0), edge(0, -20, 100, -20), edge(0, -10, 100, -10)}, "101", 5},
        {"equal scores", {edge(100, 0, 0, 0), edge(0, -20, 100, -20), edge(0, -20, 100, -20)}, "110", 10},
    };
    for (auto c : cases) {
        std::vector<Cut> cuts;
        ExtractorProbe(Bitmap(10, 10)).findSawCuts(c.edges, cuts);
        std::string paired;
        for (const Edge& e : c.edges)
            paired += e.m_bPaired ? '1' : '0';
        EXPECT_EQ(paired, c.paired) << c.name;
        EXPECT_THAT(cuts, halfWidths(1, c.hw, 1e-9)) << c.name;
    }
}

// Guide line y = 100, x = 0..200, in 26 samples weighted by nearness: off its start the last weighs 0
// (plain |cos|); beyond its end sample k weighs k / 25, the last, without a tangent, too: 12 / 13 |cos|.
TEST(ZoCSawCutExtractor, GuideLineCosineWeighsTheNearPartMost) {
    ExtractorProbe probe(Bitmap(10, 10), guideThrough(0, 100, 100, 100, 200, 100));
    for (const auto& [centre, factor] :
         {std::make_pair(V(-20, 50), 1.0), std::make_pair(V(220, 100), 12.0 / 13)})
        for (double deg : {0.0, 30.0, 45.0, 80.0, 90.0, 135.0}) {
            const double dx = 10 * std::cos(deg * c_dPi / 180), dy = 10 * std::sin(deg * c_dPi / 180);
            const Cut cut(V(centre.x - dx, centre.y - dy), V(centre.x + dx, centre.y + dy));
            EXPECT_NEAR(probe.guideLineCosine(cut), factor * std::fabs(dx / 10), 1e-5) << deg;
        }
}

// The cut's line meets the guide line where n . (P(t) - centre) = 0, for t in 0..1.
TEST(ZoCSawCutExtractor, IntersectionSolvesTheGuideLinesQuadratic) {
    const Guide bent = guideThrough(100, 100, 225, 100, 400, 100);  // x = 100 + 200 t + 100 t^2
    const Guide bow = guideThrough(200, 0, 100, 150, 200, 300);     // x = 400 (t - 1/2)^2 + 100, y = 300 t
    const Guide early = guideThrough(116, 0, 136, 150, 356, 300);   // x = 400 (t - 0.2)^2 + 100
    const struct { const char* name; Guide guide; Cut cut; bool found; double t; } cases[] = {
        {"one root inside", bent, Cut(V(150, 0), V(150, 300)), true, -1 + std::sqrt(1.5)},
        {"only before the start", bent, Cut(V(50, 0), V(50, 300)), false, 0},
        {"nearer root, late", bow, Cut(V(150, 150), V(150, 250)), true, 0.5 + std::sqrt(0.125)},
        {"nearer root, early", bow, Cut(V(150, 10), V(150, 110)), true, 0.5 - std::sqrt(0.125)},
        {"no real root", bow, Cut(V(50, 0), V(50, 300)), false, 0},
        {"the root inside, not the nearer at -0.3", early, Cut(V(200, -110), V(200, -10)), true, 0.7},
        {"no quadratic term", guideThrough(0, 100, 100, 100, 200, 100), Cut(V(150, 0), V(150, 300)), false,
         0},
    };
    for (const auto& c : cases) {
        double t = -1;
        EXPECT_EQ(ExtractorProbe(Bitmap(10, 10), c.guide).intersectGuideLine(c.cut, t), c.found) << c.name;
        EXPECT_NEAR(c.found ? t : 0, c.t, 1e-5) << c.name;
    }
}

// The plates' gap is one cut, valid when 300 long or more and crossing the (bent) guide line steeply.
TEST(ZoCSawCutExtractor, GapBetweenPlatesIsACutValidWhenLongAndAcrossTheGuideLine) {
    const std::vector<double> across = {30, -200, 0, 0, 30, 300};
    const struct { const char* name; double deg, half; std::vector<double> guide; bool valid; } cases[] = {
        {"turned 160", 160, 210, across, true}, {"340 long", 90, 170, across, true},
        {"250 long", 90, 125, across, false},   {"no guide line", 90, 210, {}, false},
        {"along the guide line", 90, 210, {-200, 5, 0, 0, 200, 10}, false},
        {"the guide line ends before the gap", 90, 210, {30, -300, 20, -200, 30, -50}, false},
    };
    for (const auto& c : cases) {
        const double ux = std::cos(c.deg * c_dPi / 180), uy = std::sin(c.deg * c_dPi / 180);
        auto x = [&](size_t i) { return 400.5 + c.guide[i] * ux - c.guide[i + 1] * uy; };
        auto y = [&](size_t i) { return 400.5 + c.guide[i] * uy + c.guide[i + 1] * ux; };
        const Guide guide = c.guide.empty() ? Guide() : guideThrough(x(0), y(0), x(2), y(2), x(4), y(4));
        const std::vector<Cut> cuts = cutsOf(plates(c.deg, c.half), guide);
        ASSERT_EQ(cuts.size(), 1u) << c.name;
        const CbVector2f m = cuts[0].GetCentre(), d = cuts[0].GetDirection();
        EXPECT_EQ(cuts[0].m_bValid, c.valid) << c.name;
        EXPECT_NEAR((m.y - 400.5) * ux - (m.x - 400.5) * uy, 0.0, 1.0) << c.name;
        EXPECT_NEAR((m.x - 400.5) * ux + (m.y - 400.5) * uy, 0.0, 10.0) << c.name;
        EXPECT_LT(std::fabs(d.x * uy - d.y * ux), 0.0175) << c.name;  // along the plates within 1 degree
        EXPECT_NEAR(cuts[0].GetLength(), 2 * c.half - 10, 10) << c.name;
        EXPECT_NEAR(cuts[0].m_dHalfWidth, 12.5, c.deg == 90 ? 0.01 : 1.5) << c.name;  // sides 25 apart
    }
}

// A strip's side pairs with a plate 20 beyond only more than 10 from the border; plates reaching out pair.
TEST(ZoCSawCutExtractor, SidesWithinTenPixelsOfTheImageBorderArePairedWithNothing) {
    constexpr int c_iSize = 400;
    for (int border = 0; border < 4; ++border)
        for (const int inner : {10, 11}) {
            Bitmap strip(c_iSize, c_iSize), reaching(c_iSize, c_iSize);
            auto fill = [&](Bitmap& b, int x0, int x1, int y0, int y1) {
                if (border % 2)
                    std::tie(x0, x1) = std::make_pair(c_iSize - 1 - x1, c_iSize - 1 - x0);
                border >= 2 ? FillRect(b, y0, x0, y1, x1) : FillRect(b, x0, y0, x1, y1);
            };
            fill(strip, inner - 5, inner, 50, 349);
            fill(strip, inner + 20, inner + 200, 50, 349);
            fill(reaching, 0, 300, 100, 180);
            fill(reaching, 0, 300, 200, 280);
            EXPECT_THAT(cutsOf(strip), halfWidths(inner > 10 ? 1 : 0, 10, 0.5)) << border << " " << inner;
            EXPECT_THAT(cutsOf(reaching), halfWidths(1, 10, 0.5)) << border;
        }
}

// A 30 x 2 bar over a plate: 60 straight steps are searched; one corner cut off (59.4), its long side is not.
TEST(ZoCSawCutExtractor, RegionsWithAContourShorterThanSixtyAreIgnored) {
    for (const bool cornerCut : {false, true}) {
        Bitmap b(300, 300);
        FillRect(b, 100, 100, 129, 101);
        b.At(100, 100) = cornerCut ? 0 : c_uValid;
        FillRect(b, 60, 112, 169, 200);
        EXPECT_THAT(cutsOf(b), halfWidths(cornerCut ? 0 : 1, 5, 0.5)) << cornerCut;  // rows 101 and 112
    }
}

TEST(ZoCSawCutExtractor, DegenerateBitmapsGiveNoCut) {
    std::vector<std::pair<std::string, Bitmap>> cases = {{"plates of value 128", plates(90)},
        {"fewer pixels than the size says", plates(90)}, {"0 x 0", Bitmap()}, {"negative", Bitmap(-3, 5)},
        {"1 x 1", Bitmap(1, 1)}};
    for (uint8_t& p : cases[0].second.pixels)
        p = p ? 128 : 0;  // another value is not data
    cases[1].second.pixels.resize(50);
    cases[4].second.pixels[0] = c_uValid;
    for (const auto& [name, bitmap] : cases)
        EXPECT_TRUE(cutsOf(bitmap, guideThrough(0, 0, 50, 70, 300, 40)).empty()) << name;
}

// From its first pixel P = (250, 60), a 45-degree corner (tangents 153.4, 146.3, 141.3, 138.0), the run from
// P's neighbour breaks off and resumes after 15 deviations: the edge, and the cut, start 19 steps down.
TEST(ZoCSawCutExtractor, ContourIsSearchedFromItsFirstPixel) {
    Bitmap b(400, 400);
    for (int y = 60; y <= 300; ++y) {
        FillRect(b, 310 - y, y, 380, y);
        FillRect(b, 20, y, y < 100 ? 0 : 285 - y, y);  // the other plate, 40 rows shorter at the top
    }
    const std::vector<Cut> cuts = cutsOf(b);
    ASSERT_EQ(cuts.size(), 1u);
    EXPECT_NEAR(std::min(cuts[0].GetStart().y, cuts[0].GetEnd().y), 79 - 6.25, 1.0);  // half the gap across
}
