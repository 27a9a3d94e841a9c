// The saw-cut detector on what the virtual scanner records of the built-in jaws: the sectioned
// jaw's four cuts against their ground truth, and the unsectioned jaw, which has none.
//
// The reference camera (1280 x 1024 pixels over 36 degrees at 150 mm: about 13 pixels per mm)
// shows a cut across the 13 mm wide base in fewer pixels than the 300 a valid cut needs, so the
// scenes are recorded with a camera of twice that resolution (same field of view).
#include "MeshPrimitives.h"
#include "SyntheticModels.h"
#include "VirtualScanner.h"
#include "ZoCAcquisitionSteeringOrbal2Jaw.h"
#include "ZoCSawCutDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

using Config = ZoCOrbal2AxisChain::NCJointConfiguration;
constexpr float c_fImageAreaPerMm = Sim::VirtualScanner::c_fImageAreaPerMm;
constexpr EAreaType c_eArea = eAreaTypeLowerJaw;

Sim::VirtualScannerOptions doubleResolution() {
    Sim::VirtualScannerOptions options;
    options.width = 2560;
    options.height = 2048;
    return options;
}

// The jaw steering's overview ring on the reference device.
std::vector<Config> overviewRing() {
    const ZoCOrbal2DeviceConfig device;
    ZoCAcquisitionSteeringOrbal2Jaw steering(device, false, false, false);
    ZoCOrbal2AxisChain::CJointPositionSequence sequence;
    EXPECT_TRUE(steering.GetJointConfigurationForOverview(sequence));
    std::vector<Config> ring;
    for (int64_t i = 0; i < sequence.GetCount(); ++i)
        ring.push_back(sequence[i].m_config);
    return ring;
}

// The arch's centre line at the top of the base's ridge, in image-area units: what the host
// derives from the overview as the jaw's skeleton.
CyHermiteSpline skeletonOf(const Sim::JawModel& jaw) {
    std::vector<CbVector3f> points;
    for (int i = 0; i <= 30; ++i) {
        const float s = jaw.arch.GetLength() * static_cast<float>(i) / 30.0f;
        points.push_back((jaw.arch.Position(s) + Sim::Up() * jaw.baseHeight) * c_fImageAreaPerMm);
    }
    return CyHermiteSpline(points);
}

const Sim::SectionedJawModel& sectionedJaw() {
    static const Sim::SectionedJawModel model = Sim::BuildSectionedJawModel();
    return model;
}

// One scanner per model, built once (its ray field and the ray-casting scene take a while).
Sim::VirtualScanner& scanner(bool sectioned) {
    static const Sim::JawModel plain = Sim::BuildJawModel();
    static Sim::VirtualScanner sectionedScanner(ZoCOrbal2DeviceConfig(), sectionedJaw().jaw.mesh,
                                                doubleResolution());
    static Sim::VirtualScanner plainScanner(ZoCOrbal2DeviceConfig(), plain.mesh, doubleResolution());
    return sectioned ? sectionedScanner : plainScanner;
}

// Recordings are made once per configuration and model, and shared by the tests.
const Sim::RecordedImage& record(bool sectioned, const Config& config) {
    static std::map<std::pair<bool, std::vector<float>>, Sim::RecordedImage> cache;
    const std::vector<float> key(config.Data(), config.Data() + 5);
    auto it = cache.find({sectioned, key});
    if (it == cache.end())
        it = cache.emplace(std::make_pair(sectioned, key), scanner(sectioned).Record(config)).first;
    return it->second;
}

// A cut reported by the detector: centre and normal across it, image-area units.
struct FoundCut {
    CbVector3f centre;
    CbVector3f across;
};

// Stores the recordings in the lower jaw's area and runs the detector on them.
std::vector<FoundCut> detect(const std::vector<const Sim::RecordedImage*>& images,
                             const CyHermiteSpline& skeleton) {
    CImageArea& area = ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2).ProvideImageArea(c_eArea);
    area.RemoveAll();
    for (size_t i = 0; i < images.size(); ++i)
        EXPECT_TRUE(area.AddImageSource(Sim::MakeImageSource(*images[i], CString(L"overview"))));
    ZoCSawCutDetector detector(c_eArea, skeleton, c_matIdentity);
    detector.Run();
    area.RemoveAll();
    const std::vector<CbVector3f>& data = detector.GetSawCutData();
    EXPECT_EQ(data.size() % 4, 0u);
    std::vector<FoundCut> cuts;
    for (size_t i = 0; i + 3 < data.size(); i += 4)
        cuts.push_back({(data[i] + data[i + 2]) * 0.5f, data[i + 3]});
    return cuts;
}

double distanceMm(const FoundCut& found, const Sim::SawCutTruth& truth) {
    return (found.centre * (1.0f / c_fImageAreaPerMm) - truth.centre).Length();
}

// Angle between the cut's reported normal and the true one, either way round.
double angleDeg(const FoundCut& found, const Sim::SawCutTruth& truth) {
    const double c = std::fabs(found.across.Dot(truth.normal));
    return std::acos(std::min(1.0, c)) * 180.0 / 3.14159265358979;
}

// The disc angle at which the camera looks along a cut from inside the arch (its horizontal
// viewing direction as close as the ring's 5-degree grid allows to the cut's outward
// direction), from the kinematics and the camera alone.
float discAngleLookingAlong(const Sim::SawCutTruth& cut) {
    const Sim::VirtualScanner& sensor = scanner(true);
    CCoordinate3<double> eye;
    sensor.GetCamera().GetEyePt(eye);
    float best = 0, bestScore = -2;
    for (int a = 0; a < 360; a += 5) {
        Config config;
        config.Set(0, 90, 90, 0, static_cast<float>(a));
        const CbVector3f onDisc = sensor.GetAxisChain()
                                      .GetCamToDiscTransformation(config, false)
                                      .TransformPoint({static_cast<float>(eye.x), static_cast<float>(eye.y),
                                                       static_cast<float>(eye.z)});
        CbVector3f towards = cut.centre - onDisc;
        towards.z = 0;
        const float score = towards.Normalized().Dot(cut.along);
        if (score > bestScore) {
            bestScore = score;
            best = static_cast<float>(a);
        }
    }
    return best;
}

}  // namespace

// Seen along its own plane, each cut shows as a gap through the whole base: one image finds it
// within 0.5 mm of its true centre and 3 degrees of its true orientation, and finds nothing
// else.
TEST(SawCutDetection, ViewAlongEachCutFindsThatCut) {
    const Sim::SectionedJawModel& model = sectionedJaw();
    const CyHermiteSpline skeleton = skeletonOf(model.jaw);
    for (size_t c = 0; c < model.cuts.size(); ++c) {
        SCOPED_TRACE("cut " + std::to_string(c));
        Config config;
        config.Set(0, 90, 90, 0, discAngleLookingAlong(model.cuts[c]));
        const std::vector<FoundCut> found = detect({&record(true, config)}, skeleton);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_LT(distanceMm(found[0], model.cuts[c]), 0.5);
        EXPECT_LT(angleDeg(found[0], model.cuts[c]), 3.0);
    }
}

// The same recording stored twice gives the cut twice; the two are merged into one.
TEST(SawCutDetection, SameCutSeenTwiceIsReportedOnce) {
    const Sim::SectionedJawModel& model = sectionedJaw();
    Config config;
    config.Set(0, 90, 90, 0, discAngleLookingAlong(model.cuts[2]));
    const Sim::RecordedImage& image = record(true, config);
    const std::vector<FoundCut> found = detect({&image, &image}, skeletonOf(model.jaw));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_LT(distanceMm(found[0], model.cuts[2]), 0.5);
}

// The six images of the overview ring: every cut reported is a true cut, within 1 mm of its
// centre and 15 degrees of its orientation (the ring sees most cuts at a slant, and the plane
// through the camera and a slanted view of the cut is turned against the cut itself), and at
// least three of the four cuts are reported, each once. The fourth (between the left molars)
// faces none of the six views closely enough to show a straight gap of 300 pixels.
TEST(SawCutDetection, OverviewRingReportsTrueCutsOnly) {
    const Sim::SectionedJawModel& model = sectionedJaw();
    std::vector<const Sim::RecordedImage*> images;
    for (const Config& config : overviewRing())
        images.push_back(&record(true, config));
    ASSERT_EQ(images.size(), 6u);
    const std::vector<FoundCut> found = detect(images, skeletonOf(model.jaw));
    std::vector<int> matches(model.cuts.size(), 0);
    for (const FoundCut& cut : found) {
        size_t nearest = 0;
        for (size_t c = 1; c < model.cuts.size(); ++c)
            if (distanceMm(cut, model.cuts[c]) < distanceMm(cut, model.cuts[nearest]))
                nearest = c;
        EXPECT_LT(distanceMm(cut, model.cuts[nearest]), 1.0) << "cut near " << nearest;
        EXPECT_LT(angleDeg(cut, model.cuts[nearest]), 15.0) << "cut near " << nearest;
        ++matches[nearest];
    }
    EXPECT_GE(std::count(matches.begin(), matches.end(), 1), 3);
    EXPECT_EQ(std::count_if(matches.begin(), matches.end(), [](int m) { return m > 1; }), 0);
}

TEST(SawCutDetection, UnsectionedJawHasNoCuts) {
    const Sim::JawModel plain = Sim::BuildJawModel();
    std::vector<const Sim::RecordedImage*> images;
    for (const Config& config : overviewRing())
        images.push_back(&record(false, config));
    EXPECT_TRUE(detect(images, skeletonOf(plain)).empty());
}
