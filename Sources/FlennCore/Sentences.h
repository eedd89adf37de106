#pragma once

#include <string>
#include <string_view>

// Every sentence the core shows a user, in one place so the wording can be reviewed in one read.
namespace flenn::Sentences {

// Opening and writing a photo.
inline constexpr std::string_view unreadableJPEG =
    "This file is not a readable JPEG. Export it again from your editor or camera.";
inline constexpr std::string_view notRecompressed =
    "This photo could not be recompressed, so it was left as it was.";
inline constexpr std::string_view notMeasured =
    "Flenned could not read this photo, so it was left as it was.";

// Notes of copied or rewritten photos.
inline constexpr std::string_view otherColorFormat =
    "Left unchanged. This JPEG uses CMYK or another color format Flenned does not rewrite.";
inline constexpr std::string_view unreadableMultiPictureIndex =
    "Left unchanged. Flenned could not read this file's multi-picture index.";
inline constexpr std::string_view extraDataAfterPicture =
    "Left unchanged. This file carries extra data after the picture.";
inline constexpr std::string_view alreadyOptimized =
    "Already optimized, so its pixels were left alone.";
inline constexpr std::string_view credentialRelabelled =
    "Replaced its content credential with an AI-edited label.";
inline constexpr std::string_view credentialRemoved =
    "Removed its content credential, which no longer matched.";

// Rebuilding a multi-picture file around its rewritten primary picture.
inline constexpr std::string_view multiPictureIndexNotUpdated =
    "The multi-picture index could not be updated";
inline constexpr std::string_view multiPictureIndexInconsistent =
    "The multi-picture index is inconsistent";

// Publishing and in-place safety.
inline constexpr std::string_view destinationExists =
    "A file with this name is already in the export folder, so nothing was replaced.";
inline constexpr std::string_view photoLocked = "This photo is locked in Finder, so it was left as it was.";
inline constexpr std::string_view photoChanged =
    "The photo changed while Flenned was working, so it was left as it was.";
inline constexpr std::string_view cannotCreateExportFolder =
    "Flenned could not create the export folder. Choose another one.";
inline constexpr std::string_view cannotWriteExportFolder =
    "Flenned could not write to the export folder. Choose another one.";
inline constexpr std::string_view cannotWriteNextToPhoto =
    "Flenned could not write next to the photo, so it was left as it was.";
inline constexpr std::string_view exportNoPermission =
    "Flenned can\u2019t write to that folder. Choose another export folder.";
inline constexpr std::string_view inPlaceNoPermission =
    "Flenned can\u2019t write to this photo\u2019s folder, so it was left as it was.";
inline constexpr std::string_view exportReadOnly =
    "That disk is read-only. Choose an export folder on another disk.";
inline constexpr std::string_view inPlaceReadOnly = "That disk is read-only, so this photo was left as it was.";
inline constexpr std::string_view exportDiskFull =
    "The disk is full. Free some space, then start a new batch for the rest.";
inline constexpr std::string_view inPlaceDiskFull = "The disk is full, so this photo was left as it was.";

// The quality checker.
inline constexpr std::string_view checkerMissing =
    "The quality checker is missing from Flenned. Reinstall the app.";
inline constexpr std::string_view checkerCouldNotStart = "The quality check could not start.";
inline constexpr std::string_view checkerStoppedUnexpectedly = "The quality check stopped unexpectedly.";
inline constexpr std::string_view checkerFailed = "The quality check failed.";
inline constexpr std::string_view checkerFailedPrefix = "The quality check failed: ";
inline constexpr std::string_view checkerUnreadableScore = "The quality check returned an unreadable score.";
inline constexpr std::string_view checkerCannotDecode = "Could not decode the image for a quality check";
std::string checkerTimedOut(std::string_view seconds);

// Planning a batch.
std::string noLongerAvailable(std::string_view name);
std::string insidePackage(std::string_view name, std::string_view package);
std::string libraryOrApp(std::string_view name);
std::string exportFolderInside(std::string_view name);
std::string refusalSummary(std::string_view first, std::size_t count);

} // namespace flenn::Sentences
