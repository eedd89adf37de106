#include "Checker.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Fixtures.h"

extern char **environ;

namespace flenn::checker {

namespace {

std::filesystem::path program() {
    const char *folder = std::getenv("FLENN_BIN");
    if (!folder)
        throw std::runtime_error("FLENN_BIN is not set");
    return std::filesystem::path(folder) / "ssimulacra2";
}

std::string contents(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

std::optional<double> Outcome::score() const {
    std::string line = out.substr(0, out.find('\n'));
    char *end = nullptr;
    double value = std::strtod(line.c_str(), &end);
    if (line.empty() || *end != '\0')
        return std::nullopt;
    return value;
}

Outcome run(const std::vector<std::string> &arguments) {
    fixtures::TemporaryFolder folder;
    std::string path = program().string();
    std::vector<char *> argv{path.data()};
    std::vector<std::string> copies = arguments;
    for (std::string &argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // Files rather than pipes: nothing to drain, no deadlock whatever the program prints.
    std::string out = (folder / "out").string(), err = (folder / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t child = 0;
    int started = posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        throw std::runtime_error("cannot start " + path);
    int status = 0;
    waitpid(child, &status, 0);

    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = contents(out);
    outcome.err = contents(err);
    return outcome;
}

Outcome run(const std::filesystem::path &original, const std::filesystem::path &distorted) {
    return run({original.string(), distorted.string()});
}

std::filesystem::path casesFolder() {
    return FLENN_SSIMULACRA2_CASES;
}

} // namespace flenn::checker
