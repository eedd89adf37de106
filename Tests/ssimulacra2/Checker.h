#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Runs the built ssimulacra2 program, the way the quality guard does.
namespace flenn::checker {

struct Outcome {
    int status = -1; // exit status, -1 when the program did not exit normally
    std::string out, err;
    std::optional<double> score() const; // the first line of standard output as a number
};

Outcome run(const std::vector<std::string> &arguments);
Outcome run(const std::filesystem::path &original, const std::filesystem::path &distorted);

// The folder of the metric's test cases, copied into the repository.
std::filesystem::path casesFolder();

} // namespace flenn::checker
