#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Preset.h"

// What the command line asked for, once every option has been read.
struct Request {
    flenn::Preset preset = flenn::Preset::compact();
    std::optional<std::filesystem::path> output;
    bool inPlace = false;
    std::vector<std::filesystem::path> inputs;
    int jobs = 2;
};

// Reads the arguments (without the program name). Usage errors end the process with status 2;
// the developer modes take over the process and never return here.
Request readCommandLine(std::vector<std::string> args);

// "~" or "~user" at the start replaced by that home folder, then made absolute.
std::filesystem::path fileURL(const std::string &path);
