#include "Publishing.h"

#include <cerrno>

#include "CodecError.h"
#include "Platform/Files.h"
#include "Platform/System.h"
#include "Sentences.h"

namespace flenn::Compressor {

namespace {

// A temporary file that is removed when the call that wrote it ends, however it ends; after
// a successful rename there is nothing left to remove.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        std::error_code ignored; // nothing to do when it is already gone
        std::filesystem::remove(path_, ignored);
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    const std::filesystem::path &path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Writes `data` under a fresh hidden name in `folder`, so the final rename never crosses volumes.
// A failure throws the plain sentence for it and leaves no file behind.
TemporaryFile writeTemporary(const Bytes &data, const std::filesystem::path &folder,
                             std::string_view fallback, bool inPlace) {
    auto path = folder / (".flenned-" + System::newUUID() + ".tmp");
    // Beside a photo the file stays private until the photo's own permissions are copied over:
    // the photo may be readable by its owner alone.
    try {
        Files::writeNewFile(path, data, inPlace ? 0600 : 0666);
    } catch (const std::exception &error) {
        throw CodecError(plainMessage(error, fallback, inPlace));
    }
    return TemporaryFile(std::move(path));
}

} // namespace

Fingerprint fingerprint(const std::filesystem::path &file) {
    try {
        auto status = Files::status(file);
        return {.size = status.size,
                .inode = status.inode,
                .modificationSeconds = status.modificationSeconds,
                .modificationNanoseconds = status.modificationNanoseconds,
                .locked = status.immutable};
    } catch (const std::system_error &error) {
        throw CodecError(error.code().message());
    }
}

std::string plainMessage(std::error_code error, std::string_view fallback, bool inPlace) {
    if (error.category() != std::generic_category() && error.category() != std::system_category())
        return std::string(fallback);
    switch (error.value()) {
    case EACCES:
    case EPERM:
        return std::string(inPlace ? Sentences::inPlaceNoPermission
                                   : Sentences::exportNoPermission);
    case EROFS:
        return std::string(inPlace ? Sentences::inPlaceReadOnly : Sentences::exportReadOnly);
    case ENOSPC:
    case EDQUOT:
        return std::string(inPlace ? Sentences::inPlaceDiskFull : Sentences::exportDiskFull);
    default:
        return std::string(fallback);
    }
}

std::string plainMessage(const std::exception &error, std::string_view fallback, bool inPlace) {
    if (const auto *systemError = dynamic_cast<const std::system_error *>(&error))
        return plainMessage(systemError->code(), fallback, inPlace);
    return std::string(fallback);
}

void publish(const Bytes &data, const std::filesystem::path &destination) {
    auto folder = destination.parent_path();
    std::error_code created;
    std::filesystem::create_directories(folder, created);
    if (created)
        throw CodecError(plainMessage(created, Sentences::cannotCreateExportFolder, false));
    auto temporary = writeTemporary(data, folder, Sentences::cannotWriteExportFolder, false);
    if (auto error = Files::renameWithoutReplacing(temporary.path(), destination)) {
        if (error == std::errc::file_exists)
            throw CodecError(std::string(Sentences::destinationExists));
        throw CodecError(error.message());
    }
}

void replaceInPlace(const Bytes &data, const std::filesystem::path &photo,
                    const Fingerprint &before) {
    auto temporary =
        writeTemporary(data, photo.parent_path(), Sentences::cannotWriteNextToPhoto, true);
    Files::copyMetadata(photo, temporary.path());
    auto now = fingerprint(photo);
    if (!now.matches(before) || now.locked)
        throw CodecError(std::string(Sentences::photoChanged));
    std::error_code renamed;
    std::filesystem::rename(temporary.path(), photo, renamed);
    if (renamed)
        throw CodecError(renamed.message());
}

} // namespace flenn::Compressor
