#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>

namespace flenn {

// One photo to compress: the file to read and where the result goes. In place, both are the same.
struct Job {
    std::filesystem::path source;
    std::filesystem::path destination;

    friend bool operator==(const Job &, const Job &) = default;
};

} // namespace flenn

template <> struct std::hash<flenn::Job> {
    std::size_t operator()(const flenn::Job &job) const noexcept;
};
