#pragma once
// A command port for tests of the flows: keeps every message shown, in order, and has no
// wait cursor to show.

#include <string>
#include <string_view>
#include <vector>

#include "commands/command_port.h"

namespace tarvik {

class MessagePort final : public CommandPort {
public:
    void ShowMessage(std::string_view text) override { Messages.emplace_back(text); }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    std::vector<std::string> Messages;
};

}  // namespace tarvik
