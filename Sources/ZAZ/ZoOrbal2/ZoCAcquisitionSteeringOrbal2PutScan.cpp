// The scan hand-off: a bounded queue of recorded scans between the host's threads and one
// worker thread, and the conversion of a scan into the planning frame.
#include "ZoCAcquisitionSteeringOrbal2.h"

#include "ZoCPlanningFrame.h"

#include <chrono>
#include <limits>

namespace {
// Host threads waiting for room or for an empty queue look at the cancel flag this often, so
// that a cancelled worker can never leave them blocked.
constexpr auto c_pollInterval = std::chrono::milliseconds(20);
}  // namespace

ZoCAcquisitionSteeringOrbal2::ZoNPutScanThread::ZoNPutScanThread(ZoCAcquisitionSteeringOrbal2& owner)
    : CbThread("PutScanThread"), m_owner(owner) {}

ZoCAcquisitionSteeringOrbal2::ZoNPutScanThread::~ZoNPutScanThread() {
    CancelPutScan();
    while (IsAlive()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Join();
}

void ZoCAcquisitionSteeringOrbal2::ZoNPutScanThread::PutScan(const ZoCFieldCoord& field, const GUID& id) {
    if (m_bCancel.load()) return;
    enqueue(NSQueueItem{std::vector<ZoCFieldCoord>{field}, id});
}

void ZoCAcquisitionSteeringOrbal2::ZoNPutScanThread::PutScanGroup(const std::vector<ZoCFieldCoord>& fields,
                                                                  const GUID& id) {
    if (m_bCancel.load()) return;
    enqueue(NSQueueItem{fields, id});
}

void ZoCAcquisitionSteeringOrbal2::ZoNPutScanThread::enqueue(NSQueueItem item) {
    // Blocks while the queue is full; a cancellation meanwhile drops the scan.
    while (!m_freeSlots.try_acquire_for(c_pollInterval))
        if (m_bCancel.load()) return;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_bCancel.load()) {
            m_freeSlots.release();
            return;
        }
        m_queue.push_back(std::move(item));
        m_queueEmpty.Reset();
    }
    m_items.release();
}

void ZoCAcquisitionSteeringOrbal2::ZoNPutScanThread::CancelPutScan() {
    std::lock_guard<std::mutex> lock(m_cancelMutex);
    if (!m_bCancel.load() && IsAlive()) {
        m_bCancel.store(true);
        m_items.release();
    }
}

void ZoCAcquisitionSteeringOrbal2::ZoNPutScanThread::WaitForEmptyQueue() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            if (m_queue.empty()) return;
        }
        if (m_queueEmpty.Wait(static_cast<unsigned long>(c_pollInterval.count()))) {
            m_queueEmpty.Reset();
            return;
        }
    }
}

size_t ZoCAcquisitionSteeringOrbal2::ZoNPutScanThread::QueuedCount() const {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_queue.size();
}

void ZoCAcquisitionSteeringOrbal2::ZoNPutScanThread::Run() {
    for (;;) {
        m_items.acquire();
        if (m_bCancel.load()) break;
        const NSQueueItem* front = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            front = &m_queue.front();  // stays queued while it is handed on
        }
        try {
            (void)m_owner.putScanSync(front->fields, front->id);
        } catch (...) {
            // A scan that cannot be converted is dropped; the worker goes on with the next.
        }
        m_freeSlots.release();
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.pop_front();
        if (m_queue.empty()) m_queueEmpty.Set();
    }
    m_queueEmpty.Set();
}

bool ZoCAcquisitionSteeringOrbal2::putScanSync(const std::vector<ZoCFieldCoord>& fields, const GUID& id) {
    if (fields.empty()) return false;
    float joints[5] = {0, 0, 0, 0, 0};
    const float* associated = GetDHParametersForImageSourceID(id);
    if (associated) std::copy(associated, associated + 5, joints);

    const bool rotationScan = fields.size() == 8;
    const float zLimit = rotationScan ? getZLimitOfRotScan(fields) + 15.0f : std::numeric_limits<float>::max();

    std::vector<float> points;
    std::vector<int> pixels;
    const CbMatrix4Rf& toDisc = m_trafoImageAreaToDisc;
    const CbMatrix4Rf& planning = m_planningTrafo;
    for (const ZoCFieldCoord& field : fields) {
        const ZoCRect2& rect = field.RectValid();
        const CbVector3f invalid = field.GetInvalidValue();
        const uint8_t* data = field.Data();
        if (!data) continue;
        for (int y = rect.top; y < rect.bottom; ++y) {
            const uint8_t* row = data + y * field.RowStride();
            for (int x = rect.left; x < rect.right; ++x) {
                const float* p = reinterpret_cast<const float*>(row + x * field.ColumnStride());
                if (p[0] == invalid.x && p[1] == invalid.y && p[2] == invalid.z) continue;
                const CbVector3f disc = ZoCPlanningFrame::ImageAreaToDisc(toDisc, CbVector3f(p[0], p[1], p[2]));
                if (disc.z > zLimit) continue;
                const CbVector3f q = ZoCPlanningFrame::DiscToPlanning(planning, disc);
                points.insert(points.end(), {q.x, q.y, q.z});
                if (associated) pixels.insert(pixels.end(), {x, y});
            }
        }
    }
    if (points.empty()) return false;

    ZoCOrbal2AcquisitionPlanning::NSScanRecord record;
    record.points = points.data();
    record.numPointFloats = static_cast<uint32_t>(points.size());
    if (associated && !pixels.empty()) {
        record.pixels = pixels.data();
        record.numPixelInts = static_cast<uint32_t>(pixels.size());
        std::copy(joints, joints + 5, record.joints);
    } else {
        record.numPixelInts = rotationScan ? 0u : 0xFFFFFFFFu;
    }
    m_pPlanning->PutScan(record);
    ++m_iFrameCount;
    return true;
}
