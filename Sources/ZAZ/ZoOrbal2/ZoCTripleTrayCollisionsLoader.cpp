#include "ZoCTripleTrayCollisionsLoader.h"

#include "BaseLibrary.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>

std::atomic<const char*> ZoCTripleTrayCollisionsLoader::m_pszFileName{
    ZoCTripleTrayCollisionsLoader::c_pszDefaultFileName};

namespace {

// The process-wide table. It only ever changes, under the lock, from empty to complete (or back
// by ResetTable), so nobody sees a half-built tree: a load builds its own tree and swaps it in.
struct SharedTable {
    CbCriticalSection lock;
    std::condition_variable_any loadEnded;  // a load has published its result
    bool loading = false;                   // a load task is reading the file
    ZoCTripleTrayCollisionsLoader::TCollisionTree tree;
};

// Never destroyed: the table outlives every steering, including steerings that are statics.
SharedTable& sharedTable() {
    static SharedTable* table = new SharedTable;
    return *table;
}

}  // namespace

Logging::CLogger& ZoCTripleTrayCollisionsLoader::logger() {
    static Logging::CLogger* instance =
        new Logging::CLogger("ZAZ.ZoOrbal2.Steering.TripleTrayCollisionsLoader");
    return *instance;
}

void ZoCTripleTrayCollisionsLoader::LoadAsync(TCallback callback) {
    SharedTable& table = sharedTable();
    std::lock_guard<CbCriticalSection> lock(table.lock);
    if (table.tree.HasChilds()) {
        if (callback)
            callback(table.tree);
        return;
    }
    m_threadPool.Submit([callback = std::move(callback)] { loadTask(callback); });
}

void ZoCTripleTrayCollisionsLoader::loadTask(const TCallback& callback) {
    SharedTable& table = sharedTable();
    std::unique_lock<CbCriticalSection> lock(table.lock);
    // Another loader is reading the file: its result serves this caller too.
    table.loadEnded.wait(lock, [&table] { return !table.loading; });
    if (!table.tree.HasChilds()) {
        table.loading = true;
        lock.unlock();
        TCollisionTree fresh;
        if (logger().IsLogLevelEnabled(Logging::Info))
            logger().Info(__FILE__, __LINE__, __func__, L"Beginne mit dem Laden der Kollisionstabelle");
        const char* fileName = m_pszFileName.load();
        if (ReadTable(fileName, fresh)) {
            if (logger().IsLogLevelEnabled(Logging::Info))
                logger().Info(__FILE__, __LINE__, __func__, L"Kollisionstabelle erfolgreich geladen");
        } else if (logger().IsLogLevelEnabled(Logging::Warn)) {
            logger().Warn(__FILE__, __LINE__, __func__,
                          L"Kollisionstabelle '%hs' konnte nicht gelesen werden", fileName ? fileName : "");
        }
        lock.lock();
        std::swap(table.tree, fresh);
        table.loading = false;
        table.loadEnded.notify_all();
    }
    if (callback)
        callback(table.tree);
}

bool ZoCTripleTrayCollisionsLoader::ReadTable(const char* fileName, AxisNode& root) {
    try {
        CbList<LineParser::LineRep> records;
        IntervalFileParser parser([&records](const LineParser::LineRep& rep) { records.AddTail(rep); });
        const bool read = parser.LoadData(fileName);
        for (const LineParser::LineRep& rep : records)
            if (rep.m_bValid)
                AddRecord(rep, root);
        return read;
    } catch (const std::exception& e) {
        // Out of memory or an endless file: the table stays empty rather than half filled.
        root.RemoveAllChilds();
        if (logger().IsLogLevelEnabled(Logging::Error))
            logger().Error(__FILE__, __LINE__, __func__, L"Kollisionstabelle nicht geladen: %hs", e.what());
        return false;
    }
}

void ZoCTripleTrayCollisionsLoader::AddRecord(const LineParser::LineRep& record, AxisNode& root) {
    const float* v = record.m_afValues;
    const AxisNode path[5] = {AxisNode(v[0]), AxisNode(v[1]), AxisNode(v[2]), AxisNode(v[3]),
                              AxisNode(v[4], v[5])};
    AxisNode* node = &root;
    for (const AxisNode& step : path) {
        const auto found = std::find(node->begin(), node->end(), step);
        if (found != node->end()) {
            node = &*found;
            continue;
        }
        AxisNode& child = node->CreateNewChild();
        child = step;
        node = &child;
    }
}

bool ZoCTripleTrayCollisionsLoader::IsLoaded() {
    SharedTable& table = sharedTable();
    std::lock_guard<CbCriticalSection> lock(table.lock);
    return table.tree.HasChilds();
}

bool ZoCTripleTrayCollisionsLoader::ResetTable() {
    SharedTable& table = sharedTable();
    std::lock_guard<CbCriticalSection> lock(table.lock);
    if (table.loading)
        return false;
    table.tree.RemoveAllChilds();
    return true;
}
