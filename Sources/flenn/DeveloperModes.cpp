#include "DeveloperModes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>

#include <nlohmann/json.hpp>

#include "CodecError.h"
#include "JPEGSession.h"
#include "Predictor.h"
#include "CommandLine.h"
#include "Output.h"
#include "Platform/Files.h"
#include "Usage.h"
#include "Workers.h"

namespace {

using flenn::Bytes;
using flenn::CodecError;
using flenn::JPEGSession;
using flenn::Measurements;
using nlohmann::json;

// Sentences of "--matched" for photos it cannot write; developers read them in the records.
constexpr const char *noScale = "no scale for this photo";
constexpr const char *noLumaScale = "no luma scale";
constexpr const char *unreadableScale = "unreadable scale";
constexpr const char *badScale = "scale is not a positive, finite number";
constexpr const char *noTables = "no tables";

void writeWholeFile(const std::filesystem::path &path, const Bytes &bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    file.close();
    if (!file)
        throw std::system_error(errno, std::generic_category(), path.string());
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

bool allFinite(const json &value) {
    if (value.is_number_float())
        return std::isfinite(value.get<double>());
    if (value.is_structured())
        for (const json &item : value)
            if (!allFinite(item))
                return false;
    return true;
}

// One line of sorted keys without white space. A record that cannot be encoded (text that is
// not UTF-8, a number that is not finite) is left out, as the modes promise nothing else.
void emitRecord(const json &record) {
    if (!allFinite(record))
        return;
    std::string line;
    try {
        line = record.dump();
    } catch (const json::exception &) {
        return;
    }
    emit(line, stdout);
}

std::optional<double> number(const std::string &text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    char *end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size())
        return std::nullopt;
    return value;
}

// ---- --features ----

json featuresRecord(const std::filesystem::path &photo) {
    json record;
    record["file"] = photo.filename().string();
    try {
        JPEGSession session(flenn::Files::readWholeFile(photo));
        double fastest = std::numeric_limits<double>::infinity();
        if (std::getenv("FLENN_TIME_MEASURE")) {
            for (int run = 0; run < 5; run++) {
                auto start = std::chrono::steady_clock::now();
                session.measure();
                fastest = std::min(fastest, millisecondsSince(start));
            }
        }
        auto start = std::chrono::steady_clock::now();
        Measurements m = session.measure();
        record["measure_ms"] = std::min(fastest, millisecondsSince(start));
        record["features"] = m.features;
        record["grid"] = m.grid;
        record["estimated_bits"] = m.estimatedBits;
        record["matched_grid"] = m.matchedGrid;
        record["matched_bits"] = m.matchedBits;
        record["matched_parts"] = m.matchedParts;
        record["luma_pixels"] = m.lumaPixels;
        record["marker_bytes"] = session.info().markerBytes;
        record["primary_bytes"] = session.info().bytesConsumed;
        record["simple"] = session.info().isSimple;
        record["already_optimized"] = session.info().isAlreadyOptimized;
        if (auto prediction = flenn::Predictor::prediction(m)) {
            record["predicted_bits"] = prediction->bits;
            record["beyond_score"] = prediction->beyondScore;
            record["pushed_beyond"] = prediction->pushedBeyond;
        }
    } catch (const std::exception &error) {
        record = json{{"file", photo.filename().string()}, {"error", error.what()}};
    }
    return record;
}

// ---- --matched ----

struct MatchedOptions {
    json scales; // the scale table: photo path or file name → scale or {luma, chroma}
    std::optional<std::filesystem::path> reference;
    std::optional<std::filesystem::path> write;
    bool referenceTables = false;
    bool uniform = false;
    double cut = 0;
    double scaleFactor = 1;
    std::optional<double> fixedScale;
    std::vector<std::filesystem::path> photos;
};

MatchedOptions readMatchedOptions(std::vector<std::string> arguments) {
    std::deque<std::string> args(arguments.begin(), arguments.end());
    auto next = [&args] {
        if (args.empty())
            printUsageAndExit();
        std::string value = std::move(args.front());
        args.pop_front();
        return value;
    };
    auto nextNumber = [&next] {
        std::optional<double> value = number(next());
        if (!value)
            printUsageAndExit();
        return *value;
    };
    MatchedOptions options;
    try {
        Bytes table = flenn::Files::readWholeFile(fileURL(next()));
        options.scales = json::parse(table.begin(), table.end());
    } catch (const std::exception &) { // unreadable or not JSON: a usage error
        printUsageAndExit();
    }
    if (!options.scales.is_object())
        printUsageAndExit();
    while (!args.empty()) {
        std::string arg = next();
        if (arg == "--reference")
            options.reference = fileURL(next());
        else if (arg == "--write")
            options.write = fileURL(next());
        else if (arg == "--reference-tables")
            options.referenceTables = true;
        else if (arg == "--uniform")
            options.uniform = true;
        else if (arg == "--cut")
            options.cut = nextNumber();
        else if (arg == "--scale-factor")
            options.scaleFactor = nextNumber();
        else if (arg == "--fixed-scale")
            options.fixedScale = nextNumber();
        else
            options.photos.push_back(fileURL(arg));
    }
    return options;
}

struct Scales {
    double luma;
    std::optional<double> chroma;
};

Scales scalesFor(const MatchedOptions &options, const std::filesystem::path &photo) {
    if (options.fixedScale)
        return {*options.fixedScale * options.scaleFactor,
                *options.fixedScale * options.scaleFactor};
    auto entry = options.scales.find(photo.string());
    if (entry == options.scales.end())
        entry = options.scales.find(photo.filename().string());
    if (entry == options.scales.end())
        throw CodecError(noScale);
    if (entry->is_object()) {
        auto luma = entry->find("luma");
        if (luma == entry->end() || !luma->is_number())
            throw CodecError(noLumaScale);
        Scales scales{luma->get<double>() * options.scaleFactor, std::nullopt};
        if (auto chroma = entry->find("chroma"); chroma != entry->end() && chroma->is_number())
            scales.chroma = chroma->get<double>() * options.scaleFactor;
        return scales;
    }
    if (entry->is_number())
        return {entry->get<double>() * options.scaleFactor, std::nullopt};
    throw CodecError(unreadableScale);
}

flenn::QuantTable quantTable(const std::vector<std::uint16_t> &values) {
    flenn::QuantTable table{};
    std::copy_n(values.begin(), std::min<std::size_t>(values.size(), table.size()), table.begin());
    return table;
}

// How the written JPEG's tables and coefficients compare with the reference's.
void addComparison(json &record, JPEGSession &written, JPEGSession &reference) {
    const auto &ours = written.info().quantTables, &theirs = reference.info().quantTables;
    record["tables_equal"] = ours == theirs;
    record["luma_table_equal"] =
        ours.empty() || theirs.empty() ? ours.empty() == theirs.empty() : ours[0] == theirs[0];
    if (auto comparison = written.compare(reference)) {
        record["luma_ac"] = std::int64_t(comparison->lumaAC);
        record["luma_ac_differ"] = std::int64_t(comparison->lumaACDiffering);
        record["luma_ac_nonzero_reference"] = std::int64_t(comparison->lumaACNonzeroOther);
        record["luma_ac_nonzero"] = std::int64_t(comparison->lumaACNonzero);
        record["chroma_differ"] = std::int64_t(comparison->chromaDiffering);
        record["dc_differ"] = std::int64_t(comparison->dcDiffering);
    }
}

json matchedRecord(const MatchedOptions &options, const std::filesystem::path &photo) {
    json record;
    record["file"] = photo.filename().string();
    try {
        Scales scales = scalesFor(options, photo);
        JPEGSession session(flenn::Files::readWholeFile(photo));
        if (!(scales.luma > 0) || !std::isfinite(scales.luma) ||
            (scales.chroma && !std::isfinite(*scales.chroma)))
            throw CodecError(badScale);
        flenn::RequantSettings settings =
            flenn::RequantSettings::matched(scales.luma, scales.chroma);
        settings.matchedCut = options.cut;
        settings.matchedUniform = options.uniform;

        std::unique_ptr<JPEGSession> reference;
        if (options.reference) {
            Bytes referenceBytes = flenn::Files::readWholeFile(*options.reference / photo.filename());
            reference = std::make_unique<JPEGSession>(referenceBytes);
            record["reference_bytes"] = referenceBytes.size();
            if (options.referenceTables) {
                const auto &tables = reference->info().quantTables;
                if (tables.empty())
                    throw CodecError(noTables);
                settings.tables = std::vector<flenn::QuantTable>{
                    quantTable(tables[0]), quantTable(tables.size() > 1 ? tables[1] : tables[0])};
            }
        }

        Measurements measurements = session.measure();
        if (measurements.matched) {
            record["estimated_bits"] = measurements.matched->bits(scales.luma, scales.chroma);
            record["estimate_parts"] = measurements.matched->parts(scales.luma, scales.chroma);
        } else {
            record["estimated_bits"] = 0;
            record["estimate_parts"] = json::array();
        }

        auto start = std::chrono::steady_clock::now();
        Bytes written = session.write(settings);
        record["write_ms"] = millisecondsSince(start);
        record["bytes"] = written.size();
        record["markers"] = session.info().markerBytes;
        record["source_bytes"] = session.info().bytesConsumed;
        record["luma"] = scales.luma;
        record["chroma"] = scales.chroma.value_or(scales.luma);

        if (reference) {
            JPEGSession writtenSession(written);
            addComparison(record, writtenSession, *reference);
        }
        if (options.write) {
            std::filesystem::create_directories(*options.write);
            writeWholeFile(*options.write / photo.filename(), written);
        }
    } catch (const std::exception &error) {
        record["error"] = error.what();
    }
    return record;
}

} // namespace

int runFeatures(std::vector<std::string> args, int jobs) {
    std::vector<std::filesystem::path> photos;
    for (const std::string &arg : args)
        photos.push_back(fileURL(arg));
    forEachConcurrently(photos.size(), jobs,
                        [&](std::size_t i) { emitRecord(featuresRecord(photos[i])); });
    return 0;
}

int runMatched(std::vector<std::string> args, int jobs) {
    const MatchedOptions options = readMatchedOptions(std::move(args));
    forEachConcurrently(options.photos.size(), jobs, [&](std::size_t i) {
        emitRecord(matchedRecord(options, options.photos[i]));
    });
    return 0;
}
