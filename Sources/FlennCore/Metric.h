#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Bytes.h"

// The quality guard: finds the outside checker "ssimulacra2", runs it as a child process in a
// private scratch folder with a time-out, and turns every failure into one sentence.
namespace flenn::Metric {

// The checker ran and exited with a non-zero status. Raised by `run`; `score` turns it into a
// CodecError.
struct Rejection : std::exception {
    explicit Rejection(std::string complaint) : complaint(std::move(complaint)) {}
    const char *what() const noexcept override { return complaint.c_str(); }
    std::string complaint; // the checker's standard error, trimmed
};

// The checker program called `name`, looked for beside the running program first. Throws
// CodecError when there is no executable file of that name in any of the known places.
std::filesystem::path helperURL(std::string_view name);
std::filesystem::path helperURL(std::string_view name,
                                const std::optional<std::filesystem::path> &executable);

// The score of "ssimulacra2" for two JPEG buffers (100: identical; at most 100). Throws
// CodecError, or std::system_error when the scratch files cannot be written.
double score(const Bytes &reference, const Bytes &candidate);

// The same with a given checker and time-out in seconds; the form above uses the installed
// checker and 120 seconds.
double score(const Bytes &reference, const Bytes &candidate, const std::filesystem::path &checker,
             double timeout);

// Runs `body` in a new folder parent/"flenned-metric-<UUID>" (mode 0700) and removes the folder
// with everything in it afterwards, also when the body throws. Throws std::system_error when the
// folder cannot be created.
double withScratchFolder(const std::filesystem::path &parent,
                         const std::function<double(const std::filesystem::path &)> &body);

// Runs the checker on two image files and reads its score. Throws Rejection when it exits with a
// non-zero status, CodecError for every other failure.
double run(const std::filesystem::path &checker, const std::filesystem::path &reference,
           const std::filesystem::path &candidate, double timeout);

} // namespace flenn::Metric
