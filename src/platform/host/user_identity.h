#pragma once
// Who runs the program where: the defaults of a history record's station and operator, and
// the folder where the program keeps what it gathers for that user (the history).

#include <string>
#include <string_view>

namespace tarvik {

// The machine's name ("line3-pc"); empty when the system gives none.
std::string MachineName();
// The name of the user the program runs as ("alice"); empty when it has none.
std::string LoginName();
// The user's folder for the program's state: $XDG_STATE_HOME/tarvik or ~/.local/state/tarvik
// on Linux, %LOCALAPPDATA%\Tarvik on Windows; empty when the environment names no home.
std::string UserStateFolder();
// How the help names that folder.
std::string_view UserStateFolderHelp();
// The machine's folder for the program's settings (/etc/tarvik; %PROGRAMDATA%\Tarvik on
// Windows) and the user's ($XDG_CONFIG_HOME/tarvik or ~/.config/tarvik; %APPDATA%\Tarvik);
// the user's is empty when the environment names no home.
std::string SystemSettingsFolder();
std::string UserSettingsFolder();

}  // namespace tarvik
