// The reference device: the numbers behind a default-constructed ZoCOrbal2DeviceConfig.
//
// Kinematics. The disc frame is carried to the chain base by A1*A2*A3*A4*A5, each
// Ai = Rot_z(theta) * Trans_z(d) * Trans_x(a) * Rot_x(alpha), the DH model the axis
// calibration estimates. The camera frame is the base frame turned by pi about x, so
// camera -> disc = (A1*...*A5)^-1 * Rot_x(pi). The DH values below are those at the home
// configuration (L1..L5) = (0, 90, 90, 0, 0): with the calibration's offsets all zero, the
// revolute joints' theta equals the joint value and the translational joints' d equals it.
//
//   joint  kind            theta      d     a   alpha   limits
//   L1     translational   53.1301    0     0   90      [-169, 50]  mm
//   L2     revolute        90         0     0   90      [30, 150]   deg
//   L3     revolute        90         0     24  90      [-15, 150]  deg
//   L4     translational   126.8699   0     0   0       [-45, 45]   mm
//   L5     revolute        0          0     0   0       [-360, 360] deg
//
// L1 moves the chain along the base z axis, away from the camera. L2 and L3 tilt about axes
// through the tilt centre (the base origin at L1 = 0), which lies 24 mm from the disc axis.
// L4 lifts the disc along its own axis (positive: away from the camera) and L5 turns it.
// The limits admit every sequence the planners produce: the tilt ring of the rotation
// generator (30..150), the rotation scan's L3 down to 90 - 105, the buccal ring's L1 = 48,
// stump heights down to L4 = -40, and disc angles given in degrees or in radians.
//
// Motors. The simulator's motor positions (the triple tray's stage tables among them) count
// increments from home; SimulatorMotorPosition::c_afIncrementsPerUnit turns them into joint
// offsets: 2 per mm for L1 and L4, 1 per degree for L2 and L5, 2 per degree for L3. These are
// the values under which the tray tables are the scan they are meant to be:
// - the turn-around's disc motor runs from 8 to 194, a turn of 186 degrees: the disc turns
//   about half a round while L3 rises from 120 to 142.5 degrees, still inside its limit of 150
//   (one increment per degree would drive L3 to 195);
// - the side views tilt L2 over 40..140 and L3 over 60..130 degrees and aim the camera axis at
//   points some 45 to 50 mm apart on the disc, at 15 to 75 degrees from the disc normal, so the
//   nine views of a side spread over the jaw;
// - L1 and L4 move by at most 17.5 and 12 mm, which keeps the disc within about 125..185 mm of
//   the camera, around the 150 mm working distance.
//
// Sensor. The camera looks at the tilt centre from 150 mm, 45 degrees above the disc plane,
// from the side of the tilt centre that faces away from the disc axis; 1280 x 1024 pixels,
// 36 degrees horizontal field of view. The projector sits 50 mm beside the camera and looks
// at the same point; 1024 x 768 grid, 40 degrees.
#pragma once

#include "AxisChain.h"

namespace ReferenceDevice {

constexpr float c_fThetaL1 = 53.130104064941406f;  // atan(4/3) in degrees
constexpr float c_fThetaL4 = 126.8698959350586f;   // 180 - atan(4/3)
constexpr float c_fLengthL3 = 24.0f;

constexpr float c_afHome[5] = {0.0f, 90.0f, 90.0f, 0.0f, 0.0f};
constexpr float c_afMin[5] = {-169.0f, 30.0f, -15.0f, -45.0f, -360.0f};
constexpr float c_afMax[5] = {50.0f, 150.0f, 150.0f, 45.0f, 360.0f};

constexpr double c_dWorkingDistance = 150.0;  // eye to tilt centre, mm
constexpr double c_dElevationDeg = 45.0;      // camera elevation above the disc plane
constexpr double c_dProjectorBaseline = 50.0; // projector eye beside the camera eye, mm
constexpr long c_lCameraWidth = 1280;
constexpr long c_lCameraHeight = 1024;
constexpr double c_dCameraFovDeg = 36.0;
constexpr long c_lProjectorWidth = 1024;
constexpr long c_lProjectorHeight = 768;
constexpr double c_dProjectorFovDeg = 40.0;

// The DH records of the reference chain.
std::array<ZoCOrbal2DenavitHartenbergJoint, 5> Joints();
ZoCOrbal2AxisChain::NCJointConfiguration Home();
ZoCCamProjCalib CamProjCalib();

}  // namespace ReferenceDevice
