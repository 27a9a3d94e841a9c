// Saw cuts over all overview images: guide lines, 2D cuts lifted to 3D, clusters, face data.
#include "ZoCSawCutDetector.h"

#include "Logging.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace {
Logging::CLogger& logger() {
    static Logging::CLogger instance("ZAZ.ZoOrbal2.SawCut.ZoCSawCutDetector");
    return instance;
}

bool isFinite(const CbVector3f& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// The registration's rotation with each column scaled to unit length (no translation).
CbMatrix4Rf normalisedRotation(const CbMatrix4Rf& m) {
    CbMatrix4Rf r;
    for (int c = 0; c < 3; ++c) {
        const CbVector3f column(m(0, c), m(1, c), m(2, c));
        const float squared = column.Dot(column);
        const CbVector3f unit = squared <= FLT_MIN ? CbVector3f() : column * (1.0f / std::sqrt(squared));
        for (int row = 0; row < 3; ++row)
            r(row, c) = unit[row];
    }
    return r;
}

// Unit vector, or zero when it is too short to have a direction.
CbVector3f unitOrZero(const CbVector3f& v) {
    const float squared = v.Dot(v);
    return squared <= FLT_MIN ? CbVector3f() : v * (1.0f / std::sqrt(squared));
}

// The kept points of one image for nanoflann's k-d tree.
struct PointCloud {
    const std::vector<CbVector3f>& points;
    size_t kdtree_get_point_count() const { return points.size(); }
    float kdtree_get_pt(size_t i, size_t dim) const { return points[i][static_cast<int>(dim)]; }
    template <class Box>
    bool kdtree_get_bbox(Box&) const {
        return false;
    }
};
using PointTree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, PointCloud>,
                                                      PointCloud, 3, uint32_t>;

// Pixel (x, y) of a field clamped into it.
ZoNPixel clampToField(int x, int y, const ZoCFieldRay& rays) {
    return {std::clamp(x, 0, rays.GetWidth() - 1), std::clamp(y, 0, rays.GetHeight() - 1)};
}
}  // namespace

ZoCSawCutDetector::ZoCSawCutDetector(EAreaType areaType, const CyHermiteSpline& skeleton,
                                     const CbMatrix4Rf& transform)
    : m_eAreaType(areaType),
      m_skeleton(skeleton),
      m_matTransform(transform),
      m_fZMinimum(FLT_MAX),
      m_fZMaximum(FLT_MIN) {}

void ZoCSawCutDetector::Run() {
    // Positions along the skeleton are asked by arc length, which a spline knows only once it
    // has been sampled.
    if (m_skeleton.GetLength() <= 0 && m_skeleton.GetNumControlPoints() >= 2)
        m_skeleton.SubdivideByLength();
    if (!HasUsableSkeleton()) {
        if (logger().IsLogLevelEnabled(Logging::Warn))
            logger().Warn(__FILE__, __LINE__, __func__,
                          L"Saw-cut detection skipped: the skeleton has a knot that is not finite or a length "
                          L"that overflows (%d knots)",
                          m_skeleton.GetNumControlPoints());
        return;
    }
    std::list<ZoNOverviewImage> images;
    listImages(images);
    std::vector<ZoNSawCut3D> cuts;
    detectSawCuts(images, m_skeleton, cuts);
    clusterSawCuts(cuts);
    generateSawCutData(cuts);
    transformSawCutData();
}

// A knot at NaN or Inf, or knots so far apart that the sampled length overflows (3e38), would
// place every guide-line sample and every crossing at NaN: such a skeleton finds no cut.
bool ZoCSawCutDetector::HasUsableSkeleton() const {
    for (const CbVector3f& knot : m_skeleton.GetControlPoints())
        if (!isFinite(knot))
            return false;
    return std::isfinite(m_skeleton.GetLength());
}

// =============================================================================================
// The registered overview images of the area
// =============================================================================================

void ZoCSawCutDetector::listImages(std::list<ZoNOverviewImage>& images) const {
    const CImageArea* area =
        ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2).GetImageArea(m_eAreaType);
    if (!area)
        return;
    ZoCThreadSyncAutoRead lock(area->GetThreadSync());
    CArray<GUID> ids;
    area->ListAllImageSourceIDs(ids);
    for (const GUID& id : ids) {
        const CImageSource* source = area->GetImageSourcePtr(id);
        if (!source || source->GetContentType() != ciContentTypeScan3D || !source->IsCorrelationSuccess())
            continue;
        ZoNOverviewImage image;
        image.m_pImageSource = source;
        image.m_pRangeImage = source->GetImagePtr(CImageTypes::eImageTypeRange);
        image.m_pIntensityImage = source->GetImagePtr(CImageTypes::eImageTypeIntensity);
        if (image.m_pRangeImage) {
            image.m_rangeImage = *image.m_pRangeImage;
            image.m_fieldRange = image.m_pRangeImage->GetFieldRange();
        }
        if (image.m_pIntensityImage)
            image.m_fieldIntensity = image.m_pIntensityImage->GetFieldIntensity();
        image.m_rectValid = ZoCSawCutExtractor::ValidRectangle(image.m_fieldRange);
        image.m_matRegistration = source->GetCorrelationMatrix();
        images.push_back(image);
    }
}

void ZoCSawCutDetector::detectSawCuts(const std::list<ZoNOverviewImage>& images, CyHermiteSpline& skeleton,
                                      std::vector<ZoNSawCut3D>& out) {
    for (const ZoNOverviewImage& image : images)
        detectSawCutSingle(image, skeleton, out);
}

// =============================================================================================
// One image: the points seen, the guide line, the 2D cuts and their lifting
// =============================================================================================

void ZoCSawCutDetector::detectSawCutSingle(const ZoNOverviewImage& image, CyHermiteSpline& skeleton,
                                           std::vector<ZoNSawCut3D>& out) {
    const ZoCFieldRay* rays = image.m_pRangeImage ? image.m_rangeImage.GetFieldRayPtr() : nullptr;
    if (!rays || rays->IsOrtho25())
        return;
    const ZoCRect2& rect = image.m_rectValid;
    if (rays->GetWidth() < rect.right || rays->GetHeight() < rect.bottom)
        return;  // rays of another image

    std::vector<CbVector3f> cameraPoints;
    std::vector<ZoNPixel> pixels;
    collectPoints(image, *rays, cameraPoints, pixels);
    ZoCSawCutExtractor::ZoNGuideLine guideLine;
    if (!fitGuideLine(image, cameraPoints, pixels, skeleton, guideLine))
        return;
    ZoCSawCutExtractor extractor(image.m_rangeImage, guideLine);
    std::vector<ZoCSawCutExtractor::ZoNSawCut> cuts;
    extractor.detectSawCuts(cuts);
    for (const ZoCSawCutExtractor::ZoNSawCut& cut : cuts) {
        ZoNSawCut3D lifted;
        if (cut.m_bValid && liftSawCut(cut, image, *rays, skeleton, lifted))
            out.push_back(lifted);
    }
}

// Every 4th pixel with a range: its point in the camera frame (to match the skeleton against)
// with its pixel relative to the valid rectangle (as the bitmap's), and its height in the image
// area for the statistics; the mean height places the lifted cuts.
void ZoCSawCutDetector::collectPoints(const ZoNOverviewImage& image, const ZoCFieldRay& rays,
                                      std::vector<CbVector3f>& cameraPoints, std::vector<ZoNPixel>& pixels) {
    const ZoCFieldRange& range = image.m_fieldRange;
    const ZoCRect2& rect = image.m_rectValid;
    cameraPoints.clear();
    pixels.clear();
    for (int y = rect.top; y < rect.bottom; y += ciPointStep)
        for (int x = rect.left; x < rect.right; x += ciPointStep) {
            const float r = range.At(x, y);
            if (!ZoCSawCutExtractor::IsRange(r))
                continue;
            const CbVector3f p = rays.GetCoord(x, y, r);
            const float z = image.m_matRegistration.TransformPoint(p).z;
            cameraPoints.push_back(p);
            pixels.push_back({x - rect.left, y - rect.top});
            m_fZMinimum = std::min(m_fZMinimum, z);
            m_fZMaximum = std::max(m_fZMaximum, z);
            m_fZSumMean += z;
        }
    if (cameraPoints.size() > 3)
        m_fZSumMean /= static_cast<float>(cameraPoints.size());
}

// The skeleton seen in the image: each of 512 samples along it, taken into the camera frame,
// lands on the pixel of its nearest point seen; u(t) and v(t) of degree 2 are fitted to the
// pixels that keep clear of the border. Throws CyExceptionNotInvertible for a singular
// registration.
bool ZoCSawCutDetector::fitGuideLine(const ZoNOverviewImage& image,
                                     const std::vector<CbVector3f>& cameraPoints,
                                     const std::vector<ZoNPixel>& pixels, const CyHermiteSpline& skeleton,
                                     ZoCSawCutExtractor::ZoNGuideLine& guideLine) const {
    const CbMatrix4Rf areaToCamera = image.m_matRegistration.Inverted();
    if (cameraPoints.empty())
        return false;
    const PointCloud cloud{cameraPoints};
    const PointTree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));

    const int width = image.m_rectValid.Width(), height = image.m_rectValid.Height();
    const float first = 0.0f, last = skeleton.GetLength();  // arc lengths of the first and last knot
    std::vector<double> ks, us, vs;
    for (int k = 0; k < ciGuideLineSamples; ++k) {
        const float s =
            first + static_cast<float>(k) * (last - first) / static_cast<float>(ciGuideLineSamples - 1);
        const CbVector3f p = areaToCamera.TransformPoint(skeleton.ComputePositionAtLength(s));
        const float query[3] = {p.x, p.y, p.z};
        uint32_t index = 0;
        float squared = 0;
        if (tree.knnSearch(query, 1, &index, &squared) == 0)
            continue;
        const ZoNPixel& px = pixels[index];
        if (px.x <= ciGuideLineBorder || px.y <= ciGuideLineBorder || px.x >= width - 1 - ciGuideLineBorder ||
            px.y >= height - 1 - ciGuideLineBorder)
            continue;
        if (!us.empty() && px.x == us.back() && px.y == vs.back())
            continue;
        ks.push_back(k);
        us.push_back(px.x);
        vs.push_back(px.y);
    }
    if (ks.size() < 2)
        return false;
    const double k0 = ks.front(), span = ks.back() - ks.front();
    for (double& k : ks)
        k = (k - k0) / span;
    const ZoCPolynomial u = ZoCPolynomial::Fit(ks.size(), ks.data(), us.data(), 2);
    const ZoCPolynomial v = ZoCPolynomial::Fit(ks.size(), ks.data(), vs.data(), 2);
    if (!u || !v || !image.m_pRangeImage)
        return false;
    guideLine = ZoCSawCutExtractor::ZoNGuideLine(u, v);
    return true;
}

// =============================================================================================
// Lifting a 2D cut: the plane through the cut's pixel ray and its direction in the image,
// anchored where the skeleton crosses it
// =============================================================================================

bool ZoCSawCutDetector::liftSawCut(const ZoCSawCutExtractor::ZoNSawCut& cut, const ZoNOverviewImage& image,
                                   const ZoCFieldRay& rays, const CyHermiteSpline& skeleton,
                                   ZoNSawCut3D& lifted) const {
    const int x = static_cast<int>(cut.GetCentre().x) + image.m_rectValid.left;
    const int y = static_cast<int>(cut.GetCentre().y) + image.m_rectValid.top;
    if (x < 0 || y < 0 || x >= rays.GetWidth() || y >= rays.GetHeight())
        return false;
    const CbMatrix4Rf& registration = image.m_matRegistration;
    const ZoCRay& ray = rays.GetRay(x, y);

    // The point of the pixel's ray at the mean height of what the image saw.
    float depth = GetZMean();
    // Registrations are rigid: the ray's direction turns with the rotation part alone (a
    // difference of two transformed points would lose the direction's digits to the translation).
    const CbVector3f origin = registration.TransformPoint(ray.m_origin);
    const CbVector3f towards = registration.TransformDirection(ray.m_direction);
    if (std::fabs(towards.z) > 1e-6f)
        depth = (GetZMean() - origin.z) / towards.z;
    lifted.m_centre = registration.TransformPoint(ray.GetCoord(depth));

    // The image's column and row directions at the pixel, in the rays' frame, turn the 2D
    // normal into 3D; the cut's plane holds the ray and the cut's direction.
    auto pointAt = [&](int px, int py) {
        const ZoNPixel p = clampToField(px, py, rays);
        return rays.GetCoord(p.x, p.y, depth);
    };
    CbVector3f columns = unitOrZero(pointAt(x + 1, y) - pointAt(x - 1, y));
    CbVector3f rows = unitOrZero(pointAt(x, y + 1) - pointAt(x, y - 1));
    if (columns.Dot(columns) == 0 || rows.Dot(rows) == 0) {
        columns = {1, 0, 0};  // a one-pixel field: the rays' own axes
        rows = {0, 1, 0};
    }
    const CbVector3f view = ray.m_direction;
    const CbVector3f normal2D = columns * cut.GetNormal().x + rows * cut.GetNormal().y;
    const CbVector3f along = normal2D.Cross(view);
    const CbVector3f across = along.Cross(view);
    const CbMatrix4Rf rotation = normalisedRotation(registration);
    lifted.m_viewDirection = unitOrZero(rotation.TransformDirection(view));
    lifted.m_along = unitOrZero(rotation.TransformDirection(along));
    lifted.m_across = unitOrZero(rotation.TransformDirection(across));
    // The extractor measures the half width in pixels, while the centre and the face points live
    // in image-area units. We read the half width as the gap's extent on the model and scale it by
    // the footprint of one pixel across the cut at the lifted depth, so that the face points land
    // on the faces; a field without neighbouring rays keeps the pixel value. The footprint is
    // measured where the neighbouring pixels' rays meet the plane of the mean height, the plane
    // the centre was placed on (one-sided at the field's edge).
    auto onMeanPlane = [&](const ZoNPixel& p) {
        const ZoCRay& r = rays.GetRay(p.x, p.y);
        const CbVector3f o = registration.TransformPoint(r.m_origin);
        const CbVector3f d = registration.TransformDirection(r.m_direction);
        const float at = std::fabs(d.z) > 1e-6f ? (GetZMean() - o.z) / d.z : depth;
        return o + d * at;
    };
    auto stepOnPlane = [&](int dx, int dy) {
        const ZoNPixel a = clampToField(x - dx, y - dy, rays), b = clampToField(x + dx, y + dy, rays);
        const int pixels = std::abs(b.x - a.x) + std::abs(b.y - a.y);
        if (pixels == 0)
            return CbVector3f();
        return (onMeanPlane(b) - onMeanPlane(a)) * (1.0f / static_cast<float>(pixels));
    };
    const CbVector3f acrossStep = stepOnPlane(1, 0) * cut.GetNormal().x + stepOnPlane(0, 1) * cut.GetNormal().y;
    const float footprint = acrossStep.Length();
    lifted.m_dHalfWidth = footprint > 0 && std::isfinite(footprint) ? cut.m_dHalfWidth * footprint : cut.m_dHalfWidth;
    lifted.m_dLength = cut.GetLength();
    lifted.m_pClusterLink = nullptr;

    CbVector3f crossing;
    if (nearestCrossing(skeleton, lifted.m_centre, lifted.m_across, crossing))
        lifted.m_centre = crossing;
    return true;
}

// Crossings of the skeleton with the plane through `point` with `normal`: 64 steps over the
// skeleton's length; each step whose ends lie on both sides (or on the plane) is searched the
// same way, four levels deep, and the deepest step's midpoint is a crossing. The one nearest
// to `point` wins. A zero normal spans no plane: no crossing. A step with both ends on the
// plane lies in it; searching it deeper would find the plane at every one of its 64^4 samples,
// so its own midpoint stands for it.
bool ZoCSawCutDetector::nearestCrossing(const CyHermiteSpline& skeleton, const CbVector3f& point,
                                        const CbVector3f& normal, CbVector3f& crossing) {
    if (normal.Dot(normal) <= FLT_MIN)
        return false;
    bool found = false;
    float best = FLT_MAX;
    auto search = [&](auto& self, float s0, float s1, int level) -> void {
        CbVector3f previous = skeleton.ComputePositionAtLength(s0);
        float previousSide = (previous - point).Dot(normal);
        float sPrevious = s0;
        for (int i = 1; i <= ciCrossingSteps; ++i) {
            const float s = s0 + (s1 - s0) * static_cast<float>(i) / ciCrossingSteps;
            const CbVector3f current = skeleton.ComputePositionAtLength(s);
            const float side = (current - point).Dot(normal);
            if (previousSide * side <= 0) {
                // The step is refined between the very lengths that bracket the change of side:
                // recomputing its start as s minus a step would, at the deeper levels where a
                // step is below a float's resolution, move it across the plane and lose it.
                if (level < ciCrossingRefinements && (previousSide != 0 || side != 0)) {
                    self(self, sPrevious, s, level + 1);
                } else {
                    const CbVector3f middle = (previous + current) * 0.5f;
                    const float d = (middle - point).Length();
                    if (d < best) {
                        best = d;
                        crossing = middle;
                        found = true;
                    }
                }
            }
            previous = current;
            previousSide = side;
            sPrevious = s;
        }
    };
    search(search, 0.0f, skeleton.GetLength(), 0);
    return found;
}

// =============================================================================================
// Clusters: the longest cut absorbs the free cuts near it
// =============================================================================================

void ZoCSawCutDetector::clusterSawCuts(std::vector<ZoNSawCut3D>& cuts) const {
    if (cuts.size() < 2)
        return;
    std::stable_sort(cuts.begin(), cuts.end(),
                     [](const ZoNSawCut3D& a, const ZoNSawCut3D& b) { return a.m_dLength > b.m_dLength; });
    std::vector<ZoNSawCut3D> clustered;
    std::vector<const ZoNSawCut3D*> members;
    for (size_t i = 0; i < cuts.size(); ++i) {
        if (cuts[i].m_pClusterLink)
            continue;
        members.clear();
        for (size_t j = i + 1; j < cuts.size(); ++j)
            if (!cuts[j].m_pClusterLink &&
                (cuts[j].m_centre - cuts[i].m_centre).Length() <= cfClusterDistance) {
                cuts[j].m_pClusterLink = &cuts[i];
                members.push_back(&cuts[j]);
            }
        clustered.push_back(members.empty() ? cuts[i] : mergeCluster(cuts[i], members));
    }
    cuts = std::move(clustered);
}

// Mean centre; directions summed weighted by length, each member turned to agree with the
// cut; the widest half width.
ZoCSawCutDetector::ZoNSawCut3D ZoCSawCutDetector::mergeCluster(
    const ZoNSawCut3D& cut, const std::vector<const ZoNSawCut3D*>& members) {
    ZoNSawCut3D merged = cut;
    auto sum = [&](CbVector3f ZoNSawCut3D::*field) {
        const CbVector3f& own = cut.*field;
        CbVector3f total = own * static_cast<float>(cut.m_dLength);
        for (const ZoNSawCut3D* m : members) {
            const CbVector3f weighted = m->*field * static_cast<float>(m->m_dLength);
            total += own.Dot(m->*field) >= 0 ? weighted : -weighted;
        }
        return unitOrZero(total);
    };
    CbVector3f centre = cut.m_centre;
    for (const ZoNSawCut3D* m : members) {
        centre += m->m_centre;
        merged.m_dHalfWidth = std::max(merged.m_dHalfWidth, m->m_dHalfWidth);
    }
    merged.m_centre = centre * (1.0f / static_cast<float>(members.size() + 1));
    merged.m_viewDirection = sum(&ZoNSawCut3D::m_viewDirection);
    merged.m_along = sum(&ZoNSawCut3D::m_along);
    merged.m_across = sum(&ZoNSawCut3D::m_across);
    merged.m_pClusterLink = nullptr;
    return merged;
}

// =============================================================================================
// Face data
// =============================================================================================

void ZoCSawCutDetector::generateSawCutData(std::vector<ZoNSawCut3D>& cuts) {
    for (const ZoNSawCut3D& cut : cuts) {
        const CbVector3f offset = cut.m_across * static_cast<float>(cut.m_dHalfWidth);
        m_vecSawCutData.push_back(cut.m_centre + offset);
        m_vecSawCutData.push_back(-cut.m_across);
        m_vecSawCutData.push_back(cut.m_centre - offset);
        m_vecSawCutData.push_back(cut.m_across);
    }
}

void ZoCSawCutDetector::transformSawCutData() {
    const CbMatrix4Rf rotation = normalisedRotation(m_matTransform);
    for (size_t i = 0; i < m_vecSawCutData.size(); ++i)
        m_vecSawCutData[i] = i % 2 == 0 ? m_matTransform.TransformPoint(m_vecSawCutData[i])
                                        : rotation.TransformDirection(m_vecSawCutData[i]);
}
