#pragma once
// Who runs the program where: the defaults of a history record's station and operator.

#include <string>

namespace tarvik {

// The machine's name ("line3-pc"); empty when the system gives none.
std::string MachineName();
// The name of the user the program runs as ("alice"); empty when it has none.
std::string LoginName();

}  // namespace tarvik
