// Pixel (x, y) looks along (x - w/2, y - h/2, 100) from the origin; ranges put points on z = depth.
#pragma once

#include "ImageDatabase.h"

namespace imagedbtest {

constexpr int c_iScan = CImageContentTypes::eContentTypeScan3D;

inline ZoCFieldRay PinholeRays(int width, int height) {
    std::vector<ZoCRay> rays;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rays.push_back({{0, 0, 0}, CbVector3f(x - width / 2.0f, y - height / 2.0f, 100.0f).Normalized()});
    return ZoCFieldRay(width, height, std::move(rays));
}

// Pixels whose x + y is divisible by a positive `holes` stay unmeasured.
inline ZoCFieldRange PlaneRanges(const ZoCFieldRay& rays, float depth, int holes = 0) {
    ZoCFieldRange range(rays.GetWidth(), rays.GetHeight(), 0.0f);
    for (int y = 0; y < rays.GetHeight(); ++y)
        for (int x = 0; x < rays.GetWidth(); ++x)
            if (holes <= 0 || (x + y) % holes != 0)
                range.At(x, y) = depth / rays.GetRay(x, y).m_direction.z;
    return range;
}

// A range image of the plane z = 50 with its rays, registered by `registration`.
inline CImageSource PlaneSource(int contentType = c_iScan, bool correlated = true,
                                const CbMatrix4Rf& registration = CbMatrix4Rf()) {
    CImageSource source(contentType);
    CImage rangeImage(CImageTypes::eImageTypeRange);
    const ZoCFieldRay rays = PinholeRays(8, 6);
    rangeImage.SetFieldRay(rays);
    rangeImage.SetFieldRange(PlaneRanges(rays, 50.0f));
    source.SetImage(rangeImage);
    source.SetCorrelation(correlated, registration);
    return source;
}

}  // namespace imagedbtest
