// How far the matched estimate lands from real matched writes: for every developer photo the
// pipeline rewrites, at five scales, |estimate / actual - 1| with the estimate taken as the
// estimated entropy-coded bytes plus the marker segments, as the reference-table mode sets its
// target. Prints the median and 90th percentile per scale and over all.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "Fixtures.h"
#include "JPEGSession.h"

namespace {

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    double position = q * double(values.size() - 1);
    std::size_t below = std::size_t(position);
    std::size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (position - double(below)) * (values[above] - values[below]);
}

} // namespace

int main() {
    using namespace flenn;
    const double scales[] = {0.05, 0.1, 0.2, 0.35, 0.6};
    std::vector<std::vector<double>> errors(std::size(scales));
    std::vector<double> all;
    int photos = 0;
    for (const auto &path : fixtures::devPhotos()) {
        JPEGSession session(fixtures::readFile(path));
        if (!session.info().isSimple)
            continue;
        photos++;
        Measurements m = session.measure();
        for (std::size_t s = 0; s < std::size(scales); s++) {
            double estimate = m.matched->bits(scales[s]) / 8 + double(session.info().markerBytes);
            double actual = double(session.write(RequantSettings::matched(scales[s])).size());
            errors[s].push_back(std::abs(estimate / actual - 1));
            all.push_back(errors[s].back());
        }
    }
    if (photos == 0) {
        std::fprintf(stderr, "No developer photos: set FLENN_DEV_PHOTOS.\n");
        return 1;
    }
    std::printf("%d photos\nscale  median   p90\n", photos);
    for (std::size_t s = 0; s < std::size(scales); s++)
        std::printf("%-5g  %5.1f%%  %5.1f%%\n", scales[s], 100 * quantile(errors[s], 0.5),
                    100 * quantile(errors[s], 0.9));
    std::printf("all    %5.1f%%  %5.1f%%\n", 100 * quantile(all, 0.5), 100 * quantile(all, 0.9));
    return 0;
}
