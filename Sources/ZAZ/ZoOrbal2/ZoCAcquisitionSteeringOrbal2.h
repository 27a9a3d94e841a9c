// Common base of every scan-type steering: request numbering and associations, the
// acquisition planning object, the hand-off of recorded scans on a worker thread, and the
// frames between image area, disc and planning.
#pragma once

#include "AcquisitionPlanning.h"
#include "AxisChain.h"
#include "BaseLibrary.h"
#include "ImageDatabase.h"
#include "Logging.h"
#include "Platform.h"

#include <atomic>
#include <fstream>
#include <list>
#include <memory>
#include <mutex>
#include <semaphore>
#include <sstream>
#include <vector>

class ZoCOrbal2AxisCalibration;

class ZoCAcquisitionSteeringOrbal2 : public IReferenceCounted {
public:
    using NCJointConfiguration = ZoCOrbal2AxisChain::NCJointConfiguration;
    using NSConfigurationRequest = ZoCOrbal2AxisChain::NSConfigurationRequest;
    using CJointPositionSequence = ZoCOrbal2AxisChain::CJointPositionSequence;
    using EAcquisitionType = ZoCOrbal2AcquisitionPlanning::EAcquisitionType;

    static constexpr unsigned long c_dwTimeoutWaitBuild = 100000;
    static constexpr float c_fMinLowerThresholdZ = -600.0f;
    static constexpr float c_fMaxLowerThresholdZ = -400.0f;
    static constexpr int c_iMaxRotationImages = 10;
    static constexpr int c_iEnlargeGrowth = 240;
    static constexpr int c_iEnlargeMinSize = 300;

    // Tells the planning whether to go on: false once the interrupt event is set, otherwise
    // the negated interrupt flag. One object is shared by all steerings.
    class LocalProgress : public ZoCOrbal2AcquisitionPlanning::NSProgressCallback {
    public:
        bool GoOn() override;
        void SetInterruptEvent(const CbEvent* event) { m_pInterruptEvent.store(event); }
        void SetInterrupt(bool interrupt) { m_bInterrupt.store(interrupt); }

    private:
        std::atomic<const CbEvent*> m_pInterruptEvent{nullptr};
        std::atomic<bool> m_bInterrupt{false};
    };

    // Settings read by the derived steerings: a text file for their diagnostics, the folders
    // of the joint parts and of written images, and sixteen further values. Everything not
    // named with a default here starts empty, zero or off.
    struct NSSettings {
        std::wofstream m_textFile;  // closed until a steering writes diagnostics
        CString m_strJointPartPath = L"..\\STL\\gelenkbauteil_nr_";
        CString m_strImagePath = L"..\\Image";
        float m_fExposureFactor = 1.0f;
        int m_iNumBuccalRings = 2;
        float m_fOverlapFactor = 0.5f;
        float m_fGyrationTiltAngle = 0.0f;  // degrees; used by the gyration steering when positive
        float m_fScanbodyTiltAngle = 0.0f;
        int m_iJointPartIndex = 0;
        int m_iDebugLevel = 0;
        CString m_strJointPartName;
        CString m_strImagePrefix;
        CString m_strTextFileName;
        bool m_bWriteImages = false;
        bool m_bUseJointParts = false;
        bool m_bWriteTextFile = false;
        bool m_bExtendedOverview = false;
        bool m_bSkipBuccal = false;
        bool m_bSimulation = false;
    };

    // One request name tied to its joints and, once recorded, to its image source.
    struct NSRequestAssociation {
        CString m_strName;
        GUID m_imageSourceId;
        float m_afJoints[5] = {0, 0, 0, 0, 0};
    };

    // The scan hand-off worker: a bounded queue of recorded scans, converted into the planning
    // frame and handed to the planning object on its own thread.
    class ZoNPutScanThread : public CbThread<ZoNPutScanThread, CbThreadPolicyMFC> {
    public:
        static constexpr int c_iMaxQueued = 20;

        explicit ZoNPutScanThread(ZoCAcquisitionSteeringOrbal2& owner);
        ~ZoNPutScanThread() override;

        void PutScan(const ZoCFieldCoord& field, const GUID& id);
        void PutScanGroup(const std::vector<ZoCFieldCoord>& fields, const GUID& id);
        void CancelPutScan();
        bool IsCancelled() const { return m_bCancel.load(); }
        // Returns once the queue is empty (or the worker has ended).
        void WaitForEmptyQueue();
        size_t QueuedCount() const;
        void Run();  // the worker loop

    private:
        struct NSQueueItem {
            std::vector<ZoCFieldCoord> fields;
            GUID id;
        };
        void enqueue(NSQueueItem item);

        std::atomic<bool> m_bCancel{false};
        std::counting_semaphore<c_iMaxQueued> m_items{0};
        std::counting_semaphore<c_iMaxQueued> m_freeSlots{c_iMaxQueued};
        mutable std::mutex m_queueMutex;  // guards m_queue
        std::mutex m_cancelMutex;         // guards the transition of m_bCancel
        CbEvent m_queueEmpty{true, false};
        CbEvent m_secondEvent{true, false};
        ZoCAcquisitionSteeringOrbal2& m_owner;
        std::list<NSQueueItem> m_queue;
    };

    ZoCAcquisitionSteeringOrbal2(const ZoCOrbal2AxisChain& chain, EAcquisitionType type);
    ~ZoCAcquisitionSteeringOrbal2() override;
    ZoCAcquisitionSteeringOrbal2(const ZoCAcquisitionSteeringOrbal2&) = delete;
    ZoCAcquisitionSteeringOrbal2& operator=(const ZoCAcquisitionSteeringOrbal2&) = delete;

    CbReferenceCounter<unsigned int>& getReferenceCounter() override { return m_referenceCounter; }
    virtual void SetLimitsForJointParameters(float a, float b);
    virtual void setJointParameters();
    virtual void initScanPlan();

    // Requests and their associations.
    static int GetNewRequestNumber();
    void AssociateRequestAndDHParameters(const CString& name, const float* joints);
    void AssociateRequestAndImageSourceID(const CString& name, const GUID& id);
    const float* GetDHParametersForImageSourceID(const GUID& id) const;
    bool CheckAcquisitionType(ECAIAcquireMode mode) const;

    // Scans.
    void PutScan(const ZoCFieldCoord& field, const GUID& id);
    void PutScanGroup(const std::vector<ZoCFieldCoord>& fields, const GUID& id);
    void CancelPutScan();
    bool Evaluate(ZoCOrbal2AcquisitionPlanning::NSEvaluationResult& result);
    // Converts one recorded scan into the planning frame and hands it to the planning.
    bool putScanSync(const std::vector<ZoCFieldCoord>& fields, const GUID& id);

    // Proposals of the planning become requests whose camera region frames their points.
    int computeAdditionalAxisConfigs(std::vector<NSConfigurationRequest>& out,
                                     ZoCOrbal2AcquisitionPlanning::NSComputationResult& result);
    // Clamps proposed configurations into the joint limits; true when any value changed.
    bool checkAdditionalAxisConfigs(std::vector<ZoCOrbal2AcquisitionPlanning::NSDHAxisConfiguration>& configs) const;

    const CbMatrix4Rf& GetTrafoImageAreaToDisc() const { return m_trafoImageAreaToDisc; }
    void SetTrafoImageAreaToDisc(const CbMatrix4Rf& m) { m_trafoImageAreaToDisc = m; }
    const CbMatrix4Rf& GetPlanningTransformation() const { return m_planningTrafo; }
    int GetNumberOfStumps() const { return m_iNumStumps; }

    // Calibration: registrations of the recorded images paired with their requests' joints.
    void AddToCalibrationSet(const GUID& id, const CbMatrix4Rf& registration);
    // Runs the calibration, writes the checker file and appends the report to the log file.
    void RunAxisCalibration(const CString& logFileName, std::stringstream* unused);
    ZoCOrbal2AxisCalibration* GetAxisCalibration() const;
    void GetDefaultCalibrationSequence(CJointPositionSequence& sequence) const;
    const ZoCOrbal2AxisChain& GetAxisChain() const { return m_axisChain; }
    // The planning object this steering feeds (owned by the steering).
    ZoCOrbal2AcquisitionPlanning* GetAcquisitionPlanning() const { return m_pPlanning.get(); }
    const NSSettings& GetSettings() const { return m_settings; }
    NSSettings& GetSettings() { return m_settings; }
    const ZoCOrbal2AcquisitionPlanning::NSJointParameter* GetJointParameterRecords() const { return m_jointParams; }
    // Number of scans handed to the planning so far.
    int GetFrameCount() const { return m_iFrameCount.load(); }

    // The interrupt of the progress callback shared by all steerings.
    static bool SetInterrupt(bool interrupt);
    static bool SetInterruptEvent(const CbEvent* event);
    static LocalProgress& GetProgressCallback();

    bool setCameraAndProjectorParameters(const ZoCCamProjCalib& calib);

    // Scan parameters: the single L2, L3, L5 values and the per-image tables.
    void setJointParamsL2L3L5(float l2, float l3, float l5);
    void setJointParamsL2L3L5(float l2, float l3, float l5, int i);
    void getJointParamsL2L3L5(float& l2, float& l3, float& l5, int i) const;
    void setJointParamsForOptimization(float l1, float l2, float l3, float l4, float l5, int i);
    void getScanParamsL2L3L5(float& l2, float& l3, float& l5) const;
    // Grows a camera region to at least `minSize` (bounded by the image) and keeps it inside.
    bool enlargeFrame(CRect& r, int grow, int minSize) const;
    // Least disc z over the bounding-box corners of the fields (largest float when empty).
    float getZLimitOfRotScan(const std::vector<ZoCFieldCoord>& fields) const;

    // Shared by all steerings, without a lock.
    static std::atomic<int> m_iRequestCounter;
    static std::atomic<int> m_iCurrStumpIndex;

protected:
    void initJointPositionsAndLimits();
    // The five joint parameter records from the axis chain.
    void buildJointParameterRecords(ZoCOrbal2AcquisitionPlanning::NSJointParameter records[5]) const;
    // The camera calibration last accepted, or null.
    const ZoCCamProjCalib* cameraCalibration() const { return m_pCamProjCalib.get(); }
    static Logging::CLogger& logger();

    CbReferenceCounter<unsigned int> m_referenceCounter;
    std::vector<CbVector3f> m_jawBorder;          // around the jaw, image-area coordinates
    std::vector<float> m_jawBorderPlanning;       // the same in planning coordinates
    NSSettings m_settings;
    ZoCOrbal2AxisChain m_axisChain;
    // A copy of the calibration last accepted, made through its virtual Clone so that a host's
    // subclass (its own image size, its own projection) survives: the host's device
    // configuration may be a temporary, so the steering cannot keep a pointer to it.
    std::unique_ptr<const ZoCCamProjCalib> m_pCamProjCalib;
    // Per image (rotation, gyration position, optimised request): the values of L1..L5.
    // Rows 1 and 2 are the rotation images' joint 1 and joint 2 values.
    float m_afImageJoints[5][c_iMaxRotationImages] = {};
    // Single scan parameters for L2, L3 and L5.
    float m_fScanL2 = 0, m_fScanL3 = 0, m_fScanL5 = 0;
    // Per image: the request fields behind name and flag (camera region and its centre).
    CRect m_aImageROI[c_iMaxRotationImages];
    int m_aiImageROICenter[c_iMaxRotationImages][2] = {};
    int m_iNumRotationImages = c_iMaxRotationImages;
    int m_aiRotationOrder[c_iMaxRotationImages] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    int m_iNumStumps = 0;
    float m_fTiltAngle = 0;  // degrees subtracted from joint 2
    float m_fWeight = 0;     // joint 1 weight of the order optimisation
    float m_fLowerZ = 0;     // lower z limit of the rotation scan
    CbList<NSRequestAssociation> m_associations;
    mutable std::mutex m_associationsMutex;  // the worker reads associations while hosts append
    EAcquisitionType m_eAcquisitionType;
    std::unique_ptr<ZoCOrbal2AcquisitionPlanning> m_pPlanning;
    std::unique_ptr<ZoNPutScanThread> m_pPutScanThread;
    float m_afHomeJoints[5] = {};
    float m_afUpperLimits[5] = {};
    float m_afLowerLimits[5] = {};
    CbMatrix4Rf m_trafoImageAreaToDisc;
    CbMatrix4Rf m_planningTrafo;
    std::unique_ptr<ZoCOrbal2AxisCalibration> m_pAxisCalibration;
    ZoCOrbal2AcquisitionPlanning::NSJointParameter m_jointParams[5];
    std::atomic<int> m_iFrameCount{0};  // scans handed to the planning so far
    // Scratch buffers of the hand-off, kept from scan to scan so that converting a scan does
    // not fault in fresh pages each time; used by the worker thread only.
    std::unique_ptr<float[]> m_pHandOffPoints;
    std::unique_ptr<int[]> m_pHandOffPixels;
    size_t m_uHandOffCapacity = 0;
    int m_iEnlargeGrowth = c_iEnlargeGrowth;
    int m_iEnlargeMinSize = c_iEnlargeMinSize;
};
