#pragma once
// The stop request of a terminal program: SIGINT and SIGTERM set a flag that its loops read
// between steps, so a run ends at a point where it can still clean up.

namespace tarvik {

// What a second SIGINT or SIGTERM does after the first has set the flag.
enum class SecondStopSignal {
    SetsFlag,     // nothing more: the program is known to look at the flag often
    EndsProgram,  // the default action, should the program be stuck before it looks
};

// Installs the handler for SIGINT and SIGTERM; called once, early in main.
void InstallStopSignalHandler(SecondStopSignal second);
// Whether SIGINT or SIGTERM came since the handler was installed.
bool StopSignalled();

}  // namespace tarvik
