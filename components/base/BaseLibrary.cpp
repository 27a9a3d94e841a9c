// Base library: events and the pthread side of threads.
#include "BaseLibrary.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

void CbEvent::Set() {
    // Notify under the lock: a waiter that sees the event set may destroy it at once, so the
    // notification must be over before the waiter can get the mutex back.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = true;
    m_changed.notify_all();
}

void CbEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = false;
}

bool CbEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_set;
}

bool CbEvent::Wait(unsigned long timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeoutMs == INFINITE) {
        m_changed.wait(lock, [this] { return m_set; });
    } else if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_set; })) {
        return false;
    }
    if (!m_manualReset) m_set = false;
    return true;
}

namespace BaseLibraryDetail {

uint64_t ProcessAffinityMask() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0) return 0;
    uint64_t mask = 0;
    for (int cpu = 0; cpu < 64; ++cpu)
        if (CPU_ISSET(cpu, &set)) mask |= (uint64_t{1} << cpu);
    return mask;
}

void ApplyAffinityMask(uint64_t mask) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < 64; ++cpu)
        if (mask & (uint64_t{1} << cpu)) CPU_SET(cpu, &set);
    // Refused where the sandbox forbids it; the thread then keeps the inherited affinity.
    (void)pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
}

void ApplyThreadPriority(int priority) {
    // Windows priorities run from -15 (idle) to 15 (time critical); map onto nice values.
    // Raising priority needs privileges that a host rarely has: a refusal is ignored.
    (void)setpriority(PRIO_PROCESS, 0, -priority);
}

void SetCurrentThreadName(const char* name) {
    char shortName[16] = {0};  // the kernel keeps 15 characters
    for (int i = 0; i < 15 && name && name[i]; ++i) shortName[i] = name[i];
    (void)pthread_setname_np(pthread_self(), shortName);
}

}  // namespace BaseLibraryDetail
