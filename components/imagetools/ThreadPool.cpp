// The image tools' thread pool: a queue of jobs under one mutex and workers that take them in
// order until the pool stops.
#include "ThreadPool.h"

#include <algorithm>

ZoCThreadPool::ZoCThreadPool(int numThreads, THook onStart, THook onStop)
    : m_onStart(std::move(onStart)), m_onStop(std::move(onStop)) {
    const int count = std::max(numThreads, 1);
    m_workers.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        m_workers.emplace_back([this] { workerLoop(); });
}

ZoCThreadPool::~ZoCThreadPool() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
        dropped.swap(m_jobs);
    }
    m_jobArrived.notify_all();
    // Destroying a job that never ran breaks its promise: whoever kept the future learns it.
    dropped.clear();
    for (std::thread& worker : m_workers)
        if (worker.joinable())
            worker.join();
}

size_t ZoCThreadPool::GetPendingCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_jobs.size();
}

bool ZoCThreadPool::enqueue(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStopping)
            return false;
        m_jobs.push_back(std::move(job));
    }
    m_jobArrived.notify_one();
    return true;
}

void ZoCThreadPool::workerLoop() {
    if (m_onStart)
        m_onStart();
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_jobArrived.wait(lock, [this] { return m_bStopping || !m_jobs.empty(); });
            if (m_bStopping)
                break;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        // A packaged task keeps its own exception; a plain job that throws must not end the worker.
        try {
            job();
        } catch (...) {
        }
    }
    if (m_onStop)
        m_onStop();
}
