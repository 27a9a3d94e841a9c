// Acquisition planning component: receives the device description and every recorded scan,
// evaluates how well the model is covered and proposes further joint configurations.
// The virtual operations below are declared in the component's own order.
#pragma once

#include "AxisChain.h"
#include "Geometry.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <list>
#include <vector>

// Acquisition modes of the host, 0..23.
enum ECAIAcquireMode : int {
    eAcquireModeNone = 0,
    eAcquireModeLast = 23,
};

// ---------------------------------------------------------------------------------------------
// Joint collision tree of the double-arch tray. Each path from the root has five levels: the
// values of L1, L2, L3 and L4, then an interval of L5; the configurations on a path make the
// tray or its holder hit the sensor. Records that share a prefix share its path.

// A tree node whose children are kept in the order they were created. T is the node type.
template <class T>
class TreeNodeBase {
public:
    using iterator = typename std::list<T>::iterator;
    using const_iterator = typename std::list<T>::const_iterator;

    iterator begin() { return m_children.begin(); }
    iterator end() { return m_children.end(); }
    const_iterator begin() const { return m_children.begin(); }
    const_iterator end() const { return m_children.end(); }
    bool HasChilds() const { return !m_children.empty(); }
    size_t GetNumChilds() const { return m_children.size(); }
    // Appends a default child and returns it.
    T& CreateNewChild() { return m_children.emplace_back(); }
    void RemoveAllChilds() { m_children.clear(); }

private:
    std::list<T> m_children;
};

// One axis value, or one closed interval of axis values (the last level).
class AxisNode : public TreeNodeBase<AxisNode> {
public:
    AxisNode() = default;  // the single value 0
    explicit AxisNode(float value) : m_fLower(value), m_fUpper(value) {}
    AxisNode(float lower, float upper) : m_fLower(lower), m_fUpper(upper), m_bInterval(true) {}

    bool IsInterval() const { return m_bInterval; }
    float GetValue() const { return m_fLower; }
    float GetLower() const { return m_fLower; }
    float GetUpper() const { return m_fUpper; }
    // Equal when both hold the same single value or the same interval; children do not count.
    bool operator==(const AxisNode& other) const;
    // Total number of nodes below this one.
    size_t CountDescendants() const;

private:
    float m_fLower = 0;
    float m_fUpper = 0;
    bool m_bInterval = false;
};

// A tree that is its own root. The collision tree's root holds the largest float.
template <class T>
class SimpleTree : public T {
public:
    SimpleTree() : T(std::numeric_limits<float>::max()) {}
};

// ---------------------------------------------------------------------------------------------
// Reader of interval files such as the joint collision table "DoubleArchJointCollisions.txt".
//
// Line syntax (one record per line, lines end with LF or CR LF):
//   L1 L2 L3 L4 L5min L5max     six decimal numbers in joint units (mm, degrees)
// - Numbers are separated by any run of blanks, tabs, commas or semicolons; they are written in
//   the C locale ("-12", "+0.5", "1e2"); infinities and NaN are not numbers here.
// - '#' starts a comment that runs to the end of the line. A line that holds nothing but
//   separators and a comment is a comment line.
// - A record is valid when its line holds exactly six numbers and L5min <= L5max. Comment
//   lines, lines with fewer or more values, with text where a number belongs, with a NaN or
//   an infinity, and lines longer than c_iMaxLineLength characters (line end excluded) give
//   records whose validity flag is clear; they never end the reading.
namespace LineParser {

struct LineRep {
    float m_afValues[6] = {0, 0, 0, 0, 0, 0};  // L1, L2, L3, L4, lower and upper L5
    bool m_bValid = false;
    int m_iLineNumber = 0;          // 1 for the file's first line
    int m_iNumValues = 0;           // numbers read before the line ended or was refused
    const char* m_pszProblem = "";  // why the record is not valid (static text); empty when valid
};

constexpr int c_iMaxLineLength = 1024;

// The record of one line (without its line end).
LineRep ParseLine(const char* text, size_t length, int lineNumber);

}  // namespace LineParser

class IntervalFileParser {
public:
    using TLineCallback = std::function<void(const LineParser::LineRep&)>;

    // A table is a few thousand lines; a larger file is not a table. The reader refuses it
    // before reading a byte, as the model reader does with oversized meshes.
    static constexpr uint64_t c_uMaxFileBytes = 64ull << 20;

    explicit IntervalFileParser(TLineCallback callback) : m_callback(std::move(callback)) {}

    // Reads the file and calls the callback once per line, in file order. False when the file
    // is not a regular file (a pipe or a device would never end or block the reader), is larger
    // than c_uMaxFileBytes, cannot be opened (no call in these cases), a read fails, or the
    // reading was cancelled (the lines before stay delivered). GetProblem() says which.
    bool LoadData(const char* fileName);

    // While *cancel is set, LoadData stops before its next line and before its next block of
    // the file (a long line is not waited for) and returns false. Null: not cancellable.
    void SetCancelFlag(const std::atomic<bool>* cancel) { m_pCancel = cancel; }

    // Why the last LoadData returned false (a static English text); empty after a success.
    const char* GetProblem() const { return m_pszProblem; }

private:
    bool fail(const char* problem) {
        m_pszProblem = problem;
        return false;
    }
    bool cancelled() const { return m_pCancel && m_pCancel->load(std::memory_order_relaxed); }

    TLineCallback m_callback;
    const std::atomic<bool>* m_pCancel = nullptr;
    const char* m_pszProblem = "";
};


class ZoCOrbal2AcquisitionPlanning {
public:
    enum EAcquisitionType : int { eTypeJaw = 0, eTypeGyration = 1, eTypeTripleTray = 2 };

    // Asked during long computations whether to go on.
    struct NSProgressCallback {
        virtual ~NSProgressCallback() = default;
        virtual bool GoOn() = 0;
    };

    // Camera or projector: view, up and eye (camera frame, mm), field of view (degrees), size.
    struct NSSensorParameters {
        float view[3] = {0, 0, 0};
        float up[3] = {0, 0, 0};
        float eye[3] = {0, 0, 0};
        float fov = 0;
        int width = 0;
        int height = 0;
    };

    // One joint: its four DH values, kind (0 translational, 1 revolute) and position limits.
    struct NSJointParameter {
        float dh[4] = {0, 0, 0, 0};
        int kind = 0;
        float minPosition = 0;
        float maxPosition = 0;
    };

    // One recorded scan in the planning frame. `numPixelInts` is 0 for an eight-field rotation
    // scan without pixels and 0xFFFFFFFF for any other scan without pixels.
    struct NSScanRecord {
        const float* points = nullptr;  // three floats per point
        uint32_t numPointFloats = 0;
        const int* pixels = nullptr;  // column, row per point
        uint32_t numPixelInts = 0;
        float joints[5] = {0, 0, 0, 0, 0};
    };

    struct NSCenterLineRecord {
        const float* points = nullptr;  // jaw line in the planning frame, three floats per point
        int numPointFloats = 0;
        const int* roiIndices = nullptr;
        int numRoiIndices = 0;
        const int* prepIndices = nullptr;
        const int* prepFlags = nullptr;
        int numPreps = 0;
        float lowerThreshold = 0;  // planning units
    };

    // Result of an evaluation. Status: 0 the planning has proposals to offer; 1 nothing has
    // been recorded yet; 2 the model is covered; 3 no surface to cover is known; 4 the
    // evaluation failed; 5 interrupted. q1 and q2 are described with the planning component.
    struct NSEvaluationResult {
        int status = 1;
        float q1 = 0;
        float q2 = 0;
        float coverage = 0;  // covered share of the model surface, 0..1
        int numPoints = 0;   // points received so far
    };

    // Result of a proposal computation. Code: 0 proposals available; 1 nothing to propose;
    // 3 interrupted; others: failure.
    struct NSComputationResult {
        int code = 1;
        int numProposals = 0;
    };

    struct NSDHAxisConfiguration {
        float values[5] = {0, 0, 0, 0, 0};
    };

    // Per proposal: what the planning knows about it; not interpreted by the steerings.
    struct NSProposalInfo {
        float expectedGain = 0;  // share of the uncovered surface the view is expected to see
        float viewDirection[3] = {0, 0, 0};
        float target[3] = {0, 0, 0};
        int numPoints = 0;
        uint8_t reserved[20] = {};
    };
    static_assert(sizeof(NSProposalInfo) == 52, "proposal information record is 52 bytes");

    virtual ~ZoCOrbal2AcquisitionPlanning() = default;                                       // 1
    virtual void SetCameraParameters(const NSSensorParameters& camera) = 0;                   // 2
    virtual void SetProjectorParameters(const NSSensorParameters& projector) = 0;             // 3
    virtual void SetJointParameters(const NSJointParameter joints[5]) = 0;                     // 4
    virtual void Update() = 0;                                                                 // 5
    virtual bool IsReadyToPlan(unsigned long timeoutMs,
                               const ZoCOrbal2AxisChain::CJointPositionSequence& sequence) = 0;  // 6
    virtual void SetCollisionTree(AxisNode& tree) = 0;                                         // 7
    virtual void SetModeFlag(bool flag) = 0;                                                   // 8
    virtual void SetAcquisitionType(EAcquisitionType type) = 0;                                // 9
    virtual void PutScan(const NSScanRecord& scan) = 0;                                        // 10
    virtual void PutCenterLine(const NSCenterLineRecord& centerLine, bool modeFlag) = 0;       // 11
    virtual void PutSawCuts(const float* data, int numFloats) = 0;                             // 12
    virtual void Evaluate(NSEvaluationResult& result) = 0;                                     // 13
    virtual int GetNumberOfProposals(NSComputationResult& result) = 0;                         // 14
    virtual void GetProposals(int n, NSDHAxisConfiguration* configs, NSProposalInfo* infos) = 0;  // 15
    virtual void ClearProposals() = 0;                                                          // 16
    virtual void GetProposalPoints(int n, std::vector<float>* pointLists) = 0;                 // 17
    // Joints that make the camera look at `point` along `direction` (planning frame).
    virtual void SolveJoints(const float direction[3], const float point[3], float tolerance, float joints[5],
                             float solvedPoint[3], float solvedDirection[3], int& status) = 0;  // 18
    virtual void SetProgressCallback(NSProgressCallback* callback) = 0;                        // 19
    virtual void SetPlanningTransformation(const CbMatrix4Rf& planning) = 0;                   // 20
    virtual void SetReferenceConfiguration(const float joints[5]) = 0;                         // 21
    virtual void PutJawBorder(const float* data, uint64_t numFloats) = 0;                      // 22
};

// Creates a planning object; the caller owns it.
ZoCOrbal2AcquisitionPlanning* GetZoCOrbal2AcquisitionPlanning();
