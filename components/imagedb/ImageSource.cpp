// A recording as the image database stores it.
#include "ImageDatabase.h"

CImageSource::CImageSource(int contentType) : CImageSource(CreateGuid(), contentType) {}

CImageSource::CImageSource(const GUID& id, int contentType) : m_id(id), m_iContentType(contentType) {}

const CImage* CImageSource::GetImagePtr(CImageTypes::EImageType type) const {
    const auto it = m_images.find(static_cast<int>(type));
    return it == m_images.end() ? nullptr : it->second.get();
}

void CImageSource::SetCorrelation(bool success, const CbMatrix4Rf& matrix) {
    m_bCorrelationSuccess = success;
    m_matCorrelation = matrix;
}

void CImageSource::SetImage(const CImage& image) {
    m_images[static_cast<int>(image.GetType())] = std::make_shared<const CImage>(image);
}
