#pragma once
// What a program does first on its system: takes its arguments as UTF-8 (Windows hands main
// them in the ANSI code page, which cannot spell every file name) and readies its terminal for
// UTF-8 text and the escape sequences the progress bar is drawn with.

#include <string>
#include <vector>

namespace tarvik {

class ProgramStart {
public:
    ProgramStart(int argc, char** argv);
    ProgramStart(const ProgramStart&) = delete;
    ProgramStart& operator=(const ProgramStart&) = delete;

    int Argc() const { return static_cast<int>(pointers_.size()) - 1; }
    char** Argv() { return pointers_.data(); }
    // Whether standard error is a terminal that draws a bar redrawn in place.
    bool ErrorIsTerminal() const { return errorIsTerminal_; }

private:
    std::vector<std::string> arguments_;
    std::vector<char*> pointers_;  // into arguments_, ending in a null pointer, as argv does
    bool errorIsTerminal_ = false;
};

}  // namespace tarvik
