// Image sources, image areas, the database and the component factory.
#include "ImageDatabase.h"
#include "ImageDatabaseFixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using imagedbtest::c_iScan;
using imagedbtest::PlaneSource;

// Fresh ids, type 41; images under the host's numbers (0 intensity, 2 range with rays); copies keep theirs.
TEST(CImageSource, HoldsItsImagesUnderTheHostsTypeNumbers) {
    const CImageSource fresh, other;
    EXPECT_FALSE(fresh.GetID().IsNull() || fresh.GetID() == other.GetID() || fresh.IsCorrelationSuccess());
    EXPECT_EQ(fresh.GetContentType(), 41);
    CImageSource source = PlaneSource();
    const CImage *range = source.GetImagePtr(CImageTypes::EImageType(2)),
                 *intensity = source.GetImagePtr(CImageTypes::EImageType(0));
    ASSERT_TRUE(range && intensity);
    EXPECT_TRUE(range->GetFieldRayPtr() && !intensity->GetFieldRayPtr());
    EXPECT_EQ(intensity->GetFieldIntensity().At(3, 2), 200);
    for (int missing : {-1, 1, 17})
        EXPECT_EQ(source.GetImagePtr(CImageTypes::EImageType(missing)), nullptr) << missing;
    const CImageSource copy = source;
    CImage replacement(CImageTypes::eImageTypeIntensity);
    replacement.SetFieldIntensity(ZoCFieldIntensity(2, 2, 7));
    source.SetImage(replacement);
    const auto width = [](const CImageSource& s) {
        return s.GetImagePtr(CImageTypes::eImageTypeIntensity)->GetFieldIntensity().GetWidth();
    };
    EXPECT_EQ(std::make_pair(width(source), width(copy)), std::make_pair(2, 8));
    EXPECT_TRUE(copy.GetID() == source.GetID());
}

// Listed in storing order (replacing the array), refused twice or with a zero id, found by id.
TEST(CImageArea, StoresListsRegistersAndRemovesSourcesById) {
    CImageArea area(eAreaTypeUpperJaw);
    std::vector<GUID> stored;
    for (int i = 0; i < 5; ++i) {
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
    EXPECT_TRUE(area.GetImageSourcePtr(CreateGuid()) == nullptr && area.GetImageSourcePtr(GUID{}) == nullptr);
    const CbMatrix4Rf shift = CbMatrix4Rf::Translation(1, 2, 3);
    EXPECT_TRUE(area.SetCorrelation(stored[1], true, shift) &&
                !area.SetCorrelation(CreateGuid(), true, shift));
    const CImageSource* registered = area.GetImageSourcePtr(stored[1]);
    ASSERT_NE(registered, nullptr);
    EXPECT_TRUE(registered->GetID() == stored[1] && registered->IsCorrelationSuccess());
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
            incomplete += !range || range->GetFieldRange().GetWidth() != 4;
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
    EXPECT_EQ(area.GetAreaType(), eAreaTypeUpperJaw);
    EXPECT_TRUE(database.GetImageArea(eAreaTypeUpperJaw) == &area &&
                &database.ProvideImageArea(eAreaTypeUpperJaw) == &area);
    EXPECT_EQ(database.GetImageArea(eAreaTypeLowerJaw), nullptr);
    database.ProvideImageArea(eAreaTypeLowerJaw).AddImageSource(PlaneSource());
    EXPECT_EQ(std::make_pair(database.GetImageArea(eAreaTypeLowerJaw)->GetImageSourceCount(),
                             area.GetImageSourceCount()),
              std::make_pair(int64_t{1}, int64_t{0}));
    EXPECT_EQ(database.ListAreaTypes(), (std::vector<EAreaType>{eAreaTypeUpperJaw, eAreaTypeLowerJaw}));
    database.Clear();
    EXPECT_EQ(database.GetImageArea(eAreaTypeLowerJaw)->GetImageSourceCount(), 0);
    EXPECT_EQ(database.GetImageArea(eAreaTypeUpperJaw), &area);
    ZoIImageDatabase& a = ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2);
    EXPECT_EQ(&ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2), &a);
    EXPECT_NE(&ZAZComponentFactory::GetImageDatabase(eAcquireDeviceNone), &a);
    EXPECT_NE(&ZAZComponentFactory::GetImageDatabase(static_cast<ECAIAcquireDevice>(99)), &a);
}
