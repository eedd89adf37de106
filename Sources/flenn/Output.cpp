#include "Output.h"

#include <mutex>
#include <string>

namespace {

std::mutex printLock;
bool failed = false; // written only under printLock

} // namespace

void emit(std::string_view line, std::FILE *stream) {
    std::string whole(line);
    whole += '\n';
    std::lock_guard<std::mutex> lock(printLock);
    std::fwrite(whole.data(), 1, whole.size(), stream);
    std::fflush(stream);
}

void markFailed() {
    std::lock_guard<std::mutex> lock(printLock);
    failed = true;
}

bool anyFailed() {
    std::lock_guard<std::mutex> lock(printLock);
    return failed;
}
