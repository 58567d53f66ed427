#include "cli/usage_hints.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace tarvik::cli {
namespace {

bool SameLetter(char a, char b)
{
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
}

// The letters changed, added or dropped, and the neighbours swapped, that turn a into b.
std::size_t EditDistance(std::string_view a, std::string_view b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t changed = SameLetter(a[i - 1], b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + changed});
            if (i > 1 && j > 1 && SameLetter(a[i - 1], b[j - 2]) &&
                SameLetter(a[i - 2], b[j - 1])) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

std::vector<const CLI::App*> Commands(const CLI::App& app)
{
    return app.get_subcommands([](const CLI::App*) { return true; });
}

std::vector<std::string> CommandNames(const CLI::App& app)
{
    std::vector<std::string> names;
    for (const CLI::App* command : Commands(app)) {
        names.push_back(command->get_name());
    }
    return names;
}

std::string Listed(const std::vector<std::string>& names)
{
    std::string list;
    for (const std::string& name : names) {
        list += (list.empty() ? "" : ", ") + name;
    }
    return list;
}

// The option's value as --help names it ("FILE"), without what its checks add.
std::string ValueName(const CLI::Option& option)
{
    const std::string name = option.get_type_name();
    return name.substr(0, name.find(':'));
}

bool TakesValue(const CLI::Option& option)
{
    return option.get_items_expected_max() > 0;
}

// How a command is written with one of its options: its words in order, the option last.
std::string WrittenWith(const CLI::App& app, const CLI::App& command, const CLI::Option& option,
                        std::string_view optionName)
{
    std::string line = app.get_name() + " " + command.get_name();
    for (const CLI::Option* word :
         command.get_options([](const CLI::Option* o) { return o->get_positional(); })) {
        std::string text = word->get_name(true);
        if (word->get_items_expected_max() > 1) {
            text += "...";
        }
        line += " " + (word->get_required() ? text : "[" + text + "]");
    }
    line += " " + std::string(optionName);
    if (TakesValue(option)) {
        line += " " + ValueName(option);
    }
    return line;
}

// The option of a command that the text names ("--record", "--record=FILE"), if any; of the
// command among the arguments when several commands take it.
std::optional<std::string> OptionOfACommand(const CLI::App& app, std::string_view argument,
                                            std::span<const char* const> arguments)
{
    const std::string name(argument.substr(0, argument.find('=')));
    std::optional<std::string> belongs;
    for (const CLI::App* command : Commands(app)) {
        const CLI::Option* option = command->get_option_no_throw(name);
        if (option == nullptr) {
            continue;
        }
        const bool named = std::any_of(arguments.begin(), arguments.end(), [&](const char* word) {
            return word != nullptr && command->get_name() == word;
        });
        if (!belongs || named) {
            belongs = name + " belongs to " + command->get_name() + ": " +
                      WrittenWith(app, *command, *option, name);
        }
        if (named) {
            break;
        }
    }
    return belongs;
}

// How many words after this one are the value of the program's own option that it names: one
// when the option takes a value not written into the same word ("-i eth0", "-vi eth0"; not
// "--trace=f.pcap" or "-ieth0"), else none. Nothing when it names no option of the program.
std::optional<std::size_t> OwnOptionValueWords(const CLI::App& app, std::string_view word)
{
    if (word.starts_with("--")) {
        const std::size_t equals = word.find('=');
        const CLI::Option* option = app.get_option_no_throw(std::string(word.substr(0, equals)));
        if (option == nullptr) {
            return std::nullopt;
        }
        return TakesValue(*option) && equals == std::string_view::npos ? 1 : 0;
    }
    // Short options run together: the first that takes a value takes the rest of the word, or
    // the next word when it is the last letter.
    for (std::size_t i = 1; i < word.size(); ++i) {
        const CLI::Option* option = app.get_option_no_throw(std::string("-") + word[i]);
        if (option == nullptr) {
            return std::nullopt;
        }
        if (TakesValue(*option)) {
            return i + 1 == word.size() ? 1 : 0;
        }
    }
    return 0;
}

}  // namespace

std::optional<std::string> ExplainRefusal(const CLI::App& app,
                                          std::span<const char* const> arguments,
                                          bool noCommandIsTheFault)
{
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i] != nullptr ? arguments[i] : "";
        if (argument == "--") {
            return std::nullopt;
        }
        if (argument.size() > 1 && argument.front() == '-') {
            if (const auto valueWords = OwnOptionValueWords(app, argument)) {
                i += *valueWords;
            } else if (auto belongs = OptionOfACommand(app, argument, arguments)) {
                return belongs;
            }
            continue;  // an option nobody has is the parser's to name
        }
        const std::vector<std::string> names = CommandNames(app);
        if (std::find(names.begin(), names.end(), argument) != names.end()) {
            return std::nullopt;  // the command is there: what is wrong lies elsewhere
        }
        const std::string nearest = NearestName(argument, names);
        return "\"" + std::string(argument) + "\" is no command; " +
               (nearest.empty() ? "the" : "did you mean " + nearest + "? The") + " commands are " +
               Listed(names);
    }
    if (noCommandIsTheFault) {
        return "name a command: " + Listed(CommandNames(app));
    }
    return std::nullopt;
}

std::string NearestName(std::string_view word, std::span<const std::string> candidates)
{
    std::string nearest;
    std::size_t best = 0;
    for (const std::string& candidate : candidates) {
        const std::size_t distance = EditDistance(word, candidate);
        if (distance * 3 <= candidate.size() && (nearest.empty() || distance < best)) {
            nearest = candidate;
            best = distance;
        }
    }
    return nearest;
}

}  // namespace tarvik::cli
