// The polygon around a jaw of the built-in double-arch tray, computed from an overview that the
// virtual scanner records, against the tray's ground truth: its band is 14 mm wide along the arch.
#include "AcquisitionPlanningStore.h"
#include "SyntheticModels.h"
#include "VirtualScanner.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <cmath>

// One overview of the upper jaw gives the border: it runs along both edges of the tray (7 mm from
// the centre line; the first empty cell beyond it, cells of 0.25 mm, gaps up to 1 mm closed),
// encloses the tray's band, goes round it (first edge in order, second reversed) and reaches the
// planning in its frame.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, BorderOfASimulatedTrayFollowsItsEdges) {
    constexpr float c_fImageAreaPerMm = 40.0f;
    const Sim::DoubleArchTrayModel tray = Sim::BuildDoubleArchTrayModel();
    ZoCAcquisitionSteeringOrbal2TripleTray steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    Sim::VirtualScannerOptions options;
    options.width = 320;  // a quarter of the camera's resolution keeps the suite fast
    options.height = 256;
    Sim::VirtualScanner scanner(ZoCOrbal2DeviceConfig(), tray.mesh, options);
    ASSERT_TRUE(scanner.IsValid()) << scanner.GetError();
    ZoCOrbal2AxisChain::CJointPositionSequence overview;
    ASSERT_TRUE(steering.GetJointConfigurationForOverview(overview));
    ZoCImageDataBase database;
    for (int64_t i = 0; i < overview.GetCount(); ++i)
        database.ProvideImageArea(eAreaTypeUpperJaw)
            .AddImageSource(Sim::MakeImageSource(scanner.Record(overview[i].m_config), overview[i].m_strName));
    std::vector<CbVector3f> line, arch;  // the centre line in image-area units, and densely in mm
    for (int i = 0; i <= 2000; ++i)
        arch.push_back(tray.arch.Position(tray.arch.GetLength() * static_cast<float>(i) / 2000));
    for (int i = 0; i <= 2000; i += 2000 / 25)
        line.emplace_back(arch[i].x * c_fImageAreaPerMm, arch[i].y * c_fImageAreaPerMm, 0.0f);
    steering.setSkeletonRaw(CyHermiteSpline(line));
    steering.CalcInvalidJawRegionsFromJawLine(database, eAreaTypeUpperJaw, nullptr);

    const auto& border = steering.GetJawBorderPoints();
    ASSERT_GE(border.size(), 8u);
    int nearEdge = 0;
    double twice = 0;  // shoelace
    for (size_t i = 0; i < border.size(); ++i) {
        const CbVector3f &p = border[i], &q = border[(i + 1) % border.size()];
        float d = 1e9f;
        for (const CbVector3f& a : arch)
            d = std::min(d, std::hypot(p.x / c_fImageAreaPerMm - a.x, p.y / c_fImageAreaPerMm - a.y));
        nearEdge += d > 6.0f && d < 9.0f;
        twice += static_cast<double>(p.x) * q.y - static_cast<double>(q.x) * p.y;
    }
    EXPECT_GE(nearEdge, static_cast<int>(0.9 * static_cast<double>(border.size()))) << nearEdge << " of " << border.size();
    const double areaMm2 = std::fabs(twice) / 2 / (c_fImageAreaPerMm * c_fImageAreaPerMm);
    EXPECT_TRUE(areaMm2 > 0.9 * 14.0 * tray.arch.GetLength() && areaMm2 < 1.4 * 14.0 * tray.arch.GetLength()) << areaMm2;

    // Heights up in the border, z down on the disc: (x, y, -z) in mm to the disc, then to planning.
    steering.SetJawlineBorder();
    const auto sent = dynamic_cast<AcquisitionPlanningStore&>(*steering.GetAcquisitionPlanning()).JawBorder();
    ASSERT_EQ(sent.size(), 3 * border.size());
    const CbVector3f disc = CbVector3f(border.back().x, border.back().y, -border.back().z) * 0.025f;
    const CbVector3f expected = steering.GetPlanningTransformation().TransformPoint({disc.x, disc.y, -disc.z});
    EXPECT_NEAR((CbVector3f(sent[sent.size() - 3], sent[sent.size() - 2], sent.back()) - expected).Length(), 0.0f, 2e-3f);
}
