#pragma once
// Where a secret the user gives a program comes from (a signing key's password): typed on the
// terminal, unseen, or set in the environment by a script that has no terminal to type on.
// Neither keeps a copy of what it returns; the caller wipes the text when done with it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

// The longest line ReadHiddenLine takes.
inline constexpr std::size_t HIDDEN_LINE_MAX_BYTES = 1024;

// Writes the prompt to the terminal (not to standard output, which may be a file) and reads
// one line typed there without echo, as UTF-8 and without its line end; the terminal is left
// as it was. Nothing, with why, when the program has no terminal, the input ends before a line
// does, or the line is longer than HIDDEN_LINE_MAX_BYTES. Ctrl-C ends the program as it would
// have, after the echo is back.
std::optional<std::string> ReadHiddenLine(std::string_view prompt, std::string& why);

// The value of an environment variable as UTF-8 (an empty one included); nothing when it is
// not set.
std::optional<std::string> SecretFromEnvironment(const char* name);

}  // namespace tarvik
