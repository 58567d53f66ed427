#include "platform/host/secret_input.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace tarvik {
namespace {

void WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

// The signals that would end the program while the echo is off. They are held back while the
// line is read and watched through a descriptor instead, so that the terminal is put back
// before one of them takes its course.
sigset_t EndingSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&signals, signal);
    }
    return signals;
}

// Reads the line from the terminal in canonical mode (the terminal edits it, and the descriptor
// turns readable once the line is whole); the signal that came instead, or 0.
int ReadLine(int tty, int signals, std::string& line, std::string& why)
{
    std::array<char, 256> buffer{};
    int caught = 0;
    while (why.empty() && caught == 0) {
        std::array<pollfd, 2> watched = {pollfd{tty, POLLIN, 0}, pollfd{signals, POLLIN, 0}};
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno != EINTR) {
                why = std::string("the terminal cannot be read: ") + std::strerror(errno);
            }
            continue;
        }
        if ((watched[1].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                caught = static_cast<int>(info.ssi_signo);
            }
            continue;
        }
        const ssize_t got = ::read(tty, buffer.data(), buffer.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            why = "the input ended before the line did";
            continue;
        }
        const std::string_view piece(buffer.data(), static_cast<std::size_t>(got));
        const std::size_t end = piece.find('\n');
        line.append(piece.substr(0, end));
        if (line.size() > HIDDEN_LINE_MAX_BYTES) {
            why = "the line is longer than " + std::to_string(HIDDEN_LINE_MAX_BYTES) + " bytes";
        } else if (end != std::string_view::npos) {
            break;
        }
    }
    ::explicit_bzero(buffer.data(), buffer.size());
    return caught;
}

}  // namespace

std::optional<std::string> ReadHiddenLine(std::string_view prompt, std::string& why)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        why = "the program has no terminal to read it from";
        return std::nullopt;
    }
    termios saved{};
    if (::tcgetattr(tty, &saved) != 0) {
        why = std::string("the terminal cannot be set: ") + std::strerror(errno);
        ::close(tty);
        return std::nullopt;
    }
    const sigset_t ending = EndingSignals();
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &ending, &before);
    const int signals = ::signalfd(-1, &ending, SFD_CLOEXEC);

    WriteAll(tty, prompt);
    termios hidden = saved;
    hidden.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
    hidden.c_lflag |= ICANON;
    ::tcsetattr(tty, TCSAFLUSH, &hidden);

    std::string line;
    // Room for the longest line and a piece past it: the text is never moved, so no copy of
    // it is left behind in freed memory.
    line.reserve(HIDDEN_LINE_MAX_BYTES + 256);
    const int caught = signals < 0 ? 0 : ReadLine(tty, signals, line, why);
    if (signals < 0) {
        why = std::string("the terminal cannot be watched: ") + std::strerror(errno);
    }

    ::tcsetattr(tty, TCSAFLUSH, &saved);
    WriteAll(tty, "\n");
    ::close(tty);
    if (signals >= 0) {
        ::close(signals);
    }
    if (caught != 0) {
        // Taken from the descriptor, so sent again to take its course once unblocked.
        ::kill(::getpid(), caught);
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (caught != 0 || !why.empty()) {
        if (why.empty()) {
            why = "interrupted";
        }
        ::explicit_bzero(line.data(), line.size());
        return std::nullopt;
    }
    return line;
}

std::optional<std::string> SecretFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace tarvik
