#pragma once
// The panel's page as the build embedded it (src/panel/page), and its text tables: one JSON
// object per language (texts/<code>.json), every key in every table, so that a translation is
// one file added to the page's list in CMakeLists.txt.

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvik::panel {

struct Asset {
    std::string_view Path;  // "/index.html", "/texts/de.json"
    std::string_view Body;
};

std::span<const Asset> PageAssets();

// The file served at path, or null.
const Asset* FindAsset(std::string_view path);
// The Content-Type for a path, by its extension.
std::string_view ContentType(std::string_view path);

// The languages the page has: code -> its own name for itself.
std::map<std::string, std::string> PanelLanguages();
// The language to show: the first of the wanted codes ("de", "de-AT,de;q=0.9,en") that the
// page has, else English.
std::string ChooseLanguage(std::string_view wanted);
// The text of a key in a language (English where the language lacks it, the key itself where
// both do).
std::string PanelText(std::string_view language, std::string_view key);

}  // namespace tarvik::panel
