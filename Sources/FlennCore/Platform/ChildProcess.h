#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace flenn {

// A program run as a child process without a shell: standard input from /dev/null, standard
// output and standard error each collected by its own reader thread into a bounded buffer.
// The child inherits no other descriptor, so concurrent runs never hold each other's pipes open.
class ChildProcess {
  public:
    using Deadline = std::chrono::steady_clock::time_point;

    // How much of one output stream to keep: the first or the last `limit` bytes. The stream is
    // read to its end either way, so a talkative child never blocks on a full pipe.
    struct Capture {
        std::size_t limit;
        bool keepingEnd;
    };

    // Starts the program. Throws std::system_error when it cannot be started.
    ChildProcess(const std::filesystem::path &program, const std::vector<std::string> &arguments,
                 Capture output, Capture error);
    // Kills a child that is still running, waits for it and stops collecting its streams.
    ~ChildProcess();
    ChildProcess(ChildProcess &&) noexcept;
    ChildProcess &operator=(ChildProcess &&) noexcept;

    // True once the child has ended, waiting for that at most until the deadline.
    bool waitUntil(Deadline deadline);
    // Ask it to stop (SIGTERM), or stop it (SIGKILL); nothing once it has ended.
    void terminate();
    void kill();
    // The status of a normal exit; nothing while it runs or when a signal ended it.
    std::optional<int> exitStatus() const;

    // The bytes kept from a stream, once the stream has reached its end by the deadline.
    std::optional<std::string> output(Deadline deadline);
    std::optional<std::string> error(Deadline deadline);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace flenn
