// The image areas of one device, and the component factory's databases.
#include "ImageDatabase.h"

CImageArea* ZoIImageDatabase::GetImageArea(EAreaType type) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_areas.find(static_cast<int>(type));
    return it == m_areas.end() ? nullptr : it->second.get();
}

CImageArea& ZoIImageDatabase::ProvideImageArea(EAreaType type) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::unique_ptr<CImageArea>& area = m_areas[static_cast<int>(type)];
    if (!area)
        area = std::make_unique<CImageArea>(type);
    return *area;
}

std::vector<EAreaType> ZoIImageDatabase::ListAreaTypes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<EAreaType> types;
    for (const auto& [type, area] : m_areas)
        types.push_back(static_cast<EAreaType>(type));
    return types;
}

void ZoIImageDatabase::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [type, area] : m_areas)
        area->RemoveAll();
}

ZoIImageDatabase& ZAZComponentFactory::GetImageDatabase(ECAIAcquireDevice device) {
    // Databases are never destroyed before the process ends, so references handed out stay valid.
    static std::mutex s_mutex;
    static std::map<int, std::unique_ptr<ZoIImageDatabase>> s_databases;
    std::lock_guard<std::mutex> lock(s_mutex);
    std::unique_ptr<ZoIImageDatabase>& database = s_databases[static_cast<int>(device)];
    if (!database)
        database = std::make_unique<ZoIImageDatabase>();
    return *database;
}
