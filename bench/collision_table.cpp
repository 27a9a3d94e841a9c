// Reading the double-arch tray's joint collision table: 2 million distinct records (hundreds of
// thousands of children below some nodes), and a file of blank lines at the size limit. Prints
// the peak resident memory after each, which must stay far below the file's line count times
// the size of a line record.
#include "ZoOrbal2.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

std::string writeOnce(const std::string& name, void (*fill)(std::ofstream&)) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    if (!std::filesystem::exists(path)) {
        std::ofstream out(path, std::ios::binary);
        fill(out);
    }
    return path;
}

void distinctRecords(std::ofstream& out) {
    std::mt19937 rng(20261206);
    std::uniform_int_distribution<int> l5(-180, 180);
    for (int i = 0; i < 2000000; ++i) {
        const int lo = l5(rng);
        out << (i % 219) - 169 << ' ' << 30 + (i / 219) % 120 << ' ' << i / 26280 << " 0 " << lo << ' ' << lo + 5
            << '\n';
    }
}

void blankLines(std::ofstream& out) {
    const std::string block(1 << 20, '\n');
    for (uint64_t written = 0; written + block.size() <= IntervalFileParser::c_uMaxFileBytes; written += block.size())
        out << block;
}

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_ReadTable(benchmark::State& state, const std::string& path) {
    size_t nodes = 0;
    for (auto _ : state) {
        ZoCTripleTrayCollisionsLoader::TCollisionTree tree;
        ZoCTripleTrayCollisionsLoader::ReadTable(path.c_str(), tree);
        nodes = tree.CountDescendants();
    }
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["peak_MiB"] = static_cast<double>(peakKiB()) / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string blank = writeOnce("zoorbal2-bench-blank.txt", blankLines);
    const std::string many = writeOnce("zoorbal2-bench-2m.txt", distinctRecords);
    benchmark::RegisterBenchmark("ReadTable/64MiB_blank_lines", BM_ReadTable, blank)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ReadTable/2M_records", BM_ReadTable, many)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
