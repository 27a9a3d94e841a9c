#include "ZoCTripleTrayCollisionsLoader.h"

#include "BaseLibrary.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string_view>
#include <vector>

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

ZoCTripleTrayCollisionsLoader::~ZoCTripleTrayCollisionsLoader() {
    m_bCancel.store(true);
    if (m_iTasks.load() > 0 && logger().IsLogLevelEnabled(Logging::Info))
        logger().Info(__FILE__, __LINE__, __func__, L"Laden der Kollisionstabelle wird abgebrochen");
    // A task of this loader may wait for another loader's read; the flag is set before the
    // lock is taken, so the task either sees it or is woken here.
    SharedTable& table = sharedTable();
    {
        std::lock_guard<CbCriticalSection> lock(table.lock);
        table.loadEnded.notify_all();
    }
    // m_threadPool, destroyed next, drops a queued load and joins the thread.
}

void ZoCTripleTrayCollisionsLoader::LoadAsync(TCallback callback) {
    SharedTable& table = sharedTable();
    std::lock_guard<CbCriticalSection> lock(table.lock);
    if (table.tree.HasChilds()) {
        if (callback)
            callback(table.tree);
        return;
    }
    ++m_iTasks;
    m_threadPool.Submit([callback = std::move(callback), &cancel = m_bCancel, &tasks = m_iTasks] {
        loadTask(callback, cancel, tasks);
    });
}

void ZoCTripleTrayCollisionsLoader::loadTask(const TCallback& callback, const std::atomic<bool>& cancel,
                                             std::atomic<int>& tasks) {
    // The load counts as pending until its callback is about to run: a loader destroyed after
    // its callback has been called has nothing to cancel.
    struct NSPending {
        std::atomic<int>& tasks;
        bool counted = true;
        void End() {
            if (counted)
                --tasks;
            counted = false;
        }
        ~NSPending() { End(); }
    } pending{tasks};
    SharedTable& table = sharedTable();
    std::unique_lock<CbCriticalSection> lock(table.lock);
    // Another loader is reading the file: its result serves this caller too.
    table.loadEnded.wait(lock, [&] { return !table.loading || cancel.load(); });
    if (cancel.load())
        return;  // the steering is going away: nobody to hand the table to
    if (!table.tree.HasChilds()) {
        table.loading = true;
        lock.unlock();
        TCollisionTree fresh;
        if (logger().IsLogLevelEnabled(Logging::Info))
            logger().Info(__FILE__, __LINE__, __func__, L"Beginne mit dem Laden der Kollisionstabelle");
        const bool read = ReadTable(m_pszFileName.load(), fresh, &cancel);
        if (read && logger().IsLogLevelEnabled(Logging::Info))
            logger().Info(__FILE__, __LINE__, __func__, L"Kollisionstabelle erfolgreich geladen");
        lock.lock();
        if (!cancel.load())
            std::swap(table.tree, fresh);
        table.loading = false;
        table.loadEnded.notify_all();
        if (cancel.load()) {
            if (logger().IsLogLevelEnabled(Logging::Info))
                logger().Info(__FILE__, __LINE__, __func__, L"Laden der Kollisionstabelle abgebrochen");
            return;
        }
    }
    pending.End();
    if (callback)
        callback(table.tree);
}

namespace {

// A valid record and its place in the file.
struct NSRecord {
    float values[6];
    uint32_t order;
};

// Records with equal values up to `level` share the tree's path to that level; the last level
// is the interval (values 4 and 5).
bool sameNode(const NSRecord& a, const NSRecord& b, int level) {
    return level < 4 ? a.values[level] == b.values[level] : a.values[4] == b.values[4] && a.values[5] == b.values[5];
}

struct NSGroup {
    const NSRecord* first;
    const NSRecord* last;
    uint32_t order;  // the file position of the group's first record
};

// Builds the children of `node` from the records [first, last), which agree on every level
// above `level` and are sorted by their values. Each level's run of equal values becomes one
// child; children follow the order in which the file first names them, as inserting the
// records one by one would give. `scratch` holds one group list per level. A set `cancel` ends
// the build between two children of the root (the caller then drops the tree).
void buildLevel(AxisNode& node, const NSRecord* first, const NSRecord* last, int level,
                std::vector<NSGroup> (&scratch)[5], const std::atomic<bool>* cancel) {
    std::vector<NSGroup>& groups = scratch[level];
    groups.clear();
    for (const NSRecord* begin = first; begin != last;) {
        NSGroup group{begin, begin, begin->order};
        while (group.last != last && sameNode(*group.last, *begin, level)) {
            group.order = std::min(group.order, group.last->order);
            ++group.last;
        }
        groups.push_back(group);
        begin = group.last;
    }
    std::sort(groups.begin(), groups.end(), [](const NSGroup& a, const NSGroup& b) { return a.order < b.order; });
    // Deeper levels use their own scratch lists, so this level's list stays intact below.
    for (size_t i = 0; i < groups.size(); ++i) {
        if (level == 0 && cancel && cancel->load(std::memory_order_relaxed))
            return;
        const NSGroup group = groups[i];
        AxisNode& child = node.CreateNewChild();
        const float* v = group.first->values;
        child = level < 4 ? AxisNode(v[level]) : AxisNode(v[4], v[5]);
        if (level < 4)
            buildLevel(child, group.first, group.last, level + 1, scratch, cancel);
    }
}

}  // namespace

bool ZoCTripleTrayCollisionsLoader::ReadTable(const char* fileName, AxisNode& root, const std::atomic<bool>* cancel) {
    const char* shownName = fileName ? fileName : "";
    try {
        // Only the valid records are kept, in a flat array: a file of blank or broken lines
        // costs no memory, where collecting every line record first (and building the tree
        // record by record, searching each node's children in turn) took gigabytes for
        // 100 MB of blank lines and quadratic time for many records. Sorting the records puts
        // those that share a prefix side by side, so the tree is built in n log n, with the
        // same nodes in the same order as record-by-record insertion.
        std::vector<NSRecord> records;
        size_t skipped = 0;
        int firstSkippedLine = 0;
        const char* firstProblem = "";
        IntervalFileParser parser([&](const LineParser::LineRep& rep) {
            if (rep.m_bValid) {
                NSRecord record{};
                std::copy(rep.m_afValues, rep.m_afValues + 6, record.values);
                record.order = static_cast<uint32_t>(records.size());
                records.push_back(record);
            } else if (std::string_view(rep.m_pszProblem) != "comment line") {
                if (skipped++ == 0) {
                    firstSkippedLine = rep.m_iLineNumber;
                    firstProblem = rep.m_pszProblem;
                }
            }
        });
        parser.SetCancelFlag(cancel);
        if (!parser.LoadData(fileName)) {
            if ((!cancel || !cancel->load()) && logger().IsLogLevelEnabled(Logging::Warn))
                logger().Warn(__FILE__, __LINE__, __func__, L"Kollisionstabelle '%hs' konnte nicht gelesen werden: %hs",
                              shownName, parser.GetProblem());
            return false;
        }
        if (cancel && cancel->load())
            return false;
        if (root.HasChilds()) {
            // Adding to a tree that already holds records: the new records join its paths one by
            // one in the table's order, as record-by-record insertion would place them.
            for (const NSRecord& record : records) {
                LineParser::LineRep rep;
                std::copy(record.values, record.values + 6, rep.m_afValues);
                AddRecord(rep, root);
            }
        } else {
            std::sort(records.begin(), records.end(), [](const NSRecord& a, const NSRecord& b) {
                for (int i = 0; i < 6; ++i)
                    if (a.values[i] != b.values[i])
                        return a.values[i] < b.values[i];
                return a.order < b.order;
            });
            if (cancel && cancel->load())
                return false;
            std::vector<NSGroup> scratch[5];
            buildLevel(root, records.data(), records.data() + records.size(), 0, scratch, cancel);
            if (cancel && cancel->load()) {
                root.RemoveAllChilds();
                return false;
            }
        }
        if (records.empty()) {
            if (logger().IsLogLevelEnabled(Logging::Warn))
                logger().Warn(__FILE__, __LINE__, __func__,
                              L"Kollisionstabelle '%hs' enthält keine gültigen Einträge (Zeilen übersprungen: %zu)",
                              shownName, skipped);
        } else if (skipped > 0) {
            if (logger().IsLogLevelEnabled(Logging::Warn))
                logger().Warn(__FILE__, __LINE__, __func__,
                              L"Kollisionstabelle: Einträge gelesen: %zu, Zeilen übersprungen: %zu (erste: Zeile %d, %hs)",
                              records.size(), skipped, firstSkippedLine, firstProblem);
        } else if (logger().IsLogLevelEnabled(Logging::Info)) {
            logger().Info(__FILE__, __LINE__, __func__, L"Kollisionstabelle: Einträge gelesen: %zu, Zeilen übersprungen: 0",
                          records.size());
        }
        return true;
    } catch (const std::exception& e) {
        // Out of memory: the table stays empty rather than half filled.
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
