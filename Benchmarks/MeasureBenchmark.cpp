// The time of one measurement (JPEGSession::measure) against reading the same photo's
// coefficients (opening the session), on the largest developer photo and on 24-megapixel photos
// tiled from the two largest ones.
#include <algorithm>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "Fixtures.h"
#include "JPEGSession.h"

namespace {

using namespace flenn;

struct Photo {
    std::string name;
    Bytes bytes;
};

// The photo's pixels repeated across a width × height picture, encoded at the given quality
// with 4:2:0 sampling: a large photo with the detail of a real one.
Bytes tiled(const Bytes &jpeg, int width, int height, int quality) {
    fixtures::Pixels source = fixtures::decode(jpeg);
    fixtures::Pixels picture{width, height, source.components, {}};
    const auto pixel = std::size_t(source.components);
    picture.samples.resize(std::size_t(width) * std::size_t(height) * pixel);
    for (std::size_t y = 0; y < std::size_t(height); y++)
        for (std::size_t x = 0; x < std::size_t(width); x++)
            std::copy_n(&source.samples[((y % std::size_t(source.height)) * std::size_t(source.width) +
                                         x % std::size_t(source.width)) * pixel],
                        pixel, &picture.samples[(y * std::size_t(width) + x) * pixel]);
    return fixtures::encode(picture, quality);
}

// The developer photos with the most pixels, largest first.
std::vector<Photo> largestPhotos(std::size_t count) {
    std::vector<std::pair<std::int64_t, Photo>> sized;
    for (const auto &path : fixtures::devPhotos()) {
        Bytes bytes = fixtures::readFile(path);
        JPEGSession session(bytes);
        sized.push_back(
            {session.info().width * session.info().height, {path.stem().string(), bytes}});
    }
    std::sort(sized.begin(), sized.end(),
              [](const auto &a, const auto &b) { return a.first > b.first; });
    std::vector<Photo> photos;
    for (std::size_t i = 0; i < std::min(count, sized.size()); i++)
        photos.push_back(sized[i].second);
    return photos;
}

void measure(benchmark::State &state, const Bytes &bytes) {
    JPEGSession session(bytes);
    for (auto _ : state)
        benchmark::DoNotOptimize(session.measure());
    state.counters["megapixels"] = double(session.info().width * session.info().height) / 1e6;
}

void open(benchmark::State &state, const Bytes &bytes) {
    for (auto _ : state)
        benchmark::DoNotOptimize(JPEGSession(bytes).info());
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<Photo> largest = largestPhotos(2);
    if (largest.empty()) {
        std::fprintf(stderr, "No developer photos: set FLENN_DEV_PHOTOS.\n");
        return 1;
    }
    std::vector<Photo> photos = {largest[0]};
    for (const Photo &photo : largest)
        photos.push_back({"24MP-" + photo.name, tiled(photo.bytes, 6000, 4000, 92)});
    for (const Photo &photo : photos) {
        benchmark::RegisterBenchmark(("Measure/" + photo.name).c_str(), measure, photo.bytes)
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime()
            ->UseRealTime();
        benchmark::RegisterBenchmark(("ReadCoefficients/" + photo.name).c_str(), open, photo.bytes)
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime()
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
