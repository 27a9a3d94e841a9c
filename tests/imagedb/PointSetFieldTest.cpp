// Point sets over an image area: which sources become subsets, their transformations and data.
#include "ImageDatabase.h"
#include "ImageDatabaseFixtures.h"

#include <gtest/gtest.h>

using imagedbtest::c_iScan;
using imagedbtest::PlaneSource;

namespace {
std::vector<GUID> subsetIds(const ZoCPointSetField& set) {
    std::vector<GUID> ids;
    for (ZoCPointSetField::CIterSubSet it(set); it.GetCurrent(); ++it)
        ids.push_back(it->GetImageSourceID());
    return ids;
}

ZoCFieldCoord firstSubset(const ZoCPointSetField& set) {
    return ZoCPointSetField::CIterSubSet(set)->GetFieldCoord();
}

// Upper jaw: a correlated scan, an uncorrelated one, correlated other content, a scan without range.
struct MixedArea {
    ZoIImageDatabase database;
    CbMatrix4Rf registration = CbMatrix4Rf::Translation(10, -20, 30) * CbMatrix4Rf::RotationZ(0.3f);
    CImageSource sources[4] = {PlaneSource(c_iScan, true, registration),
                               PlaneSource(c_iScan, false, registration), PlaneSource(7, true, registration),
                               CImageSource(c_iScan)};
    MixedArea() {
        sources[3].SetCorrelation(true, registration);
        for (const CImageSource& s : sources)
            database.ProvideImageArea(eAreaTypeUpperJaw).AddImageSource(s);
    }
    GUID id(int i) const { return sources[i].GetID(); }
    ZoCPointSetField set(int contentType = c_iScan, int stepX = 1, int stepY = 1, int path = 4,
                         const CbMatrix4Rf* transformation = nullptr, int mode = 1, bool uncorrelated = false,
                         EAreaType area = eAreaTypeUpperJaw) const {
        return ZoCPointSetField(mode, database, area, contentType, uncorrelated, path, transformation, stepX,
                                stepY);
    }
};
}  // namespace

// Type 0 takes all, uncorrelated only on request, no range image never; a missing area gives an empty set.
// Camera path: the plane z = 50 the fixture measured; registered path: registered, then transformed.
TEST(ZoCPointSetField, TakesTheCorrelatedRangeImagesAskedRegisteredThenTransformedOrInTheCameraFrame) {
    const MixedArea m;
    EXPECT_EQ(subsetIds(m.set(0)), (std::vector<GUID>{m.id(0), m.id(2)}));
    EXPECT_EQ(subsetIds(m.set(c_iScan)), (std::vector<GUID>{m.id(0)}));
    EXPECT_EQ(subsetIds(m.set(c_iScan, 1, 1, 4, nullptr, 1, true)), (std::vector<GUID>{m.id(0), m.id(1)}));
    const ZoCPointSetField missing = m.set(0, 1, 1, 4, nullptr, 1, false, eAreaTypeLowerJaw);
    EXPECT_TRUE(missing.IsValid() && missing.GetSubSetCount() == 0);
    const CbMatrix4Rf flip = CbMatrix4Rf::FromRows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1});
    const ZoCFieldCoord registered = firstSubset(m.set(c_iScan, 1, 1, 4, &flip)),
                        camera = firstSubset(m.set(c_iScan, 1, 1, 0));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const CbVector3f p = camera.At(x, y), q = m.registration.TransformPoint(p);
            EXPECT_NEAR(p.z, 50, 1e-4);
            EXPECT_NEAR((registered.At(x, y) - CbVector3f(q.x, q.y, -q.z)).Length(), 0, 1e-3)
                << x << "," << y;
        }
}

// Steps keep every n-th column and row; bad mode, path or step: an empty invalid set; a set outlives Clear.
TEST(ZoCPointSetField, StepsKeepEveryNthColumnAndRowAndOutOfRangeArgumentsGiveAnEmptyInvalidSet) {
    MixedArea m;
    const ZoCFieldCoord full = firstSubset(m.set());
    const struct {
        int stepX, stepY, path, mode, width, height;  // width 0: invalid
    } cases[] = {{3, 2, 4, 1, 3, 3}, {1, 2, 4, 1, 8, 3}, {1, 1, 4, 2, 0, 0},
                 {1, 1, 3, 1, 0, 0}, {0, 1, 4, 1, 0, 0}, {1, 0, 4, 1, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const ZoCPointSetField set = m.set(c_iScan, c.stepX, c.stepY, c.path, nullptr, c.mode);
        EXPECT_EQ(std::make_pair(set.IsValid(), set.GetSubSetCount()),
                  std::make_pair(c.width > 0, int64_t{c.width > 0}));
        if (c.width == 0)
            continue;
        const ZoCFieldCoord thin = firstSubset(set);
        ASSERT_EQ(std::make_pair(thin.GetWidth(), thin.GetHeight()), std::make_pair(c.width, c.height));
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                EXPECT_EQ(thin.At(x, y), full.At(c.stepX * x, c.stepY * y)) << x << "," << y;
    }
    const ZoCPointSetField set = m.set();
    m.database.Clear();
    ASSERT_EQ(set.GetSubSetCount(), 1);
    EXPECT_EQ(firstSubset(set).RectValid(), (ZoCRect2{0, 0, 8, 6}));
}
