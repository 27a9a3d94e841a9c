// Jaw steering: plans the scans of a plaster jaw model. It builds the jaw line (LL) from the
// skeleton spline the host derives from the overview, hands jaw line, saw cuts and border to
// the planning, plans the overview ring and the tilted scans along the jaw line.
#pragma once

#include "ZoCAcquisitionSteeringOrbal2.h"

#include <utility>
#include <vector>

class ZoCAcquisitionSteeringOrbal2Jaw : public ZoCAcquisitionSteeringOrbal2 {
public:
    static constexpr int m_ciMaxNumPts = 2048;
    static constexpr int m_ciMaxNumIdx = 32;
    static constexpr int c_iSeqSizePseudoRotScan = 8;
    static constexpr float m_cfTiltAngleBukLin = 60.0f;
    static constexpr float m_cfLLShiftForBuccalScans = -5.0f;
    static constexpr float m_cfWeightL1 = 0.1f;
    static constexpr float m_cfWeightL2 = 0.3f;
    static constexpr float m_cfWeightL3 = 0.4f;
    static constexpr float m_cfWeightL4 = 0.1f;
    static constexpr float c_fRadToDeg = 57.295776f;

    ZoCAcquisitionSteeringOrbal2Jaw(const ZoCOrbal2DeviceConfig& device, bool tripleTray, bool extended,
                                    bool skipLimit);
    ~ZoCAcquisitionSteeringOrbal2Jaw() override = default;

    // Jaw line.
    virtual float ExtractLLFromSkeleton(CyHermiteSpline skeleton, float lowerThreshold);
    void setSkeletonRaw(CyHermiteSpline skeleton) { m_skeleton = std::move(skeleton); }
    void SetROI(CbList<std::pair<float, float>> intervals);
    int GetNumOfPrepsInROI() const;
    int getNumOfROIIntervals() const;
    void initROIIndices();
    int findIndexOnLL(CbVector3f p, int start) const;
    void GetLL(CbVector3f* out) const;
    int GetNumberOfUsedPoints() const { return m_iNumUsedPts; }
    float GetLLLength() const { return m_fLLLength; }
    float GetLLArea() const { return m_fLLArea; }
    const int* GetROIIndices() const { return m_aiROIIdx; }
    const int* GetPrepIndices() const { return m_aiPrepIdx; }
    const int* GetPrepFlags() const { return m_aiPrepFlags; }

    // Hand-over to the planning.
    void PutCenterLine();
    void SetJawlineBorder();
    void PutSawCuts(const std::vector<CbVector3f>& data);
    // The border around the jaw (image-area coordinates), as the tray's jaw regions give it.
    void SetJawBorderPoints(std::vector<CbVector3f> border) { m_jawBorder = std::move(border); }

    void SetLowerThreshold(float value);
    float GetLowerThreshold() const { return m_fLowerThreshold; }
    void SetOffsetAngle(float degrees) { m_fOffsetAngle = degrees; }
    float GetOffsetAngle() const { return m_fOffsetAngle; }
    void SetStartJointPosition(NCJointConfiguration config) { m_startJointPos = config; }
    NCJointConfiguration GetStartJointPosition() const { return m_startJointPos; }
    void SetStartJointPositionOvw(NCJointConfiguration config) { m_startJointPosOvw = config; }
    NCJointConfiguration GetStartJointPositionOvw() const { return m_startJointPosOvw; }
    const NSConfigurationRequest& GetLastRequest() const { return m_lastRequest; }

    // Overview.
    bool GetJointConfigurationForOverview(CJointPositionSequence& seq);
    float setJointParamsForOverview(int index, NSConfigurationRequest& req, float step);
    void setOverviewScanParams();
    float limitAngleL5(float angle) const;
    bool GetJointConfigurationForRequestsFromFile(NSConfigurationRequest request);

    // Scans along the jaw line.
    bool GetJointConfigurationAlongLL(CJointPositionSequence& seq, bool& tooHigh);
    bool calculateJointPositionsForTiltedRecordsAlongLL_Phases(CJointPositionSequence& seq,
                                                               NSConfigurationRequest& req, bool extended,
                                                               bool tripleTray);
    void calcJointParams(float tilt, int index, float offset, float radialOffset, float& t2, float& t3, float& l5,
                         float& radius) const;
    float calcZLevelOfLL(int index, int halfWidth) const;
    float calcZcorrection(float radius, float angle, NSConfigurationRequest& req, bool unclamped) const;
    float calcAvgRadialShift() const;
    float calculateOffsetAngleDiscToCamForLL() const;
    bool limitTiltAngles(float& t2, float& t3) const;
    static float getLLAzimut(CbVector3f v);
    int getStartIndexForLLSequence(const CJointPositionSequence& seq) const;
    void reArrangeSequence(CJointPositionSequence& seq, int start);
    static void setJointParamL1(float value, NSConfigurationRequest& req) { req.m_config[0] = value; }
    static void setJointParamL4(float value, NSConfigurationRequest& req) { req.m_config[3] = value; }
    static void setJointParamsL2L3L5(float l2, float l3, float l5, NSConfigurationRequest& req);
    using ZoCAcquisitionSteeringOrbal2::setJointParamsL2L3L5;

    // Buccal ring, gap covering, user-defined ray, joint test.
    bool GetJointConfigurationBukkal(CJointPositionSequence& seq);
    bool GetJointConfigurationForGapCovering(const CbEvent& cancel, CJointPositionSequence& seq);
    bool getJointConfigurationAP(std::vector<NSConfigurationRequest>& list, CJointPositionSequence& seq);
    void optimizeSequence(std::vector<NSConfigurationRequest>& list, CJointPositionSequence& seq,
                          NSConfigurationRequest& req);
    void addRequestToJointPositions(CJointPositionSequence& seq,
                                    ZoCOrbal2AcquisitionPlanning::NSDHAxisConfiguration& config);
    bool GetSequenceForUserDefinedRay(const CyRay& ray, CJointPositionSequence& seq);
    bool GetGyrationSequenceForUserDefinedRay(const CyRay&, CJointPositionSequence&) { return false; }
    bool GetJointConfigurationForTestOfJointNr(CJointPositionSequence& seq, int joint);
    float setJointParamsForTestOfJointNr(int joint, int candidate, int unused, NSConfigurationRequest& req);

    // Ray focusing on a measured point cloud of (point, normal) pairs.
    bool AdjustRayFocusToPointCloud(std::vector<std::pair<CbVector3f, CbVector3f>>& cloud, const CyRay& ray,
                                    const CbMatrix4Rf& m, float radius, CyRay& out);
    void checkVisibility(std::vector<std::pair<CbVector3f, CbVector3f>>& cloud, const CyRay& ray, float angle,
                         float radius);
    bool convSurfelCollectionToPointCloud(const ZoCSurfelCollection& surfels, CArray<CbVector3f>& out) const;

protected:
    // Refreshes the neutral joint values and the limits from the chain; false without a
    // neutral configuration. Equal L5 limits mean an unlimited disc: [0, 360].
    bool refreshNeutralAndLimits(NCJointConfiguration& neutral);
    // Names the request with `pattern` (request counter, index), sets its flag, appends it and
    // registers its joints.
    void appendRequest(const wchar_t* pattern, int index, NSConfigurationRequest& req, CJointPositionSequence& seq);
    // Image-area point to disc (transform, divide, 0.025).
    CbVector3f toDisc(const CbVector3f& p) const;
    // Image-area ray into the planning frame; the direction through the normalised rotations.
    CyRay rayToPlanning(const CyRay& ray) const;
    // The three test values of a joint; false when its limits are equal.
    bool jointTestCandidates(int joint, float candidates[3], float& minimum, float& maximum) const;
    // One tilted image at jaw-line index `idx` (see GetJointConfigurationAlongLL).
    void emitLLImage(float tilt, int idx, float sign, float zShift, bool setL4, int half, float offset, float a,
                     int& imageIndex, NSConfigurationRequest& req, CJointPositionSequence& seq);

    float m_fOffsetAngle = 0;
    NSConfigurationRequest m_lastRequest;
    CyHermiteSpline m_skeleton;
    int m_iMaxNumPts = m_ciMaxNumPts;
    int m_iNumUsedPts = m_ciMaxNumPts;
    float m_fLLLength = 0;
    float m_fLLArea = 0;
    int m_aiROIIdx[m_ciMaxNumIdx];
    int m_aiPrepIdx[m_ciMaxNumIdx];
    int m_aiPrepFlags[m_ciMaxNumIdx];
    float m_fLowerThreshold;
    NCJointConfiguration m_startJointPos;
    NCJointConfiguration m_startJointPosOvw;
    bool m_bTripleTray;
    bool m_bExtended;
    bool m_bSkipLimit;
    std::vector<CbVector3f> m_aLL;  // m_ciMaxNumPts points, disc coordinates
};
