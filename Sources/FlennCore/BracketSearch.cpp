#include "BracketSearch.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace flenn::Compressor {

int startStep(double floor) {
    if (floor <= 80)
        return 60;
    if (floor <= 88)
        return 40;
    return 30;
}

int bracketSearch(double target, const std::function<Measurement(int)> &measure,
                  std::int64_t passBytes, int startStep) {
    int passStep = 20, failStep = 0;
    double passScore = 100, failScore = 0;
    std::int64_t failBytes = 0;
    bool expanding = true;
    std::optional<bool> previousPassed;
    int step = startStep;
    for (;;) {
        Measurement measured = measure(step);
        bool passed = measured.score >= target;
        if (passed) {
            passStep = step;
            passScore = measured.score;
            passBytes = measured.bytes;
        } else {
            failStep = step;
            failScore = measured.score;
            failBytes = measured.bytes;
            expanding = false;
        }
        int upper = expanding ? 181 : failStep;
        if (upper - passStep < 2)
            return passStep;
        if (expanding) {
            step = std::min(std::max(passStep + 1, passStep * 3 / 2), 180);
            previousPassed = true;
            continue;
        }
        if (double(passBytes - failBytes) < 0.015 * double(passBytes))
            return passStep;
        int mid = (passStep + failStep) / 2;
        int diff = failStep - passStep;
        int margin = 1;
        if (!previousPassed || *previousPassed != passed) {
            margin = diff < 8 ? 1 : diff / 8;
            if (failScore < target && failScore < passScore)
                mid = passStep + int(std::round((passScore - target) / (passScore - failScore) * diff));
        }
        step = std::min(failStep - margin, std::max(passStep + margin, mid));
        previousPassed = passed;
    }
}

} // namespace flenn::Compressor
