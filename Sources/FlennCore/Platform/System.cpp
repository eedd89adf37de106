#include "System.h"

#include <thread>

#include <unistd.h>
#include <uuid/uuid.h>

namespace flenn::System {

std::string newUUID() {
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_upper(uuid, text);
    return text;
}

std::optional<std::filesystem::path> runningExecutable() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::nullopt;
    return path;
}

int activeProcessorCount() {
    unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? int(count) : 1;
}

std::uint64_t physicalMemory() {
    long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && size > 0 ? std::uint64_t(pages) * std::uint64_t(size) : 0;
}

} // namespace flenn::System
