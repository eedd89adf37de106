#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/ChildProcess.h"

namespace flenn::cli {

struct Run {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built flenn program with the given arguments and collects what it printed.
inline Run runFlenn(const std::vector<std::string> &arguments) {
    const char *bin = std::getenv("FLENN_BIN");
    std::filesystem::path program = std::filesystem::path(bin ? bin : "build/bin") / "flenn";
    ChildProcess child(program, arguments, {1 << 24, false}, {1 << 24, false});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    child.waitUntil(deadline);
    Run run;
    run.status = child.exitStatus().value_or(-1);
    run.out = child.output(deadline).value_or("");
    run.err = child.error(deadline).value_or("");
    return run;
}

} // namespace flenn::cli
