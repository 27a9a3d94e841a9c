// The saw-cut extractor on a 1280 x 1024 bitmap of the built-in sectioned jaw (one overview
// image of the reference device) sprinkled with noise blobs. Goal: at most 10 ms for the whole
// search. Beside it, the boundary-tracing stage alone (trace, fill and erase every region) and,
// when OpenCV is installed, OpenCV's findContours on the same bitmap (outer contours, every
// boundary pixel), the peer of that stage; the ratios are printed.
//
// Usage: sawcut_extractor [repetitions]   (default 50; the median time is reported)
#include "SyntheticModels.h"
#include "VirtualScanner.h"
#include "ZoOrbal2.h"

#ifdef ZOORBAL2_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

namespace {

using Bitmap = ZoCSawCutExtractor::ZoNBitmap;

// The valid pixels of overview image 1 (disc at 60 degrees) over the whole camera image.
Bitmap jawBitmap() {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScanner scanner(device, Sim::BuildSectionedJawModel().jaw.mesh);
    ZoCOrbal2AxisChain::NCJointConfiguration config;
    config.Set(0, 90, 90, 0, 60);
    const Sim::RecordedImage image = scanner.Record(config);
    Bitmap b(image.range.GetWidth(), image.range.GetHeight());
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            b.At(x, y) = ZoCSawCutExtractor::IsRange(image.range.At(x, y)) &&
                                 (image.mask.At(x, y) & ZoCSawCutExtractor::ciMaskBitsRejected) == 0
                             ? ZoCSawCutExtractor::cuValid
                             : ZoCSawCutExtractor::cuEmpty;
    return b;
}

// Blobs of up to 3 pixels' radius that flip what they cover (holes in the model, specks
// beside it), and single flipped pixels.
void addNoise(Bitmap& b) {
    std::mt19937_64 rng(47110815);
    std::uniform_real_distribution<double> x(0, b.width), y(0, b.height), radius(0.5, 3.0);
    for (int blob = 0; blob < 800; ++blob) {
        const double cx = x(rng), cy = y(rng), r = radius(rng);
        for (int py = static_cast<int>(cy - r); py <= static_cast<int>(cy + r); ++py)
            for (int px = static_cast<int>(cx - r); px <= static_cast<int>(cx + r); ++px)
                if (px >= 0 && py >= 0 && px < b.width && py < b.height &&
                    (px - cx) * (px - cx) + (py - cy) * (py - cy) <= r * r)
                    b.At(px, py) ^= ZoCSawCutExtractor::cuValid;
    }
    for (int speck = 0; speck < 3000; ++speck) {
        const int px = static_cast<int>(x(rng)), py = static_cast<int>(y(rng));
        b.At(px, py) ^= ZoCSawCutExtractor::cuValid;
    }
}

// The boundary-tracing stage of the extractor: every region traced, filled and erased.
struct TracingResult {
    int regions = 0;
    size_t boundaryPixels = 0;
};
TracingResult traceAll(const Bitmap& b) {
    TracingResult result;
    ZoCPaddedImage image(b.pixels.data(), b.width, b.height, b.width);
    ZoNPixel at;
    while (image.FindNext(ZoCSawCutExtractor::cuValid, at.x, at.y)) {
        const ZoCPixelChain chain =
            ZoCBoundaryTracer::TraceOuterBoundary(image, at, ZoCSawCutExtractor::cuValid);
        const ZoCPixelPolygon polygon(chain, 0.0);
        for (const ZoCPixelPolygon::ZoNSpan& span : polygon.GetAreaSpans())
            image.FillSpan(span.y, span.x0, span.x1, ZoCSawCutExtractor::cuEmpty);
        ++result.regions;
        result.boundaryPixels += polygon.GetMarginCount();
    }
    return result;
}

// Median milliseconds per call over `repetitions` calls, after one call to warm up.
double medianMs(int repetitions, const std::function<void()>& call) {
    call();
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        call();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + static_cast<ptrdiff_t>(times.size() / 2), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    Bitmap bitmap = jawBitmap();
    addNoise(bitmap);
    // A guide line over the arch as it lies in this view.
    double t[3] = {0, 0.5, 1}, gx[3] = {150, 640, 1150}, gy[3] = {650, 250, 600};
    const ZoCSawCutExtractor::ZoNGuideLine guide(ZoCPolynomial::Fit(3, t, gx, 2),
                                                 ZoCPolynomial::Fit(3, t, gy, 2));
    ZoCSawCutExtractor extractor(bitmap, guide);

    std::vector<ZoCSawCutExtractor::ZoNSawCut> cuts;
    const double extractorMs = medianMs(repetitions, [&] {
        cuts.clear();
        extractor.detectSawCuts(cuts);
    });
    TracingResult traced;
    const double tracingMs = medianMs(repetitions, [&] { traced = traceAll(bitmap); });
    std::printf("bitmap %d x %d, %ld valid pixels; median of %d runs\n", bitmap.width, bitmap.height,
                static_cast<long>(
                    std::count(bitmap.pixels.begin(), bitmap.pixels.end(), ZoCSawCutExtractor::cuValid)),
                repetitions);
    std::printf("extractor (whole search)     %8.3f ms   %zu cuts, goal <= 10 ms: %s\n", extractorMs,
                cuts.size(), extractorMs <= 10.0 ? "met" : "missed");
    std::printf("boundary tracing stage       %8.3f ms   %d regions, %zu boundary pixels\n", tracingMs,
                traced.regions, traced.boundaryPixels);
#ifdef ZOORBAL2_HAVE_OPENCV
    const cv::Mat mat(bitmap.height, bitmap.width, CV_8UC1, bitmap.pixels.data());
    std::vector<std::vector<cv::Point>> contours;
    const double opencvMs = medianMs(repetitions, [&] {
        contours.clear();
        cv::findContours(mat, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    });
    size_t points = 0;
    for (const auto& c : contours)
        points += c.size();
    std::printf("OpenCV findContours          %8.3f ms   %zu outer contours, %zu points\n", opencvMs,
                contours.size(), points);
    std::printf("ratio tracing / findContours  %6.2f\n", tracingMs / opencvMs);
    std::printf("ratio extractor / findContours %5.2f\n", extractorMs / opencvMs);
#else
    std::printf("OpenCV not found: no comparison (install libopencv-dev and reconfigure)\n");
#endif
    return 0;
}
