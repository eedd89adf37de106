// The two entry points: export into a folder, or replace a photo where it lies.
#include "Compressor.h"

#include <system_error>

#include "CodecError.h"
#include "Platform/Files.h"
#include "Publishing.h"
#include "Sentences.h"

namespace flenn::Compressor {

namespace {

bool occupied(const std::filesystem::path &destination) {
    std::error_code error; // a failing test counts as not reachable
    return std::filesystem::exists(std::filesystem::symlink_status(destination, error));
}

} // namespace

Result compress(const std::filesystem::path &source, const std::filesystem::path &destination,
                const Preset &preset) {
    if (occupied(destination))
        throw CodecError(std::string(Sentences::destinationExists));
    Bytes data = Files::readWholeFile(source);
    Plan planned = plan(data, preset);
    publish(planned.output.value_or(data), destination);
    return planned.result;
}

Result compressInPlace(const std::filesystem::path &photo, const Preset &preset) {
    Fingerprint before = fingerprint(photo);
    if (before.locked)
        throw CodecError(std::string(Sentences::photoLocked));
    Plan planned = plan(Files::readWholeFile(photo), preset);
    if (planned.output)
        replaceInPlace(*planned.output, photo, before);
    return planned.result;
}

} // namespace flenn::Compressor
