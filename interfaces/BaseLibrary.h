// Base library: events, locks, threads, lists, exceptions and reference counting, as the
// library's Windows heritage names them, built on the standard library and pthreads.
#pragma once

#include "Platform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <list>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>

constexpr unsigned long INFINITE = 0xFFFFFFFFul;

// ---------------------------------------------------------------------------------------------
// Exceptions. Each carries the source text of the operation that raised it.
class CbException : public std::exception {
public:
    explicit CbException(std::string source) : m_source(std::move(source)) {}
    const char* what() const noexcept override { return m_source.c_str(); }
    const std::string& GetSource() const { return m_source; }

private:
    std::string m_source;
};

// Raised by 4x4 inversion when the determinant is zero.
class CyExceptionNotInvertible : public CbException {
public:
    using CbException::CbException;
};

// ---------------------------------------------------------------------------------------------
// Event with manual or automatic reset. The mutex guards the signalled flag.
class CbEvent {
public:
    explicit CbEvent(bool manualReset = true, bool initiallySet = false)
        : m_manualReset(manualReset), m_set(initiallySet) {}
    CbEvent(const CbEvent&) = delete;
    CbEvent& operator=(const CbEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until the event is set or `timeoutMs` passed (INFINITE: no time-out). True when set.
    bool Wait(unsigned long timeoutMs = INFINITE);

private:
    const bool m_manualReset;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set;
};

// Recursive lock.
class CbCriticalSection {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    bool TryLock() { return m_mutex.try_lock(); }
    // Lets std::lock_guard and std::unique_lock take it.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// Reader/writer lock of the threading library, and its scoped reader.
class ZoCThreadSync {
public:
    void LockRead() { m_mutex.lock_shared(); }
    void UnlockRead() { m_mutex.unlock_shared(); }
    void LockWrite() { m_mutex.lock(); }
    void UnlockWrite() { m_mutex.unlock(); }

private:
    std::shared_mutex m_mutex;
};

class ZoCThreadSyncAutoRead {
public:
    explicit ZoCThreadSyncAutoRead(ZoCThreadSync& sync) : m_sync(sync) { m_sync.LockRead(); }
    ~ZoCThreadSyncAutoRead() { m_sync.UnlockRead(); }
    ZoCThreadSyncAutoRead(const ZoCThreadSyncAutoRead&) = delete;
    ZoCThreadSyncAutoRead& operator=(const ZoCThreadSyncAutoRead&) = delete;

private:
    ZoCThreadSync& m_sync;
};

// ---------------------------------------------------------------------------------------------
// Doubly linked list with the base library's names.
template <class T>
class CbList {
public:
    using iterator = typename std::list<T>::iterator;
    using const_iterator = typename std::list<T>::const_iterator;

    // Appends a copy; at the list's size limit throws std::length_error("list too long").
    void AddTail(const T& item) {
        checkRoom();
        m_items.push_back(item);
    }
    void AddHead(const T& item) {
        checkRoom();
        m_items.push_front(item);
    }
    T RemoveHead() {
        T head = std::move(m_items.front());
        m_items.pop_front();
        return head;
    }
    T& GetHead() { return m_items.front(); }
    const T& GetHead() const { return m_items.front(); }
    T& GetTail() { return m_items.back(); }
    int64_t GetCount() const { return static_cast<int64_t>(m_items.size()); }
    bool IsEmpty() const { return m_items.empty(); }
    void RemoveAll() { m_items.clear(); }
    iterator begin() { return m_items.begin(); }
    iterator end() { return m_items.end(); }
    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }

private:
    void checkRoom() const {
        if (m_items.size() >= m_items.max_size()) throw std::length_error("list too long");
    }
    std::list<T> m_items;
};

// ---------------------------------------------------------------------------------------------
// Reference counting.
template <class T>
class CbReferenceCounter {
public:
    T AddRef() { return ++m_count; }
    T Release() { return --m_count; }
    T Get() const { return m_count; }

private:
    T m_count = 0;
};

class IReferenceCounted {
public:
    virtual ~IReferenceCounted() = default;
    virtual CbReferenceCounter<unsigned int>& getReferenceCounter() = 0;
};

// ---------------------------------------------------------------------------------------------
// Threads. `CbThread<T, Policy>` runs `T::Run()` on its own thread; `T` may also provide
// `OnThreadStart()` (returns false to fail the start) and `OnThreadExit(HRESULT)`.
struct CbThreadPolicyMFC {};

namespace BaseLibraryDetail {
// The process's CPU affinity as a bit mask (0 when unknown), and applying one to the caller.
uint64_t ProcessAffinityMask();
void ApplyAffinityMask(uint64_t mask);
// Applies a relative priority to the calling thread where the system permits it.
void ApplyThreadPriority(int priority);
void SetCurrentThreadName(const char* name);
}  // namespace BaseLibraryDetail

template <class T, class Policy = CbThreadPolicyMFC>
class CbThread {
public:
    // State bits.
    static constexpr unsigned c_uStarting = 1;
    static constexpr unsigned c_uRunning = 2;
    static constexpr unsigned c_uFinished = 4;
    static constexpr unsigned c_uFailed = 16;

    explicit CbThread(const char* name)
        : m_affinityMask(BaseLibraryDetail::ProcessAffinityMask()), m_name(name) {}
    CbThread(const CbThread&) = delete;
    CbThread& operator=(const CbThread&) = delete;
    // The derived class must have ended the loop before this runs; a running thread is joined.
    virtual ~CbThread() {
        if (m_thread.joinable()) m_thread.join();
    }

    // Starts the thread unless it is already starting or running. With `wait`, returns once
    // the thread has run its start hook; the result says whether the thread was started.
    bool Start(bool wait = false) {
        unsigned state = m_state.load();
        if (state & (c_uStarting | c_uRunning)) return false;
        if (m_thread.joinable()) m_thread.join();  // close the handle of a finished run
        CbEvent started(true, false);
        m_startEvent = wait ? &started : nullptr;
        m_state.store(c_uStarting);
        try {
            m_thread = std::thread([this] { threadEntry(); });
        } catch (const std::system_error&) {
            m_state.store(c_uFailed | c_uFinished);
            m_startEvent = nullptr;
            return false;
        }
        if (m_autoDelete) m_thread.detach();
        if (wait) {
            started.Wait();
            m_startEvent = nullptr;
        }
        return true;
    }

    unsigned GetState() const { return m_state.load(); }
    bool IsAlive() const { return (m_state.load() & (c_uStarting | c_uRunning)) != 0; }
    CbEvent& GetFinishedEvent() { return m_finished; }
    const char* GetName() const { return m_name; }
    void SetPriority(int priority) { m_priority = priority; }
    void SetAutoDelete(bool autoDelete) { m_autoDelete = autoDelete; }
    // Joins a thread whose loop has ended (for owners that must not outlive it).
    void Join() {
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
    }

protected:
    // Default hooks; the derived class hides them as needed.
    bool OnThreadStart() { return true; }
    void OnThreadExit(HRESULT) {}

private:
    void threadEntry() {
        m_state.fetch_or(c_uRunning);
        BaseLibraryDetail::SetCurrentThreadName(m_name);
        if (m_priority != 0) BaseLibraryDetail::ApplyThreadPriority(m_priority);
        if (m_affinityMask != 0) BaseLibraryDetail::ApplyAffinityMask(m_affinityMask);
        T* self = static_cast<T*>(this);
        bool failed = false;
        try {
            failed = !self->OnThreadStart();
        } catch (...) {
            failed = true;
        }
        if (m_startEvent) m_startEvent->Set();
        if (!failed) {
            try {
                self->Run();
            } catch (...) {
                failed = true;
            }
        }
        try {
            self->OnThreadExit(failed ? E_FAIL : S_OK);
        } catch (...) {
            failed = true;
        }
        const bool autoDelete = m_autoDelete;
        m_state.store((m_state.load() & ~(c_uStarting | c_uRunning)) | c_uFinished | (failed ? c_uFailed : 0));
        m_finished.Set();
        if (autoDelete) delete self;
    }

    std::thread m_thread;
    const uint64_t m_affinityMask;
    CbEvent* m_startEvent = nullptr;
    CbEvent m_finished{true, false};
    int m_priority = 0;
    std::atomic<unsigned> m_state{0};
    bool m_autoDelete = false;
    const char* m_name;
};
