// Kinematic model of the five-joint chain and the least-squares objective of the axis
// calibration.
//
// Each joint is a Denavit-Hartenberg record; the model maps five joint values to the transform
// camera -> disc that a registration measures. The objective compares, for every sample after
// the first, the predicted and the measured transform, both taken relative to the first sample,
// so that the unknown pose of the disc on its last joint drops out.
//
// The class also holds the default tables of the chain, the mapping between DH records and the
// solver's parameter vector with its bounds and equalities, quaternion utilities, and the design
// of calibration sequences (random sequences, their travel order, D-optimal subsets).
#pragma once

#include "ZoCNLSObjectiveFunction.h"
#include "ZoTMatrix.h"
#include "ZoTVector.h"

#include <memory>
#include <vector>

class ZoCOrbal2AxisCalibrationObjFunction : public ZoCNLSObjectiveFunction {
  public:
    static constexpr int c_iNumJoints = 5;

    // One joint. 'R' joints are driven through theta, every other kind through d.
    struct ZoSJointParams {
        double theta;  // degrees
        double d;      // model length unit (image-area units are 40 per model unit)
        double a;
        double alpha;  // degrees
        char type;
        double minValue;  // range of the joint value
        double maxValue;
    };

    // One sample: five joint values and the registration measured there.
    struct ZoSInputResponsePair {
        ZoTVector<double> input;
        ZoTMatrix<double> response;
    };

    // The nominal chain with all offsets zero, and the same chain with the tilts' joint
    // variables counted from their home angle (90 degrees).
    static const ZoSJointParams m_defaultJointParams[c_iNumJoints];
    static const ZoSJointParams m_defaultHomePositionJointParams[c_iNumJoints];
    // The perturbed chain that simulates responses for the design of calibration sequences.
    static const ZoSJointParams m_simulationJointParams[c_iNumJoints];

    ZoCOrbal2AxisCalibrationObjFunction() : ZoCOrbal2AxisCalibrationObjFunction(false, true) {}
    ZoCOrbal2AxisCalibrationObjFunction(bool firstJointOnly, bool calibrateOffsets);
    ZoCOrbal2AxisCalibrationObjFunction(const ZoCOrbal2AxisCalibrationObjFunction&) = default;
    ZoCOrbal2AxisCalibrationObjFunction(ZoCOrbal2AxisCalibrationObjFunction&&) = default;
    ZoCOrbal2AxisCalibrationObjFunction& operator=(const ZoCOrbal2AxisCalibrationObjFunction&) = default;
    ZoCOrbal2AxisCalibrationObjFunction& operator=(ZoCOrbal2AxisCalibrationObjFunction&&) = default;
    ~ZoCOrbal2AxisCalibrationObjFunction() override = default;

    // Samples. The first sample becomes the reference: its registration's inverse is kept and
    // every stored response is relative to it (the first one the identity).
    void AddInputResponseSample(const ZoTVector<double>& joints, const ZoTMatrix<double>& registration);
    // Stores the pair as it is (no relative transform, no change of counts); an index without a
    // sample throws std::invalid_argument.
    ZoSInputResponsePair ReplaceInputResponseSample(int index, const ZoTVector<double>& joints,
                                                    const ZoTMatrix<double>& registration);
    // Empties the sample list and restarts the measurement count at 0, so that samples added
    // afterwards are counted alone; the reference inverse stays until the next first sample.
    void RemoveAllSamples();
    const std::vector<ZoSInputResponsePair>& GetSamples() const { return m_samples; }
    int GetNumSamples() const { return static_cast<int>(m_samples.size()); }
    int GetErrorsPerSample() const { return m_errorsPerSample; }
    bool IsFirstJointOnly() const { return m_firstJointOnly; }
    bool IsCalibratingOffsets() const { return m_calibrateOffsets; }
    // The working records (entries that are not parameters are read from here).
    const ZoSJointParams* GetJointParams() const { return m_jointParams; }

    // Kinematics: camera -> disc for the joint values, translation in image-area units.
    ZoTMatrix<double> BuildTrafo(const ZoSJointParams joints[c_iNumJoints],
                                 const ZoTVector<double>& jointValues) const;
    ZoTMatrix<double> BuildTrafoWithDefaultParams(const ZoTVector<double>& jointValues) const;

    // Parameter mapping (layout: theta, d, a, alpha per joint; the joint-variable entry only
    // with offsets; joint 1 alone with firstJointOnly).
    ZoTVector<double> ExportJointParameters(const ZoSJointParams joints[c_iNumJoints]) const;
    // A joint outside 0..4 or a vector shorter than the layout throws std::invalid_argument.
    std::unique_ptr<ZoSJointParams[]> ImportJointParameters(const ZoTVector<double>& params) const;
    ZoSJointParams ImportJointParameters(const ZoTVector<double>& params, int joint) const;
    void PrepareNextOptimizationRun(const ZoTVector<double>& params);
    ZoTVector<double> GetInitialParameters() const { return ExportJointParameters(m_defaultJointParams); }
    ZoTVector<double> GetDefaultHomePositionParameters() const {
        return ExportJointParameters(m_defaultHomePositionJointParams);
    }
    static const ZoSJointParams* GetDefaultHomePositionJointParams() {
        return m_defaultHomePositionJointParams;
    }

    // Residuals: one block of GetErrorsPerSample() values per sample after the first; empty with
    // fewer than two samples.
    ZoTVector<double> Error(const ZoTVector<double>& params) override;
    // Off (the default): the base's finite differences of Error, as every figure of the
    // calibration is defined, to the bit; they are evaluated here without whole residual vectors
    // (shared per-sample terms, the stencil's points side by side), and the Jacobian last computed
    // is handed out again for the same parameters and samples. On: the exact derivatives of the
    // residuals from the chain's matrices, which a host may ask for when it prefers speed to those
    // figures (a deliberate addition, not part of the calibration as defined). The estimates then
    // agree with the default's to about 1e-9 of the parameter vector's norm; the weakly determined
    // pair J1 alpha / J3 theta may differ by a few 1e-9 degrees, because near the minimum the
    // residuals' rounding hides the remaining gain and each run stops where that happens (the
    // default itself, started 0.001 degrees away, lands as far off). The iteration count and the
    // statistics' last digits differ too.
    ZoTMatrix<double> Jacobian(const ZoTVector<double>& z) override;
    void SetExactDerivatives(bool exact) { m_exactDerivatives = exact; }
    bool HasExactDerivatives() const { return m_exactDerivatives; }
    // One transform distance per sample after the first; with verbose, a comparison per sample
    // through the debug print.
    ZoTVector<double> ComputeTrafoErrors(const ZoTVector<double>& params, bool verbose);

    // Quaternions (w, x, y, z) and Euler angles, radians.
    static ZoTVector<double> QuaternionFromRotation(const ZoTMatrix<double>& R);
    static ZoTMatrix<double> RotationFromQuaternion(const ZoTVector<double>& q);
    static ZoTVector<double> QuaternionFromEuler(double h, double t, double b);
    static ZoTVector<double> EulerFromQuaternion(const ZoTVector<double>& q);
    static double QuaternionToAngle(const ZoTVector<double>& q);
    static ZoTVector<double> QuaternionToAxis(const ZoTVector<double>& q);

    // Calibration sequences (one row of five joint values per configuration).
    ZoTMatrix<double> GenerateRandomCalibrationSequence(int n);
    static void SortRequests(ZoTMatrix<double>& requests);
    ZoTVector<int> OptimizeCalibrationSequence(const ZoTMatrix<double>& candidates, int starts,
                                               int subsetSize);

    // Products of the chain's last joints at one sample, from the last evaluation of the
    // residuals, with the theta, d, a, alpha, kind and value of each joint they were built from.
    // The joint matrices A_i themselves are kept with them, so a joint that did not move costs no
    // sines; the measured response and its quaternion, which no parameter changes, are kept too.
    struct ZoNSuffixProducts {
        bool filled = false;
        double keys[c_iNumJoints][6] = {};
        double products[c_iNumJoints][16] = {};  // A_i ... A_5, column by column
        bool jointFilled[c_iNumJoints] = {};
        double jointKeys[c_iNumJoints][6] = {};
        double joints[c_iNumJoints][16] = {};  // A_i, column by column
        bool responseFilled = false;
        double response[16] = {};
        double responseQuaternion[4] = {};
    };

    // Bounds of the searches that the design would otherwise leave open.
    static constexpr int c_iMaxRejectedDrawsInARow = 100000;
    static constexpr int c_iMaxDiscardedDesignRuns = 1000;

  private:
    friend class ZoCOrbal2AxisCalibrationObjFunctionTestAccess;

    void setConstraints();
    ZoTVector<double> trafoDist(const ZoTMatrix<double>& predicted, const ZoTMatrix<double>& measured) const;
    ZoTMatrix<double> getRelativeTransformation(const ZoSJointParams& joint, double value) const;
    static ZoTMatrix<double> dhTransformation(double theta, double d, double a, double alpha);
    // Index of field k (0 theta, 1 d, 2 a, 3 alpha) of joint j in the parameter vector, or -1.
    int parameterIndex(int joint, int field) const;
    ZoTMatrix<double> differencesJacobian(const ZoTVector<double>& z, const ZoTVector<double>& x);
    ZoTMatrix<double> exactJacobian(const ZoTVector<double>& z);
    // Whether the last finite-difference Jacobian was taken at the parameters x with the present
    // samples, free variables, residual mode and working records.
    bool isMemoOf(const ZoTVector<double>& x) const;
    // The samples changed: no stored evaluation holds any more.
    void forgetEvaluations();
    // Writes the errors of the samples after the first (block per sample) through `sink`.
    template <typename Sink>
    void forEachSampleBlock(const ZoSJointParams joints[c_iNumJoints], Sink sink) const;

    ZoSJointParams m_jointParams[c_iNumJoints];
    ZoTMatrix<double> m_referenceInverse;
    std::vector<ZoSInputResponsePair> m_samples;
    int m_errorsPerSample = 7;
    bool m_firstJointOnly;
    bool m_calibrateOffsets;
    bool m_exactDerivatives = false;
    // Evaluation cache of the residuals, one entry per sample; not part of the objective's state.
    // Emptied whenever the samples change.
    mutable std::vector<ZoNSuffixProducts> m_suffixProducts;
    // The last finite-difference Jacobian and what it was computed from.
    struct NSJacobianMemo {
        bool valid = false;
        ZoTVector<double> x;
        ZoTVector<int> freeIndices;
        int measurements = 0;
        int errorsPerSample = 0;
        ZoSJointParams joints[c_iNumJoints] = {};
        ZoTMatrix<double> jacobian;
    };
    NSJacobianMemo m_lastJacobian;
};
