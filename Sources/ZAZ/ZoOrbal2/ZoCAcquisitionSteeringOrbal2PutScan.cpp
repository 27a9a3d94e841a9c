// The scan hand-off: a bounded queue of recorded scans between the host's threads and one
// worker thread, and the conversion of a scan into the planning frame.
#include "ZoCAcquisitionSteeringOrbal2.h"

#include "ZoCPlanningFrame.h"

#include <chrono>
#include <limits>
#include <memory>

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

namespace {

bool isAffine(const CbMatrix4Rf& m) { return m(3, 0) == 0 && m(3, 1) == 0 && m(3, 2) == 0 && m(3, 3) == 1; }

// Image area -> planning frame in one step when both transformations are affine:
// planning * diag(1, 1, -1) * 0.025 * imageAreaToDisc, formed in double precision; and the
// disc z of a point, to test it against the rotation scan's limit.
struct FoldedTransform {
    float c[12];  // rows 0..2 of the combined matrix
    float z[4];   // row 2 of 0.025 * imageAreaToDisc
};

FoldedTransform fold(const CbMatrix4Rf& toDisc, const CbMatrix4Rf& planning) {
    double a[3][4], p[3][4];
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 4; ++col) {
            a[r][col] = ZoCPlanningFrame::c_fImageAreaToDisc * static_cast<double>(toDisc(r, col)) * (r == 2 ? -1 : 1);
            p[r][col] = planning(r, col);
        }
    FoldedTransform f;
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 4; ++col) {
            double v = col == 3 ? p[r][3] : 0.0;
            for (int k = 0; k < 3; ++k) v += p[r][k] * a[k][col];
            f.c[4 * r + col] = static_cast<float>(v);
        }
    for (int col = 0; col < 4; ++col) f.z[col] = static_cast<float>(-a[2][col]);
    return f;
}

}  // namespace

bool ZoCAcquisitionSteeringOrbal2::putScanSync(const std::vector<ZoCFieldCoord>& fields, const GUID& id) {
    if (fields.empty()) return false;
    float joints[5] = {0, 0, 0, 0, 0};
    const float* associated = GetDHParametersForImageSourceID(id);
    if (associated) std::copy(associated, associated + 5, joints);

    const bool rotationScan = fields.size() == 8;
    const float zLimit = rotationScan ? getZLimitOfRotScan(fields) + 15.0f : std::numeric_limits<float>::max();

    // Room for every cell of the valid rectangles; filled front to back without checks.
    size_t capacity = 0;
    for (const ZoCFieldCoord& field : fields)
        capacity += static_cast<size_t>(field.RectValid().Width()) * static_cast<size_t>(field.RectValid().Height());
    const auto points = std::make_unique_for_overwrite<float[]>(3 * capacity);
    const auto pixels = std::make_unique_for_overwrite<int[]>(associated ? 2 * capacity : 0);
    size_t count = 0;

    const CbMatrix4Rf& toDisc = m_trafoImageAreaToDisc;
    const CbMatrix4Rf& planning = m_planningTrafo;
    const bool affine = isAffine(toDisc) && isAffine(planning);
    const FoldedTransform f = fold(toDisc, planning);
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
                float* q = points.get() + 3 * count;
                if (affine) {
                    if (rotationScan && f.z[0] * p[0] + f.z[1] * p[1] + f.z[2] * p[2] + f.z[3] > zLimit) continue;
                    q[0] = f.c[0] * p[0] + f.c[1] * p[1] + f.c[2] * p[2] + f.c[3];
                    q[1] = f.c[4] * p[0] + f.c[5] * p[1] + f.c[6] * p[2] + f.c[7];
                    q[2] = f.c[8] * p[0] + f.c[9] * p[1] + f.c[10] * p[2] + f.c[11];
                } else {
                    const CbVector3f disc = ZoCPlanningFrame::ImageAreaToDisc(toDisc, CbVector3f(p[0], p[1], p[2]));
                    if (disc.z > zLimit) continue;
                    const CbVector3f r = ZoCPlanningFrame::DiscToPlanning(planning, disc);
                    q[0] = r.x;
                    q[1] = r.y;
                    q[2] = r.z;
                }
                if (associated) {
                    pixels[2 * count] = x;
                    pixels[2 * count + 1] = y;
                }
                ++count;
            }
        }
    }
    if (count == 0) return false;

    ZoCOrbal2AcquisitionPlanning::NSScanRecord record;
    record.points = points.get();
    record.numPointFloats = static_cast<uint32_t>(3 * count);
    if (associated) {
        record.pixels = pixels.get();
        record.numPixelInts = static_cast<uint32_t>(2 * count);
        std::copy(joints, joints + 5, record.joints);
    } else {
        record.numPixelInts = rotationScan ? 0u : 0xFFFFFFFFu;
    }
    m_pPlanning->PutScan(record);
    ++m_iFrameCount;
    return true;
}
