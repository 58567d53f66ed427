#include "platform/windows_api.h"

#include "platform/kernel/stop_signal.h"

#include <atomic>

namespace tarvik {
namespace {

// The process's one mutable global: the console's control handler can reach nothing else.
// Only the handler writes them and only StopSignalled reads the flag.
std::atomic<bool> stopSignalled{false};
std::atomic<bool> secondEndsProgram{false};

BOOL WINAPI OnConsoleControl(DWORD kind)
{
    switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (stopSignalled.exchange(true) && secondEndsProgram) {
            return FALSE;  // the default action: the program ends
        }
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The console is going away: the run stops at its next step, and the system ends the
        // process when this handler returns, so it waits a moment for that step.
        stopSignalled = true;
        ::Sleep(2000);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void InstallStopSignalHandler(SecondStopSignal second)
{
    secondEndsProgram = second == SecondStopSignal::EndsProgram;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StopSignalled()
{
    return stopSignalled;
}

}  // namespace tarvik
