// The polygon around a jaw of the built-in double-arch tray, computed from an overview that the
// virtual scanner records, against the tray's ground truth: its band is 14 mm wide along the
// arch.
#include "AcquisitionPlanningStore.h"
#include "SyntheticModels.h"
#include "VirtualScanner.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float c_fImageAreaPerMm = 40.0f;

// Distance on the disc plane (mm) from `p` (image-area units) to the arch's centre line.
float distanceToArch(const Sim::ArchCurve& arch, const CbVector3f& p) {
    float best = 1e9f;
    for (int i = 0; i <= 2000; ++i) {
        const CbVector3f a = arch.Position(arch.GetLength() * static_cast<float>(i) / 2000);
        best = std::min(best, std::hypot(p.x / c_fImageAreaPerMm - a.x, p.y / c_fImageAreaPerMm - a.y));
    }
    return best;
}

// One overview of the upper jaw, recorded by the virtual scanner, gives the border: it runs
// along both edges of the tray, encloses the tray's band, and reaches the planning in its frame.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, BorderOfASimulatedTrayFollowsItsEdges) {
    const Sim::DoubleArchTrayModel tray = Sim::BuildDoubleArchTrayModel();
    ZoCAcquisitionSteeringOrbal2TripleTray steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    ZoCImageDataBase database;
    Sim::VirtualScannerOptions options;
    options.width = 320;  // a quarter of the camera's resolution keeps the suite fast
    options.height = 256;
    Sim::VirtualScanner scanner(ZoCOrbal2DeviceConfig(), tray.mesh, options);
    ASSERT_TRUE(scanner.IsValid()) << scanner.GetError();
    ZoCOrbal2AxisChain::CJointPositionSequence overview;
    ASSERT_TRUE(steering.GetJointConfigurationForOverview(overview));
    CImageArea& area = database.ProvideImageArea(eAreaTypeUpperJaw);
    for (int64_t i = 0; i < overview.GetCount(); ++i)
        area.AddImageSource(Sim::MakeImageSource(scanner.Record(overview[i].m_config), overview[i].m_strName));
    std::vector<CbVector3f> line;
    for (int i = 0; i <= 24; ++i) {
        const CbVector3f p = tray.arch.Position(tray.arch.GetLength() * static_cast<float>(i) / 24);
        line.emplace_back(p.x * c_fImageAreaPerMm, p.y * c_fImageAreaPerMm, 0.0f);
    }
    steering.setSkeletonRaw(CyHermiteSpline(line));
    steering.CalcInvalidJawRegionsFromJawLine(database, eAreaTypeUpperJaw, nullptr);

    const auto& border = steering.GetJawBorderPoints();
    ASSERT_GE(border.size(), 8u);
    int nearEdge = 0;
    double twice = 0;  // shoelace
    for (size_t i = 0; i < border.size(); ++i) {
        // The tray's edge lies 7 mm from the centre line; the border sits on the first empty
        // cell beyond it (cells of 0.25 mm, gaps of up to 1 mm closed).
        const float d = distanceToArch(tray.arch, border[i]);
        nearEdge += d > 6.0f && d < 9.0f;
        const CbVector3f& p = border[i];
        const CbVector3f& q = border[(i + 1) % border.size()];
        twice += static_cast<double>(p.x) * q.y - static_cast<double>(q.x) * p.y;
    }
    EXPECT_GE(nearEdge, static_cast<int>(0.9 * static_cast<double>(border.size()))) << nearEdge << " of " << border.size();
    // The area against the band's 14 mm times the arch's length.
    const double areaMm2 = std::fabs(twice) / 2 / (c_fImageAreaPerMm * c_fImageAreaPerMm);
    EXPECT_GT(areaMm2, 0.9 * 14.0 * tray.arch.GetLength());
    EXPECT_LT(areaMm2, 1.4 * 14.0 * tray.arch.GetLength());

    steering.SetJawlineBorder();
    const auto sent = dynamic_cast<AcquisitionPlanningStore&>(*steering.GetAcquisitionPlanning()).JawBorder();
    ASSERT_EQ(sent.size(), 3 * border.size());
    // Heights up in the border, z down on the disc: (x, y, -z) to the disc, then to planning.
    const CbVector3f& p = border.back();
    const CbVector3f disc = CbVector3f(p.x, p.y, -p.z) * 0.025f;
    const CbVector3f expected = steering.GetPlanningTransformation().TransformPoint({disc.x, disc.y, -disc.z});
    const size_t k = sent.size() - 3;
    EXPECT_NEAR(sent[k], expected.x, 1e-3f);
    EXPECT_NEAR(sent[k + 1], expected.y, 1e-3f);
    EXPECT_NEAR(sent[k + 2], expected.z, 1e-3f);
}

}  // namespace
