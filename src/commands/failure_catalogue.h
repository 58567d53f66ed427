#pragma once
// What each exit status and message usually means on a real bench, and what to do about it,
// from the outcome rows' causes and remedies: what `tarvik-cli explain` and the README print.

#include <string>
#include <string_view>
#include <vector>

#include "commands/outcomes.h"

namespace tarvik {

// An exit status explained is its row: text, meaning, causes and remedy.
using ExplainedStatus = OutcomeRow;

// The statuses a topic names: the one whose number it is, or every one whose message it is
// (trailing blanks aside, as some messages end in one); empty for anything else.
std::vector<ExplainedStatus> ExplainTopic(std::string_view topic);

// What explain prints for a status: its line of the exit-status list, its causes and remedy.
std::string ExplainText(const ExplainedStatus& status);

// What explain accepts, for the refusal of a topic it does not know.
std::string ExplainAccepts();

// The README's catalogue in Markdown, one row per exit status.
std::string FailureCatalogueMarkdown();

}  // namespace tarvik
