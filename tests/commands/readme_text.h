#pragma once
// The README as the tests that hold it to the code tables read it.

#include <fstream>
#include <sstream>
#include <string>

namespace tarvik {

// The whole README; empty when it cannot be read (the tests then fail on what they look for).
inline std::string ReadmeText()
{
    std::ifstream file(TARVIK_README);
    std::stringstream read;
    read << file.rdbuf();
    return read.str();
}

}  // namespace tarvik
