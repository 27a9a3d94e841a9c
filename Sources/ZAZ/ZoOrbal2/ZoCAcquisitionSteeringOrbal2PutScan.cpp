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
        // A worker that has ended will never take what is left: nothing to wait for.
        if (m_bCancel.load() && !IsAlive()) return;
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
    // Cancelled: the scans still queued are dropped, so that every later wait for an empty
    // queue returns at once instead of waiting for a worker that is gone.
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.clear();
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

bool isInvalid(const float* p, const CbVector3f& invalid) {
    return p[0] == invalid.x && p[1] == invalid.y && p[2] == invalid.z;
}

// Converts the valid points of one row of contiguous points, run by run: runs of valid points
// transform without a branch, which lets the compiler vectorise them. Returns the new count.
size_t convertRow(const float* row, int y, int left, int right, const CbVector3f& invalid, const FoldedTransform& f,
                  float* points, int* pixels, size_t count) {
    const float* c = f.c;
    int x = left;
    while (x < right) {
        while (x < right && isInvalid(row + 3 * x, invalid)) ++x;
        const int start = x;
        while (x < right && !isInvalid(row + 3 * x, invalid)) ++x;
        const int n = x - start;
        const float* p = row + 3 * start;
        float* q = points + 3 * count;
        for (int k = 0; k < n; ++k) {
            const float px = p[3 * k], py = p[3 * k + 1], pz = p[3 * k + 2];
            q[3 * k] = c[0] * px + c[1] * py + c[2] * pz + c[3];
            q[3 * k + 1] = c[4] * px + c[5] * py + c[6] * pz + c[7];
            q[3 * k + 2] = c[8] * px + c[9] * py + c[10] * pz + c[11];
        }
        if (pixels)
            for (int k = 0; k < n; ++k) {
                pixels[2 * (count + k)] = start + k;
                pixels[2 * (count + k) + 1] = y;
            }
        count += static_cast<size_t>(n);
    }
    return count;
}

}  // namespace

// Runs on the worker thread (tests may call it while the worker is idle).
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
    if (capacity > m_uHandOffCapacity) {
        m_pHandOffPoints = std::make_unique_for_overwrite<float[]>(3 * capacity);
        m_pHandOffPixels = std::make_unique_for_overwrite<int[]>(2 * capacity);
        m_uHandOffCapacity = capacity;
    }
    float* const points = m_pHandOffPoints.get();
    int* const pixels = m_pHandOffPixels.get();
    size_t count = 0;

    const CbMatrix4Rf& toDisc = m_trafoImageAreaToDisc;
    const CbMatrix4Rf& planning = m_planningTrafo;
    // The common case, contiguous points and affine frames without a z limit, converts whole
    // runs of valid points at once; everything else goes point by point.
    const bool folded = isAffine(toDisc) && isAffine(planning) && !rotationScan;
    const FoldedTransform f = fold(toDisc, planning);
    for (const ZoCFieldCoord& field : fields) {
        const ZoCRect2& rect = field.RectValid();
        const CbVector3f invalid = field.GetInvalidValue();
        const uint8_t* data = field.Data();
        if (!data) continue;
        const bool contiguous = field.ColumnStride() == static_cast<int64_t>(3 * sizeof(float));
        for (int y = rect.top; y < rect.bottom; ++y) {
            const uint8_t* row = data + y * field.RowStride();
            if (folded && contiguous) {
                count = convertRow(reinterpret_cast<const float*>(row), y, rect.left, rect.right, invalid, f, points,
                                   associated ? pixels : nullptr, count);
                continue;
            }
            for (int x = rect.left; x < rect.right; ++x) {
                const float* p = reinterpret_cast<const float*>(row + x * field.ColumnStride());
                if (p[0] == invalid.x && p[1] == invalid.y && p[2] == invalid.z) continue;
                const CbVector3f disc = ZoCPlanningFrame::ImageAreaToDisc(toDisc, CbVector3f(p[0], p[1], p[2]));
                if (disc.z > zLimit) continue;
                const CbVector3f r = ZoCPlanningFrame::DiscToPlanning(planning, disc);
                float* q = points + 3 * count;
                q[0] = r.x;
                q[1] = r.y;
                q[2] = r.z;
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
    record.points = points;
    record.numPointFloats = static_cast<uint32_t>(3 * count);
    if (associated) {
        record.pixels = pixels;
        record.numPixelInts = static_cast<uint32_t>(2 * count);
        std::copy(joints, joints + 5, record.joints);
    } else {
        record.numPixelInts = rotationScan ? 0u : 0xFFFFFFFFu;
    }
    m_pPlanning->PutScan(record);
    ++m_iFrameCount;
    return true;
}
