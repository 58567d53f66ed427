// The REGEDIT4 export source of the registry view.

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include "platform/formats/byte_order.h"
#include "platform/formats/hex_text.h"
#include "platform/registry/registry.h"

namespace tarvik {

namespace {

// Orders names the way the registry compares them: case ignored.
struct NameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return RegistryNameLess(a, b); }
};

}  // namespace

struct FileRegistry::Tree {
    struct Key {
        std::string Name;
        // In name order once the export has been read; Index finds a subkey by name meanwhile
        // and after, so that an export with many sibling keys loads in linear-logarithmic time.
        std::vector<std::unique_ptr<Key>> Subkeys;
        std::map<std::string_view, Key*, NameLess> Index;  // views of the subkeys' own names
        std::map<std::string, RegistryValue, NameLess> Values;

        Key* Find(std::string_view name) const
        {
            const auto found = Index.find(name);
            return found == Index.end() ? nullptr : found->second;
        }

        Key* FindOrAdd(std::string_view name)
        {
            if (Key* found = Find(name)) {
                return found;
            }
            auto added = std::make_unique<Key>();
            added->Name = std::string(name);
            Key* key = Subkeys.emplace_back(std::move(added)).get();
            Index.emplace(key->Name, key);
            return key;
        }

        void SetValue(std::string name, RegistryValue value)
        {
            Values.insert_or_assign(std::move(name), std::move(value));
        }
    };

    Tree() = default;
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    // Takes the keys down one at a time: a deep export must not take one stack frame per level.
    ~Tree()
    {
        std::vector<std::unique_ptr<Key>> pending = std::move(LocalMachine.Subkeys);
        while (!pending.empty()) {
            std::unique_ptr<Key> key = std::move(pending.back());
            pending.pop_back();
            for (auto& subkey : key->Subkeys) {
                pending.push_back(std::move(subkey));
            }
        }
    }

    // Puts every key's subkeys in name order, for enumeration, without recursion.
    void SortSubkeys()
    {
        std::vector<Key*> pending{&LocalMachine};
        while (!pending.empty()) {
            Key* key = pending.back();
            pending.pop_back();
            std::sort(key->Subkeys.begin(), key->Subkeys.end(), [](const auto& a, const auto& b) {
                return RegistryNameLess(a->Name, b->Name);
            });
            for (const auto& subkey : key->Subkeys) {
                pending.push_back(subkey.get());
            }
        }
    }

    Key LocalMachine;
};

namespace {

using Tree = FileRegistry::Tree;

class FileNode final : public RegistryNode {
public:
    FileNode(std::shared_ptr<const Tree> tree, const Tree::Key* key)
        : tree_(std::move(tree)), key_(key)
    {
    }

    std::unique_ptr<RegistryNode> Clone() const override
    {
        return std::make_unique<FileNode>(tree_, key_);
    }

    std::optional<std::string> SubkeyName(std::uint32_t index) const override
    {
        if (index >= key_->Subkeys.size()) {
            return std::nullopt;
        }
        return key_->Subkeys[index]->Name;
    }

    std::unique_ptr<RegistryNode> Subkey(std::string_view name) const override
    {
        const Tree::Key* found = key_->Find(name);
        return found ? std::make_unique<FileNode>(tree_, found) : nullptr;
    }

    std::optional<RegistryValue> Value(std::string_view name) const override
    {
        const auto found = key_->Values.find(name);
        if (found == key_->Values.end()) {
            return std::nullopt;
        }
        return found->second;
    }

private:
    std::shared_ptr<const Tree> tree_;  // keeps the key alive while a handle is open
    const Tree::Key* key_;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// Reads a quoted text at the start of rest (the opening quote included) and moves rest past
// the closing quote. Only \\ and \" are escapes, as the export writes them.
bool ReadQuoted(std::string_view& rest, std::string& text)
{
    if (rest.empty() || rest.front() != '"') {
        return false;
    }
    text.clear();
    for (std::size_t i = 1; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '"') {
            rest.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < rest.size() && (rest[i + 1] == '\\' || rest[i + 1] == '"')) {
            text.push_back(rest[++i]);
        } else {
            text.push_back(c);
        }
    }
    return false;
}

bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    text = Trim(text);
    if (text.empty()) {
        return true;
    }
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view item = Trim(text.substr(0, comma));
        const auto byte = ParseHexDigits(item);
        if (item.size() != 2 || !byte) {
            return false;
        }
        bytes.push_back(byte->front());
        if (comma == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(comma + 1);
    }
}

// The data after '=': a quoted text, dword:XXXXXXXX or hex[(type)]:bytes. Empty error on
// success.
std::string ParseData(std::string_view data, RegistryValue& value)
{
    if (!data.empty() && data.front() == '"') {
        std::string text;
        if (!ReadQuoted(data, text)) {
            return "unterminated text";
        }
        if (!Trim(data).empty()) {
            return "text after the closing quote";
        }
        value.Type = REG_SZ;
        value.Data.assign(text.begin(), text.end());
        value.Data.push_back(0);
        return {};
    }
    if (data.starts_with("dword:")) {
        const std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) {
            return "a dword needs 1 to 8 hex digits";
        }
        std::uint32_t number = 0;
        for (const char c : digits) {
            const int digit = HexDigitValue(c);
            if (digit < 0) {
                return "a dword needs 1 to 8 hex digits";
            }
            number = number * 16 + static_cast<std::uint32_t>(digit);
        }
        value.Type = REG_DWORD;
        value.Data.assign(4, 0);
        StoreLe32(value.Data, 0, number);
        return {};
    }
    if (data.starts_with("hex")) {
        data.remove_prefix(3);
        value.Type = REG_BINARY;
        if (data.starts_with("(")) {
            const std::size_t close = data.find(')');
            if (close == std::string_view::npos || close == 1 || close > 9) {
                return "bad hex type";
            }
            std::uint32_t type = 0;
            for (const char c : data.substr(1, close - 1)) {
                const int digit = HexDigitValue(c);
                if (digit < 0) {
                    return "bad hex type";
                }
                type = type * 16 + static_cast<std::uint32_t>(digit);
            }
            value.Type = type;
            data.remove_prefix(close + 1);
        }
        if (!data.starts_with(":")) {
            return "hex data needs a colon";
        }
        if (!ParseHexBytes(data.substr(1), value.Data)) {
            return "hex data must be two-digit bytes separated by commas";
        }
        return {};
    }
    return "unknown value data";
}

// Joins lines that end in a backslash (long hex data) with the next one; each logical line
// keeps the number of its first physical line.
std::vector<std::pair<std::size_t, std::string>> LogicalLines(std::string_view text)
{
    std::vector<std::pair<std::size_t, std::string>> lines;
    bool continuing = false;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++number;
        const bool continues = line.ends_with('\\') && !line.starts_with('[') &&
                               !line.starts_with(';');
        if (continues) {
            line.remove_suffix(1);
        }
        if (continuing) {
            lines.back().second.append(line);
        } else {
            lines.emplace_back(number, std::string(line));
        }
        continuing = continues;
    }
    return lines;
}

// A [path] line: makes current the key it names under HKEY_LOCAL_MACHINE, adding the keys on
// the way, or nothing when the path is under another root, whose values are passed over.
// Empty error on success.
std::string ReadKeyLine(std::string_view content, Tree& tree, Tree::Key*& current,
                        bool& inForeignRoot)
{
    if (content.back() != ']' || content.size() < 3) {
        return "a key line ends with ]";
    }
    std::string_view path = content.substr(1, content.size() - 2);
    if (path.front() == '-') {
        return "key deletions are not accepted here";
    }
    const std::size_t split = path.find('\\');
    const std::string_view root = path.substr(0, split);
    current = nullptr;
    inForeignRoot = !RegistryNamesEqual(root, "HKEY_LOCAL_MACHINE");
    if (inForeignRoot) {
        return {};
    }
    current = &tree.LocalMachine;
    path = split == std::string_view::npos ? std::string_view{} : path.substr(split + 1);
    std::size_t depth = 0;
    while (!path.empty()) {
        const std::size_t next = path.find('\\');
        const std::string_view component = path.substr(0, next);
        if (component.empty()) {
            return "empty key name in the path";
        }
        if (++depth > REGISTRY_MAX_KEY_DEPTH) {
            return "keys nest at most " + std::to_string(REGISTRY_MAX_KEY_DEPTH) + " levels deep";
        }
        current = current->FindOrAdd(component);
        path = next == std::string_view::npos ? std::string_view{} : path.substr(next + 1);
    }
    return {};
}

// A "name"=data or @=data line. Empty error on success.
std::string ReadValueLine(std::string_view content, std::string& name, RegistryValue& value)
{
    std::string_view rest = content;
    if (rest.front() == '@') {
        rest.remove_prefix(1);
    } else if (!ReadQuoted(rest, name)) {
        return "a value line starts with a quoted name or @";
    }
    rest = Trim(rest);
    if (!rest.starts_with('=')) {
        return "a value name is followed by =";
    }
    rest = Trim(rest.substr(1));
    if (rest == "-") {
        return "value deletions are not accepted here";
    }
    return ParseData(rest, value);
}

}  // namespace

std::unique_ptr<FileRegistry> FileRegistry::Parse(std::string_view text, std::string& error)
{
    error.clear();
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    auto tree = std::make_shared<Tree>();
    Tree::Key* current = nullptr;
    bool inForeignRoot = false;
    bool sawHeader = false;

    for (const auto& [number, line] : LogicalLines(text)) {
        const auto fail = [&, n = number](const std::string& what) {
            error = "line " + std::to_string(n) + ": " + what;
            return nullptr;
        };
        const std::string_view content = line;
        if (!sawHeader) {
            if (content.empty()) {
                continue;
            }
            if (content != "REGEDIT4") {
                return fail("a registry export starts with REGEDIT4");
            }
            sawHeader = true;
            continue;
        }
        if (content.empty() || content.front() == ';') {
            continue;
        }
        if (content.front() == '[') {
            if (const std::string problem = ReadKeyLine(content, *tree, current, inForeignRoot);
                !problem.empty()) {
                return fail(problem);
            }
            continue;
        }

        std::string name;
        RegistryValue value;
        if (const std::string problem = ReadValueLine(content, name, value); !problem.empty()) {
            return fail(problem);
        }
        if (current == nullptr && !inForeignRoot) {
            return fail("a value before any key");
        }
        if (current != nullptr) {
            current->SetValue(std::move(name), std::move(value));
        }
    }
    if (!sawHeader) {
        error = "line 1: a registry export starts with REGEDIT4";
        return nullptr;
    }
    tree->SortSubkeys();
    return std::unique_ptr<FileRegistry>(new FileRegistry(std::move(tree)));
}

std::unique_ptr<FileRegistry> FileRegistry::Load(const std::string& path, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot be read";
        return nullptr;
    }
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    auto registry = Parse(text, error);
    if (!registry) {
        error = path + ": " + error;
    }
    return registry;
}

std::unique_ptr<RegistryNode> FileRegistry::Root()
{
    return std::make_unique<FileNode>(tree_, &tree_->LocalMachine);
}

}  // namespace tarvik
