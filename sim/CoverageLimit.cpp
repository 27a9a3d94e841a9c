#include "CoverageLimit.h"

#include "ModelPlacement.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace Sim {

namespace {
using Config = ZoCOrbal2AxisChain::NCJointConfiguration;

CbVector3f toVector(const CCoordinate3<double>& c) {
    return {static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z)};
}

// The camera's eye and focus point in the disc frame (mm) at `config`.
void eyeAndFocus(const ZoCOrbal2DeviceConfig& device, const Config& config, CbVector3f& eye, CbVector3f& focus) {
    const CbMatrix4Rf camToDisc = device.m_axisChain.GetCamToDiscTransformation(config, false);
    CCoordinate3<double> e, v;
    device.m_camProjCalib.GetCamera().GetEyePt(e);
    device.m_camProjCalib.GetCamera().GetViewDirection(v);
    const double depth = -(e.x * v.x + e.y * v.y + e.z * v.z);
    eye = camToDisc.TransformPoint(toVector(e));
    focus = camToDisc.TransformPoint(toVector(e) + toVector(v) * static_cast<float>(depth));
}
}  // namespace

std::vector<Config> LimitPoses(const TriangleMesh& model, const CoverageLimitOptions& options) {
    const ZoCOrbal2DeviceConfig device;
    const ZoCOrbal2AxisChain& chain = device.m_axisChain;
    float lo[5], hi[5];
    for (int j = 0; j < 5; ++j)
        chain.GetMinMaxPosition(j, lo[j], hi[j]);
    const CyBoundingBox3D box = model.Bounds();
    const float midZ = 0.5f * (box.GetMin().z + box.GetMax().z);
    const CbVector3f targets[2] = {{0, 0, midZ}, {12.0f, 0, midZ}};
    // The measuring region: a quarter of the smaller extent of the field at the focus depth.
    CCoordinate3<double> e;
    double fov = 0;
    device.m_camProjCalib.GetCamera().GetEyePt(e);
    device.m_camProjCalib.GetCamera().GetFOV(fov);
    const double depth = std::sqrt(e.x * e.x + e.y * e.y + e.z * e.z);
    const ZoCAbstractCamCalib& camera = device.m_camProjCalib.GetCamera();
    const double smaller = static_cast<double>(std::min(camera.GetWidth(), camera.GetHeight())) /
                           static_cast<double>(camera.GetWidth());
    const float region = static_cast<float>(0.25 * 2 * depth * std::tan(0.5 * fov * 3.14159265358979 / 180) * smaller);
    std::vector<Config> poses;
    if (!(options.tiltStepDeg > 0.5f) || !(options.discStepDeg > 0.5f))
        return poses;
    for (int grid = 0; grid < 2; ++grid) {
        const float shift = 0.5f * static_cast<float>(grid);
        for (float l2 = lo[1] + shift * options.tiltStepDeg; l2 <= hi[1]; l2 += options.tiltStepDeg)
            for (float l3 = lo[2] + shift * options.tiltStepDeg; l3 <= hi[2]; l3 += options.tiltStepDeg)
                for (const CbVector3f& target : targets) {
                    // Focus point at L1 = L4 = 0 and how each of them moves it (straight lines).
                    CbVector3f eye, f0, f1, f4, unused;
                    Config c;
                    c.Set(0, l2, l3, 0, 0);
                    eyeAndFocus(device, c, eye, f0);
                    c.Set(1, l2, l3, 0, 0);
                    eyeAndFocus(device, c, unused, f1);
                    c.Set(0, l2, l3, 1, 0);
                    eyeAndFocus(device, c, unused, f4);
                    const CbVector3f u = f1 - f0, w = f4 - f0, r = target - f0;
                    const float a11 = u.Dot(u), a12 = u.Dot(w), a22 = w.Dot(w), det = a11 * a22 - a12 * a12;
                    if (!(std::fabs(det) > 1e-6f))
                        continue;
                    const float l1 = std::clamp((a22 * u.Dot(r) - a12 * w.Dot(r)) / det, lo[0], hi[0]);
                    const float l4 = std::clamp((a11 * w.Dot(r) - a12 * u.Dot(r)) / det, lo[3], hi[3]);
                    c.Set(l1, l2, l3, l4, 0);
                    CbVector3f focus;
                    eyeAndFocus(device, c, eye, focus);
                    // Below the plate the disc hides the model; too far off, the target is not in view.
                    if (eye.z >= 0 || (focus - target).Length() > region)
                        continue;
                    for (float l5 = shift * options.discStepDeg; l5 < 360.0f; l5 += options.discStepDeg) {
                        c.Set(l1, l2, l3, l4, l5);
                        poses.push_back(c);
                    }
                }
    }
    return poses;
}

CoverageLimit ComputeCoverageLimit(const TriangleMesh& model, const CoverageLimitOptions& options,
                                   const std::function<void(int, int)>& progress) {
    CoverageLimit limit;
    if (!FitsOnDisc(model, limit.error))
        return limit;
    const ZoCOrbal2DeviceConfig device;
    VirtualScannerOptions scannerOptions;
    scannerOptions.width = options.imageWidth;
    scannerOptions.height = options.imageHeight;
    VirtualScanner scanner(device, model, scannerOptions);
    if (!scanner.IsValid()) {
        limit.error = scanner.GetError();
        return limit;
    }
    GroundTruth truth(model);
    const std::vector<Config> poses = LimitPoses(model, options);
    std::vector<CbVector3f> points;
    for (size_t i = 0; i < poses.size(); ++i) {
        const RecordedImage image = scanner.Record(poses[i]);
        points.clear();
        const ZoCFieldCoord& f = image.coords;
        for (int y = f.RectValid().top; y < f.RectValid().bottom; ++y)
            for (int x = f.RectValid().left; x < f.RectValid().right; ++x)
                if (f.IsValid(x, y))
                    points.push_back(f.At(x, y) * (1.0f / VirtualScanner::c_fImageAreaPerMm));
        truth.AddPoints(points);
        if (progress && (i % 50 == 49 || i + 1 == poses.size()))
            progress(static_cast<int>(i + 1), static_cast<int>(poses.size()));
    }
    limit.ok = true;
    limit.poses = static_cast<int>(poses.size());
    limit.coverage = truth.Coverage();
    limit.reachable.resize(truth.GetSamples().size());
    for (size_t i = 0; i < limit.reachable.size(); ++i)
        limit.reachable[i] = truth.IsCovered(i);
    return limit;
}

std::string LimitCacheKey(const TriangleMesh& model, const CoverageLimitOptions& options) {
    // FNV-1a over the placed model's bytes and the options: the same model placed the same way
    // gives the same key whatever its file was called.
    uint64_t h = 1469598103934665603ull;
    auto mix = [&](const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i)
            h = (h ^ p[i]) * 1099511628211ull;
    };
    mix(model.vertices.data(), model.vertices.size() * sizeof(CbVector3f));
    mix(model.triangles.data(), model.triangles.size() * sizeof(model.triangles[0]));
    // The flags follow the ground truth's sample order: its layout's version is part of the key.
    const float numbers[5] = {static_cast<float>(options.imageWidth), static_cast<float>(options.imageHeight),
                              options.tiltStepDeg, options.discStepDeg, static_cast<float>(GroundTruth::c_iLayout)};
    mix(numbers, sizeof numbers);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

// File: "orbal2-limit 1", then "coverage poses samples", then the reachable flags as '0'/'1'.
bool LoadLimit(const std::string& directory, const std::string& key, CoverageLimit& limit) {
    std::ifstream in(directory + "/limit-" + key + ".txt");
    std::string magic, flags;
    int version = 0;
    size_t samples = 0;
    CoverageLimit read;
    if (!(in >> magic >> version >> read.coverage >> read.poses >> samples >> flags) || magic != "orbal2-limit" ||
        version != 1 || flags.size() != samples || !(read.coverage >= 0 && read.coverage <= 1))
        return false;
    read.reachable.resize(samples);
    for (size_t i = 0; i < samples; ++i) {
        if (flags[i] != '0' && flags[i] != '1')
            return false;
        read.reachable[i] = flags[i] == '1';
    }
    read.ok = true;
    limit = std::move(read);
    return true;
}

bool StoreLimit(const std::string& directory, const std::string& key, const CoverageLimit& limit) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    const std::string path = directory + "/limit-" + key + ".txt", temporary = path + ".part";
    {
        std::ofstream out(temporary);
        out << "orbal2-limit 1\n" << limit.coverage << ' ' << limit.poses << ' ' << limit.reachable.size() << '\n';
        for (const uint8_t r : limit.reachable)
            out << (r ? '1' : '0');
        out << '\n';
        if (!out)
            return false;
    }
    // Renamed into place so that a reader never sees half a file.
    std::filesystem::rename(temporary, path, ec);
    return !ec;
}

std::string DefaultLimitCacheDirectory() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg)
        return std::string(xdg) + "/orbal2";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.cache/orbal2";
    return "./.orbal2-cache";
}

}  // namespace Sim
