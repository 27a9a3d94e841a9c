// Image tools component: a small pool of worker threads that run submitted tasks in the order
// they were submitted. The triple-tray steering reads its joint collision table on a pool of
// one thread, so that its construction never waits for the file.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

class ZoCThreadPool {
public:
    using THook = std::function<void()>;

    // Starts `numThreads` workers (at least one). `onStart` runs on each worker before its first
    // task and `onStop` after its last; either may be empty.
    explicit ZoCThreadPool(int numThreads = 1, THook onStart = {}, THook onStop = {});
    // Tasks that have not started are dropped (their futures report a broken promise); tasks
    // that are running finish; then the workers are joined. Must not run on a worker.
    ~ZoCThreadPool();
    ZoCThreadPool(const ZoCThreadPool&) = delete;
    ZoCThreadPool& operator=(const ZoCThreadPool&) = delete;

    // Queues `task`; its result (or exception) arrives through the future. A caller that drops
    // the future does not wait for the task.
    template <class F>
    std::future<std::invoke_result_t<std::decay_t<F>>> Submit(F&& task) {
        using TResult = std::invoke_result_t<std::decay_t<F>>;
        auto packaged = std::make_shared<std::packaged_task<TResult()>>(std::forward<F>(task));
        std::future<TResult> result = packaged->get_future();
        enqueue([packaged] { (*packaged)(); });
        return result;
    }

    int GetNumThreads() const { return static_cast<int>(m_workers.size()); }
    // Tasks queued and not yet started.
    size_t GetPendingCount() const;

private:
    // False (and the job dropped) once the pool is stopping.
    bool enqueue(std::function<void()> job);
    void workerLoop();

    THook m_onStart;
    THook m_onStop;
    mutable std::mutex m_mutex;  // guards m_jobs and m_bStopping
    std::condition_variable m_jobArrived;
    std::deque<std::function<void()>> m_jobs;
    bool m_bStopping = false;
    std::vector<std::thread> m_workers;
};
