#include "JPEGSession.h"

#include <array>
#include <cstring>

#include <flenn.h>

#include "CodecError.h"
#include "Sentences.h"
#include "Text.h"

namespace flenn {

namespace {

JPEGInfo infoFrom(const flenn_info &engine) {
    JPEGInfo info;
    info.width = engine.width;
    info.height = engine.height;
    info.components = engine.components;
    info.isSimple = engine.is_simple != 0;
    info.isProgressive = engine.is_progressive != 0;
    info.isMultiPicture = engine.is_multi_picture != 0;
    info.isAlreadyOptimized = engine.is_already_optimized != 0;
    info.bytesConsumed = engine.bytes_consumed;
    info.markerBytes = engine.marker_bytes;
    for (int c = 0; c < std::min(engine.components, 4); c++)
        info.quantTables.emplace_back(engine.quant[c], engine.quant[c] + 64);
    return info;
}

} // namespace

std::string JPEGSession::message(std::span<const char> buffer, std::string_view fallback) {
    std::size_t length = 0;
    while (length < buffer.size() && buffer[length] != '\0')
        length++;
    std::string text = Text::repairedUTF8(std::string_view(buffer.data(), length));
    return text.empty() ? std::string(fallback) : text;
}

JPEGSession::JPEGSession(const Bytes &data) {
    std::array<char, 256> buffer{};
    if (flenn_session_open(data.data(), data.size(), &handle_, buffer.data(), buffer.size()) != 0)
        throw CodecError(message(buffer, Sentences::unreadableJPEG));
    info_ = infoFrom(*flenn_session_get_info(handle_));
}

JPEGSession::~JPEGSession() { flenn_session_close(handle_); }

Bytes JPEGSession::write(const RequantSettings &settings, Markers markers,
                         const std::optional<TileSample> &sample) {
    flenn_settings engine{};
    engine.luma = settings.luma;
    engine.chroma = settings.chroma;
    engine.tilt = settings.tilt;
    engine.deadzone = settings.deadzone;
    engine.standard = settings.standard ? 1 : 0;
    if (settings.tables && settings.tables->size() == 2) {
        engine.luma_table = (*settings.tables)[0].data();
        engine.chroma_table = (*settings.tables)[1].data();
    }
    engine.matched_luma = settings.matchedLuma;
    engine.matched_chroma = settings.matchedChroma;
    engine.matched_cut = settings.matchedCut;
    engine.matched_uniform = settings.matchedUniform ? 1 : 0;
    const std::string comment(signature);
    if (!settings.isLossless() && markers == Markers::all && !sample)
        engine.comment = comment.c_str();
    engine.scan = (!sample && info_.isProgressive) ? FLENN_SCAN_PROGRESSIVE : FLENN_SCAN_COUNTED;
    engine.markers = markers == Markers::all ? FLENN_MARKERS_ALL : FLENN_MARKERS_ICC;
    if (sample) {
        engine.sample_columns = sample->columns;
        engine.sample_rows = sample->rows;
        engine.tile_pixels = sample->tilePixels;
    }

    std::array<char, 256> buffer{};
    std::uint8_t *output = nullptr;
    std::size_t size = 0;
    int status = flenn_session_write(handle_, &engine, &output, &size, buffer.data(), buffer.size());
    if (status == FLENN_OK)
        return Bytes::adoptingMalloced(output, size);
    if (status == FLENN_SAMPLE_TOO_SMALL)
        throw SampleTooSmall();
    throw CodecError(message(buffer, Sentences::notRecompressed));
}

std::optional<JPEGSession::Comparison> JPEGSession::compare(JPEGSession &other) {
    flenn_comparison engine{};
    if (flenn_session_compare(handle_, other.handle_, &engine) != 0)
        return std::nullopt;
    return Comparison{engine.luma_ac,          engine.luma_ac_differing,
                      engine.luma_ac_nonzero_other, engine.chroma_differing,
                      engine.dc_differing,     engine.luma_ac_nonzero};
}

Measurements JPEGSession::measure() {
    std::array<char, 256> buffer{};
    flenn_measurements *record = nullptr;
    if (flenn_session_measure(handle_, &record, buffer.data(), buffer.size()) != 0)
        throw CodecError(message(buffer, Sentences::notMeasured));
    return Measurements::reading(std::make_shared<const MatchedEstimator>(record));
}

QuantTable JPEGSession::matchedTable(const QuantTable &source, bool chroma, double scale) {
    QuantTable table{};
    flenn_matched_table(source.data(), chroma ? 1 : 0, table.data(), scale);
    return table;
}

double JPEGSession::matchedCut(double scale) { return flenn_matched_cut(scale); }

} // namespace flenn
