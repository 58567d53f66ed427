#pragma once
// The history's columns, each said once: its name in both databases, its types there, the
// layout of the station's file that added it, how a record's field goes in and comes out, and
// where the JSON lines of --record and `history` carry it. Every statement of the store and the
// push (CREATE, INSERT, SELECT, COPY) and every JSON field list is made from this table.
// Plain data over HistoryRecord, built on every system: only the store needs SQLite.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include "history/history_record.h"

namespace tarvik {

// A value as both databases hold it: nothing (NULL), a number or a text.
using ColumnValue = std::variant<std::monostate, std::int64_t, std::string>;

// How a JSON line shows the column.
enum class JsonForm {
    Plain,     // the value itself
    UtcTime,   // milliseconds since the epoch as ISO 8601 UTC text
    JsonText,  // a text holding a JSON object: the object
};

// Which JSON line carries the column. A --record line (and `history export`) holds the Line
// columns, then the LineEnd ones; `history --json` adds the History ones after them.
enum class JsonPlace { Line, LineEnd, History };

enum class PushTable { Attempts, Details };

struct HistoryColumn {
    const char* Name;
    const char* SqliteType;
    const char* PostgresType;
    int SinceLayout;  // the station file's layout that added it
    bool Text;        // a text column (else a number)
    const char* JsonKey;
    JsonForm Form;
    JsonPlace Place;
    ColumnValue (*Get)(const HistoryRecord&);
    void (*Set)(HistoryRecord&, const ColumnValue&);
    // Which of the server's tables the push copies it to. A station of the first release
    // copies into tarvik_attempts by position, all its columns and no more: a column added
    // there would break its pushes, so later columns go to tarvik_attempt_details, one row per
    // record under the same id.
    PushTable Table = PushTable::Attempts;
};

namespace history_column {

inline std::string TextOf(const ColumnValue& value)
{
    const std::string* text = std::get_if<std::string>(&value);
    return text != nullptr ? *text : std::string();
}

inline std::int64_t NumberOf(const ColumnValue& value)
{
    const std::int64_t* number = std::get_if<std::int64_t>(&value);
    return number != nullptr ? *number : 0;
}

template <std::string HistoryRecord::*Field>
ColumnValue GetText(const HistoryRecord& record)
{
    return record.*Field;
}
template <std::string HistoryRecord::*Field>
void SetText(HistoryRecord& record, const ColumnValue& value)
{
    record.*Field = TextOf(value);
}
template <std::optional<std::string> HistoryRecord::*Field>
ColumnValue GetOptionalText(const HistoryRecord& record)
{
    return record.*Field ? ColumnValue(*(record.*Field)) : ColumnValue();
}
template <std::optional<std::string> HistoryRecord::*Field>
void SetOptionalText(HistoryRecord& record, const ColumnValue& value)
{
    const std::string* text = std::get_if<std::string>(&value);
    record.*Field = text != nullptr ? std::optional<std::string>(*text) : std::nullopt;
}
template <auto Field>
ColumnValue GetNumber(const HistoryRecord& record)
{
    return static_cast<std::int64_t>(record.*Field);
}
template <auto Field>
void SetNumber(HistoryRecord& record, const ColumnValue& value)
{
    record.*Field = static_cast<std::remove_reference_t<decltype(record.*Field)>>(NumberOf(value));
}
inline ColumnValue GetFileSize(const HistoryRecord& record)
{
    return record.FileSize ? ColumnValue(static_cast<std::int64_t>(*record.FileSize))
                           : ColumnValue();
}
inline void SetFileSize(HistoryRecord& record, const ColumnValue& value)
{
    record.FileSize =
        std::holds_alternative<std::monostate>(value)
            ? std::nullopt
            : std::optional<std::uint64_t>(static_cast<std::uint64_t>(NumberOf(value)));
}

}  // namespace history_column

// In the order of the tables on disk and on the server: a release before the server's table
// carried a layout version copies into it by position, so a new column only ever goes last.
// A number is read back 64 bits wide, whatever its field: a stored value is never cut to a
// narrower one that means something else (an exit status of 2^32 is not 0).
inline constexpr std::array<HistoryColumn, 22> HISTORY_COLUMNS = {{
    {"record_id", "TEXT PRIMARY KEY NOT NULL", "text PRIMARY KEY", 1, true, "RecordId",
     JsonForm::Plain, JsonPlace::LineEnd, history_column::GetText<&HistoryRecord::RecordId>,
     history_column::SetText<&HistoryRecord::RecordId>},
    {"start_ms", "INTEGER NOT NULL", "bigint NOT NULL", 1, false, "Start", JsonForm::UtcTime,
     JsonPlace::Line, history_column::GetNumber<&HistoryRecord::StartMs>,
     history_column::SetNumber<&HistoryRecord::StartMs>},
    {"end_ms", "INTEGER NOT NULL", "bigint NOT NULL", 1, false, "End", JsonForm::UtcTime,
     JsonPlace::Line, history_column::GetNumber<&HistoryRecord::EndMs>,
     history_column::SetNumber<&HistoryRecord::EndMs>},
    {"station", "TEXT NOT NULL", "text NOT NULL", 1, true, "Station", JsonForm::Plain,
     JsonPlace::History, history_column::GetText<&HistoryRecord::Station>,
     history_column::SetText<&HistoryRecord::Station>},
    {"operator", "TEXT NOT NULL", "text NOT NULL", 1, true, "Operator", JsonForm::Plain,
     JsonPlace::History, history_column::GetText<&HistoryRecord::Operator>,
     history_column::SetText<&HistoryRecord::Operator>},
    {"program_version", "TEXT NOT NULL", "text NOT NULL", 1, true, "ProgramVersion",
     JsonForm::Plain, JsonPlace::History, history_column::GetText<&HistoryRecord::ProgramVersion>,
     history_column::SetText<&HistoryRecord::ProgramVersion>},
    {"interface", "TEXT NOT NULL", "text NOT NULL", 1, true, "Interface", JsonForm::Plain,
     JsonPlace::Line, history_column::GetText<&HistoryRecord::Interface>,
     history_column::SetText<&HistoryRecord::Interface>},
    {"device", "TEXT NOT NULL", "text NOT NULL", 1, true, "DeviceName", JsonForm::Plain,
     JsonPlace::Line, history_column::GetText<&HistoryRecord::DeviceName>,
     history_column::SetText<&HistoryRecord::DeviceName>},
    {"descriptor_before", "TEXT", "text", 1, true, "Descriptor", JsonForm::JsonText,
     JsonPlace::Line, history_column::GetOptionalText<&HistoryRecord::DescriptorBefore>,
     history_column::SetOptionalText<&HistoryRecord::DescriptorBefore>},
    {"descriptor_after", "TEXT", "text", 2, true, "DescriptorAfter", JsonForm::JsonText,
     JsonPlace::History, history_column::GetOptionalText<&HistoryRecord::DescriptorAfter>,
     history_column::SetOptionalText<&HistoryRecord::DescriptorAfter>},
    {"file_name", "TEXT NOT NULL", "text NOT NULL", 1, true, "FileName", JsonForm::Plain,
     JsonPlace::Line, history_column::GetText<&HistoryRecord::FileName>,
     history_column::SetText<&HistoryRecord::FileName>},
    {"file_size", "INTEGER", "bigint", 1, false, "FileSize", JsonForm::Plain, JsonPlace::Line,
     history_column::GetFileSize, history_column::SetFileSize},
    {"sha256", "TEXT", "text", 1, true, "Sha256", JsonForm::Plain, JsonPlace::Line,
     history_column::GetOptionalText<&HistoryRecord::Sha256>,
     history_column::SetOptionalText<&HistoryRecord::Sha256>},
    {"pace_ms", "INTEGER NOT NULL", "integer NOT NULL", 1, false, "PaceMs", JsonForm::Plain,
     JsonPlace::Line, history_column::GetNumber<&HistoryRecord::PaceMs>,
     history_column::SetNumber<&HistoryRecord::PaceMs>},
    {"frames_sent", "INTEGER NOT NULL", "bigint NOT NULL", 1, false, "FramesSent", JsonForm::Plain,
     JsonPlace::Line, history_column::GetNumber<&HistoryRecord::FramesSent>,
     history_column::SetNumber<&HistoryRecord::FramesSent>},
    {"frames_resent", "INTEGER NOT NULL", "bigint NOT NULL", 1, false, "FramesResent",
     JsonForm::Plain, JsonPlace::Line, history_column::GetNumber<&HistoryRecord::FramesResent>,
     history_column::SetNumber<&HistoryRecord::FramesResent>},
    {"result", "TEXT NOT NULL", "text NOT NULL", 1, true, "Result", JsonForm::Plain,
     JsonPlace::Line, history_column::GetText<&HistoryRecord::Result>,
     history_column::SetText<&HistoryRecord::Result>},
    {"exit_status", "INTEGER NOT NULL", "integer NOT NULL", 1, false, "ExitStatus", JsonForm::Plain,
     JsonPlace::Line, history_column::GetNumber<&HistoryRecord::ExitStatus>,
     history_column::SetNumber<&HistoryRecord::ExitStatus>},
    {"signature", "TEXT", "text", 3, true, "Signature", JsonForm::Plain, JsonPlace::Line,
     history_column::GetOptionalText<&HistoryRecord::Signature>,
     history_column::SetOptionalText<&HistoryRecord::Signature>, PushTable::Details},
    {"signer_key_id", "TEXT", "text", 3, true, "SignerKeyId", JsonForm::Plain, JsonPlace::Line,
     history_column::GetOptionalText<&HistoryRecord::SignerKeyId>,
     history_column::SetOptionalText<&HistoryRecord::SignerKeyId>, PushTable::Details},
    {"signed_comment", "TEXT", "text", 3, true, "SignedComment", JsonForm::Plain,
     JsonPlace::Line, history_column::GetOptionalText<&HistoryRecord::SignedComment>,
     history_column::SetOptionalText<&HistoryRecord::SignedComment>, PushTable::Details},
    {"bay", "TEXT", "text", 4, true, "Bay", JsonForm::Plain, JsonPlace::Line,
     history_column::GetOptionalText<&HistoryRecord::Bay>,
     history_column::SetOptionalText<&HistoryRecord::Bay>, PushTable::Details},
}};

}  // namespace tarvik
