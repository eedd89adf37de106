#include "LossySearch.h"

#include <cmath>
#include <map>

#include "BracketSearch.h"
#include "Compressor.h"
#include "Debug.h"
#include "Metric.h"

namespace flenn::Compressor {

namespace {

using Markers = JPEGSession::Markers;

constexpr std::int64_t largestFullSizeSearch = 7999999; // pixels

// Keeps the smallest full-size write that reached the floor; an equal size keeps the earlier.
class BestWrite {
  public:
    explicit BestWrite(double floor) : floor_(floor) {}

    void offer(const Bytes &data, double score, const RequantSettings &settings) {
        if (score < floor_ || (best_ && best_->data.size() <= data.size()))
            return;
        best_ = Candidate{data, score, settings, true};
    }
    std::optional<Candidate> take() { return std::move(best_); }

  private:
    double floor_;
    std::optional<Candidate> best_;
};

class Search {
  public:
    Search(JPEGSession &session, const Bytes &reference, const Preset &preset)
        : session_(session), reference_(reference), preset_(preset), best_(preset.floor) {}

    std::optional<Candidate> run() {
        const JPEGInfo &info = session_.info();
        if (info.width * info.height > largestFullSizeSearch && prepareSample(info))
            sampled();
        else
            bracketSearch(preset_.floor, [this](int step) { return full(step); },
                          std::int64_t(reference_.size()), startStep(preset_.floor));
        return best_.take();
    }

  private:
    // A full-size write scored against the photo as received; offered when it passes.
    Measurement full(int step) {
        RequantSettings settings = preset_.shape(5 * step);
        Bytes written = session_.write(settings, Markers::all);
        double score = Metric::score(reference_, written);
        if (debug())
            printDebugLine({"  try", std::to_string(settings.luma), debugNumber(score, 2),
                            std::to_string(written.size())});
        best_.offer(written, score, settings);
        return {score, std::int64_t(written.size())};
    }

    bool prepareSample(const JPEGInfo &info) {
        layout_ = searchSampleLayout(info.width, info.height);
        try {
            sampleReference_ = session_.write(RequantSettings::lossless, Markers::colorProfileOnly, layout_);
            return true;
        } catch (...) {
            // A picture the tile layout does not fit is searched at full size instead.
            return false;
        }
    }

    Measurement sample(int step) {
        if (auto cached = sampleCache_.find(step); cached != sampleCache_.end())
            return cached->second;
        Bytes written = session_.write(preset_.shape(5 * step), Markers::colorProfileOnly, layout_);
        Measurement measured{Metric::score(sampleReference_, written), std::int64_t(written.size())};
        if (debug())
            printDebugLine({"  sample", std::to_string(5 * step), debugNumber(measured.score, 2),
                            std::to_string(written.size())});
        sampleCache_.emplace(step, measured);
        return measured;
    }

    int sampleSearch(double target) {
        return bracketSearch(target, [this](int step) { return sample(step); },
                             std::int64_t(sampleReference_.size()), startStep(preset_.floor));
    }

    static int lowered(int step) { return step - (step < 25 ? 1 : step / 25); }

    // The step found on the sample, verified and corrected at full size.
    void sampled() {
        const double floor = preset_.floor;
        int s = sampleSearch(floor + 1);
        if (s <= 20)
            return;
        int tries = 0, lastPass = 20;
        for (;;) {
            double score = full(s).score;
            tries += 1;
            bool firstTry = tries == 1;
            if (score < floor) {
                if (!firstTry) {
                    if (tries > 5)
                        return;
                    s = lowered(s);
                    if (s <= lastPass)
                        return;
                    continue;
                }
            } else {
                if (score < floor + 1)
                    return;
                lastPass = s;
                if (!firstTry)
                    return;
            }
            // Recalibration: aim the sample at the score the full size will reach.
            double sampleScore = sample(s).score;
            int recalibrated = sampleSearch(floor + sampleScore - score);
            if (recalibrated == s) {
                if (score >= floor)
                    return;
                recalibrated = lowered(s);
            }
            if (lastPass >= recalibrated)
                return;
            s = recalibrated;
        }
    }

    JPEGSession &session_;
    const Bytes &reference_;
    const Preset &preset_;
    BestWrite best_;
    TileSample layout_;
    Bytes sampleReference_;
    std::map<int, Measurement> sampleCache_;
};

} // namespace

TileSample searchSampleLayout(std::int64_t width, std::int64_t height) {
    std::int64_t tiles = std::min<std::int64_t>(width * height / 1048576, 24);
    int columns = std::max(1, int(std::round(std::sqrt(double(width) * double(tiles) / double(height)))));
    int rows = tiles < columns ? 1 : int(tiles / columns);
    return TileSample{columns, rows, 512};
}

std::optional<Candidate> search(JPEGSession &session, const Bytes &reference, const Preset &preset) {
    return Search(session, reference, preset).run();
}

} // namespace flenn::Compressor
