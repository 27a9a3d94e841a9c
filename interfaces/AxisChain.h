// Axis chain component: the five-joint kinematic chain (L1 and L4 linear, L2 and L3 tilts, L5
// the disc), joint configurations, configuration requests and their sequences, motor
// positions, and the pinhole calibration of camera and projector.
#pragma once

#include "Geometry.h"
#include "Platform.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// One joint's Denavit-Hartenberg record. The four parameters are the joint's DH values at the
// chain's home configuration: theta (degrees), d (millimetres), a (millimetres), alpha
// (degrees). A revolute joint (kind 1) adds (value - home value) to theta, a translational
// joint (kind 0) to d. So for the tilts, theta is the home tilt angle that planners measure
// their tilts from, and a is the joint's length parameter.
class ZoCOrbal2DenavitHartenbergJoint {
public:
    static constexpr int c_iTranslational = 0;
    static constexpr int c_iRevolute = 1;

    ZoCOrbal2DenavitHartenbergJoint() = default;
    ZoCOrbal2DenavitHartenbergJoint(float theta, float d, float a, float alpha, int kind, float minPosition,
                                    float maxPosition)
        : m_afParams{theta, d, a, alpha}, m_iKind(kind), m_fMinPosition(minPosition), m_fMaxPosition(maxPosition) {}

    float GetParam(int i) const { return m_afParams[static_cast<size_t>(i)]; }
    float GetTheta() const { return m_afParams[0]; }
    float GetD() const { return m_afParams[1]; }
    float GetA() const { return m_afParams[2]; }
    float GetAlpha() const { return m_afParams[3]; }
    // The angle planners measure tilts from: theta, the joint's home angle.
    float GetAngleOffset() const { return m_afParams[0]; }
    // The joint's length parameter (a).
    float GetLengthParam() const { return m_afParams[2]; }
    int GetKind() const { return m_iKind; }
    bool IsRevolute() const { return m_iKind == c_iRevolute; }
    float GetMinPosition() const { return m_fMinPosition; }
    float GetMaxPosition() const { return m_fMaxPosition; }

private:
    std::array<float, 4> m_afParams{0, 0, 0, 0};
    int m_iKind = c_iTranslational;
    float m_fMinPosition = 0;
    float m_fMaxPosition = 0;
};

class ZoCOrbal2AxisChain {
public:
    static constexpr int c_iNumJoints = 5;

    // Joint values: components 0..4 are L1..L5 (mm, degrees); component 5 is an extra axis
    // that only mouse-driven rotation uses.
    class NCJointConfiguration {
    public:
        static constexpr int c_iNumComponents = 6;
        NCJointConfiguration() = default;
        // From the first five values at `values`; null gives the default (all zero).
        explicit NCJointConfiguration(const float* values);
        void Set(float a0, float a1, float a2, float a3, float a4);
        float& operator[](int i) { return m_afValues[static_cast<size_t>(i)]; }
        float operator[](int i) const { return m_afValues[static_cast<size_t>(i)]; }
        float GetComponent(int i) const { return m_afValues[static_cast<size_t>(i)]; }
        const float* Data() const { return m_afValues.data(); }
        friend bool operator==(const NCJointConfiguration&, const NCJointConfiguration&) = default;

    private:
        std::array<float, c_iNumComponents> m_afValues{0, 0, 0, 0, 0, 0};
    };

    // One position to visit and record an image at.
    struct NSConfigurationRequest {
        NCJointConfiguration m_config;
        CString m_strName;
        uint8_t m_byFlag = 0;  // 1 for planned requests, 0 for mouse-driven rotation
        CRect m_rectCameraROI;  // camera region of interest, pixels
        int m_iROICenterX = 0;
        int m_iROICenterY = 0;
        float m_fExposureFactor = 1.0f;  // library field: relative exposure of the recording
        int m_iOrientationScan = 0;      // set to 1 by the scan-body orientation scan
        int m_iKeepRegistration = 0;     // set to 1 by the scan-body orientation scan
    };

    // Ordered requests.
    class CJointPositionSequence {
    public:
        void Add(const NSConfigurationRequest& request) { m_requests.push_back(request); }
        NSConfigurationRequest& GetAt(int64_t i) { return m_requests[static_cast<size_t>(i)]; }
        const NSConfigurationRequest& GetAt(int64_t i) const { return m_requests[static_cast<size_t>(i)]; }
        NSConfigurationRequest& operator[](int64_t i) { return GetAt(i); }
        const NSConfigurationRequest& operator[](int64_t i) const { return GetAt(i); }
        int64_t GetCount() const { return static_cast<int64_t>(m_requests.size()); }
        int64_t GetSize() const { return GetCount(); }
        void RemoveAll() { m_requests.clear(); }

    private:
        std::vector<NSConfigurationRequest> m_requests;
    };

    // The reference device's chain (see ReferenceDevice.h in the axis chain component).
    ZoCOrbal2AxisChain();
    ZoCOrbal2AxisChain(const std::array<ZoCOrbal2DenavitHartenbergJoint, c_iNumJoints>& joints,
                       const NCJointConfiguration& home, bool hasNeutral = true);

    // The home configuration; false (and `config` untouched) for a chain without one.
    bool GetNeutralConfiguration(NCJointConfiguration& config) const;
    // Camera frame -> disc frame at `config`. Millimetres; with `imageAreaUnits` the
    // translation is in image-area units (40 per millimetre), as registrations are.
    CbMatrix4Rf GetCamToDiscTransformation(const NCJointConfiguration& config, bool imageAreaUnits) const;
    // Disc frame -> chain base, millimetres, double precision (A1*A2*A3*A4*A5).
    std::array<double, 16> ForwardKinematics(const NCJointConfiguration& config) const;
    const ZoCOrbal2DenavitHartenbergJoint& GetDHJoint(int i) const { return m_joints[static_cast<size_t>(i)]; }
    // Limits of joint i; false for an index outside 0..4.
    bool GetMinMaxPosition(int i, float& minPosition, float& maxPosition) const;
    // Clamps components 0..4 into the joint limits; true when any value changed.
    bool ClampToLimits(NCJointConfiguration& config) const;

private:
    std::array<ZoCOrbal2DenavitHartenbergJoint, c_iNumJoints> m_joints;
    NCJointConfiguration m_home;
    bool m_bHasNeutral = true;
};

// Pinhole model shared by camera and projector. Positions and directions are in the camera
// frame of the axis chain (millimetres); the field of view is the full horizontal angle in
// degrees over `width` pixels; pixels grow right (x) and down (y).
class ZoCAbstractCamCalib {
public:
    ZoCAbstractCamCalib() = default;
    ZoCAbstractCamCalib(const CCoordinate3<double>& eye, const CCoordinate3<double>& view,
                        const CCoordinate3<double>& up, double fovDegrees, long width, long height);

    bool GetViewDirection(CCoordinate3<double>& v) const;
    bool GetUpDirection(CCoordinate3<double>& v) const;
    bool GetEyePt(CCoordinate3<double>& v) const;
    bool GetFOV(double& fov) const;
    bool IsValid() const { return m_bValid; }
    long GetWidth() const { return m_lWidth; }
    long GetHeight() const { return m_lHeight; }
    // Pixel position of a point; false when the point is not in front of the eye.
    bool Project(const double point[3], double& u, double& v) const;
    // The point on the viewing ray of pixel (u, v) at `distance` along the view direction.
    void PixelToPoint(double u, double v, double distance, double point[3]) const;
    // Unit direction of the viewing ray of pixel (u, v).
    void PixelRay(double u, double v, double direction[3]) const;
    double FocalLengthPixels() const;

private:
    bool m_bValid = false;
    double m_eye[3] = {0, 0, 0};
    double m_view[3] = {0, 0, 1};
    double m_up[3] = {0, 1, 0};
    double m_right[3] = {1, 0, 0};
    double m_fFovDegrees = 0;
    long m_lWidth = 0;
    long m_lHeight = 0;
};

class ZoCCamProjCalib {
public:
    ZoCCamProjCalib();  // the reference device's camera and projector
    ZoCCamProjCalib(const ZoCAbstractCamCalib& camera, const ZoCAbstractCamCalib& projector, double focusDistance);
    virtual ~ZoCCamProjCalib() = default;
    // A copy of the same dynamic type. A subclass that changes any virtual overrides this too,
    // so that whoever keeps a copy (the steerings do) keeps its behaviour.
    virtual std::unique_ptr<ZoCCamProjCalib> Clone() const { return std::make_unique<ZoCCamProjCalib>(*this); }

    const ZoCAbstractCamCalib& GetCamera() const { return m_camera; }
    const ZoCAbstractCamCalib& GetProjector() const { return m_projector; }
    bool GetPViewDirection(CCoordinate3<double>& v) const { return m_projector.GetViewDirection(v); }
    bool GetPUpDirection(CCoordinate3<double>& v) const { return m_projector.GetUpDirection(v); }
    bool GetPEyePt(CCoordinate3<double>& v) const { return m_projector.GetEyePt(v); }
    bool GetPGridSize(long& width, long& height) const;
    // Camera image size in pixels; false when unknown.
    virtual bool GetCameraImageSize(long& width, long& height) const;
    // Pixel coordinates (first two outputs) of a camera-frame point; the third output is the
    // depth along the view direction. False when the point is behind the camera.
    bool ProjectToImage(const double point[3], double out[3]) const;
    // Camera-frame point of pixel (u, v) on the plane of best focus.
    void ImagePointToCameraSpace(double u, double v, double point[3]) const;
    double GetFocusDistance() const { return m_dFocusDistance; }

private:
    ZoCAbstractCamCalib m_camera;
    ZoCAbstractCamCalib m_projector;
    double m_dFocusDistance = 0;
};

struct ZoCOrbal2DeviceConfig {
    ZoCOrbal2AxisChain m_axisChain;
    ZoCCamProjCalib m_camProjCalib;
};

// Motor positions: five motor values. The simulator counts motor increments from the home
// position; the steering works in joint units (mm, degrees) from the home position.
struct MotorPosition {
    float m_afValues[5] = {0, 0, 0, 0, 0};
};

struct SteeringMotorPosition : MotorPosition {
    // Joint configuration: the chain's home values plus these offsets.
    ZoCOrbal2AxisChain::NCJointConfiguration ConvertToJointConfiguration() const;
};

struct SimulatorMotorPosition : MotorPosition {
    // Increments per joint unit of each motor (L1, L4: per mm; L2, L3, L5: per degree); the
    // reference device's choice, explained in components/axischain/ReferenceDevice.h.
    static constexpr float c_afIncrementsPerUnit[5] = {2.0f, 1.0f, 2.0f, 2.0f, 1.0f};
    SteeringMotorPosition ConvertToSteeringPos() const;
};

// Weighted mean that discounts outliers: starting from the weighted mean, values further than
// three weighted standard deviations from the current mean lose their weight, until the set of
// kept values no longer changes. Returns false (and the plain weighted mean) when no weight is
// positive.
template <class TValue, class TWeight, class TResult>
bool RobustMean(const TValue* values, const TWeight* weights, int count, TResult& mean, TResult& deviation);

template <>
bool RobustMean<float, float, float>(const float* values, const float* weights, int count, float& mean,
                                     float& deviation);
