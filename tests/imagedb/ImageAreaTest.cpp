// Image sources, image areas, the database and the component factory.
#include "ImageDatabase.h"
#include "ImageDatabaseFixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using imagedbtest::c_iScan;
using imagedbtest::PlaneSource;

// Fresh ids, type 41; images kept and replaced under the host's type numbers; a copy keeps its own.
TEST(CImageSource, HoldsItsImagesUnderTheHostsTypeNumbers) {
    const CImageSource fresh, other;
    EXPECT_FALSE(fresh.GetID().IsNull() || fresh.GetID() == other.GetID() || fresh.IsCorrelationSuccess());
    EXPECT_EQ(fresh.GetContentType(), 41);
    CImageSource source = PlaneSource();
    source.SetImage(CImage(CImageTypes::eImageTypeIntensity));
    const CImageSource copy = source;
    source.SetImage(CImage(CImageTypes::eImageTypeRange));   // a range image without rays
    const auto held = [](const CImageSource& s, int type) {  // r: with rays, i: without, -: none
        const CImage* image = s.GetImagePtr(CImageTypes::EImageType(type));
        return image ? (image->GetFieldRayPtr() ? 'r' : 'i') : '-';
    };
    EXPECT_EQ((std::string{held(copy, 0), held(copy, 1), held(copy, 2), held(source, 2)}), "i-ri");
}

// Listed in storing order (replacing the array), refused twice or with a zero id, found by id.
TEST(CImageArea, StoresListsRegistersAndRemovesSourcesById) {
    CImageArea area(eAreaTypeUpperJaw);
    std::vector<GUID> stored;
    for (int i = 0; i < 3; ++i) {
        const CImageSource source = PlaneSource(c_iScan, false);
        EXPECT_TRUE(area.AddImageSource(source) && !area.AddImageSource(source));
        stored.push_back(source.GetID());
    }
    EXPECT_FALSE(area.AddImageSource(CImageSource(GUID{}, c_iScan)));
    CArray<GUID> ids;
    ids.Add(CreateGuid());  // a stale entry the listing must drop
    const auto list = [&] {
        ZoCThreadSyncAutoRead lock(area.GetThreadSync());
        const int64_t n = area.ListAllImageSourceIDs(ids);
        EXPECT_EQ(n, ids.GetCount());
        return std::vector<GUID>(ids.begin(), ids.end());
    };
    EXPECT_EQ(list(), stored);
    const CbMatrix4Rf shift = CbMatrix4Rf::Translation(1, 2, 3);
    EXPECT_TRUE(area.SetCorrelation(stored[1], true, shift) &&
                !area.SetCorrelation(CreateGuid(), true, shift));
    const CImageSource* registered = area.GetImageSourcePtr(stored[1]);
    ASSERT_TRUE(registered && registered->IsCorrelationSuccess());
    EXPECT_EQ(registered->GetCorrelationMatrix(), shift);
    EXPECT_TRUE(area.RemoveImageSource(stored[0]) && !area.RemoveImageSource(stored[0]));
    EXPECT_EQ(list(), std::vector<GUID>(stored.begin() + 1, stored.end()));
    area.RemoveAll();
    EXPECT_EQ(list(), std::vector<GUID>());
}

// A reader holding the read lock always sees complete sources while a writer stores more.
TEST(CImageArea, ReadersUnderTheLockSeeOnlyCompleteSources) {
    CImageArea area(eAreaTypeUpperJaw);
    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        for (int i = 0; i < 60; ++i)
            area.AddImageSource(PlaneSource());
        writerDone.store(true);
    });
    int64_t lastCount = 0, incomplete = 0;
    for (bool done = false; !done;) {
        done = writerDone.load();
        ZoCThreadSyncAutoRead lock(area.GetThreadSync());
        CArray<GUID> ids;
        EXPECT_GE(area.ListAllImageSourceIDs(ids), lastCount);
        lastCount = ids.GetCount();
        for (const GUID& id : ids) {
            const CImageSource* source = area.GetImageSourcePtr(id);
            incomplete += !source || !source->GetImagePtr(CImageTypes::eImageTypeRange);
        }
    }
    writer.join();
    EXPECT_EQ(std::make_pair(lastCount, incomplete), std::make_pair(int64_t{60}, int64_t{0}));
}

// Areas exist once provided, independently, and survive Clear empty; one database per device.
TEST(ZoIImageDatabase, AreasExistOnceProvidedAndAreIndependentOnePerDevice) {
    ZoIImageDatabase database;
    EXPECT_EQ(database.GetImageArea(eAreaTypeUpperJaw), nullptr);
    CImageArea& area = database.ProvideImageArea(eAreaTypeUpperJaw);
    EXPECT_EQ(std::make_pair(&database.ProvideImageArea(eAreaTypeUpperJaw), area.GetAreaType()),
              std::make_pair(&area, eAreaTypeUpperJaw));
    database.ProvideImageArea(eAreaTypeLowerJaw).AddImageSource(PlaneSource());
    EXPECT_EQ(area.GetImageSourceCount(), 0);
    EXPECT_EQ(database.ListAreaTypes(), (std::vector<EAreaType>{eAreaTypeUpperJaw, eAreaTypeLowerJaw}));
    database.Clear();
    EXPECT_EQ(database.GetImageArea(eAreaTypeLowerJaw)->GetImageSourceCount(), 0);
    EXPECT_EQ(database.GetImageArea(eAreaTypeUpperJaw), &area);
    ZoIImageDatabase& a = ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2);
    EXPECT_EQ(&ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2), &a);
    EXPECT_NE(&ZAZComponentFactory::GetImageDatabase(eAcquireDeviceNone), &a);
}
