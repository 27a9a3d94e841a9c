// Ray casting of the device's recordings with Embree's 16-wide ray packets.
#include "VirtualScanner.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Sim {

namespace {
constexpr int c_iTile = 4;               // 4 x 4 pixels: one 16-wide packet of neighbouring, coherent rays
constexpr float c_fShadowStart = 2e-3f;  // mm; leaves the surface the shadow ray starts from
constexpr float c_fPi = 3.14159265358979f;

CbVector3f toVector(const CCoordinate3<double>& c) {
    return {static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z)};
}

// Rotation by `angle` about the unit `axis` (Rodrigues).
CbMatrix4Rf rotationAbout(const CbVector3f& axis, float angle) {
    const float c = std::cos(angle), s = std::sin(angle), k = 1 - c;
    const float x = axis.x, y = axis.y, z = axis.z;
    return CbMatrix4Rf::FromRows({c + x * x * k, x * y * k - z * s, x * z * k + y * s, 0,  //
                                  y * x * k + z * s, c + y * y * k, y * z * k - x * s, 0,  //
                                  z * x * k - y * s, z * y * k + x * s, c + z * z * k, 0,  //
                                  0, 0, 0, 1});
}

// The plate's top surface lies at z = 0. Points within this distance above it count as touching
// it: a model's base face rests there, and rounding may put its points a hair below the plate.
constexpr float c_fPlateContact = 1e-3f;

// Whether the disc hides `to` (a point of the model) from `from` (an eye). The disc and what
// carries it fill everything at or below the plate's top within `radius` of the axis, so an eye
// below the plate sees the model only past the disc's rim.
bool discBlocks(const CbVector3f& from, const CbVector3f& to, float radius) {
    const float top = -c_fPlateContact;
    if (from.z <= top && to.z <= top)
        return false;
    CbVector3f entry = to;  // where the sight line reaches the plate's level
    if (from.z < top || to.z < top) {
        const float f = (top - from.z) / (to.z - from.z);
        entry = from + (to - from) * f;
    }
    return entry.x * entry.x + entry.y * entry.y < radius * radius;
}

// Slab test: does the ray from `o` along `d` meet the box?
bool hitsBox(const CbVector3f& o, const CbVector3f& d, const CyBoundingBox3D& box) {
    float t0 = 0, t1 = std::numeric_limits<float>::infinity();
    for (int a = 0; a < 3; ++a) {
        const float inv = 1.0f / d[a];  // infinite for an axis-parallel ray: the slab test still holds
        float near = (box.GetMin()[a] - o[a]) * inv, far = (box.GetMax()[a] - o[a]) * inv;
        if (near > far)
            std::swap(near, far);
        t0 = std::max(t0, near);
        t1 = std::min(t1, far);
        if (!(t0 <= t1))
            return false;
    }
    return true;
}
}  // namespace

struct VirtualScanner::EmbreeState {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
    std::string error;
    ~EmbreeState() {
        if (scene)
            rtcReleaseScene(scene);
        if (device)
            rtcReleaseDevice(device);
    }
};

// The sensor's pose at one configuration, in the disc frame (millimetres).
struct VirtualScanner::Frame {
    float rotation[9];  // camera -> disc, row major
    CbVector3f eye;
    CbVector3f projectorEye;
    // The projector's pinhole in the disc frame: its image position of a point.
    CbVector3f projectorView, projectorRight, projectorUp;
    float projectorFocal = 0;
    CbVector3f ToDisc(const CbVector3f& d) const {
        return {rotation[0] * d.x + rotation[1] * d.y + rotation[2] * d.z,
                rotation[3] * d.x + rotation[4] * d.y + rotation[5] * d.z,
                rotation[6] * d.x + rotation[7] * d.y + rotation[8] * d.z};
    }
};

// A pixel whose camera ray met the model where the projector could light it.
struct VirtualScanner::Candidate {
    int pixel;
    float distance;  // along the camera ray, mm
    CbVector3f point;
    CbVector3f toProjector;  // unit
    float projectorDistance;
    float lightCosine;  // between the surface normal and the direction to the projector
};

VirtualScanner::VirtualScanner(const ZoCOrbal2DeviceConfig& device, const TriangleMesh& model,
                               const VirtualScannerOptions& options)
    : m_chain(device.m_axisChain),
      m_projector(device.m_camProjCalib.GetProjector()),
      m_options(options),
      m_modelBox(model.Bounds()),
      m_noiseGenerator(options.noiseSeed),
      m_embree(std::make_unique<EmbreeState>()) {
    const ZoCAbstractCamCalib& camera = device.m_camProjCalib.GetCamera();
    CCoordinate3<double> eye, view, up;
    double fov = 0;
    if (!camera.GetEyePt(eye) || !camera.GetViewDirection(view) || !camera.GetUpDirection(up) ||
        !camera.GetFOV(fov) || !m_projector.IsValid()) {
        m_error = "the device has no complete camera and projector calibration";
        return;
    }
    const long width = options.width > 0 ? options.width : camera.GetWidth();
    const long height = options.height > 0 ? options.height : camera.GetHeight();
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
        m_error = "camera image size out of range";
        return;
    }
    m_camera = ZoCAbstractCamCalib(eye, view, up, fov, width, height);

    // Viewing rays through the pixels' centres; they do not depend on the configuration.
    std::vector<ZoCRay> rays;
    rays.reserve(static_cast<size_t>(width * height));
    m_cameraDirections.reserve(rays.capacity());
    const CbVector3f origin = toVector(eye) * c_fImageAreaPerMm;
    for (long y = 0; y < height; ++y)
        for (long x = 0; x < width; ++x) {
            double d[3];
            m_camera.PixelRay(static_cast<double>(x) + 0.5, static_cast<double>(y) + 0.5, d);
            const CbVector3f dir(static_cast<float>(d[0]), static_cast<float>(d[1]),
                                 static_cast<float>(d[2]));
            m_cameraDirections.push_back(dir);
            rays.push_back({origin, dir});
        }
    m_rays = ZoCFieldRay(static_cast<int>(width), static_cast<int>(height), std::move(rays));

    if (model.IsEmpty()) {
        m_error = "the model has no triangles";
        return;
    }
    // One build thread: the scanner runs beside the host's own work on a shared machine.
    m_embree->device = rtcNewDevice("threads=1");
    if (!m_embree->device) {
        m_error = "Embree could not create a device";
        return;
    }
    rtcSetDeviceErrorFunction(
        m_embree->device,
        [](void* state, RTCError, const char* message) {
            static_cast<EmbreeState*>(state)->error = message ? message : "unknown Embree error";
        },
        m_embree.get());
    RTCScene scene = rtcNewScene(m_embree->device);
    rtcSetSceneBuildQuality(scene, RTC_BUILD_QUALITY_HIGH);
    RTCGeometry geometry = rtcNewGeometry(m_embree->device, RTC_GEOMETRY_TYPE_TRIANGLE);
    auto* vertices = static_cast<float*>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), model.vertices.size()));
    auto* indices = static_cast<uint32_t*>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(uint32_t), model.triangles.size()));
    if (vertices && indices) {
        std::memcpy(vertices, model.vertices.data(), model.vertices.size() * sizeof(CbVector3f));
        std::memcpy(indices, model.triangles.data(), model.triangles.size() * 3 * sizeof(uint32_t));
        rtcCommitGeometry(geometry);
        rtcAttachGeometry(scene, geometry);
    }
    rtcReleaseGeometry(geometry);
    rtcCommitScene(scene);
    if (!m_embree->error.empty() || !vertices || !indices) {
        m_error = "Embree: " + (m_embree->error.empty() ? std::string("out of memory") : m_embree->error);
        rtcReleaseScene(scene);
        return;
    }
    m_embree->scene = scene;
}

VirtualScanner::~VirtualScanner() = default;

bool VirtualScanner::IsValid() const {
    return m_embree && m_embree->scene;
}

CbMatrix4Rf VirtualScanner::drawNoise() {
    const RegistrationNoise& noise = m_options.noise;
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    auto randomUnit = [&] {
        CbVector3f v;
        do
            v = {gauss(m_noiseGenerator), gauss(m_noiseGenerator), gauss(m_noiseGenerator)};
        while (v.Dot(v) < 1e-6f);
        return v.Normalized();
    };
    const CbVector3f axis = randomUnit();
    const CbVector3f shift = randomUnit() * (noise.translationMm * c_fImageAreaPerMm);
    return CbMatrix4Rf::Translation(shift.x, shift.y, shift.z) *
           rotationAbout(axis, noise.rotationDeg * c_fPi / 180.0f);
}

VirtualScanner::Frame VirtualScanner::frameAt(const ZoCOrbal2AxisChain::NCJointConfiguration& config) const {
    const CbMatrix4Rf camToDisc = m_chain.GetCamToDiscTransformation(config, false);
    Frame f;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            f.rotation[3 * r + c] = camToDisc(r, c);
    CCoordinate3<double> eye, view, up;
    m_camera.GetEyePt(eye);
    f.eye = camToDisc.TransformPoint(toVector(eye));
    m_projector.GetEyePt(eye);
    m_projector.GetViewDirection(view);
    m_projector.GetUpDirection(up);
    f.projectorEye = camToDisc.TransformPoint(toVector(eye));
    f.projectorView = f.ToDisc(toVector(view));
    f.projectorUp = f.ToDisc(toVector(up));
    f.projectorRight = f.projectorView.Cross(f.projectorUp);
    f.projectorFocal = static_cast<float>(m_projector.FocalLengthPixels());
    return f;
}

ZoCRect2 VirtualScanner::tilesToTrace(const Frame& frame) const {
    // The model's box projected into the image bounds the pixels that can see it; with a corner
    // behind the camera the whole image is traced.
    const int w = GetWidth(), h = GetHeight();
    const ZoCRect2 all{0, 0, w, h};
    CCoordinate3<double> view, up;
    m_camera.GetViewDirection(view);
    m_camera.GetUpDirection(up);
    const CbVector3f v = frame.ToDisc(toVector(view)), u = frame.ToDisc(toVector(up)), right = v.Cross(u);
    const auto focal = static_cast<float>(m_camera.FocalLengthPixels());
    float u0 = 1e30f, u1 = -1e30f, v0 = 1e30f, v1 = -1e30f;
    for (int i = 0; i < 8; ++i) {
        const CbVector3f d = m_modelBox.GetCorner(i) - frame.eye;
        const float depth = d.Dot(v);
        if (!(depth > 1e-3f))
            return all;
        const float px = 0.5f * static_cast<float>(w) + focal * d.Dot(right) / depth;
        const float py = 0.5f * static_cast<float>(h) - focal * d.Dot(u) / depth;
        u0 = std::min(u0, px), u1 = std::max(u1, px), v0 = std::min(v0, py), v1 = std::max(v1, py);
    }
    // One pixel of margin for rounding; the per-ray box test decides exactly.
    const ZoCRect2 r{
        std::max(0, static_cast<int>(std::floor(u0)) - 1), std::max(0, static_cast<int>(std::floor(v0)) - 1),
        std::min(w, static_cast<int>(std::ceil(u1)) + 1), std::min(h, static_cast<int>(std::ceil(v1)) + 1)};
    return r.IsEmpty() ? ZoCRect2{} : r;
}

void VirtualScanner::castCameraRays(const Frame& frame, std::vector<Candidate>& candidates) const {
    const int w = GetWidth();
    const ZoCRect2 rect = tilesToTrace(frame);
    const float cosLimit = std::cos(m_options.maxIncidenceDeg * c_fPi / 180.0f);
    const float discRadius = m_options.discRadius;
    CyBoundingBox3D box(m_modelBox.GetMin() - CbVector3f(1e-3f, 1e-3f, 1e-3f),
                        m_modelBox.GetMax() + CbVector3f(1e-3f, 1e-3f, 1e-3f));
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    context.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
    alignas(64) RTCRayHit16 packet;
    alignas(64) int valid[16];
    int pixels[16];
    for (int ty = rect.top; ty < rect.bottom; ty += c_iTile)
        for (int tx = rect.left; tx < rect.right; tx += c_iTile) {
            int active = 0;
            for (int i = 0; i < 16; ++i) {
                const int x = tx + i % c_iTile, y = ty + i / c_iTile;
                valid[i] = 0;
                if (x >= rect.right || y >= rect.bottom)
                    continue;
                pixels[i] = y * w + x;
                const CbVector3f d = frame.ToDisc(m_cameraDirections[static_cast<size_t>(pixels[i])]);
                if (!hitsBox(frame.eye, d, box))
                    continue;
                valid[i] = -1;
                ++active;
                packet.ray.org_x[i] = frame.eye.x;
                packet.ray.org_y[i] = frame.eye.y;
                packet.ray.org_z[i] = frame.eye.z;
                packet.ray.dir_x[i] = d.x;
                packet.ray.dir_y[i] = d.y;
                packet.ray.dir_z[i] = d.z;
                packet.ray.tnear[i] = 0.0f;
                packet.ray.tfar[i] = std::numeric_limits<float>::infinity();
                packet.ray.time[i] = 0.0f;
                packet.ray.mask[i] = 0xFFFFFFFFu;
                packet.ray.flags[i] = 0;
                packet.hit.geomID[i] = RTC_INVALID_GEOMETRY_ID;
            }
            if (active == 0)
                continue;
            rtcIntersect16(valid, m_embree->scene, &context, &packet);
            for (int i = 0; i < 16; ++i) {
                if (!valid[i] || packet.hit.geomID[i] == RTC_INVALID_GEOMETRY_ID)
                    continue;
                const CbVector3f d(packet.ray.dir_x[i], packet.ray.dir_y[i], packet.ray.dir_z[i]);
                const float t = packet.ray.tfar[i];
                const CbVector3f p = frame.eye + d * t;
                CbVector3f n =
                    CbVector3f(packet.hit.Ng_x[i], packet.hit.Ng_y[i], packet.hit.Ng_z[i]).Normalized();
                if (n.Dot(d) > 0)
                    n = -n;  // the side the camera sees
                const float viewCosine = -n.Dot(d);
                if (viewCosine < cosLimit || discBlocks(frame.eye, p, discRadius))
                    continue;
                CbVector3f toProjector = frame.projectorEye - p;
                const float projectorDistance = toProjector.Length();
                toProjector = toProjector * (1.0f / projectorDistance);
                const float lightCosine = n.Dot(toProjector);  // negative: the projector lights the far side
                if (lightCosine < cosLimit || discBlocks(frame.projectorEye, p, discRadius))
                    continue;
                // The point must lie in the projector's image.
                const CbVector3f q = p - frame.projectorEye;
                const float depth = q.Dot(frame.projectorView);
                if (!(depth > 0))
                    continue;
                const float pu = 0.5f * static_cast<float>(m_projector.GetWidth()) +
                                 frame.projectorFocal * q.Dot(frame.projectorRight) / depth;
                const float pv = 0.5f * static_cast<float>(m_projector.GetHeight()) -
                                 frame.projectorFocal * q.Dot(frame.projectorUp) / depth;
                if (pu < 0 || pv < 0 || pu >= static_cast<float>(m_projector.GetWidth()) ||
                    pv >= static_cast<float>(m_projector.GetHeight()))
                    continue;
                candidates.push_back({pixels[i], t, p + n * (0.25f * c_fShadowStart), toProjector,
                                      projectorDistance, lightCosine});
            }
        }
}

void VirtualScanner::castShadowRays(const Frame& frame, std::vector<Candidate>& candidates) const {
    (void)frame;
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    alignas(64) RTCRay16 packet;
    alignas(64) int valid[16];
    // Candidates come in tile order, so each packet's rays start close together and run to
    // the same projector eye: nearly as coherent as the camera's.
    for (size_t start = 0; start < candidates.size(); start += 16) {
        const size_t count = std::min<size_t>(16, candidates.size() - start);
        for (size_t i = 0; i < 16; ++i) {
            valid[i] = i < count ? -1 : 0;
            if (i >= count)
                continue;
            const Candidate& c = candidates[start + i];
            packet.org_x[i] = c.point.x;
            packet.org_y[i] = c.point.y;
            packet.org_z[i] = c.point.z;
            packet.dir_x[i] = c.toProjector.x;
            packet.dir_y[i] = c.toProjector.y;
            packet.dir_z[i] = c.toProjector.z;
            packet.tnear[i] = c_fShadowStart;
            packet.tfar[i] = c.projectorDistance;
            packet.time[i] = 0.0f;
            packet.mask[i] = 0xFFFFFFFFu;
            packet.flags[i] = 0;
        }
        rtcOccluded16(valid, m_embree->scene, &context, &packet);
        for (size_t i = 0; i < count; ++i)
            if (packet.tfar[i] < 0)
                candidates[start + i].pixel = -1;  // in the shadow
    }
}

RecordedImage VirtualScanner::Record(const ZoCOrbal2AxisChain::NCJointConfiguration& requested) {
    RecordedImage image;
    image.config = requested;
    m_chain.ClampToLimits(image.config);
    image.exactRegistration = m_chain.GetCamToDiscTransformation(image.config, true);
    const bool noisy = m_options.noise.rotationDeg != 0 || m_options.noise.translationMm != 0;
    image.registration = noisy ? drawNoise() * image.exactRegistration : image.exactRegistration;
    const int w = GetWidth(), h = GetHeight();
    image.rays = m_rays;
    image.range = ZoCFieldRange(w, h, 0.0f);
    image.mask = ZoCFieldMask(w, h, 0);
    image.intensity = ZoCFieldIntensity(w, h, 0);
    if (IsValid()) {
        const Frame frame = frameAt(image.config);
        std::vector<Candidate> candidates;
        castCameraRays(frame, candidates);
        castShadowRays(frame, candidates);
        float* range = image.range.MutableData();
        uint16_t* mask = image.mask.MutableData();
        uint8_t* intensity = image.intensity.MutableData();
        for (const Candidate& c : candidates) {
            if (c.pixel < 0)
                continue;
            const auto i = static_cast<size_t>(c.pixel);
            range[i] = c.distance * c_fImageAreaPerMm;
            mask[i] = 1;
            // Lambertian shading under the projector's light, with a little ambient light.
            intensity[i] = static_cast<uint8_t>(std::lround(255.0f * (0.1f + 0.9f * c.lightCosine)));
            ++image.measuredPixels;
        }
    }
    image.coords = ZoCFieldCoord(&image.rays, image.range, &image.registration);
    return image;
}

CImageSource MakeImageSource(const RecordedImage& image, const CString& requestName) {
    CImageSource source(CImageContentTypes::eContentTypeScan3D);
    CImage range(CImageTypes::eImageTypeRange);
    range.SetFieldRange(image.range);
    range.SetFieldMask(image.mask);
    range.SetFieldRay(image.rays);
    range.SetFieldCoord(image.coords);
    range.SetFieldIntensity(image.intensity);
    source.SetImage(range);
    CImage intensity(CImageTypes::eImageTypeIntensity);
    intensity.SetFieldIntensity(image.intensity);
    intensity.SetFieldMask(image.mask);
    source.SetImage(intensity);
    source.SetCorrelation(true, image.registration);
    source.SetName(requestName);
    return source;
}

}  // namespace Sim
