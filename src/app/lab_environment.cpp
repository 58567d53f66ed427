#include "app/lab_environment.h"

#include <cstdlib>
#include <utility>

namespace tarvik {
namespace {

std::string Escaped(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

}  // namespace

std::string NetworkCardsExport(const std::vector<std::pair<std::string, std::string>>& cards)
{
    std::string text = "REGEDIT4\n\n";
    text += "[HKEY_LOCAL_MACHINE\\" + std::string(NT_NETWORK_CARDS_KEY) + "]\n\n";
    int index = 1;
    for (const auto& [serviceName, description] : cards) {
        text += "[HKEY_LOCAL_MACHINE\\" + std::string(NT_NETWORK_CARDS_KEY) + "\\" +
                std::to_string(index++) + "]\n";
        text += "\"ServiceName\"=\"" + Escaped(serviceName) + "\"\n";
        text += "\"Description\"=\"" + Escaped(description) + "\"\n\n";
    }
    return text;
}

std::unique_ptr<Registry> MakeLabRegistry()
{
    std::string error;
    // LAB_ADAPTER_NAME is "\Device\lab0"; the card's service name is what follows the prefix.
    std::unique_ptr<Registry> registry =
        FileRegistry::Parse(NetworkCardsExport({{"lab0", LAB_ADAPTER_DESCRIPTION}}), error);
    if (registry == nullptr) {
        // The export above is fixed text; failing to read it is a programming error.
        std::abort();
    }
    return registry;
}

}  // namespace tarvik
