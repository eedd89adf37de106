// Planning one photo: copied, repacked or rewritten lossily, decided in a fixed order.
#include <algorithm>
#include <variant>

#include "CodecError.h"
#include "Compressor.h"
#include "ContentCredentials.h"
#include "Debug.h"
#include "JPEGSession.h"
#include "LossySearch.h"
#include "MultiPicture.h"
#include "ReferenceTableMode.h"
#include "Sentences.h"

namespace flenn::Compressor {

namespace {

using Markers = JPEGSession::Markers;

Plan copied(std::int64_t size, std::optional<std::string> note) {
    Result result;
    result.before = result.after = size;
    result.note = std::move(note);
    return {std::nullopt, result};
}

// The picture that is compressed: the primary image without what follows it.
struct Picture {
    Bytes reference;           // what the lossy search scores against
    std::int64_t primarySize;  // P
    std::int64_t trailingSize; // T: bytes kept after the primary image
    std::optional<MultiPicture> split;
    bool dropPreviews = false;
};

bool onlyPadding(const Bytes &data, std::int64_t from) {
    return std::all_of(data.begin() + from, data.end(),
                       [](std::uint8_t byte) { return byte == 0x00 || byte == 0xFF; });
}

// The primary picture, or the sentence of a file that is copied as it is.
std::variant<Picture, std::string_view> pictureOf(const Bytes &data, const JPEGInfo &info,
                                                  const Preset &preset) {
    const auto N = std::int64_t(data.size());
    if (!info.isMultiPicture) {
        if (info.bytesConsumed < N && !onlyPadding(data, info.bytesConsumed))
            return Sentences::extraDataAfterPicture;
        std::int64_t P = std::min(N, info.bytesConsumed);
        return Picture{data.prefix(std::size_t(P)), P, 0, std::nullopt, false};
    }
    std::optional<MultiPicture> split = MultiPicture::file(data);
    // The index must also agree with where the primary picture really ends.
    if (!split || std::int64_t(split->primary.size()) < info.bytesConsumed)
        return Sentences::unreadableMultiPictureIndex;
    // Bytes between the primary's end and the next picture would not survive the rebuild.
    if (!onlyPadding(split->primary, info.bytesConsumed))
        return Sentences::extraDataAfterPicture;
    bool dropPreviews = split->onlyPreviews && preset.matchesOstrel;
    auto T = dropPreviews ? 0 : std::int64_t(split->trailing.size());
    auto P = std::int64_t(split->primary.size());
    Bytes reference = split->primary;
    return Picture{reference, P, T, std::move(split), dropPreviews};
}

std::optional<Candidate> lossyCandidate(JPEGSession &session, const Picture &picture,
                                        const Preset &preset) {
    if (preset.matchesOstrel)
        return matchOstrel(session, picture.primarySize);
    return search(session, picture.reference, preset);
}

// What step 5 or 6 chose, before the container is put together again.
struct Chosen {
    Bytes output;
    Result result;
};

std::optional<Chosen> lossyAttempt(JPEGSession &session, const Picture &picture, const Preset &preset,
                                   std::int64_t N, std::optional<Bytes> &repack) {
    const JPEGInfo &info = session.info();
    if (preset.isLossless() || info.isAlreadyOptimized || std::min(info.width, info.height) < 16)
        return std::nullopt;
    std::optional<Candidate> candidate = lossyCandidate(session, picture, preset);
    if (!candidate)
        return std::nullopt;
    double M = std::max(preset.minimumSaving * double(N), 1024.0);
    auto size = std::int64_t(candidate->data.size());
    if (double(N - (size + picture.trailingSize)) < M)
        return std::nullopt;
    if (candidate->nearRepack) {
        repack = session.write(RequantSettings::lossless, Markers::all);
        auto gain = double(std::int64_t(repack->size()) - size);
        if (debug())
            printDebugLine({"  repack", std::to_string(repack->size()), "against", std::to_string(size),
                            gain >= M ? "pays" : "does not pay"});
        if (gain < M)
            return std::nullopt;
    }
    Result result;
    result.before = N;
    result.score = candidate->score;
    result.outcome = Outcome::flenned;
    result.settings = candidate->settings;
    return Chosen{candidate->data, result};
}

std::optional<Chosen> losslessAttempt(JPEGSession &session, const Picture &picture, std::int64_t N,
                                      std::optional<Bytes> repack, std::optional<std::string> &note) {
    if (session.info().isAlreadyOptimized)
        note = std::string(Sentences::alreadyOptimized);
    if (!repack)
        repack = session.write(RequantSettings::lossless, Markers::all);
    std::int64_t saved = N - picture.trailingSize - std::int64_t(repack->size());
    if (double(saved) < std::max(0.01 * double(N), 1024.0))
        return std::nullopt;
    Result result;
    result.before = N;
    result.outcome = Outcome::lossless;
    result.settings = RequantSettings::lossless;
    result.note = note;
    return Chosen{*repack, result};
}

} // namespace

Plan plan(const Bytes &data, const Preset &preset) {
    const auto N = std::int64_t(data.size());
    JPEGSession session(data);
    const JPEGInfo &info = session.info();
    if (!info.isSimple)
        return copied(N, std::string(Sentences::otherColorFormat));

    auto found = pictureOf(data, info, preset);
    if (auto *sentence = std::get_if<std::string_view>(&found))
        return copied(N, std::string(*sentence));
    const Picture &picture = std::get<Picture>(found);

    std::optional<Bytes> repack;
    std::optional<std::string> note;
    std::optional<Chosen> chosen = lossyAttempt(session, picture, preset, N, repack);
    if (!chosen)
        chosen = losslessAttempt(session, picture, N, std::move(repack), note);
    if (!chosen)
        return copied(N, note);

    Bytes output = chosen->output;
    if (auto replacement = ContentCredentials::replaceBroken(output)) {
        output = replacement->data;
        bool relabelled = replacement->labelWritten && replacement->declaredSourceType &&
                          replacement->declaredSourceType->ends_with("AlgorithmicMedia");
        chosen->result.note =
            std::string(relabelled ? Sentences::credentialRelabelled : Sentences::credentialRemoved);
    }
    if (picture.split)
        output = picture.dropPreviews ? MultiPicture::withoutIndex(output) : picture.split->rebuild(output);

    if (std::int64_t(output.size()) >= N)
        return copied(N, note);
    chosen->result.after = std::int64_t(output.size());
    return {output, chosen->result};
}

} // namespace flenn::Compressor
