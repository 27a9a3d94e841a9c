// What a view would measure, predicted on the closed measured relief (MeasuredSurface): the
// planning's counterpart of the scanner. A point is measured when the camera sees it and the
// projector lights it: it lies in both images, faces each of them within c_fMaxIncidenceDeg
// (beyond that the fringes smear and the sensor rejects the pixel), and the relief stands
// between it and neither the camera's nor the projector's eye.
#pragma once

#include "AcquisitionPlanning.h"
#include "MeasuredSurface.h"

#include <array>

class ViewPrediction {
public:
    static constexpr float c_fMaxIncidenceDeg = 75.0f;

    using Sensor = ZoCOrbal2AcquisitionPlanning::NSSensorParameters;
    // The sensors as the planning was given them (camera frame) and the chain from its joint records.
    ViewPrediction(const Sensor& camera, const Sensor& projector,
                   const ZoCOrbal2AcquisitionPlanning::NSJointParameter records[5]);
    bool IsSetUp() const { return m_bSetUp; }

    // Where the sensors stand at a joint configuration (plate frame: disc x, y and height).
    struct Pose {
        CbMatrix4Rf plateToCamera;
        CbVector3f cameraEye, projectorEye;
    };
    bool PoseAt(const float joints[5], Pose& pose) const;
    // Whether the view at `pose` measures the point `p` with outward unit normal `n`.
    bool Measures(const Pose& pose, const MeasuredSurface& surface, const CbVector3f& p, const CbVector3f& n) const;

private:
    struct Frustum {
        CbVector3f eye, view, right, up;
        float tanX = 0, tanY = 0;
        bool Contains(const CbVector3f& cameraPoint) const;
    };
    static bool makeFrustum(const Sensor& sensor, Frustum& frustum);

    ZoCOrbal2AxisChain m_chain;
    Frustum m_camera, m_projector;
    CbMatrix4Rf m_baseToCamera;  // inverse of the chain's camera-to-base at home
    bool m_bSetUp = false;
};
