#include "panel/panel_assets.h"

#include <nlohmann/json.hpp>

namespace tarvik::panel {
namespace {

constexpr std::string_view TEXTS_PREFIX = "/texts/";
constexpr std::string_view TEXTS_SUFFIX = ".json";

// Every language's table, read once: the page's texts never change while the program runs.
const std::map<std::string, nlohmann::json, std::less<>>& Tables()
{
    static const std::map<std::string, nlohmann::json, std::less<>> tables = [] {
        std::map<std::string, nlohmann::json, std::less<>> read;
        for (const Asset& asset : PageAssets()) {
            if (asset.Path.starts_with(TEXTS_PREFIX) && asset.Path.ends_with(TEXTS_SUFFIX)) {
                const std::string code(asset.Path.substr(
                    TEXTS_PREFIX.size(),
                    asset.Path.size() - TEXTS_PREFIX.size() - TEXTS_SUFFIX.size()));
                read[code] = nlohmann::json::parse(asset.Body, nullptr, false);
            }
        }
        return read;
    }();
    return tables;
}

}  // namespace

const Asset* FindAsset(std::string_view path)
{
    for (const Asset& asset : PageAssets()) {
        if (asset.Path == path) {
            return &asset;
        }
    }
    return nullptr;
}

std::string_view ContentType(std::string_view path)
{
    const auto ends = [path](std::string_view suffix) { return path.ends_with(suffix); };
    if (ends(".html")) {
        return "text/html; charset=utf-8";
    }
    if (ends(".css")) {
        return "text/css; charset=utf-8";
    }
    if (ends(".js")) {
        return "text/javascript; charset=utf-8";
    }
    if (ends(".json")) {
        return "application/json; charset=utf-8";
    }
    if (ends(".svg")) {
        return "image/svg+xml";
    }
    return "application/octet-stream";
}

std::map<std::string, std::string> PanelLanguages()
{
    std::map<std::string, std::string> languages;
    for (const auto& [code, table] : Tables()) {
        languages[code] = PanelText(code, "language_name");
    }
    return languages;
}

std::string ChooseLanguage(std::string_view wanted)
{
    std::size_t at = 0;
    while (at < wanted.size()) {
        std::size_t end = wanted.find(',', at);
        if (end == std::string_view::npos) {
            end = wanted.size();
        }
        std::string_view item = wanted.substr(at, end - at);
        item = item.substr(0, item.find(';'));
        while (!item.empty() && item.front() == ' ') {
            item.remove_prefix(1);
        }
        std::string code(item.substr(0, item.find('-')));
        for (char& c : code) {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        if (Tables().count(code) != 0) {
            return code;
        }
        at = end + 1;
    }
    return "en";
}

std::string PanelText(std::string_view language, std::string_view key)
{
    for (const std::string_view name : {language, std::string_view("en")}) {
        const auto table = Tables().find(name);
        if (table == Tables().end() || !table->second.is_object()) {
            continue;
        }
        const auto found = table->second.find(key);
        if (found != table->second.end() && found->is_string()) {
            return found->get<std::string>();
        }
    }
    return std::string(key);
}

}  // namespace tarvik::panel
