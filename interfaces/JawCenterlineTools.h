// Image tools component, jaw centre-line tools: gridding a point cloud into a height image,
// the gray height image with its 2D <-> 3D conversion, and the contour extractor that reads
// the image along a line across the jaw.
//
// Frames: the tools take points as they come (the triple-tray steering gives image-area
// coordinates with z pointing up, away from the disc). Image pixel (i, j) is the grid cell
// whose x range starts at origin.x + i * pixel size x (likewise y); gray 0 means "no point".
#pragma once

#include "Geometry.h"

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace jawcenterline {

// Grid parameters of the jaw centre-line tools.
//
// Defaults, in image-area units (40 per millimetre):
//   cell size        10      (0.25 mm: a tooth of 8 mm spans 32 cells)
//   grid width       320 cells, grid height 320 cells: an 80 mm square, so a dental arch of
//                    about 52 x 46 mm fits even when the square is centred on the mean of its
//                    points, which lies well inside the arch's U
//   depth below      1200    (30 mm below the centre of the points)
//   depth above      1200    (30 mm above it: a tray or a jaw model is at most about 25 mm high)
// With these, one gray level is 2400 / 255 = 9.4 units (0.24 mm) of height.
struct ZoCJawCenterLineFinderParameter {
    static constexpr int c_iDefaultGridWidth = 320;
    static constexpr int c_iDefaultGridHeight = 320;
    static constexpr float c_fDefaultCellSize = 10.0f;
    static constexpr float c_fDefaultDepthBelow = 1200.0f;
    static constexpr float c_fDefaultDepthAbove = 1200.0f;

    int m_iGridWidth = c_iDefaultGridWidth;
    int m_iGridHeight = c_iDefaultGridHeight;
    float m_fCellSize = c_fDefaultCellSize;
    float m_fDepthBelow = c_fDefaultDepthBelow;
    float m_fDepthAbove = c_fDefaultDepthAbove;
};

// ---------------------------------------------------------------------------------------------
// Gridding

// A grid cell that keeps the highest point (largest z) that fell into it.
struct ZoCGridCell3DMaxZ {
    CbVector3f m_point;
    int m_iCount = 0;
    void Add(const CbVector3f& p) {
        if (m_iCount == 0 || p.z > m_point.z)
            m_point = p;
        ++m_iCount;
    }
};

// Cells laid out over x and y only: a column of the box is one cell, so a height image needs
// no search along z.
struct ZoCGriddingAlgo2D {
    // Cell index (ix, iy) of `p` in a grid at `origin` with `cellSize`; false outside [0, size).
    static bool CellOf(const CbVector3f& p, const CbVector3f& origin, const CbVector3f& cellSize, int sizeX,
                       int sizeY, int& ix, int& iy);
};

// Sparse cell storage: a cell exists once its first point has arrived.
template <class TCell>
class ZoCGridCellContainer {
  public:
    TCell& Provide(int ix, int iy) { return m_cells[key(ix, iy)]; }
    const TCell* Find(int ix, int iy) const {
        const auto it = m_cells.find(key(ix, iy));
        return it == m_cells.end() ? nullptr : &it->second;
    }
    size_t GetCount() const { return m_cells.size(); }
    void Clear() { m_cells.clear(); }
    // Calls f(ix, iy, cell) for every existing cell.
    template <class F>
    void ForEach(F&& f) const {
        for (const auto& [k, cell] : m_cells)
            f(static_cast<int>(k >> 32), static_cast<int>(k & 0xffffffffu), cell);
    }

  private:
    static int64_t key(int ix, int iy) {
        return (static_cast<int64_t>(ix) << 32) | static_cast<uint32_t>(iy);
    }
    std::unordered_map<int64_t, TCell> m_cells;
};

// Points gridded into the cells of a box. Points outside the box are ignored; points on its
// faces count as inside (the upper faces fall into the last cell).
template <class TCell, class TAlgo, template <class> class TContainer>
class ZoCGridding3D {
  public:
    // Sets the box and the cell size and empties the grid. False, with Error "Invalid grid
    // bounds", for an empty or non-finite box; false, with Error "Invalid Gridsize", when all
    // three cell size components are the largest float or any is not positive.
    bool Init(const CyBoundingBox3D& box, const CbVector3f& cellSize);
    void Add(const CbVector3f& p);
    void Add(const std::vector<CbVector3f>& points) {
        for (const CbVector3f& p : points)
            Add(p);
    }
    bool IsValid() const { return m_bValid; }
    int GetSizeX() const { return m_iSizeX; }
    int GetSizeY() const { return m_iSizeY; }
    const CyBoundingBox3D& GetBox() const { return m_box; }
    const TContainer<TCell>& GetCells() const { return m_cells; }

  private:
    bool m_bValid = false;
    CyBoundingBox3D m_box;
    CbVector3f m_cellSize;
    int m_iSizeX = 0;
    int m_iSizeY = 0;
    TContainer<TCell> m_cells;
};

using ZoCHeightGridding = ZoCGridding3D<ZoCGridCell3DMaxZ, ZoCGriddingAlgo2D, ZoCGridCellContainer>;
extern template class ZoCGridding3D<ZoCGridCell3DMaxZ, ZoCGriddingAlgo2D, ZoCGridCellContainer>;

// ---------------------------------------------------------------------------------------------
// Gray height image

// An image position (column, row).
struct ZoNImagePos {
    int x = 0;
    int y = 0;
    friend bool operator==(const ZoNImagePos&, const ZoNImagePos&) = default;
};

// A byte image of heights with the conversion between image and 3D coordinates:
//   3D = origin + (x * pixel.x, y * pixel.y, gray * pixel.z).
class ZoCGrayImage {
  public:
    ZoCGrayImage() = default;
    ZoCGrayImage(int width, int height) { Resize(width, height); }

    // A negative size gives an empty image.
    void Resize(int width, int height);
    int GetWidth() const { return m_iWidth; }
    int GetHeight() const { return m_iHeight; }
    void SetAllZero();
    bool IsInside(int x, int y) const { return x >= 0 && y >= 0 && x < m_iWidth && y < m_iHeight; }
    // Pixel (x, y); 0 outside the image.
    uint8_t GetValue(int x, int y) const { return IsInside(x, y) ? m_pixels[index(x, y)] : uint8_t{0}; }
    // Ignored outside the image.
    void SetValue(int x, int y, uint8_t value) {
        if (IsInside(x, y))
            m_pixels[index(x, y)] = value;
    }
    const std::vector<uint8_t>& Pixels() const { return m_pixels; }

    void SetConversionParameterFrom2DTo3D(const CbVector3f& origin, const CbVector3f& pixelSize);
    const CbVector3f& GetOrigin() const { return m_origin; }
    const CbVector3f& GetPixelSize() const { return m_pixelSize; }
    // Image coordinates (x, y) and gray level (z) of a 3D point; a zero pixel size component
    // gives 0 there.
    CbVector3f ConvertFrom3DTo2D(const CbVector3f& p) const;
    // The 3D point of image coordinates (x, y) at gray level `gray`.
    CbVector3f ConvertFrom2DTo3D(float x, float y, float gray) const;
    // The 3D point of pixel `pos` at its own gray level.
    CbVector3f ConvertFrom2DTo3D(const ZoNImagePos& pos) const {
        return ConvertFrom2DTo3D(static_cast<float>(pos.x), static_cast<float>(pos.y),
                                 GetValue(pos.x, pos.y));
    }

  private:
    size_t index(int x, int y) const { return static_cast<size_t>(y) * static_cast<size_t>(m_iWidth) + x; }
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::vector<uint8_t> m_pixels;
    CbVector3f m_origin;
    CbVector3f m_pixelSize{1, 1, 1};
};

// ---------------------------------------------------------------------------------------------
// Contour extractor

// Reads a gray image along the line through the current position in a given direction (the
// cross line), sampling the nearest pixel at every whole offset -halfLength .. halfLength.
//
// Object 0 is the weighted profile that marks where the object ends: the gray values, with
// gaps of up to 2 * c_iGapRadius samples closed (a morphological closing along the line, so
// small holes in the surface do not read as the object's end), plus c_fDistanceWeight per
// sample of distance from the position. Among the samples beyond some distance the smallest
// value is then the empty sample nearest to the position: the object's edge on that side.
// Object 1 is the raw profile (gray values only). Samples outside the image are left out.
class ZoCImageContourExtractor {
  public:
    static constexpr int c_iDefaultHalfLength = 80;
    static constexpr int c_iGapRadius = 2;
    static constexpr float c_fDistanceWeight = 1.0f;

    // `direction` need not be unit length; a zero direction gives empty profiles.
    ZoCImageContourExtractor(const ZoCGrayImage& image, const CbVector2f& direction, const ZoNImagePos& pos,
                             int halfLength = c_iDefaultHalfLength);

    void SetCurrentImagePos(const ZoNImagePos& pos) { m_pos = pos; }
    const ZoNImagePos& GetCurrentImagePos() const { return m_pos; }
    // (offset, value) pairs in ascending offset; empty for an object index other than 0 or 1.
    std::vector<std::pair<int, float>> GetObjectW(int object) const;
    // The pixel the cross line reaches at `offset` from the current position (may lie outside
    // the image).
    ZoNImagePos GetImagePosByLinesPos(int offset) const;

  private:
    const ZoCGrayImage& m_image;
    CbVector2f m_direction;  // unit length, or zero
    ZoNImagePos m_pos;
    int m_iHalfLength;
};

}  // namespace jawcenterline
