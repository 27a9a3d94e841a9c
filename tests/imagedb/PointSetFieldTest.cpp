// Point sets over an image area: which sources become subsets, their transformations and data.
#include "ImageDatabase.h"
#include "ImageDatabaseFixtures.h"

#include <gtest/gtest.h>

using imagedbtest::PlaneSource;

namespace {
constexpr int c_iScan = CImageContentTypes::eContentTypeScan3D;
constexpr int c_iOther = 7;

std::vector<GUID> subsetIds(const ZoCPointSetField& set) {
    std::vector<GUID> ids;
    for (ZoCPointSetField::CIterSubSet it(set); it.GetCurrent(); ++it)
        ids.push_back(it->GetImageSourceID());
    return ids;
}

// Database with, in this order: correlated scan, uncorrelated scan, correlated other content,
// correlated scan without a range image.
struct MixedArea {
    ZoIImageDatabase database;
    GUID correlated, uncorrelated, other, noRange;
    CbMatrix4Rf registration = CbMatrix4Rf::Translation(10, -20, 30) * CbMatrix4Rf::RotationZ(0.3f);

    MixedArea() {
        CImageArea& area = database.ProvideImageArea(eAreaTypeUpperJaw);
        const CImageSource a = PlaneSource(c_iScan, true, registration);
        const CImageSource b = PlaneSource(c_iScan, false, registration);
        const CImageSource c = PlaneSource(c_iOther, true, registration);
        CImageSource noRangeSource(c_iScan);
        noRangeSource.SetCorrelation(true, registration);
        const CImageSource& d = noRangeSource;
        for (const CImageSource* s : {&a, &b, &c, &d})
            area.AddImageSource(*s);
        correlated = a.GetID();
        uncorrelated = b.GetID();
        other = c.GetID();
        noRange = d.GetID();
    }
};
}  // namespace

TEST(ZoCPointSetField, TakesCorrelatedSourcesOfEveryContentTypeWithTheUsualArguments) {
    MixedArea m;
    const ZoCPointSetField set(1, m.database, eAreaTypeUpperJaw, 0, false, 4, nullptr, 1, 1);
    EXPECT_TRUE(set.IsValid());
    const std::vector<GUID> ids = subsetIds(set);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_TRUE(ids[0] == m.correlated);
    EXPECT_TRUE(ids[1] == m.other);
    ZoCPointSetField::CIterSubSet it(set);  // stays at null past the end
    for (int i = 0; i < 3; ++i)
        ++it;
    EXPECT_EQ(it.GetCurrent(), nullptr);
    EXPECT_FALSE(static_cast<bool>(it));
    const ZoCPointSetField missing(1, m.database, eAreaTypeLowerJaw, 0, false, 4, nullptr, 1, 1);
    EXPECT_TRUE(missing.IsValid());  // an area the host never provided: valid and empty
    EXPECT_EQ(missing.GetSubSetCount(), 0);
}

TEST(ZoCPointSetField, FiltersByContentTypeAndTakesUncorrelatedOnRequest) {
    MixedArea m;
    const ZoCPointSetField set(1, m.database, eAreaTypeUpperJaw, c_iScan, true, 4, nullptr, 1, 1);
    const std::vector<GUID> ids = subsetIds(set);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_TRUE(ids[0] == m.correlated);
    EXPECT_TRUE(ids[1] == m.uncorrelated);
}

TEST(ZoCPointSetField, SubsetTransformationIsTheGivenTransformationAfterTheRegistration) {
    MixedArea m;
    const CbMatrix4Rf flip = CbMatrix4Rf::FromRows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1});
    const ZoCPointSetField set(1, m.database, eAreaTypeUpperJaw, c_iScan, false, 4, &flip, 1, 1);
    ZoCPointSetField::CIterSubSet it(set);
    ASSERT_TRUE(it.GetCurrent());
    const ZoCFieldCoord points = it->GetFieldCoord();
    // Independently: the stored (registered) coordinate field, with z negated.
    const ZoCFieldCoord& stored = m.database.GetImageArea(eAreaTypeUpperJaw)
                                      ->GetImageSourcePtr(m.correlated)
                                      ->GetImagePtr(CImageTypes::eImageTypeRange)
                                      ->GetFieldCoord();
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_NEAR(points.At(x, y).x, stored.At(x, y).x, 1e-3);
            EXPECT_NEAR(points.At(x, y).y, stored.At(x, y).y, 1e-3);
            EXPECT_NEAR(points.At(x, y).z, -stored.At(x, y).z, 1e-3);
        }
}

TEST(ZoCPointSetField, CameraPathLeavesPointsInTheCameraFrame) {
    MixedArea m;
    const ZoCPointSetField set(1, m.database, eAreaTypeUpperJaw, c_iScan, false, 0, nullptr, 1, 1);
    ZoCPointSetField::CIterSubSet it(set);
    ASSERT_TRUE(it.GetCurrent());
    EXPECT_EQ(it->GetTransformation(), CbMatrix4Rf());
    EXPECT_NEAR(it->GetFieldCoord().At(2, 3).z, 50.0f, 1e-4);  // the plane the fixture puts points on
}

TEST(ZoCPointSetField, StepsKeepEveryNthColumnAndRow) {
    MixedArea m;
    const ZoCPointSetField full(1, m.database, eAreaTypeUpperJaw, c_iScan, false, 4, nullptr, 1, 1);
    const ZoCPointSetField coarse(1, m.database, eAreaTypeUpperJaw, c_iScan, false, 4, nullptr, 3, 2);
    const ZoCFieldCoord a = ZoCPointSetField::CIterSubSet(full)->GetFieldCoord();
    const ZoCFieldCoord b = ZoCPointSetField::CIterSubSet(coarse)->GetFieldCoord();
    ASSERT_EQ(b.GetWidth(), 3);   // columns 0, 3, 6 of 8
    ASSERT_EQ(b.GetHeight(), 3);  // rows 0, 2, 4 of 6
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(b.At(x, y), a.At(3 * x, 2 * y));
    // A step of 1 in one direction only still thins the other.
    const ZoCPointSetField rows(1, m.database, eAreaTypeUpperJaw, c_iScan, false, 4, nullptr, 1, 2);
    const ZoCFieldCoord c = ZoCPointSetField::CIterSubSet(rows)->GetFieldCoord();
    ASSERT_EQ(c.GetWidth(), 8);
    ASSERT_EQ(c.GetHeight(), 3);
    EXPECT_EQ(c.At(5, 2), a.At(5, 4));
}

TEST(ZoCPointSetField, OutOfRangeArgumentsGiveAnEmptyInvalidSet) {
    MixedArea m;
    const ZoCPointSetField badMode(2, m.database, eAreaTypeUpperJaw, 0, false, 4, nullptr, 1, 1);
    const ZoCPointSetField badPath(1, m.database, eAreaTypeUpperJaw, 0, false, 3, nullptr, 1, 1);
    const ZoCPointSetField badStep(1, m.database, eAreaTypeUpperJaw, 0, false, 4, nullptr, 0, 1);
    for (const ZoCPointSetField* set : {&badMode, &badPath, &badStep}) {
        EXPECT_FALSE(set->IsValid());
        EXPECT_EQ(set->GetSubSetCount(), 0);
        EXPECT_EQ(ZoCPointSetField::CIterSubSet(*set).GetCurrent(), nullptr);
    }
}

TEST(ZoCPointSetField, StaysValidAfterTheHostEmptiesTheArea) {
    MixedArea m;
    const ZoCPointSetField set(1, m.database, eAreaTypeUpperJaw, c_iScan, false, 4, nullptr, 1, 1);
    m.database.Clear();
    ZoCPointSetField::CIterSubSet it(set);
    ASSERT_TRUE(it.GetCurrent());
    EXPECT_EQ(it->GetFieldCoord().RectValid(), (ZoCRect2{0, 0, 8, 6}));
}
