#include "platform/host/tool_output.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/kernel/kernel.h"

extern char** environ;

namespace tarvik {
namespace {

// Closes a descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1)
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

// The tools' words for states are read, so they must not come translated.
std::vector<std::string> UntranslatedEnvironment()
{
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "LC_ALL=", 7) != 0) {
            entries.emplace_back(*entry);
        }
    }
    entries.emplace_back("LC_ALL=C");
    return entries;
}

}  // namespace

std::optional<ToolOutput> RunToolForOutput(Kernel& clock, const std::vector<std::string>& arguments,
                                           std::uint32_t timeoutMs)
{
    if (arguments.empty()) {
        return std::nullopt;
    }
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    Descriptor reading(ends[0]);
    Descriptor writing(ends[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writing.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = UntranslatedEnvironment();
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_t child = 0;
    const int spawned =
        ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    writing.Reset();
    if (spawned != 0) {
        return std::nullopt;
    }

    ToolOutput output;
    const std::uint32_t start = clock.GetTickCount();
    bool ended = false;
    for (;;) {
        const std::uint32_t elapsed = clock.GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            break;
        }
        pollfd ready{reading.Get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(timeoutMs - elapsed));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            break;
        }
        std::array<char, 4096> chunk{};
        const ssize_t count = ::read(reading.Get(), chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            ended = true;
            break;
        }
        output.Out.append(chunk.data(), static_cast<std::size_t>(count));
    }
    if (!ended) {
        // A tool that hangs (a service that does not answer its bus) is not waited for.
        ::kill(child, SIGKILL);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (ended && WIFEXITED(status)) {
        output.ExitStatus = WEXITSTATUS(status);
    }
    return output;
}

}  // namespace tarvik
