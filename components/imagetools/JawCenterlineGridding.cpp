// Gridding of a point cloud into the columns of a box, keeping the highest point per column.
#include "JawCenterlineTools.h"
#include "Logging.h"

#include <cfloat>
#include <cmath>

namespace jawcenterline {

namespace {
const Logging::CLogger& griddingLogger() {
    static const Logging::CLogger logger("ZAZ.ImageTools.JawCenterLine.Gridding");
    return logger;
}

bool isFinite(const CbVector3f& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Cells along one axis from `lo` to `hi`: the extent divided by the cell size, rounded up, at
// least one. The corners are floats, so a box built as centre +- half its width has an extent
// that is off by a few units in the last place of its corners' magnitude (3200.0002 for
// 3200 at a centre near 5000): a quotient within that error of a whole number is that
// number, so an exact fit never gains a column.
int cellCount(float lo, float hi, float cell) {
    const double extent = static_cast<double>(hi) - static_cast<double>(lo);
    const double exact = extent / cell;
    const double slack = 4.0 * (std::fabs(static_cast<double>(lo)) + std::fabs(static_cast<double>(hi))) *
                         FLT_EPSILON / cell;
    const double nearest = std::round(exact);
    const double n = std::fabs(exact - nearest) <= slack ? nearest : std::ceil(exact);
    return n < 1 ? 1 : (n > 1 << 20 ? 1 << 20 : static_cast<int>(n));
}

// Index of `v` along an axis starting at `origin`; the upper face falls into the last cell.
int axisCell(float v, float origin, float cell, int size) {
    const int i = static_cast<int>(std::floor((v - origin) / cell));
    return i >= size ? size - 1 : i;
}
}  // namespace

bool ZoCGriddingAlgo2D::CellOf(const CbVector3f& p, const CbVector3f& origin, const CbVector3f& cellSize,
                               int sizeX, int sizeY, int& ix, int& iy) {
    ix = axisCell(p.x, origin.x, cellSize.x, sizeX);
    iy = axisCell(p.y, origin.y, cellSize.y, sizeY);
    return ix >= 0 && iy >= 0;
}

template <class TCell, class TAlgo, template <class> class TContainer>
bool ZoCGridding3D<TCell, TAlgo, TContainer>::Init(const CyBoundingBox3D& box, const CbVector3f& cellSize) {
    m_bValid = false;
    m_cells.Clear();
    if (box.IsEmpty() || !isFinite(box.GetMin()) || !isFinite(box.GetMax())) {
        if (griddingLogger().IsLogLevelEnabled(Logging::Error))
            griddingLogger().Error(__FILE__, __LINE__, __func__, L"Invalid grid bounds");
        return false;
    }
    const bool allLargest = cellSize.x == FLT_MAX && cellSize.y == FLT_MAX && cellSize.z == FLT_MAX;
    if (allLargest || !(cellSize.x > 0) || !(cellSize.y > 0) || !(cellSize.z > 0)) {
        if (griddingLogger().IsLogLevelEnabled(Logging::Error))
            griddingLogger().Error(__FILE__, __LINE__, __func__, L"Invalid Gridsize");
        return false;
    }
    m_box = box;
    m_cellSize = cellSize;
    m_iSizeX = cellCount(box.GetMin().x, box.GetMax().x, cellSize.x);
    m_iSizeY = cellCount(box.GetMin().y, box.GetMax().y, cellSize.y);
    m_bValid = true;
    return true;
}

template <class TCell, class TAlgo, template <class> class TContainer>
void ZoCGridding3D<TCell, TAlgo, TContainer>::Add(const CbVector3f& p) {
    if (!m_bValid)
        return;
    const CbVector3f& lo = m_box.GetMin();
    const CbVector3f& hi = m_box.GetMax();
    // Written so that NaN coordinates fail every comparison and stay outside.
    if (!(p.x >= lo.x && p.x <= hi.x && p.y >= lo.y && p.y <= hi.y && p.z >= lo.z && p.z <= hi.z))
        return;
    int ix = 0, iy = 0;
    if (!TAlgo::CellOf(p, lo, m_cellSize, m_iSizeX, m_iSizeY, ix, iy))
        return;
    m_cells.Provide(ix, iy).Add(p);
}

template class ZoCGridding3D<ZoCGridCell3DMaxZ, ZoCGriddingAlgo2D, ZoCGridCellContainer>;

}  // namespace jawcenterline
