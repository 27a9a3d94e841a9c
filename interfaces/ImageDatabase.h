// Image database component: per-pixel fields of a recorded 3D image, the images and image
// sources that hold them, image areas (one per scanned object, with a reader/writer lock),
// point sets over an area, surfels, and the process-wide databases of the component factory.
// Fields share their storage, so copies are cheap and stay valid after the host releases the
// original.
#pragma once

#include "BaseLibrary.h"
#include "Geometry.h"
#include "Platform.h"

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

// Pixel rectangle; right and bottom are exclusive.
struct ZoCRect2 {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    friend bool operator==(const ZoCRect2&, const ZoCRect2&) = default;
};

// A width x height grid of values, stored row by row.
template <class T>
class ZoCField {
public:
    ZoCField() = default;
    ZoCField(int width, int height, T fill = T())
        : m_iWidth(width), m_iHeight(height),
          m_data(std::make_shared<std::vector<T>>(static_cast<size_t>(width) * static_cast<size_t>(height), fill)) {}

    int GetWidth() const { return m_iWidth; }
    int GetHeight() const { return m_iHeight; }
    bool IsEmpty() const { return !m_data || m_data->empty(); }
    const T& At(int x, int y) const { return (*m_data)[index(x, y)]; }
    // Writable access; detaches from copies that share the storage.
    T& At(int x, int y) {
        detach();
        return (*m_data)[index(x, y)];
    }
    const T* Data() const { return m_data ? m_data->data() : nullptr; }
    T* MutableData() {
        detach();
        return m_data ? m_data->data() : nullptr;
    }
    // Smallest rectangle within `within` that holds every value above `threshold`; empty
    // (all zero) when there is none.
    ZoCRect2 RectValid(T threshold, const ZoCRect2& within) const {
        ZoCRect2 r{within.right, within.bottom, within.left, within.top};
        const ZoCRect2 w = clip(within);
        for (int y = w.top; y < w.bottom; ++y)
            for (int x = w.left; x < w.right; ++x)
                if (At(x, y) > threshold) {
                    r.left = std::min(r.left, x);
                    r.top = std::min(r.top, y);
                    r.right = std::max(r.right, x + 1);
                    r.bottom = std::max(r.bottom, y + 1);
                }
        return r.IsEmpty() ? ZoCRect2{} : r;
    }
    ZoCRect2 FullRect() const { return {0, 0, m_iWidth, m_iHeight}; }

private:
    size_t index(int x, int y) const {
        return static_cast<size_t>(y) * static_cast<size_t>(m_iWidth) + static_cast<size_t>(x);
    }
    ZoCRect2 clip(const ZoCRect2& r) const {
        return {std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, m_iWidth), std::min(r.bottom, m_iHeight)};
    }
    void detach() {
        if (m_data && m_data.use_count() > 1) m_data = std::make_shared<std::vector<T>>(*m_data);
    }
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::shared_ptr<std::vector<T>> m_data;
};

// Range along each pixel's viewing ray; values <= 0 mark pixels without a measurement.
class ZoCFieldRange : public ZoCField<float> {
public:
    using ZoCField<float>::ZoCField;
};
class ZoCFieldIntensity : public ZoCField<uint8_t> {
public:
    using ZoCField<uint8_t>::ZoCField;
};
// Non-zero where the pixel belongs to the object; the sensor's flags reach up to bit 0x800.
class ZoCFieldMask : public ZoCField<uint16_t> {
public:
    using ZoCField<uint16_t>::ZoCField;
};

struct ZoCRay {
    CbVector3f m_origin;
    CbVector3f m_direction;
    CbVector3f GetCoord(float range) const { return m_origin + m_direction * range; }
};

// The viewing ray of every pixel. An orthographic field with 25 micrometre pixels (one
// image-area unit per pixel) reports IsOrtho25().
class ZoCFieldRay {
public:
    ZoCFieldRay() = default;
    ZoCFieldRay(int width, int height, std::vector<ZoCRay> rays, bool ortho25 = false);

    int GetWidth() const { return m_iWidth; }
    int GetHeight() const { return m_iHeight; }
    const ZoCRay& GetRay(int x, int y) const;
    CbVector3f GetCoord(int x, int y, float range) const { return GetRay(x, y).GetCoord(range); }
    bool IsOrtho25() const { return m_bOrtho25; }

private:
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::shared_ptr<const std::vector<ZoCRay>> m_rays;
    bool m_bOrtho25 = false;
};

// A grid of 3D points. Empty cells hold exactly GetInvalidValue().
class ZoCFieldCoord {
public:
    ZoCFieldCoord() = default;
    // Points of the pixels with a positive range, taken through `transform` when given.
    ZoCFieldCoord(const ZoCFieldRay* rays, const ZoCFieldRange& range, const CbMatrix4Rf* transform);
    // A grid given point by point (row by row); cells equal to the invalid value are empty.
    ZoCFieldCoord(int width, int height, std::vector<CbVector3f> points);

    static CbVector3f InvalidValue() {
        const float m = std::numeric_limits<float>::max();
        return {m, m, m};
    }
    CbVector3f GetInvalidValue() const { return InvalidValue(); }
    int GetWidth() const { return m_iWidth; }
    int GetHeight() const { return m_iHeight; }
    // Smallest rectangle that holds every valid point.
    const ZoCRect2& RectValid() const { return m_rectValid; }
    CyBoundingBox3D GetBBox() const { return m_bbox; }
    // Raw access: the point of column x, row y is at Data() + x * ColumnStride() + y * RowStride() bytes.
    const uint8_t* Data() const;
    int64_t ColumnStride() const { return static_cast<int64_t>(sizeof(CbVector3f)); }
    int64_t RowStride() const { return static_cast<int64_t>(sizeof(CbVector3f)) * m_iWidth; }
    const CbVector3f& At(int x, int y) const;
    bool IsValid(int x, int y) const { return !(At(x, y) == InvalidValue()); }

private:
    void measure();
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::shared_ptr<const std::vector<CbVector3f>> m_points;
    ZoCRect2 m_rectValid;
    CyBoundingBox3D m_bbox;
};

// ---------------------------------------------------------------------------------------------
// Images and image sources.

struct CImageTypes {
    // The images one recording can hold. The range image carries range, mask, viewing rays and
    // the registered points; the intensity image carries the shading and the same mask.
    enum EImageType : int {
        eImageTypeIntensity = 0,
        eImageTypeColor = 1,
        eImageTypeRange = 2,
    };
};

// Kinds of content an image source holds.
struct CImageContentTypes {
    enum EContentType : int {
        eContentTypeUnknown = 0,
        eContentTypeScan3D = 41,  // a 3D scan of the object: range and intensity images
    };
};

// One image of a recording: fields of equal size. Unset fields are empty.
class CImage {
public:
    CImage() = default;
    explicit CImage(CImageTypes::EImageType type) : m_eType(type) {}

    CImageTypes::EImageType GetType() const { return m_eType; }
    const ZoCFieldIntensity& GetFieldIntensity() const { return m_intensity; }
    const ZoCFieldRange& GetFieldRange() const { return m_range; }
    const ZoCFieldMask& GetFieldMask() const { return m_mask; }
    // Measured points in image-area coordinates (registered into the area's frame).
    const ZoCFieldCoord& GetFieldCoord() const { return m_coord; }
    // Viewing rays of the pixels in the camera frame; null when the image carries none.
    const ZoCFieldRay* GetFieldRayPtr() const { return m_rays.GetWidth() > 0 ? &m_rays : nullptr; }

    void SetFieldIntensity(const ZoCFieldIntensity& field) { m_intensity = field; }
    void SetFieldRange(const ZoCFieldRange& field) { m_range = field; }
    void SetFieldMask(const ZoCFieldMask& field) { m_mask = field; }
    void SetFieldCoord(const ZoCFieldCoord& field) { m_coord = field; }
    void SetFieldRay(const ZoCFieldRay& field) { m_rays = field; }

private:
    CImageTypes::EImageType m_eType = CImageTypes::eImageTypeRange;
    ZoCFieldIntensity m_intensity;
    ZoCFieldRange m_range;
    ZoCFieldMask m_mask;
    ZoCFieldCoord m_coord;
    ZoCFieldRay m_rays;
};

// One recording: its images by type, its content type and its registration (the correlation
// matrix takes camera-frame image-area units into the area's frame, image-area units).
class CImageSource {
public:
    // A source with a fresh id.
    explicit CImageSource(int contentType = CImageContentTypes::eContentTypeScan3D);
    CImageSource(const GUID& id, int contentType);

    const GUID& GetID() const { return m_id; }
    int GetContentType() const { return m_iContentType; }
    bool IsCorrelationSuccess() const { return m_bCorrelationSuccess; }
    CbMatrix4Rf GetCorrelationMatrix() const { return m_matCorrelation; }
    // The image of `type`; null when the source has none.
    const CImage* GetImagePtr(CImageTypes::EImageType type) const;
    // The request the recording was made for (empty when unknown).
    const CString& GetName() const { return m_strName; }

    void SetCorrelation(bool success, const CbMatrix4Rf& matrix);
    // Stores `image` under its own type, replacing an image of that type.
    void SetImage(const CImage& image);
    void SetName(const CString& name) { m_strName = name; }

private:
    GUID m_id;
    int m_iContentType;
    bool m_bCorrelationSuccess = false;
    CbMatrix4Rf m_matCorrelation;
    CString m_strName;
    // Shared and immutable, so copies of a source are cheap and never see later changes.
    std::map<int, std::shared_ptr<const CImage>> m_images;
};

// ---------------------------------------------------------------------------------------------
// Image areas and the database.

// The scanned objects of a job, one image area each. The values are the host's.
enum EAreaType : int {
    eAreaTypeNone = -1,
    eAreaTypeUpperJaw = 0,
    eAreaTypeBite = 1,
    eAreaTypeLowerJaw = 2,
    eAreaTypeStumps = 3,
    eAreaTypeScanBody = 4,
};

// The recording devices the component factory keeps a database for.
enum ECAIAcquireDevice : int {
    eAcquireDeviceNone = 0,
    eAcquireDeviceOrbal2 = 1,
};

// The image sources of one scanned object, in the order the host stored them.
//
// Locking: the host writes while the library reads. Readers hold the area's lock for reading
// (ZoCThreadSyncAutoRead on GetThreadSync()) around ListAllImageSourceIDs and
// GetImageSourcePtr and for as long as they use a returned pointer. The writing operations
// take the lock for writing themselves, so a reader never sees a half-stored source; a thread
// must not call them while it holds the read lock.
class CImageArea {
public:
    explicit CImageArea(EAreaType type) : m_eType(type) {}
    CImageArea(const CImageArea&) = delete;
    CImageArea& operator=(const CImageArea&) = delete;

    EAreaType GetAreaType() const { return m_eType; }
    ZoCThreadSync& GetThreadSync() const { return m_sync; }

    // Reading (caller holds the read lock).
    // Replaces `ids` by the ids of all sources in storing order; returns their number.
    int64_t ListAllImageSourceIDs(CArray<GUID>& ids) const;
    // The source with `id`; null when the area has none.
    const CImageSource* GetImageSourcePtr(const GUID& id) const;
    int64_t GetImageSourceCount() const { return static_cast<int64_t>(m_sources.size()); }

    // Writing (takes the write lock).
    // Stores a copy of `source`; false (nothing stored) for the zero id or an id already present.
    bool AddImageSource(const CImageSource& source);
    // Sets the registration of a stored source; false when the id is unknown.
    bool SetCorrelation(const GUID& id, bool success, const CbMatrix4Rf& matrix);
    bool RemoveImageSource(const GUID& id);
    void RemoveAll();

private:
    const CImageSource* findUnlocked(const GUID& id) const;

    const EAreaType m_eType;
    mutable ZoCThreadSync m_sync;  // guards m_sources and the sources' contents
    // A handful to a few hundred sources per area: a linear search by id is fast enough and
    // keeps the storing order without a second index.
    std::vector<std::unique_ptr<CImageSource>> m_sources;
};

// The image areas of one device, by area type; the host fills it.
class ZoIImageDatabase {
public:
    ZoIImageDatabase() = default;
    ZoIImageDatabase(const ZoIImageDatabase&) = delete;
    ZoIImageDatabase& operator=(const ZoIImageDatabase&) = delete;

    // The area of `type`; null while the host has stored nothing for it. Areas live as long as
    // the database, so the pointer stays valid.
    CImageArea* GetImageArea(EAreaType type) const;
    // The area of `type`, created empty on first use.
    CImageArea& ProvideImageArea(EAreaType type);
    // Area types that have an area, in ascending order.
    std::vector<EAreaType> ListAreaTypes() const;
    // Empties every area; the areas themselves stay (pointers to them remain valid).
    void Clear();

private:
    mutable std::mutex m_mutex;  // guards m_areas (the map, not the areas' contents)
    std::map<int, std::unique_ptr<CImageArea>> m_areas;
};

// The name the triple-tray steering knows the database by.
using ZoCImageDataBase = ZoIImageDatabase;

// Process-wide access to the closed components' singletons.
class ZAZComponentFactory {
public:
    // The image database of `device`, created empty on first use; it lives until the process
    // ends. Every device value has its own database.
    static ZoIImageDatabase& GetImageDatabase(ECAIAcquireDevice device);
};

// ---------------------------------------------------------------------------------------------
// Point sets over an image area.

// The points of the image sources of one area, one subset per source, each with the
// transformation that takes its camera-frame points into the set's frame. The set copies the
// fields when it is built (the copies share storage), so it stays valid while the host goes on
// writing to the area.
//
// Constructor arguments:
//   mode             eModeRangeImages (1): the range image of each source; other values give an
//                    empty, invalid set.
//   database, area   where the sources come from (an area that does not exist: empty set).
//   contentType      only sources of this content type; 0 takes every content type.
//   withUncorrelated false: only sources whose correlation succeeded.
//   correlationPath  eCorrelationPathRegistered (4): the subset's transformation is the
//                    source's correlation matrix; eCorrelationPathCamera (0): identity (the
//                    camera frame). Other values give an empty, invalid set.
//   transformation   applied after the correlation path's matrix; null: none.
//   stepX, stepY     keep every stepX-th column and stepY-th row (>= 1; otherwise invalid).
class ZoCPointSetField {
public:
    enum EMode : int { eModeRangeImages = 1 };
    enum ECorrelationPath : int { eCorrelationPathCamera = 0, eCorrelationPathRegistered = 4 };

    // One source's contribution: its transformation and its field data.
    class CSubSet {
    public:
        CSubSet(const GUID& id, const CbMatrix4Rf& transformation, const ZoCFieldRay& rays,
                const ZoCFieldRange& range)
            : m_id(id), m_matTransformation(transformation), m_rays(rays), m_range(range) {}

        const GUID& GetImageSourceID() const { return m_id; }
        const CbMatrix4Rf& GetTransformation() const { return m_matTransformation; }
        const ZoCFieldRay& GetFieldRay() const { return m_rays; }
        const ZoCFieldRange& GetFieldRange() const { return m_range; }
        // The subset's points in the set's frame.
        ZoCFieldCoord GetFieldCoord() const { return ZoCFieldCoord(&m_rays, m_range, &m_matTransformation); }

    private:
        GUID m_id;
        CbMatrix4Rf m_matTransformation;
        ZoCFieldRay m_rays;
        ZoCFieldRange m_range;
    };

    // Walks the subsets in the area's storing order; the current subset is null past the end.
    class CIterSubSet {
    public:
        explicit CIterSubSet(const ZoCPointSetField& set) : m_set(set) {}
        CIterSubSet& operator++() {
            if (m_index < m_set.m_subsets.size())
                ++m_index;
            return *this;
        }
        const CSubSet* GetCurrent() const {
            return m_index < m_set.m_subsets.size() ? &m_set.m_subsets[m_index] : nullptr;
        }
        const CSubSet* operator->() const { return GetCurrent(); }
        explicit operator bool() const { return GetCurrent() != nullptr; }

    private:
        const ZoCPointSetField& m_set;
        size_t m_index = 0;
    };

    ZoCPointSetField(int mode, const ZoIImageDatabase& database, EAreaType area, int contentType,
                     bool withUncorrelated, int correlationPath, const CbMatrix4Rf* transformation, int stepX,
                     int stepY);

    // False when an argument was out of range (the set is then empty).
    bool IsValid() const { return m_bValid; }
    int64_t GetSubSetCount() const { return static_cast<int64_t>(m_subsets.size()); }

private:
    bool m_bValid = false;
    std::vector<CSubSet> m_subsets;
};

// ---------------------------------------------------------------------------------------------
// Surfels: oriented surface samples of the correlation library.

struct ZoCSurfel {
    CbVector3f m_position;
    CbVector3f m_normal;  // unit length, towards the side the surface was seen from
    float m_fRadius = 0;  // half the spacing of neighbouring samples
};
using ZoCSurfelCollection = std::vector<ZoCSurfel>;

// Surfels of a coordinate field: every `step`-th valid point whose right and lower neighbours
// (`step` apart) are valid too; the normal is the cross product of the two neighbour
// differences, turned towards `viewpoint` (given in the field's frame). A step below 1 is taken
// as 1. Appends to `out`; returns the number appended.
int64_t AppendSurfels(const ZoCFieldCoord& field, const CbVector3f& viewpoint, int step,
                      ZoCSurfelCollection& out);
