#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// What the running process can learn about itself and the machine.
namespace flenn::System {

// A new random UUID, uppercase hexadecimal with hyphens.
std::string newUUID();

// The running program's own executable, when the system tells it.
std::optional<std::filesystem::path> runningExecutable();

// Processors available to this process (at least 1).
int activeProcessorCount();

// Physical memory in bytes (0 when unknown).
std::uint64_t physicalMemory();

} // namespace flenn::System
