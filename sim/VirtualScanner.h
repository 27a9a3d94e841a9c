// A virtual scanner: records what the reference device would record of a model standing on the
// disc, by ray casting with Embree.
//
// For a joint configuration, each camera pixel's viewing ray (through the pixel's centre) is
// cast at the model. A pixel is measured when the camera sees the surface, the projector lights
// the same point (a shadow ray to the projector's eye is free and the point lies in the
// projector's image), the disc does not hide the point from either, and the surface is at most
// c_fMaxIncidenceDeg from facing each of them: the fringe pattern smears beyond that and a real
// sensor rejects the pixel.
//
// A recorded image holds, as the host's image library does: the range along each pixel's ray
// (image-area units, 0 where nothing was measured), the mask (1 measured), an intensity (the
// projector's light on the surface), the viewing rays in the camera frame (image-area units,
// the same for every image) and the measured points registered into the disc frame (image-area
// coordinates, i.e. disc millimetres x 40). The registration is
// GetCamToDiscTransformation(config, true), exact or disturbed by a small rigid motion; the
// points follow the reported registration, as registered points on a real device do.
#pragma once

#include "AxisChain.h"
#include "ImageDatabase.h"
#include "TriangleMesh.h"

#include <cstdint>
#include <memory>
#include <random>
#include <string>

namespace Sim {

struct RegistrationNoise {
    float rotationDeg = 0;    // angle of the disturbing rotation about a random axis
    float translationMm = 0;  // length of the disturbing translation in a random direction
};

struct VirtualScannerOptions {
    // Camera image size; 0 takes the device camera's. A smaller size keeps the field of view.
    int width = 0;
    int height = 0;
    float maxIncidenceDeg = 75.0f;
    float discRadius = 50.0f;  // the plate hides what lies beyond it from below
    RegistrationNoise noise;   // none by default
    uint64_t noiseSeed = 47110518;
};

struct RecordedImage {
    ZoCOrbal2AxisChain::NCJointConfiguration config;
    ZoCFieldRange range;
    ZoCFieldIntensity intensity;
    ZoCFieldMask mask;
    ZoCFieldRay rays;
    ZoCFieldCoord coords;
    CbMatrix4Rf registration;       // reported: camera frame -> disc frame, image-area units
    CbMatrix4Rf exactRegistration;  // the device's true one
    int64_t measuredPixels = 0;
};

class VirtualScanner {
public:
    static constexpr float c_fImageAreaPerMm = 40.0f;

    VirtualScanner(const ZoCOrbal2DeviceConfig& device, const TriangleMesh& model,
                   const VirtualScannerOptions& options = {});
    ~VirtualScanner();
    VirtualScanner(const VirtualScanner&) = delete;
    VirtualScanner& operator=(const VirtualScanner&) = delete;

    // False when the model is empty or Embree could not be set up; GetError says why.
    bool IsValid() const;
    const std::string& GetError() const { return m_error; }

    // Records one image at `config` (clamped to the joint limits, as the device does). The
    // registration noise of the options is drawn anew for every image from the scanner's own
    // generator, so a sequence of recordings repeats from run to run. An invalid scanner
    // records an empty image.
    RecordedImage Record(const ZoCOrbal2AxisChain::NCJointConfiguration& config);

    // The camera at the scanner's image size (camera frame, millimetres).
    const ZoCAbstractCamCalib& GetCamera() const { return m_camera; }
    const ZoCAbstractCamCalib& GetProjector() const { return m_projector; }
    const ZoCOrbal2AxisChain& GetAxisChain() const { return m_chain; }
    int GetWidth() const { return static_cast<int>(m_camera.GetWidth()); }
    int GetHeight() const { return static_cast<int>(m_camera.GetHeight()); }

private:
    struct Frame;
    struct EmbreeState;
    struct Candidate;
    Frame frameAt(const ZoCOrbal2AxisChain::NCJointConfiguration& config) const;
    ZoCRect2 tilesToTrace(const Frame& frame) const;
    void castCameraRays(const Frame& frame, std::vector<Candidate>& candidates) const;
    void castShadowRays(const Frame& frame, std::vector<Candidate>& candidates) const;
    CbMatrix4Rf drawNoise();

    ZoCOrbal2AxisChain m_chain;
    ZoCAbstractCamCalib m_camera;
    ZoCAbstractCamCalib m_projector;
    VirtualScannerOptions m_options;
    CyBoundingBox3D m_modelBox;
    ZoCFieldRay m_rays;                          // camera frame, image-area units
    std::vector<CbVector3f> m_cameraDirections;  // unit, camera frame, per pixel
    std::mt19937_64 m_noiseGenerator;
    std::unique_ptr<EmbreeState> m_embree;
    std::string m_error;
};

// The image source a host stores for a recording: content type 3D scan, the intensity image
// (0) and the range image (2, with rays, mask and registered points), correlated with the
// recording's registration.
CImageSource MakeImageSource(const RecordedImage& image, const CString& requestName);

}  // namespace Sim
