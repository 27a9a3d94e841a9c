#include "JawScanSession.h"

#include "JawSkeleton.h"
#include "ModelPlacement.h"
#include "SimulatedHost.h"

#include <memory>

namespace Sim {

namespace {

using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;
// A gap-covering round that adds less than half a point to the estimate ends the scan: the
// rounds after it cost joint travel for next to nothing (on file models of the built-in jaw,
// three more rounds of four images added 0.1 points of true coverage).
constexpr double c_dMinGain = 0.005;

double evaluateCoverage(ZoCAcquisitionSteeringOrbal2Jaw& steering) {
    ZoCOrbal2AcquisitionPlanning::NSEvaluationResult result;
    steering.Evaluate(result);
    return result.coverage;
}

// The measured points of the fields in millimetres (disc frame).
std::vector<CbVector3f> measuredPoints(const std::vector<ZoCFieldCoord>& fields) {
    std::vector<CbVector3f> out;
    for (const ZoCFieldCoord& f : fields)
        for (int y = f.RectValid().top; y < f.RectValid().bottom; ++y)
            for (int x = f.RectValid().left; x < f.RectValid().right; ++x)
                if (f.IsValid(x, y)) out.push_back(f.At(x, y) * (1.0f / VirtualScanner::c_fImageAreaPerMm));
    return out;
}

// Every 97th valid point of the fields, in millimetres: enough to draw the model from above.
std::vector<CbVector3f> samplePoints(const std::vector<ZoCFieldCoord>& fields) {
    std::vector<CbVector3f> out;
    size_t k = 0;
    for (const ZoCFieldCoord& f : fields)
        for (int y = f.RectValid().top; y < f.RectValid().bottom; ++y)
            for (int x = f.RectValid().left; x < f.RectValid().right; ++x)
                if (f.IsValid(x, y) && (k++ % 97) == 0) out.push_back(f.At(x, y) * 0.025f);
    return out;
}

class Session {
public:
    Session(const TriangleMesh& model, const JawScanOptions& options,
            const std::function<void(const JawScanStep&)>& progress)
        : m_options(options),
          m_progress(progress),
          m_scanner(m_device, model, scannerOptions(options)),
          m_steering(m_device, false, false, false),
          m_host(m_steering, m_scanner, eAreaTypeUpperJaw) {}

    JawScanReport Run(const TriangleMesh& model) {
        if (!FitsOnDisc(model, m_report.error))
            return m_report;
        // Only now: a model far too large would ask for samples without end.
        m_truth = std::make_unique<GroundTruth>(model);
        if (!m_scanner.IsValid()) {
            m_report.error = m_scanner.GetError();
            return m_report;
        }
        Sequence seq;
        std::vector<ZoCFieldCoord> overview;
        m_steering.GetJointConfigurationForOverview(seq);
        // The saw-cut detector needs a cut to span some 300 pixels: the overview of a sectioned
        // model is recorded with a camera of twice the reference camera's resolution.
        std::unique_ptr<VirtualScanner> fine;
        if (m_options.findSawCuts) {
            VirtualScannerOptions o;
            o.width = 2 * m_device.m_camProjCalib.GetCamera().GetWidth();
            o.height = 2 * m_device.m_camProjCalib.GetCamera().GetHeight();
            fine = std::make_unique<VirtualScanner>(m_device, model, o);
            if (fine->IsValid()) m_host.UseScanner(*fine);
        }
        record("overview", seq, &overview, false);
        m_host.UseScanner(m_scanner);
        const CyHermiteSpline skeleton = DeriveJawSkeleton(overview);
        if (skeleton.GetNumControlPoints() < 4) {
            m_report.error = "the overview shows no dental arch";
            return m_report;
        }
        m_report.overviewSample = samplePoints(overview);
        std::vector<CbVector3f> sawCutData;
        if (m_options.findSawCuts) sawCutData = findSawCuts(skeleton);
        m_steering.ExtractLLFromSkeleton(skeleton, m_options.lowerThreshold);
        if (!sawCutData.empty()) m_steering.PutSawCuts(sawCutData);
        m_steering.SetROI(CbList<std::pair<float, float>>());
        m_steering.PutCenterLine();
        m_report.steps.back().coverage = evaluateCoverage(m_steering);  // now there is a surface
        if (m_progress) m_progress(m_report.steps.back());
        std::vector<CbVector3f> line(ZoCAcquisitionSteeringOrbal2Jaw::m_ciMaxNumPts);
        m_steering.GetLL(line.data());
        line.resize(static_cast<size_t>(m_steering.GetNumberOfUsedPoints()));
        m_report.jawLine = line;
        if (m_options.overviewOnly) return finish();

        bool tooHigh = false;
        m_steering.GetJointConfigurationAlongLL(seq, tooHigh);
        record("along the jaw line", seq);
        m_steering.GetJointConfigurationBukkal(seq);
        record("buccal ring", seq);
        CbEvent cancel(true, false);
        // Rounds go on while the planning proposes views and they still add coverage: a gap
        // the device cannot see into would otherwise be proposed again and again.
        for (int round = 1; round <= m_options.maxGapRounds; ++round) {
            if (!m_steering.GetJointConfigurationForGapCovering(cancel, seq) || seq.GetCount() == 0) break;
            const double before = m_report.steps.back().coverage;
            record("gap covering " + std::to_string(round), seq);
            if (m_report.steps.back().coverage <= before + c_dMinGain) break;
        }
        return finish();
    }

private:
    JawScanReport finish() {
        m_report.ok = true;
        m_report.images = m_host.GetNumImages();
        m_report.travelTime = m_host.GetTravelTime();
        m_report.coverage = m_report.steps.back().coverage;
        m_report.truth = m_report.steps.back().truth;
        m_report.truthSamples = m_truth->GetSamples();
        m_report.truthCovered.resize(m_report.truthSamples.size());
        for (size_t i = 0; i < m_report.truthSamples.size(); ++i) m_report.truthCovered[i] = m_truth->IsCovered(i);
        m_report.viewRays = m_host.GetViewRays();
        return m_report;
    }

    // The detector reads the overview's images from the image area, as on the device; its data
    // are (point, direction) pairs, two per cut face, in image-area units.
    std::vector<CbVector3f> findSawCuts(const CyHermiteSpline& skeleton) {
        ZoCSawCutDetector detector(eAreaTypeUpperJaw, skeleton, c_matIdentity);
        try {
            detector.Run();
        } catch (const CbException&) {
            return {};  // no cuts: the scan goes on as for an unsectioned model
        }
        const std::vector<CbVector3f>& data = detector.GetSawCutData();
        for (size_t i = 0; i + 3 < data.size(); i += 4)
            m_report.sawCuts.push_back(
                {(data[i] + data[i + 2]) * (0.5f / VirtualScanner::c_fImageAreaPerMm), data[i + 3].Normalized()});
        return data;
    }

    static VirtualScannerOptions scannerOptions(const JawScanOptions& options) {
        VirtualScannerOptions o;
        o.width = options.imageWidth;
        o.height = options.imageHeight;
        return o;
    }

    void record(const std::string& name, const Sequence& seq, std::vector<ZoCFieldCoord>* keep = nullptr,
                bool notify = true) {
        const double before = m_host.GetTravelTime();
        JawScanStep step;
        step.name = name;
        std::vector<ZoCFieldCoord> fields;
        step.images = m_host.Record(seq, &fields);
        m_truth->AddPoints(measuredPoints(fields));
        step.truth = m_truth->Coverage();
        if (keep) *keep = std::move(fields);
        step.totalImages = m_host.GetNumImages();
        step.travelTime = m_host.GetTravelTime() - before;
        step.coverage = evaluateCoverage(m_steering);
        m_report.steps.push_back(step);
        if (notify && m_progress) m_progress(step);
    }

    const ZoCOrbal2DeviceConfig m_device;
    JawScanOptions m_options;
    std::function<void(const JawScanStep&)> m_progress;
    VirtualScanner m_scanner;
    std::unique_ptr<GroundTruth> m_truth;
    ZoCAcquisitionSteeringOrbal2Jaw m_steering;
    SimulatedHost m_host;
    JawScanReport m_report;
};

}  // namespace

JawScanReport RunJawScan(const TriangleMesh& model, const JawScanOptions& options,
                         const std::function<void(const JawScanStep&)>& progress) {
    ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2).Clear();
    Session session(model, options, progress);
    return session.Run(model);
}

}  // namespace Sim
