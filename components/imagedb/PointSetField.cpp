// Point sets over an image area: one subset per image source.
#include "ImageDatabase.h"

namespace {

// Every stepX-th column and stepY-th row of a field; the field itself when both steps are 1.
ZoCFieldRange subsampleRange(const ZoCFieldRange& range, int stepX, int stepY) {
    if (stepX == 1 && stepY == 1)
        return range;
    const int w = (range.GetWidth() + stepX - 1) / stepX, h = (range.GetHeight() + stepY - 1) / stepY;
    ZoCFieldRange out(w, h, 0.0f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out.At(x, y) = range.At(x * stepX, y * stepY);
    return out;
}

ZoCFieldRay subsampleRays(const ZoCFieldRay& rays, int stepX, int stepY) {
    if (stepX == 1 && stepY == 1)
        return rays;
    const int w = (rays.GetWidth() + stepX - 1) / stepX, h = (rays.GetHeight() + stepY - 1) / stepY;
    std::vector<ZoCRay> kept;
    kept.reserve(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            kept.push_back(rays.GetRay(x * stepX, y * stepY));
    return ZoCFieldRay(w, h, std::move(kept), rays.IsOrtho25());
}

}  // namespace

ZoCPointSetField::ZoCPointSetField(int mode, const ZoIImageDatabase& database, EAreaType area,
                                   int contentType, bool withUncorrelated, int correlationPath,
                                   const CbMatrix4Rf* transformation, int stepX, int stepY) {
    if (mode != eModeRangeImages || stepX < 1 || stepY < 1)
        return;
    if (correlationPath != eCorrelationPathCamera && correlationPath != eCorrelationPathRegistered)
        return;
    m_bValid = true;
    const CImageArea* imageArea = database.GetImageArea(area);
    if (!imageArea)
        return;

    ZoCThreadSyncAutoRead lock(imageArea->GetThreadSync());
    CArray<GUID> ids;
    imageArea->ListAllImageSourceIDs(ids);
    for (const GUID& id : ids) {
        const CImageSource* source = imageArea->GetImageSourcePtr(id);
        if (!source || (contentType != 0 && source->GetContentType() != contentType))
            continue;
        if (!withUncorrelated && !source->IsCorrelationSuccess())
            continue;
        const CImage* image = source->GetImagePtr(CImageTypes::eImageTypeRange);
        const ZoCFieldRay* rays = image ? image->GetFieldRayPtr() : nullptr;
        // Points need both the ranges and the rays they lie on.
        if (!rays || image->GetFieldRange().IsEmpty())
            continue;
        CbMatrix4Rf matrix =
            correlationPath == eCorrelationPathRegistered ? source->GetCorrelationMatrix() : CbMatrix4Rf();
        if (transformation)
            matrix = *transformation * matrix;
        m_subsets.emplace_back(id, matrix, subsampleRays(*rays, stepX, stepY),
                               subsampleRange(image->GetFieldRange(), stepX, stepY));
    }
}
