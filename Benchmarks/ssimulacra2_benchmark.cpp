// Speed and peak memory of the ssimulacra2 program on a 12-megapixel pair (4000 x 3000), against
// djpeg decoding the same two JPEG files in the same run: the checker cannot be faster than
// decoding its inputs, so the ratio shows what the metric itself costs.
//
// The pair is made at start-up from a test image: doubled in size, mirrored into tiles, saved as
// PPM and PNG, and compressed with cjpeg at quality 95 (the original, as the guard sees it) and
// 85 (the distorted image).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <png.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ImageFile.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using flenn::ssimulacra2::ImageReader;

constexpr int width = 4000, height = 3000;
constexpr double megapixels = width * height / 1e6;

struct Pair {
    fs::path folder, ppm, png, original, distorted;
};

// 8-bit RGB, twice the size of the source (bilinear), mirrored into tiles up to 4000 x 3000.
std::vector<std::uint8_t> bigPicture(ImageReader &reader) {
    const auto &source = reader.info();
    if (source.channels != 3 || source.wide())
        throw std::runtime_error("the benchmark source must be an 8-bit RGB image");
    std::vector<std::uint8_t> samples;
    for (int y = 0; y < source.height; y++) {
        const std::uint8_t *row = reader.nextRow();
        samples.insert(samples.end(), row, row + source.rowBytes());
    }
    int w = source.width * 2, h = source.height * 2;
    auto sample = [&](int x, int y, int c) {
        return double(samples[(std::size_t(y) * source.width + x) * 3 + c]);
    };
    std::vector<std::uint8_t> doubled(std::size_t(w) * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double fx = std::max(0.0, (x + 0.5) / 2 - 0.5), fy = std::max(0.0, (y + 0.5) / 2 - 0.5);
            int x0 = int(fx), y0 = int(fy);
            int x1 = std::min(x0 + 1, source.width - 1), y1 = std::min(y0 + 1, source.height - 1);
            double ax = fx - x0, ay = fy - y0;
            for (int c = 0; c < 3; c++) {
                double top = sample(x0, y0, c) * (1 - ax) + sample(x1, y0, c) * ax;
                double bottom = sample(x0, y1, c) * (1 - ax) + sample(x1, y1, c) * ax;
                doubled[(std::size_t(y) * w + x) * 3 + c] =
                    std::uint8_t(top * (1 - ay) + bottom * ay + 0.5);
            }
        }
    auto mirror = [](int i, int n) {
        int period = i / n, offset = i % n;
        return period % 2 ? n - 1 - offset : offset;
    };
    std::vector<std::uint8_t> big(std::size_t(width) * height * 3);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            std::copy_n(&doubled[(std::size_t(mirror(y, h)) * w + mirror(x, w)) * 3], 3,
                        &big[(std::size_t(y) * width + x) * 3]);
    return big;
}

void writePPM(const fs::path &path, const std::vector<std::uint8_t> &rgb) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    out.write(reinterpret_cast<const char *>(rgb.data()), std::streamsize(rgb.size()));
    if (!out)
        throw std::runtime_error("could not write " + path.string());
}

void writePNG(const fs::path &path, const std::vector<std::uint8_t> &rgb) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr))
        throw std::runtime_error("could not write " + path.string() + ": " + image.message);
}

struct Run {
    int status = -1;
    double seconds = 0;
    long peakKilobytes = 0;
};

// Runs a program with standard output to `output` (or /dev/null) and measures it.
Run run(const std::vector<std::string> &arguments, const fs::path &output = "/dev/null") {
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    Run result;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        result.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.peakKilobytes = usage.ru_maxrss;
    }
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

const Pair &pair() {
    static const Pair made = [] {
        Pair p;
        p.folder =
            fs::temp_directory_path() / ("ssimulacra2-benchmark-" + std::to_string(getpid()));
        fs::create_directories(p.folder);
        p.ppm = p.folder / "original.ppm";
        p.png = p.folder / "original.png";
        p.original = p.folder / "original.jpg";
        p.distorted = p.folder / "distorted.jpg";
        {
            auto big = bigPicture(*flenn::ssimulacra2::openImage(FLENN_BENCHMARK_SOURCE));
            writePPM(p.ppm, big);
            writePNG(p.png, big);
        }
        if (run({"cjpeg", "-quality", "95", p.ppm.string()}, p.original).status != 0 ||
            run({"cjpeg", "-quality", "85", p.ppm.string()}, p.distorted).status != 0)
            throw std::runtime_error("cjpeg failed (package libjpeg-turbo-progs)");
        // A spawned program's peak memory starts at this process's peak, which making the
        // pair raised: reset it to the current, small, resident size.
        std::ofstream("/proc/self/clear_refs") << "5";
        return p;
    }();
    return made;
}

// The best (shortest) time and the largest peak memory of each benchmark, for the summary.
struct Best {
    double seconds = 1e300;
    long peakKilobytes = 0;
};
std::map<std::string, Best> best;

void measure(benchmark::State &state, const std::string &name,
             const std::vector<std::vector<std::string>> &commands) {
    for (auto _ : state) {
        double seconds = 0;
        long peak = 0;
        for (const auto &command : commands) {
            Run result = run(command);
            if (result.status != 0) {
                state.SkipWithError((command[0] + " failed").c_str());
                return;
            }
            seconds += result.seconds;
            peak = std::max(peak, result.peakKilobytes);
        }
        state.SetIterationTime(seconds);
        Best &b = best[name];
        b.seconds = std::min(b.seconds, seconds);
        b.peakKilobytes = std::max(b.peakKilobytes, peak);
        state.counters["s_per_MP"] = seconds / megapixels;
        state.counters["peak_bytes_per_pixel"] = peak * 1024.0 / (megapixels * 1e6);
    }
}

void JPEGAgainstJPEG(benchmark::State &state) {
    measure(state, "ssimulacra2 JPEG/JPEG",
            {{FLENN_SSIMULACRA2, pair().original.string(), pair().distorted.string()}});
}
void PNGAgainstJPEG(benchmark::State &state) {
    measure(state, "ssimulacra2 PNG/JPEG",
            {{FLENN_SSIMULACRA2, pair().png.string(), pair().distorted.string()}});
}
void DjpegDecodingBoth(benchmark::State &state) {
    measure(state, "djpeg both JPEGs",
            {{"djpeg", pair().original.string()}, {"djpeg", pair().distorted.string()}});
}

// Other developers share the machine: several repetitions, of which the best counts.
BENCHMARK(JPEGAgainstJPEG)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PNGAgainstJPEG)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(DjpegDecodingBoth)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nBest of the repetitions, %d x %d pixels (goals: 0.15 s/MP, 45 bytes/pixel):\n",
                width, height);
    for (const auto &[name, b] : best)
        std::printf("  %-24s %7.4f s/MP  %6.2f peak bytes/pixel\n", name.c_str(),
                    b.seconds / megapixels, b.peakKilobytes * 1024.0 / (megapixels * 1e6));
    auto decoding = best.find("djpeg both JPEGs"), checker = best.find("ssimulacra2 JPEG/JPEG");
    if (decoding != best.end() && checker != best.end())
        std::printf("  ssimulacra2 JPEG/JPEG takes %.2f times as long as djpeg decoding both\n",
                    checker->second.seconds / decoding->second.seconds);
    std::error_code ignored; // a leftover scratch folder is harmless
    fs::remove_all(
        fs::temp_directory_path() / ("ssimulacra2-benchmark-" + std::to_string(getpid())), ignored);
    return 0;
}
