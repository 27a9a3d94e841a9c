// Triple-tray steering: scans a double-arch bite tray stage by stage (one side, the other side,
// a turn-around pass, the end). Each stage brings its fixed motor positions and acquire modes;
// the steering adds the joint collision table of the tray, the polygon around each jaw and the
// fixed scans along the jaw line to the jaw steering it derives from.
#pragma once

#include "ZoCAcquisitionSteeringOrbal2Jaw.h"
#include "ZoCAcquisitionSteeringOrbal2StateContext.h"
#include "ZoCTripleTrayCollisionsLoader.h"

#include <mutex>
#include <vector>

class ZoCAcquisitionSteeringOrbal2TripleTray : public ZoCAcquisitionSteeringOrbal2Jaw {
  public:
    // The camera regions of additional configurations grow more around a tray than around a jaw.
    static constexpr int c_iTrayEnlargeGrowth = 480;
    static constexpr int c_iTrayEnlargeMinSize = 600;
    static constexpr float c_fFixedOverviewStep = 60.0f;

    ZoCAcquisitionSteeringOrbal2TripleTray(const ZoCOrbal2DeviceConfig& device, EAreaType areaType);
    ~ZoCAcquisitionSteeringOrbal2TripleTray() override = default;

    // Stages.
    void setFirstState(EAreaType areaType);
    // Moves on to the following stage with the area type the current one names, renews the
    // planning and returns that area type.
    EAreaType SetNextState();
    EAreaType GetAreaType() const;
    EAreaType GetNextAreaType() const;
    ECAIAcquireMode GetAcquireMode() const;
    bool IsAcquireModeAllowed(ECAIAcquireMode mode) const;
    bool EnableAutofocusForFixed() const;
    const SimulatorMotorPosition* GetStartPositionForFixed() const;
    // The stage's first fixed position; all zero in a stage without positions.
    SimulatorMotorPosition GetMotorPositionOfFirstImage() const;
    static NCJointConfiguration ConvertSimMotPosToJointConfig(const SimulatorMotorPosition& position);
    // One request per fixed position of the current stage, in order.
    std::vector<NSConfigurationRequest> CreateTripleTrayConfiguration(NSConfigurationRequest& request,
                                                                      int unused);
    const ZoCAcquisitionSteeringOrbal2StateContext& GetStateContext() const { return m_stateContext; }

    // Planning.
    void initScanPlan() override;
    // For the side stages (modes 5 and 6): the planning looks from the stage's first position.
    // Throws CyExceptionNotInvertible when that position's transformation cannot be inverted.
    void ReInitScanPlan(ECAIAcquireMode mode);
    void setLimitedJointParameters(ECAIAcquireMode mode);
    void LoadAndSetCollisionInfo();
    // A tray sequence is never divided: everything goes to `first`. False in every case.
    bool CheckAndDivideSequence(const CJointPositionSequence& in, CJointPositionSequence& first,
                                CJointPositionSequence& second, bool& firstFlag, bool& secondFlag) const;
    bool CheckIfCollisionsAreLikely(const CJointPositionSequence&) const { return false; }
    bool checkIfCollisionsAreLikely(const NSConfigurationRequest&) const { return false; }

    // The polygon around the jaw of `area` from its registered overview, as the jaw border.
    void CalcInvalidJawRegionsFromJawLine(const ZoCImageDataBase& database, EAreaType area,
                                          const CbMatrix4Rf* transformation);
    const std::vector<CbVector3f>& GetJawBorderPoints() const { return m_jawBorder; }
    // The fixed scans: mode 1 the stage's fixed positions, otherwise positions along the jaw line.
    bool GetJointConfigurationForFixed(CJointPositionSequence& seq, int mode);

  private:
    static Logging::CLogger& logger();
    void appendAlongJawline(std::vector<NSConfigurationRequest>& requests);

    ZoCAcquisitionSteeringOrbal2StateContext m_stateContext;
    // The loader's callback hands the table to the planning on the loader's thread while the
    // host may renew the planning: this guards the planning pointer between the two.
    std::mutex m_planningMutex;
    // Destroyed first: a load still running uses this steering in its callback.
    ZoCTripleTrayCollisionsLoader m_collisionLoader;
};
