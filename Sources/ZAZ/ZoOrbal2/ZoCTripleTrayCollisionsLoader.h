// Reads the double-arch tray's joint collision table once per process: on the loader's own thread
// the first time it is asked, and at once from then on. The table is a tree of axis values (see
// AxisNode) that the triple-tray steering hands to its planning.
//
// The file is named by the process-wide m_pszFileName, "DoubleArchJointCollisions.txt" unless the
// host points it elsewhere before the first triple-tray steering is built; a relative name is
// resolved against the working directory. Its line syntax is the interval file parser's
// (AcquisitionPlanning.h); data/DoubleArchJointCollisions.txt holds the table of the reference
// device.
#pragma once

#include "AcquisitionPlanning.h"
#include "Logging.h"
#include "ThreadPool.h"

#include <atomic>
#include <functional>

class ZoCTripleTrayCollisionsLoader {
public:
    using TCollisionTree = SimpleTree<AxisNode>;
    using TCallback = std::function<void(const TCollisionTree&)>;

    static constexpr const char* c_pszDefaultFileName = "DoubleArchJointCollisions.txt";
    // The table file; the pointed-to text must live as long as loads may run.
    static std::atomic<const char*> m_pszFileName;

    ZoCTripleTrayCollisionsLoader() = default;
    // Cancels this loader's load: one that has not started is dropped, one that waits for
    // another loader's read stops waiting, one that reads stops at its next block of the file.
    // Its callback is not called and the table stays as it was (the next loader reads again).
    // Returns once the loader's thread has ended, so no callback can reach the steering after.
    ~ZoCTripleTrayCollisionsLoader();
    ZoCTripleTrayCollisionsLoader(const ZoCTripleTrayCollisionsLoader&) = delete;
    ZoCTripleTrayCollisionsLoader& operator=(const ZoCTripleTrayCollisionsLoader&) = delete;

    // A loaded table goes to `callback` at once, on the caller's thread. Otherwise the load is
    // queued on this loader's thread and the callback runs there with the table once it is
    // complete; when another loader is reading the file just then, this one waits for that read
    // instead of reading the file again. A file that yields no record leaves the table empty:
    // the callback still runs, and the next call tries again. Callbacks run under the table's
    // lock, so that the table cannot change under them: they must not wait for another thread
    // that asks for the table.
    void LoadAsync(TCallback callback);

    // Whether the process-wide table holds any record.
    static bool IsLoaded();
    // Empties the table so that the next load reads the file again; false (and nothing done)
    // while a load runs. Only for hosts and tests that know no planning holds the table.
    static bool ResetTable();
    // Adds the path of one valid record below `root`, sharing the prefix it has in common with
    // earlier records; a record equal to an earlier one adds nothing.
    static void AddRecord(const LineParser::LineRep& record, AxisNode& root);
    // Reads the file into `root` and logs how many records it held and how many lines were
    // skipped; false when it cannot be read or `cancel` was set while reading (the tree is then
    // left without children). The tree is the one AddRecord gives record by record, children
    // in the order the file first names them.
    static bool ReadTable(const char* fileName, AxisNode& root, const std::atomic<bool>* cancel = nullptr);

private:
    static void loadTask(const TCallback& callback, const std::atomic<bool>& cancel, std::atomic<int>& tasks);
    static Logging::CLogger& logger();

    std::atomic<bool> m_bCancel{false};
    std::atomic<int> m_iTasks{0};  // loads queued or running on this loader's thread
    // Last, so that it is destroyed first: its destructor joins the thread whose task reads
    // the two flags above.
    ZoCThreadPool m_threadPool{1};
};
