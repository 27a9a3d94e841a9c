// The reference device's chain and sensor; the numbers are documented in ReferenceDevice.h.
#include "ReferenceDevice.h"

#include <cmath>

namespace ReferenceDevice {

std::array<ZoCOrbal2DenavitHartenbergJoint, 5> Joints() {
    using J = ZoCOrbal2DenavitHartenbergJoint;
    return {J(c_fThetaL1, c_afHome[0], 0, 90, J::c_iTranslational, c_afMin[0], c_afMax[0]),
            J(c_afHome[1], 0, 0, 90, J::c_iRevolute, c_afMin[1], c_afMax[1]),
            J(c_afHome[2], 0, c_fLengthL3, 90, J::c_iRevolute, c_afMin[2], c_afMax[2]),
            J(c_fThetaL4, c_afHome[3], 0, 0, J::c_iTranslational, c_afMin[3], c_afMax[3]),
            J(c_afHome[4], 0, 0, 0, J::c_iRevolute, c_afMin[4], c_afMax[4])};
}

ZoCOrbal2AxisChain::NCJointConfiguration Home() { return ZoCOrbal2AxisChain::NCJointConfiguration(c_afHome); }

ZoCCamProjCalib CamProjCalib() {
    // Base frame: the disc axis at home runs from (19.2, -14.4) along +z, away from the
    // camera; the tilt centre is the origin. The camera stands beyond the tilt centre, on
    // the side away from the disc axis (-0.8, 0.6), raised by the elevation towards -z.
    const double el = c_dElevationDeg * 3.14159265358979 / 180.0;
    const double e = c_dWorkingDistance;
    const double eyeBase[3] = {-0.8 * e * std::cos(el), 0.6 * e * std::cos(el), -e * std::sin(el)};
    // Camera frame = base turned by pi about x: (x, -y, -z).
    const CCoordinate3<double> eye(eyeBase[0], -eyeBase[1], -eyeBase[2]);
    const CCoordinate3<double> view(-eye.x / e, -eye.y / e, -eye.z / e);
    const CCoordinate3<double> up(0, 0, 1);  // towards the camera side of the disc plane
    const ZoCAbstractCamCalib camera(eye, view, up, c_dCameraFovDeg, c_lCameraWidth, c_lCameraHeight);

    // Projector: beside the camera along the camera's right direction, aimed at the tilt centre.
    CCoordinate3<double> cv, cu;
    camera.GetViewDirection(cv);
    camera.GetUpDirection(cu);
    const double right[3] = {cv.y * cu.z - cv.z * cu.y, cv.z * cu.x - cv.x * cu.z, cv.x * cu.y - cv.y * cu.x};
    const CCoordinate3<double> peye(eye.x + c_dProjectorBaseline * right[0], eye.y + c_dProjectorBaseline * right[1],
                                    eye.z + c_dProjectorBaseline * right[2]);
    const double pl = std::sqrt(peye.x * peye.x + peye.y * peye.y + peye.z * peye.z);
    const CCoordinate3<double> pview(-peye.x / pl, -peye.y / pl, -peye.z / pl);
    const ZoCAbstractCamCalib projector(peye, pview, up, c_dProjectorFovDeg, c_lProjectorWidth, c_lProjectorHeight);
    return ZoCCamProjCalib(camera, projector, c_dWorkingDistance);
}

}  // namespace ReferenceDevice
