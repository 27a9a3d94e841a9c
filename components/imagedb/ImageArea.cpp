// The image sources of one scanned object, guarded by the area's reader/writer lock.
#include "ImageDatabase.h"

namespace {
// Holds the area's lock for writing for one operation.
class ScopedWriteLock {
public:
    explicit ScopedWriteLock(ZoCThreadSync& sync) : m_sync(sync) { m_sync.LockWrite(); }
    ~ScopedWriteLock() { m_sync.UnlockWrite(); }
    ScopedWriteLock(const ScopedWriteLock&) = delete;
    ScopedWriteLock& operator=(const ScopedWriteLock&) = delete;

private:
    ZoCThreadSync& m_sync;
};
}  // namespace

int64_t CImageArea::ListAllImageSourceIDs(CArray<GUID>& ids) const {
    ids.RemoveAll();
    for (const auto& source : m_sources)
        ids.Add(source->GetID());
    return ids.GetCount();
}

const CImageSource* CImageArea::GetImageSourcePtr(const GUID& id) const {
    return findUnlocked(id);
}

const CImageSource* CImageArea::findUnlocked(const GUID& id) const {
    for (const auto& source : m_sources)
        if (source->GetID() == id)
            return source.get();
    return nullptr;
}

bool CImageArea::AddImageSource(const CImageSource& source) {
    if (source.GetID().IsNull())
        return false;
    // Copy outside the lock: the copy shares the images, but allocating the record need not
    // keep readers waiting.
    auto copy = std::make_unique<CImageSource>(source);
    ScopedWriteLock lock(m_sync);
    if (findUnlocked(source.GetID()))
        return false;
    m_sources.push_back(std::move(copy));
    return true;
}

bool CImageArea::SetCorrelation(const GUID& id, bool success, const CbMatrix4Rf& matrix) {
    ScopedWriteLock lock(m_sync);
    CImageSource* source = const_cast<CImageSource*>(findUnlocked(id));
    if (!source)
        return false;
    source->SetCorrelation(success, matrix);
    return true;
}

bool CImageArea::RemoveImageSource(const GUID& id) {
    ScopedWriteLock lock(m_sync);
    for (auto it = m_sources.begin(); it != m_sources.end(); ++it)
        if ((*it)->GetID() == id) {
            m_sources.erase(it);
            return true;
        }
    return false;
}

void CImageArea::RemoveAll() {
    ScopedWriteLock lock(m_sync);
    m_sources.clear();
}
