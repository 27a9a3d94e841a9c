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

class TrayBorder : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_tray = new Sim::DoubleArchTrayModel(Sim::BuildDoubleArchTrayModel());
        s_steering = new ZoCAcquisitionSteeringOrbal2TripleTray(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
        s_database = new ZoCImageDataBase();
        Sim::VirtualScannerOptions options;
        options.width = 320;  // a quarter of the camera's resolution keeps the suite fast
        options.height = 256;
        Sim::VirtualScanner scanner(ZoCOrbal2DeviceConfig(), s_tray->mesh, options);
        ASSERT_TRUE(scanner.IsValid()) << scanner.GetError();
        ZoCOrbal2AxisChain::CJointPositionSequence overview;
        ASSERT_TRUE(s_steering->GetJointConfigurationForOverview(overview));
        CImageArea& area = s_database->ProvideImageArea(eAreaTypeUpperJaw);
        for (int64_t i = 0; i < overview.GetCount(); ++i)
            area.AddImageSource(
                Sim::MakeImageSource(scanner.Record(overview[i].m_config), overview[i].m_strName));
        std::vector<CbVector3f> line;
        for (int i = 0; i <= 24; ++i) {
            const CbVector3f p = s_tray->arch.Position(s_tray->arch.GetLength() * static_cast<float>(i) / 24);
            line.emplace_back(p.x * c_fImageAreaPerMm, p.y * c_fImageAreaPerMm, 0.0f);
        }
        s_steering->setSkeletonRaw(CyHermiteSpline(line));
        s_steering->CalcInvalidJawRegionsFromJawLine(*s_database, eAreaTypeUpperJaw, nullptr);
    }
    static void TearDownTestSuite() {
        delete s_steering;
        delete s_database;
        delete s_tray;
    }
    static Sim::DoubleArchTrayModel* s_tray;
    static ZoCAcquisitionSteeringOrbal2TripleTray* s_steering;
    static ZoCImageDataBase* s_database;
};

Sim::DoubleArchTrayModel* TrayBorder::s_tray = nullptr;
ZoCAcquisitionSteeringOrbal2TripleTray* TrayBorder::s_steering = nullptr;
ZoCImageDataBase* TrayBorder::s_database = nullptr;

TEST_F(TrayBorder, PolygonRunsAlongBothEdgesOfTheTray) {
    const auto& border = s_steering->GetJawBorderPoints();
    ASSERT_GE(border.size(), 8u);
    int nearEdge = 0;
    for (const CbVector3f& p : border) {
        const float d = distanceToArch(s_tray->arch, p);
        // The tray's edge lies 7 mm from the centre line; the border sits on the first empty
        // cell beyond it (cells of 0.25 mm, gaps of up to 1 mm closed).
        if (d > 6.0f && d < 9.0f)
            ++nearEdge;
    }
    EXPECT_GE(nearEdge, static_cast<int>(0.9 * static_cast<double>(border.size())))
        << nearEdge << " of " << border.size();
}

TEST_F(TrayBorder, PolygonEnclosesTheTraysArea) {
    // Shoelace area of the polygon against the band's 14 mm times the arch's length.
    const auto& b = s_steering->GetJawBorderPoints();
    ASSERT_GE(b.size(), 3u);
    double twice = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        const CbVector3f& p = b[i];
        const CbVector3f& q = b[(i + 1) % b.size()];
        twice += static_cast<double>(p.x) * q.y - static_cast<double>(q.x) * p.y;
    }
    const double area = std::fabs(twice) / 2 / (c_fImageAreaPerMm * c_fImageAreaPerMm);
    const double band = 14.0 * s_tray->arch.GetLength();
    EXPECT_GT(area, 0.9 * band);
    EXPECT_LT(area, 1.4 * band);
}

TEST_F(TrayBorder, HandsTheBorderToThePlanningInItsFrame) {
    s_steering->SetJawlineBorder();
    const auto& border = s_steering->GetJawBorderPoints();
    const auto sent =
        dynamic_cast<AcquisitionPlanningStore&>(*s_steering->GetAcquisitionPlanning()).JawBorder();
    ASSERT_EQ(sent.size(), 3 * border.size());
    // Heights up in the border, z down on the disc: (x, y, -z) to the disc, then to planning.
    const CbVector3f& p = border.back();
    const CbVector3f disc = CbVector3f(p.x, p.y, -p.z) * 0.025f;
    const CbVector3f expected =
        s_steering->GetPlanningTransformation().TransformPoint({disc.x, disc.y, -disc.z});
    const size_t k = sent.size() - 3;
    EXPECT_NEAR(sent[k], expected.x, 1e-3f);
    EXPECT_NEAR(sent[k + 1], expected.y, 1e-3f);
    EXPECT_NEAR(sent[k + 2], expected.z, 1e-3f);
}

}  // namespace
