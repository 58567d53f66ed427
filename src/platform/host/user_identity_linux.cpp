#include "platform/host/user_identity.h"

#include <array>
#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace tarvik {

std::string MachineName()
{
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) {
        return {};
    }
    return name.data();
}

std::string LoginName()
{
    // The account the program runs as, not the terminal's: under sudo that is root, which is
    // what made the attempt; SUDO_USER says who asked for it.
    if (const char* asked = std::getenv("SUDO_USER"); asked != nullptr && *asked != '\0') {
        return asked;
    }
    if (const passwd* account = ::getpwuid(::geteuid()); account != nullptr) {
        return account->pw_name;
    }
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}

std::string UserStateFolder()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        return std::string(state) + "/tarvik";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.local/state/tarvik";
    }
    return {};
}

std::string_view UserStateFolderHelp()
{
    return "$XDG_STATE_HOME/tarvik, else ~/.local/state/tarvik";
}

std::string SystemSettingsFolder()
{
    return "/etc/tarvik";
}

std::string UserSettingsFolder()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return std::string(config) + "/tarvik";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.config/tarvik";
    }
    return {};
}

}  // namespace tarvik
