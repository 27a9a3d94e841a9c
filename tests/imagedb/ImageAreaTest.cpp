// Image sources, image areas, the database and the component factory.
#include "ImageDatabase.h"
#include "ImageDatabaseFixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using imagedbtest::PlaneSource;

namespace {
constexpr int c_iScan = CImageContentTypes::eContentTypeScan3D;
}

TEST(CImageSource, HoldsItsImagesUnderTheHostsTypeNumbers) {
    const CImageSource fresh, other;
    EXPECT_FALSE(fresh.GetID().IsNull());
    EXPECT_FALSE(fresh.GetID() == other.GetID());
    EXPECT_EQ(fresh.GetContentType(), 41);
    EXPECT_FALSE(fresh.IsCorrelationSuccess());
    const CImageSource source = PlaneSource(c_iScan, true, CbMatrix4Rf());
    const CImage* range = source.GetImagePtr(static_cast<CImageTypes::EImageType>(2));
    const CImage* intensity = source.GetImagePtr(static_cast<CImageTypes::EImageType>(0));
    ASSERT_TRUE(range && intensity);
    EXPECT_NE(range->GetFieldRayPtr(), nullptr);
    EXPECT_EQ(intensity->GetFieldRayPtr(), nullptr);  // the intensity image carries no rays
    EXPECT_EQ(intensity->GetFieldIntensity().At(3, 2), 200);
    for (int missing : {-1, 1, 17})
        EXPECT_EQ(source.GetImagePtr(static_cast<CImageTypes::EImageType>(missing)), nullptr) << missing;
}

TEST(CImageSource, CopiesDoNotSeeLaterImages) {
    CImageSource source = PlaneSource(c_iScan, true, CbMatrix4Rf());
    const CImageSource copy = source;
    CImage replacement(CImageTypes::eImageTypeIntensity);
    replacement.SetFieldIntensity(ZoCFieldIntensity(2, 2, 7));
    source.SetImage(replacement);
    EXPECT_EQ(source.GetImagePtr(CImageTypes::eImageTypeIntensity)->GetFieldIntensity().GetWidth(), 2);
    EXPECT_EQ(copy.GetImagePtr(CImageTypes::eImageTypeIntensity)->GetFieldIntensity().GetWidth(), 8);
    EXPECT_TRUE(copy.GetID() == source.GetID());
}

TEST(CImageArea, ListsIdsInStoringOrderAndReplacesTheArray) {
    CImageArea area(eAreaTypeUpperJaw);
    std::vector<GUID> stored;
    for (int i = 0; i < 5; ++i) {
        const CImageSource source = PlaneSource(c_iScan, true, CbMatrix4Rf());
        ASSERT_TRUE(area.AddImageSource(source));
        stored.push_back(source.GetID());
    }
    CArray<GUID> ids;
    ids.Add(CreateGuid());  // a stale entry the listing must drop
    ZoCThreadSyncAutoRead lock(area.GetThreadSync());
    EXPECT_EQ(area.ListAllImageSourceIDs(ids), 5);
    ASSERT_EQ(ids.GetCount(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(ids[i] == stored[static_cast<size_t>(i)]) << "position " << i;
}

TEST(CImageArea, RefusesDuplicateAndZeroIdsAndFindsOnlyStoredOnes) {
    CImageArea area(eAreaTypeUpperJaw);
    CArray<GUID> ids;
    EXPECT_EQ(area.ListAllImageSourceIDs(ids), 0);
    const CImageSource source = PlaneSource(c_iScan, true, CbMatrix4Rf());
    EXPECT_TRUE(area.AddImageSource(source));
    EXPECT_FALSE(area.AddImageSource(source));
    EXPECT_FALSE(area.AddImageSource(CImageSource(GUID{}, c_iScan)));
    EXPECT_EQ(area.GetImageSourceCount(), 1);
    EXPECT_EQ(area.GetImageSourcePtr(CreateGuid()), nullptr);
    EXPECT_EQ(area.GetImageSourcePtr(GUID{}), nullptr);
    ASSERT_NE(area.GetImageSourcePtr(source.GetID()), nullptr);
    EXPECT_TRUE(area.GetImageSourcePtr(source.GetID())->GetID() == source.GetID());
}

TEST(CImageArea, SetsTheRegistrationOfAStoredSourceOnly) {
    CImageArea area(eAreaTypeUpperJaw);
    const CImageSource source = PlaneSource(c_iScan, false, CbMatrix4Rf());
    area.AddImageSource(source);
    const CbMatrix4Rf shift = CbMatrix4Rf::Translation(1, 2, 3);
    EXPECT_TRUE(area.SetCorrelation(source.GetID(), true, shift));
    EXPECT_FALSE(area.SetCorrelation(CreateGuid(), true, shift));
    const CImageSource* stored = area.GetImageSourcePtr(source.GetID());
    EXPECT_TRUE(stored->IsCorrelationSuccess());
    EXPECT_EQ(stored->GetCorrelationMatrix(), shift);
    EXPECT_FALSE(source.IsCorrelationSuccess());  // the host's own copy is untouched
}

TEST(CImageArea, RemovesSourcesById) {
    CImageArea area(eAreaTypeUpperJaw);
    const CImageSource a = PlaneSource(c_iScan, true, CbMatrix4Rf());
    const CImageSource b = PlaneSource(c_iScan, true, CbMatrix4Rf());
    area.AddImageSource(a);
    area.AddImageSource(b);
    EXPECT_TRUE(area.RemoveImageSource(a.GetID()));
    EXPECT_FALSE(area.RemoveImageSource(a.GetID()));
    CArray<GUID> ids;
    ASSERT_EQ(area.ListAllImageSourceIDs(ids), 1);
    EXPECT_TRUE(ids[0] == b.GetID());
    area.RemoveAll();
    EXPECT_EQ(area.ListAllImageSourceIDs(ids), 0);
}

// A reader holding the read lock always sees complete sources while a writer stores more.
TEST(CImageArea, ReadersUnderTheLockSeeOnlyCompleteSources) {
    CImageArea area(eAreaTypeUpperJaw);
    constexpr int c_iSources = 60;
    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        for (int i = 0; i < c_iSources; ++i)
            area.AddImageSource(PlaneSource(c_iScan, i % 2 == 0, CbMatrix4Rf(), 4, 3));
        writerDone.store(true);
    });
    int64_t lastCount = 0, incomplete = 0;
    for (bool done = false; !done;) {
        done = writerDone.load();
        ZoCThreadSyncAutoRead lock(area.GetThreadSync());
        CArray<GUID> ids;
        const int64_t count = area.ListAllImageSourceIDs(ids);
        EXPECT_GE(count, lastCount);
        lastCount = count;
        for (const GUID& id : ids) {
            const CImageSource* source = area.GetImageSourcePtr(id);
            const CImage* range = source ? source->GetImagePtr(CImageTypes::eImageTypeRange) : nullptr;
            if (!range || range->GetFieldRange().GetWidth() != 4)
                ++incomplete;
        }
    }
    writer.join();
    EXPECT_EQ(lastCount, c_iSources);
    EXPECT_EQ(incomplete, 0);
}

TEST(ZoIImageDatabase, AreasExistOnceProvidedAndAreIndependent) {
    ZoIImageDatabase database;
    EXPECT_EQ(database.GetImageArea(eAreaTypeUpperJaw), nullptr);
    CImageArea& area = database.ProvideImageArea(eAreaTypeUpperJaw);
    EXPECT_EQ(database.GetImageArea(eAreaTypeUpperJaw), &area);
    EXPECT_EQ(&database.ProvideImageArea(eAreaTypeUpperJaw), &area);
    EXPECT_EQ(area.GetAreaType(), eAreaTypeUpperJaw);
    EXPECT_EQ(database.GetImageArea(eAreaTypeLowerJaw), nullptr);
    database.ProvideImageArea(eAreaTypeLowerJaw).AddImageSource(PlaneSource(c_iScan, true, CbMatrix4Rf()));
    EXPECT_EQ(database.GetImageArea(eAreaTypeLowerJaw)->GetImageSourceCount(), 1);
    EXPECT_EQ(area.GetImageSourceCount(), 0);
    EXPECT_EQ(database.ListAreaTypes(), (std::vector<EAreaType>{eAreaTypeUpperJaw, eAreaTypeLowerJaw}));
    database.Clear();  // empties the areas but keeps them
    EXPECT_EQ(database.GetImageArea(eAreaTypeLowerJaw)->GetImageSourceCount(), 0);
    EXPECT_EQ(database.GetImageArea(eAreaTypeUpperJaw), &area);
}

TEST(ZAZComponentFactory, OneDatabasePerDevice) {
    ZoIImageDatabase& a = ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2);
    EXPECT_EQ(&ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2), &a);
    EXPECT_NE(&ZAZComponentFactory::GetImageDatabase(eAcquireDeviceNone), &a);
    EXPECT_NE(&ZAZComponentFactory::GetImageDatabase(static_cast<ECAIAcquireDevice>(99)), &a);
}
