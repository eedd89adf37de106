#pragma once

// What the developer modes share with the option loop of main.cpp.

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// Writes the usage text on standard error and ends the process with status 2.
[[noreturn]] void printUsageAndExit();

// Writes one line (a line feed is added) under the program's one output lock, in one write.
void emit(std::string_view line, std::FILE *stream);

// Runs body(i) for every i below count on at most `workers` threads at once. The workers share
// one counter, so jobs start in order and finish in any order.
void forEachConcurrently(std::size_t count, int workers,
                         const std::function<void(std::size_t)> &body);

// "~" or "~user" at the start replaced by that home folder, then made absolute.
std::filesystem::path fileURL(const std::string &path);
