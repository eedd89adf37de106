#include "ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace flenn {

namespace {

[[noreturn]] void throwSystemError(int code, const char *operation) {
    throw std::system_error(code, std::system_category(), operation);
}

// A file descriptor closed by its owner.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Descriptor() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

// Moves a descriptor above 0, 1 and 2. A host started with a closed standard stream hands out
// those numbers, and the child's redirections onto 0, 1 and 2 would then overwrite each other.
Descriptor aboveStandardStreams(Descriptor fd) {
    if (fd.get() > STDERR_FILENO)
        return fd;
    int moved = fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0)
        throwSystemError(errno, "fcntl");
    return Descriptor(moved);
}

struct Pipe {
    Descriptor read, write;
};

// Both ends close on exec, so a child started by another thread never inherits them.
Pipe makePipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throwSystemError(errno, "pipe2");
    Descriptor read(fds[0]), write(fds[1]);
    return {aboveStandardStreams(std::move(read)), aboveStandardStreams(std::move(write))};
}

pid_t spawn(const std::filesystem::path &program, const std::vector<std::string> &arguments,
            int output, int error) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (int code = posix_spawn_file_actions_init(&actions))
        throwSystemError(code, "posix_spawn_file_actions_init");
    if (int code = posix_spawnattr_init(&attributes)) {
        posix_spawn_file_actions_destroy(&actions);
        throwSystemError(code, "posix_spawnattr_init");
    }
    // The child gets /dev/null, its two pipes and nothing else, whatever the host has open.
    int code = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!code)
        code = posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    if (!code)
        code = posix_spawn_file_actions_adddup2(&actions, error, STDERR_FILENO);
    if (!code)
        code = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // A host that blocks or ignores signals must not pass that on: terminate has to work.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    if (!code)
        code = posix_spawnattr_setsigmask(&attributes, &none);
    if (!code)
        code = posix_spawnattr_setsigdefault(&attributes, &all);
    if (!code)
        code =
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char *> argv;
    std::string name = program.string();
    argv.push_back(name.data());
    std::vector<std::string> copies = arguments;
    for (auto &argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    if (!code)
        code = posix_spawn(&pid, name.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (code)
        throwSystemError(code, "posix_spawn");
    return pid;
}

// Collects one stream on its own thread until the end of the stream, or until the stop
// descriptor becomes readable (its write end closed): a grandchild may hold a stream open
// long after the child ended, and the owner must be able to stop listening.
class Drain {
  public:
    explicit Drain(ChildProcess::Capture capture) : capture_(capture) {}
    ~Drain() { join(); }

    void start(Descriptor source, int stop) {
        source_ = std::move(source);
        thread_ = std::thread([this, stop] { collect(stop); });
    }
    void join() {
        if (thread_.joinable())
            thread_.join();
    }
    std::optional<std::string> collected(ChildProcess::Deadline deadline) {
        std::unique_lock lock(mutex_);
        if (!finished_.wait_until(lock, deadline, [this] { return ended_; }))
            return std::nullopt;
        return data_;
    }

  private:
    void collect(int stop) {
        char chunk[65536];
        for (;;) {
            pollfd watched[2] = {{source_.get(), POLLIN, 0}, {stop, POLLIN, 0}};
            if (poll(watched, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (watched[1].revents != 0)
                return; // stopped listening: the stream did not end
            ssize_t size = read(source_.get(), chunk, sizeof chunk);
            if (size < 0 && errno == EINTR)
                continue;
            if (size <= 0)
                break; // end of stream; a failing read ends it as well
            append(chunk, std::size_t(size));
        }
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        finished_.notify_all();
    }

    void append(const char *chunk, std::size_t size) {
        std::lock_guard lock(mutex_);
        if (capture_.keepingEnd) {
            data_.append(chunk, size);
            if (data_.size() > capture_.limit)
                data_.erase(0, data_.size() - capture_.limit);
        } else {
            data_.append(chunk, std::min(size, capture_.limit - data_.size()));
        }
    }

    ChildProcess::Capture capture_;
    Descriptor source_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool ended_ = false;
    std::string data_;
    std::thread thread_;
};

} // namespace

struct ChildProcess::State {
    State(Capture output, Capture error) : output(output), error(error) {}

    // Runs on the waiter thread. The child is left a zombie until it is reaped here under the
    // lock, so a signal sent under the lock never reaches a process that took over its pid.
    void awaitExit() {
        siginfo_t info{};
        while (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        std::lock_guard lock(mutex);
        reap();
        ended.notify_all();
    }

    // Call with the lock held. An unknown end (someone else reaped it) counts as abnormal.
    void reap() {
        int status = 0;
        pid_t reaped;
        while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        if (reaped == pid && WIFEXITED(status))
            exitStatus = WEXITSTATUS(status);
        exited = true;
    }

    void signal(int number) {
        std::lock_guard lock(mutex);
        if (pid > 0 && !exited)
            ::kill(pid, number);
    }

    ~State() {
        if (pid > 0) {
            signal(SIGKILL);
            if (waiter.joinable()) {
                waiter.join();
            } else {
                std::lock_guard lock(mutex);
                if (!exited)
                    reap();
            }
        }
        stop.write.reset(); // wakes drains still waiting on a stream that a grandchild holds open
        output.join();
        error.join();
    }

    pid_t pid = -1;
    std::mutex mutex;
    std::condition_variable ended;
    bool exited = false;
    std::optional<int> exitStatus;
    std::thread waiter;
    Pipe stop; // closing its write end tells the drains to stop listening
    Drain output, error;
};

ChildProcess::ChildProcess(const std::filesystem::path &program,
                           const std::vector<std::string> &arguments, Capture output, Capture error)
    : state_(std::make_unique<State>(output, error)) {
    Pipe outputPipe = makePipe(), errorPipe = makePipe();
    State &state = *state_;
    state.stop = makePipe();
    state.pid = spawn(program, arguments, outputPipe.write.get(), errorPipe.write.get());
    // From here on the state's destructor kills and reaps the child if anything below throws.
    outputPipe.write.reset();
    errorPipe.write.reset();
    state.output.start(std::move(outputPipe.read), state.stop.read.get());
    state.error.start(std::move(errorPipe.read), state.stop.read.get());
    state.waiter = std::thread([&state] { state.awaitExit(); });
}

ChildProcess::ChildProcess(ChildProcess &&) noexcept = default;
ChildProcess &ChildProcess::operator=(ChildProcess &&) noexcept = default;
ChildProcess::~ChildProcess() = default;

bool ChildProcess::waitUntil(Deadline deadline) {
    std::unique_lock lock(state_->mutex);
    return state_->ended.wait_until(lock, deadline, [this] { return state_->exited; });
}

void ChildProcess::terminate() {
    state_->signal(SIGTERM);
}

void ChildProcess::kill() {
    state_->signal(SIGKILL);
}

std::optional<int> ChildProcess::exitStatus() const {
    std::lock_guard lock(state_->mutex);
    return state_->exitStatus;
}

std::optional<std::string> ChildProcess::output(Deadline deadline) {
    return state_->output.collected(deadline);
}

std::optional<std::string> ChildProcess::error(Deadline deadline) {
    return state_->error.collected(deadline);
}

} // namespace flenn
