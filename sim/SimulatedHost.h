// The host's side of a scan, simulated: records every request of a sequence on the virtual
// scanner, stores the image in the image database, ties the request to the image source and
// hands the scan to the steering, as the scanner's host application does.
#pragma once

#include "VirtualScanner.h"
#include "ZoOrbal2.h"

#include <vector>

namespace Sim {

class SimulatedHost {
public:
    SimulatedHost(ZoCAcquisitionSteeringOrbal2& steering, VirtualScanner& scanner, EAreaType area);

    // Records the sequence in order; keeps the coordinate fields in `fields` when given.
    // Returns the number of images recorded.
    int Record(const ZoCOrbal2AxisChain::CJointPositionSequence& seq, std::vector<ZoCFieldCoord>* fields = nullptr);

    // Records with `scanner` from now on (a finer camera for one sequence, say).
    void UseScanner(VirtualScanner& scanner) { m_scanner = &scanner; }
    int GetNumImages() const { return m_iNumImages; }
    // Time the axes needed from request to request (the slowest joint of each step), seconds.
    double GetTravelTime() const { return m_dTravelTime; }
    // Each image's viewing ray in the disc frame (mm): from the camera's eye to the focus point.
    const std::vector<CyRay>& GetViewRays() const { return m_viewRays; }

private:
    ZoCAcquisitionSteeringOrbal2& m_steering;
    VirtualScanner* m_scanner;
    CImageArea& m_area;
    ZoCOrbal2AxisChain::NCJointConfiguration m_current;
    bool m_bMoved = false;
    int m_iNumImages = 0;
    double m_dTravelTime = 0;
    std::vector<CyRay> m_viewRays;
};

}  // namespace Sim
