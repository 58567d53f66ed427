#include "platform/host/program_start.h"

#include <unistd.h>

namespace tarvik {

ProgramStart::ProgramStart(int argc, char** argv) : arguments_(argv, argv + argc)
{
    for (std::string& argument : arguments_) {
        pointers_.push_back(argument.data());
    }
    pointers_.push_back(nullptr);
    errorIsTerminal_ = ::isatty(STDERR_FILENO) == 1;
}

}  // namespace tarvik
