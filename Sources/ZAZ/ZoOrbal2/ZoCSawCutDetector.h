// Saw cuts of a sectioned jaw model in 3D. The detector takes every registered overview image
// of one image area, projects the jaw skeleton into each image as its guide line, finds the
// saw cuts of the image (ZoCSawCutExtractor), lifts the valid ones to 3D where the skeleton
// crosses the cut's plane, merges cuts seen in several images and lists two faces per cut as
// (point, direction) pairs for the jaw steering (PutSawCuts).
//
// Frames: the image area's frame (image-area units) for the skeleton, the registered points
// and the cuts; the constructor's transform takes the final data wherever the caller wants it.
// The detector runs on the caller's thread and holds the image area's read lock while it lists
// the images.
#pragma once

#include "Geometry.h"
#include "ImageDatabase.h"
#include "ZoCSawCutExtractor.h"

#include <list>
#include <vector>

class ZoCSawCutDetector {
public:
    using ZoNSawCut3D = ZoCSawCutExtractor::ZoNSawCut3D;

    // Content type of the overview scans the detector reads.
    static constexpr int ciContentTypeScan3D = 41;
    // Every 4th column and row of an image gives the points the skeleton is matched against.
    static constexpr int ciPointStep = 4;
    // Skeleton samples projected into each image, and how close to the valid rectangle's border
    // (pixels) a projected sample may not lie.
    static constexpr int ciGuideLineSamples = 512;
    static constexpr int ciGuideLineBorder = 10;
    // Crossings of the skeleton with a cut's plane: steps per level and levels of refinement.
    static constexpr int ciCrossingSteps = 64;
    static constexpr int ciCrossingRefinements = 4;
    // Cuts of several images whose centres lie this close (image-area units) are one cut.
    static constexpr float cfClusterDistance = 60.0f;

    // One registered overview image as listed from the image database.
    struct ZoNOverviewImage {
        const CImageSource* m_pImageSource = nullptr;
        const CImage* m_pRangeImage = nullptr;  // null when the source has none
        const CImage* m_pIntensityImage = nullptr;
        ZoCFieldRange m_fieldRange;
        ZoCFieldIntensity m_fieldIntensity;
        ZoCRect2 m_rectValid;  // of the range field; right and bottom exclusive
        CbMatrix4Rf m_matRegistration;
        // A copy of the range image taken under the lock (its fields share their storage):
        // the detection reads this, so a source the host replaces afterwards does no harm.
        CImage m_rangeImage;
    };

    ZoCSawCutDetector(EAreaType areaType, const CyHermiteSpline& skeleton, const CbMatrix4Rf& transform);

    // Finds the cuts and appends their data. A detector is meant for one run: the data and
    // the height statistics are not reset. A singular registration matrix throws
    // CyExceptionNotInvertible. A skeleton with a non-finite knot, or whose length overflows,
    // finds nothing and says so in the log.
    void Run();
    // Pairs (point on a face of a cut, normal of that face pointing into the cut), two per cut.
    const std::vector<CbVector3f>& GetSawCutData() const { return m_vecSawCutData; }

    // Kept for the host; the detection does not read them.
    void SetClusteringRadius(float radius) { m_fClusteringRadius = radius; }
    float GetClusteringRadius() const { return m_fClusteringRadius; }
    void SetSegmentationThreshold(float threshold) { m_fSegmentationThreshold = threshold; }
    float GetSegmentationThreshold() const { return m_fSegmentationThreshold; }

protected:
    void listImages(std::list<ZoNOverviewImage>& images) const;
    void detectSawCuts(const std::list<ZoNOverviewImage>& images, CyHermiteSpline& skeleton,
                       std::vector<ZoNSawCut3D>& out);
    void detectSawCutSingle(const ZoNOverviewImage& image, CyHermiteSpline& skeleton,
                            std::vector<ZoNSawCut3D>& out);
    void clusterSawCuts(std::vector<ZoNSawCut3D>& cuts) const;
    void generateSawCutData(std::vector<ZoNSawCut3D>& cuts);
    void transformSawCutData();

    // The parts of one image's detection.
    void collectPoints(const ZoNOverviewImage& image, const ZoCFieldRay& rays,
                       std::vector<CbVector3f>& cameraPoints, std::vector<ZoNPixel>& pixels);
    bool fitGuideLine(const ZoNOverviewImage& image, const std::vector<CbVector3f>& cameraPoints,
                      const std::vector<ZoNPixel>& pixels, const CyHermiteSpline& skeleton,
                      ZoCSawCutExtractor::ZoNGuideLine& guideLine) const;
    bool liftSawCut(const ZoCSawCutExtractor::ZoNSawCut& cut, const ZoNOverviewImage& image,
                    const ZoCFieldRay& rays, const CyHermiteSpline& skeleton, ZoNSawCut3D& lifted) const;
    static bool nearestCrossing(const CyHermiteSpline& skeleton, const CbVector3f& point,
                                const CbVector3f& normal, CbVector3f& crossing);
    static ZoNSawCut3D mergeCluster(const ZoNSawCut3D& cut, const std::vector<const ZoNSawCut3D*>& members);

    float GetZMean() const { return m_fZSumMean; }
    bool HasUsableSkeleton() const;

private:
    EAreaType m_eAreaType;
    CyHermiteSpline m_skeleton;
    CbMatrix4Rf m_matTransform;
    std::vector<CbVector3f> m_vecSawCutData;
    float m_fClusteringRadius = 50.0f;
    float m_fSegmentationThreshold = 50.0f;
    // Heights (z in the image area's frame) of the points seen: the sum while an image is read,
    // its mean afterwards.
    float m_fZSumMean = 0.0f;
    float m_fZMinimum;
    float m_fZMaximum;
};
