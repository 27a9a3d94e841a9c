// The extractor on degenerate and random input: it never fails, gives no cut where there is no
// gap, repeats itself, and does not care where in the image a scene lies.
#include "SawCutTestSupport.h"
#include "ZoCSawCutExtractor.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

using namespace sawcuttest;
using Cut = ZoCSawCutExtractor::ZoNSawCut;

namespace {
std::vector<Cut> cutsOf(const Bitmap& b, const ZoCSawCutExtractor::ZoNGuideLine& guide = {}) {
    ZoCSawCutExtractor extractor(b, guide);
    std::vector<Cut> cuts;
    extractor.detectSawCuts(cuts);
    return cuts;
}

bool finite(const CbVector2f& v) {
    return std::isfinite(v.x) && std::isfinite(v.y);
}

// A random scene: plates in pairs with a gap between them, discs, and specks of noise.
Bitmap randomScene(std::mt19937_64& rng, int width, int height) {
    Bitmap b(width, height);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int pairs = 1 + static_cast<int>(unit(rng) * 3);
    for (int p = 0; p < pairs; ++p) {
        const double cx = width * (0.2 + 0.6 * unit(rng)), cy = height * (0.2 + 0.6 * unit(rng));
        const double deg = 180 * unit(rng), a = deg * 3.14159265358979 / 180.0;
        const double gap = 3 + 40 * unit(rng), halfLength = 40 + 200 * unit(rng),
                     halfWidth = 10 + 60 * unit(rng);
        const double off = gap / 2 + halfWidth;
        FillRotatedRect(b, cx - std::sin(a) * off, cy + std::cos(a) * off, halfLength, halfWidth, deg);
        FillRotatedRect(b, cx + std::sin(a) * off, cy - std::cos(a) * off, halfLength, halfWidth, deg);
    }
    for (int d = 0; d < 3; ++d)
        FillDisc(b, width * unit(rng), height * unit(rng), 5 + 40 * unit(rng),
                 unit(rng) < 0.3 ? 0 : c_uValid);
    std::bernoulli_distribution speck(0.01);
    for (uint8_t& p : b.pixels)
        if (speck(rng))
            p = p ? 0 : c_uValid;
    return b;
}

ZoCSawCutExtractor::ZoNGuideLine randomGuide(std::mt19937_64& rng, int width, int height) {
    std::uniform_real_distribution<double> x(0, width), y(0, height);
    return GuideThrough(x(rng), y(rng), x(rng), y(rng), x(rng), y(rng));
}
}  // namespace

TEST(ZoCSawCutExtractor, DegenerateBitmapsGiveNoCut) {
    std::vector<std::pair<std::string, Bitmap>> cases;
    cases.push_back({"0 x 0", Bitmap()});
    cases.push_back({"negative", Bitmap(-3, 5)});
    cases.push_back({"1 x 1 empty", Bitmap(1, 1)});
    Bitmap one(1, 1);
    one.At(0, 0) = c_uValid;
    cases.push_back({"1 x 1 valid", one});
    for (auto [w, h] : std::vector<std::pair<int, int>>{{1, 500}, {500, 1}, {2, 400}, {64, 64}, {700, 300}}) {
        Bitmap full(w, h);
        FillRect(full, 0, 0, w - 1, h - 1);
        cases.push_back({"all valid " + std::to_string(w) + " x " + std::to_string(h), full});
        cases.push_back({"all empty " + std::to_string(w) + " x " + std::to_string(h), Bitmap(w, h)});
    }
    Bitmap lines(300, 300);
    for (int i = 0; i < 300; ++i) {
        lines.At(i, 100) = c_uValid;  // across the whole width
        lines.At(200, i) = c_uValid;  // and the whole height
        lines.At(i, i) = c_uValid;    // both diagonals
        lines.At(299 - i, i) = c_uValid;
    }
    cases.push_back({"single-pixel lines", lines});
    Bitmap checker(200, 200);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
            checker.At(x, y) = (x + y) % 2 ? c_uValid : 0;  // one 8-connected region
    cases.push_back({"checkerboard", checker});
    Bitmap grey(600, 600);
    FillRect(grey, 100, 100, 279, 499, 128);  // plates of another value are not data
    FillRect(grey, 300, 100, 479, 499, 128);
    cases.push_back({"plates of value 128", grey});
    Bitmap broken(10, 10);
    broken.pixels.resize(50);  // fewer pixels than the size says
    cases.push_back({"inconsistent", broken});

    for (const auto& [name, bitmap] : cases)
        EXPECT_TRUE(cutsOf(bitmap, GuideThrough(0, 0, 50, 70, 300, 40)).empty()) << name;

    // Lines one pixel wide and three apart do leave gaps between them: each line pairs with a
    // neighbour: one cut per gap, and at 260 pixels none is long enough to be valid.
    Bitmap parallel(300, 300);
    for (int y = 20; y < 280; y += 4)
        FillRect(parallel, 20, y, 279, y);
    const std::vector<Cut> cuts = cutsOf(parallel, GuideThrough(150, 0, 140, 150, 170, 299));
    EXPECT_EQ(cuts.size(), 64u);  // 65 lines
    for (const Cut& cut : cuts) {
        EXPECT_FALSE(cut.m_bValid);
        EXPECT_NEAR(cut.m_dHalfWidth, 2.0, 0.1);
    }
}

TEST(ZoCSawCutExtractor, RangeImagesWithOddValuesAreRead) {
    ZoCFieldRange range(40, 30, 0.0f);
    range.At(0, 0) = std::numeric_limits<float>::quiet_NaN();
    range.At(1, 0) = std::numeric_limits<float>::infinity();
    range.At(2, 0) = -FLT_MAX;
    range.At(3, 5) = FLT_MIN;
    range.At(39, 29) = 1.0f;
    CImage image;
    image.SetFieldRange(range);  // no mask at all
    const Bitmap b = ZoCSawCutExtractor::MakeBitmap(image);
    ASSERT_EQ(b.width, 39);  // columns 1..39, rows 0..29: infinity counts as a range
    ASSERT_EQ(b.height, 30);
    EXPECT_EQ(b.At(0, 0), c_uValid);
    EXPECT_EQ(b.At(1, 0), 0);
    EXPECT_EQ(b.At(2, 5), c_uValid);
    EXPECT_EQ(b.At(38, 29), c_uValid);
    ZoCSawCutExtractor extractor(image, GuideThrough(0, 0, 10, 10, 30, 5));
    std::vector<Cut> cuts;
    extractor.detectSawCuts(cuts);
    EXPECT_TRUE(cuts.empty());
    CImage single;
    single.SetFieldRange(ZoCFieldRange(1, 1, 5.0f));
    EXPECT_EQ(ZoCSawCutExtractor::MakeBitmap(single).pixels, std::vector<uint8_t>{c_uValid});
}

TEST(ZoCSawCutExtractor, RandomBitmapsGiveFiniteRepeatableCuts) {
    std::mt19937_64 rng(47110518);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        std::uniform_int_distribution<int> size(1, 220);
        const int w = size(rng), h = size(rng);
        const Bitmap b =
            trial % 2 ? RandomBitmap(rng, w, h, 0.05 + 0.9 * (trial % 7) / 6.0) : randomScene(rng, w, h);
        const auto guide = randomGuide(rng, w, h);
        const std::vector<Cut> first = cutsOf(b, guide), second = cutsOf(b, guide);
        ASSERT_EQ(first.size(), second.size());
        for (size_t i = 0; i < first.size(); ++i) {
            EXPECT_EQ(first[i].GetStart(), second[i].GetStart());
            EXPECT_EQ(first[i].m_bValid, second[i].m_bValid);
            EXPECT_TRUE(finite(first[i].GetStart()) && finite(first[i].GetEnd()));
            EXPECT_TRUE(std::isfinite(first[i].m_dHalfWidth));
            if (first[i].m_bValid) {
                EXPECT_GE(first[i].GetLength(), 300.0);
            }
        }
    }
}

// The same scene drawn elsewhere in the image, with its guide line moved alike, gives the same
// cuts moved alike: nothing depends on absolute positions away from the border.
TEST(ZoCSawCutExtractor, ScenesGiveTheSameCutsWhereverTheyLie) {
    std::mt19937_64 rng(5489);
    int withCuts = 0;
    for (int trial = 0; trial < 12; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const Bitmap scene = randomScene(rng, 700, 700);
        std::uniform_real_distribution<double> unit(0, 1);
        const double gx0 = 700 * unit(rng), gy0 = 700 * unit(rng), gxm = 700 * unit(rng),
                     gym = 700 * unit(rng), gx1 = 700 * unit(rng), gy1 = 700 * unit(rng);
        const int dx = 37, dy = 91, frame = 20;  // the frame keeps the scene off the border
        Bitmap framed(740, 740), framedMoved(740 + dx, 740 + dy);
        for (int y = 0; y < 700; ++y)
            for (int x = 0; x < 700; ++x) {
                framed.At(x + frame, y + frame) = scene.At(x, y);
                framedMoved.At(x + frame + dx, y + frame + dy) = scene.At(x, y);
            }
        const double f = frame;
        const std::vector<Cut> a =
            cutsOf(framed, GuideThrough(gx0 + f, gy0 + f, gxm + f, gym + f, gx1 + f, gy1 + f));
        const std::vector<Cut> b = cutsOf(
            framedMoved,
            GuideThrough(gx0 + f + dx, gy0 + f + dy, gxm + f + dx, gym + f + dy, gx1 + f + dx, gy1 + f + dy));
        ASSERT_EQ(a.size(), b.size());
        withCuts += a.empty() ? 0 : 1;
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_NEAR(b[i].GetStart().x - a[i].GetStart().x, dx, 1e-3);
            EXPECT_NEAR(b[i].GetStart().y - a[i].GetStart().y, dy, 1e-3);
            EXPECT_NEAR(b[i].GetEnd().x - a[i].GetEnd().x, dx, 1e-3);
            EXPECT_NEAR(b[i].m_dHalfWidth, a[i].m_dHalfWidth, 1e-3);
            EXPECT_EQ(b[i].m_bValid, a[i].m_bValid);
        }
    }
    EXPECT_GT(withCuts, 6);  // the scenes do hold gaps
}

TEST(ZoCSawCutExtractor, ManyTinyRegionsAndDeepNesting) {
    // Specks everywhere, and rings within rings: every region is traced and erased once.
    Bitmap specks(500, 400);
    for (int y = 1; y < 400; y += 3)
        for (int x = 1; x < 500; x += 3)
            specks.At(x, y) = c_uValid;
    EXPECT_TRUE(cutsOf(specks).empty());
    Bitmap rings(401, 401);
    for (int r = 200; r > 0; r -= 4)
        for (int y = 0; y < 401; ++y)
            for (int x = 0; x < 401; ++x) {
                const int d = std::max(std::abs(x - 200), std::abs(y - 200));
                if (d == r || d == r - 1)
                    rings.At(x, y) = c_uValid;
            }
    // Nested squares two pixels thick and two apart: only the outermost is traced (the rest
    // lies inside its polygon), and its sides run along the image border.
    EXPECT_TRUE(cutsOf(rings, GuideThrough(0, 0, 150, 250, 400, 390)).empty());
}
