#pragma once
// What is wrong with a command line the parser refused, said in the user's terms where the
// parser's own words would mislead: an option of a command given before the command
// ("The following arguments were not expected"), a command that does not exist or none at all
// ("A subcommand is required").

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

namespace tarvik::cli {

// The sentence for the command line, or nothing when none of those is the fault (the parser's
// message stands then). noCommandIsTheFault: the parser missed a command, so a command line
// without one is told which exist.
std::optional<std::string> ExplainRefusal(const CLI::App& app,
                                          std::span<const char* const> arguments,
                                          bool noCommandIsTheFault);

// The candidate that word most likely meant to be (a letter wrong, missing, extra or two
// swapped, about one in three letters at most, any case), or empty when none is that close.
std::string NearestName(std::string_view word, std::span<const std::string> candidates);

}  // namespace tarvik::cli
