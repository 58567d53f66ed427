#include "platform/kernel/stop_signal.h"

#include <csignal>

namespace tarvik {
namespace {

// The process's one mutable global: a signal handler can reach nothing else. Only the
// handler writes it and only StopSignalled reads it.
volatile std::sig_atomic_t stopSignalled = 0;

extern "C" void OnStopSignal(int)
{
    stopSignalled = 1;
}

}  // namespace

void InstallStopSignalHandler(SecondStopSignal second)
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = second == SecondStopSignal::EndsProgram ? SA_RESETHAND : 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalled()
{
    return stopSignalled != 0;
}

}  // namespace tarvik
