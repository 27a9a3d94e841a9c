// Scan-body steering: scans an implant scan body (a small cylinder screwed onto the model) along
// the axis the host gives: eight views on a cone around the axis (a gyration around a ray), or
// one view at a given cone angle for the body's orientation. The planning solves the joints of
// each view; this steering chooses the directions and names the requests.
#pragma once

#include "ZoCAcquisitionSteeringOrbal2Gyration.h"

class ZoCAcquisitionSteeringOrbal2Scanbody : public ZoCAcquisitionSteeringOrbal2Gyration {
public:
    static constexpr int c_iNumViews = 8;
    static constexpr int c_iNumConeTries = 5;           // each 10 % narrower than the one before
    static constexpr int c_iFirstViewIndex = 5;         // the views are numbered from 5 in their names
    static constexpr float c_fConeStep = 0.7853982f;    // azimuth between views, radians
    static constexpr float c_fConeMean = 0.74176496f;   // 42.5 degrees
    static constexpr float c_fConeSwing = 0.13089967f;  // 7.5 degrees
    static constexpr float c_fSolveTolerance = 1.1920929e-07f;
    static constexpr float c_fOrientationDepth = 2048.0f;  // translation z of the orientation trafo
    static constexpr float c_fVerticalTolerance = 1e-5f;   // sine of a tilt that counts as none

    explicit ZoCAcquisitionSteeringOrbal2Scanbody(const ZoCOrbal2DeviceConfig& device);

    // Up to eight views of the ray's origin from a cone around the ray. A view the planning
    // cannot solve ends the sequence; a full one advances the stump index. False when the
    // planning cannot plan.
    bool GetGyrationSequenceForUserDefinedRay(const CyRay& ray, CJointPositionSequence& seq);
    // One view at `cone` radians from the ray (0: straight along it; above pi/2: straight down on
    // the disc). On success `trafo` centres the image at depth 2048 and `solvedRay` receives the
    // solved view in image-area units. False when the planning cannot plan or solve the view.
    bool GetJointConfigurationForScanbodyOrientation(const CyRay& ray, CJointPositionSequence& seq,
                                                     CbMatrix4Rf& trafo, float cone, CyRay& solvedRay);

    // The rotation that turns the z axis into `dir`.
    CbMatrix4Rf calcTrafoZAxisToRayDir(const float* dir) const;
    // View direction k of a cone of half-angle `cone` around m's z axis, looking against it.
    static void calcViewDirForScanBodyGyration(float* out, int k, float cone, float step, float offset,
                                               CbMatrix4Rf m);
    static void setAllJointParams(float l1, float l2, float l3, float l4, float l5,
                                  NSConfigurationRequest& request);

    // Planners this steering does not offer.
    int CalculateJointParamsForScanbody() { return 0; }
    int GetCurrStumpIndex() const { return 0; }
    bool GetJointConfigurationForScanbody(const CyRay&, CJointPositionSequence&) { return false; }
    void SetJointParamsForScanbody(int, NSConfigurationRequest&) {}

    int GetImageWidth() const { return m_iImageWidth; }
    int GetImageHeight() const { return m_iImageHeight; }

private:
    // The ray in the planning frame (direction normalised), the rotation m that turns z into its
    // direction, and the azimuth of the direction in m's frame.
    struct NSPlanningRay {
        CbVector3f origin;
        CbVector3f direction;
        CbMatrix4Rf m;
        float offset = 0;
    };
    NSPlanningRay toPlanning(const CyRay& ray) const;
    // A point and direction of the planning frame in image-area units.
    CyRay toImageArea(const float point[3], const float direction[3]) const;
    // Asks the planning for the joints viewing `target` along `direction`; true when solved.
    bool solveView(const float direction[3], const CbVector3f& target, float joints[5], float point[3],
                   float solvedDirection[3]);
    void appendScanbodyRequest(int index, NSConfigurationRequest& request, CJointPositionSequence& seq);

    int m_iImageWidth = 0;
    int m_iImageHeight = 0;
};
