// The main job in ground truth, per model: images, true coverage, the planning's estimate, share
// of the device's limit, joint travel time and computing time. Models: the built-in jaw, the
// built-in sectioned jaw, and a teeth-only dentition as intraoral scans give it (the built-in
// jaw cut 3 mm below the ridge's top: crowns and a strip of gum, open underneath).
//
// `main_job --write-fine-jaw FILE COUNT` writes the built-in jaw refined to COUNT triangles as a
// binary STL, for timing the main job on large models (orbal2 --model FILE).
//
// The limit takes two minutes of computing per model; it is used when `orbal2 limit` or an
// earlier `main_job --limit` kept it (same cache), and computed and kept with --limit.
#include "CoverageLimit.h"
#include "JawScanSession.h"
#include "SyntheticModels.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

Sim::TriangleMesh teethOnly() {
    const Sim::JawModel jaw = Sim::BuildJawModel();
    const float cut = -(jaw.baseHeight - 3.0f);  // z points down: keep what lies above this
    Sim::TriangleMesh out;
    std::vector<int64_t> index(jaw.mesh.vertices.size(), -1);
    for (const auto& t : jaw.mesh.triangles) {
        const auto& v = jaw.mesh.vertices;
        if (!(v[t[0]].z < cut || v[t[1]].z < cut || v[t[2]].z < cut))
            continue;
        std::array<uint32_t, 3> kept{};
        for (int k = 0; k < 3; ++k) {
            if (index[t[k]] < 0) {
                index[t[k]] = static_cast<int64_t>(out.vertices.size());
                out.vertices.push_back(v[t[k]]);
            }
            kept[k] = static_cast<uint32_t>(index[t[k]]);
        }
        out.triangles.push_back(kept);
    }
    // Set down on the plate: the lowest kept vertex rests at z = 0.
    const float lowest = out.Bounds().GetMax().z;
    for (CbVector3f& p : out.vertices)
        p.z -= lowest;
    return out;
}

// The built-in jaw with every triangle split into four until it has at least `count`, written as
// binary STL (z up, as files come): the size of a high-resolution lab scan.
bool writeFineJaw(const char* path, size_t count) {
    std::vector<std::array<CbVector3f, 3>> triangles;
    const Sim::TriangleMesh jaw = Sim::BuildJawModel().mesh;
    for (const auto& t : jaw.triangles)
        triangles.push_back({jaw.vertices[t[0]], jaw.vertices[t[1]], jaw.vertices[t[2]]});
    while (triangles.size() < count) {
        std::vector<std::array<CbVector3f, 3>> finer;
        finer.reserve(triangles.size() * 4);
        for (const auto& [a, b, c] : triangles) {
            const CbVector3f ab = (a + b) * 0.5f, bc = (b + c) * 0.5f, ca = (c + a) * 0.5f;
            finer.push_back({a, ab, ca});
            finer.push_back({ab, b, bc});
            finer.push_back({ca, bc, c});
            finer.push_back({ab, bc, ca});
        }
        triangles.swap(finer);
    }
    std::FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    char header[80] = "fine jaw";
    const auto n = static_cast<uint32_t>(triangles.size());
    std::fwrite(header, 1, 80, file);
    std::fwrite(&n, 4, 1, file);
    for (const auto& tri : triangles) {
        float record[12] = {0, 0, 0};
        for (int k = 0; k < 3; ++k)  // disc frame to z up: y and z flip
            record[3 + 3 * k] = tri[k].x, record[4 + 3 * k] = -tri[k].y, record[5 + 3 * k] = -tri[k].z;
        const uint16_t attributes = 0;
        std::fwrite(record, 4, 12, file);
        std::fwrite(&attributes, 2, 1, file);
    }
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--write-fine-jaw") == 0)
        return writeFineJaw(argv[2], std::strtoull(argv[3], nullptr, 10)) ? 0 : 1;
    const bool computeLimit = argc > 1 && std::strcmp(argv[1], "--limit") == 0;
    const bool showSteps = argc > 1 && std::strcmp(argv[1], "--steps") == 0;
    const std::pair<const char*, Sim::TriangleMesh> models[] = {
        {"built-in jaw", Sim::BuildJawModel().mesh},
        {"sectioned jaw", Sim::BuildSectionedJawModel().jaw.mesh},
        {"teeth-only jaw", teethOnly()},
    };
    std::printf("%-16s %6s %8s %9s %7s %7s %9s %9s %10s\n", "model", "images", "truth", "estimate", "limit",
                "share", "axes s", "compute s", "axes s/cm2");
    for (const auto& [name, model] : models) {
        const auto start = std::chrono::steady_clock::now();
        const Sim::JawScanReport report = Sim::RunJawScan(model, Sim::JawScanOptions(), [&](const Sim::JawScanStep& s) {
            if (showSteps)
                std::printf("  %-20s %3d images  estimate %5.1f%%  truth %5.1f%%  axes %6.2f s\n", s.name.c_str(),
                            s.totalImages, 100 * s.coverage, 100 * s.truth, s.travelTime);
        });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!report.ok) {
            std::printf("%-16s failed: %s\n", name, report.error.c_str());
            continue;
        }
        const Sim::CoverageLimitOptions options;
        const std::string directory = Sim::DefaultLimitCacheDirectory(), key = Sim::LimitCacheKey(model, options);
        Sim::CoverageLimit limit;
        if (!Sim::LoadLimit(directory, key, limit) && computeLimit) {
            limit = Sim::ComputeCoverageLimit(model, options);
            if (limit.ok)
                Sim::StoreLimit(directory, key, limit);
        }
        double area = 0;
        for (size_t i = 0; i < report.truthSamples.size(); ++i)
            area += report.truthCovered[i] ? report.truthSamples[i].weight : 0.0;
        char limitText[16] = "-", shareText[16] = "-";
        if (limit.ok && limit.coverage > 0) {
            std::snprintf(limitText, sizeof limitText, "%.1f%%", 100 * limit.coverage);
            std::snprintf(shareText, sizeof shareText, "%.1f%%", 100 * report.truth / limit.coverage);
        }
        std::printf("%-16s %6d %7.1f%% %8.1f%% %7s %7s %9.2f %9.2f %10.3f\n", name, report.images, 100 * report.truth,
                    100 * report.coverage, limitText, shareText, report.travelTime, seconds,
                    area > 0 ? report.travelTime / (area / 100) : 0.0);
    }
    return 0;
}
