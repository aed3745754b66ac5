// Where the records live, their timestamp, and the atomic replacement that
// lets other programs read them at any moment.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "base/json_writer.h"
#include "platform/system.h"

namespace quillwave {

// Where a record named `file_name` lives: the user-data directory when one is
// given, else the launcher data folder (given with its trailing separator);
// empty when neither is known.
std::wstring RecordPathFor(const std::wstring& user_data_dir, const std::wstring& data_folder,
                           std::wstring_view file_name);

// "YYYY-MM-DDTHH:MM:SSZ".
std::string FormatUtcTimestamp(const platform::UtcTime& time);
std::string UtcTimestamp();

// The frame both records share: one line, an object that opens with the
// schema and the time and closes with the launcher's version. BeginRecord
// leaves the object open for the record's own members; EndRecord closes it
// and gives the text, ending in "}\n".
JsonWriter BeginRecord(std::string_view timestamp);
std::string EndRecord(JsonWriter& record);

// While another program holds the record open without letting it be
// replaced (an indexer, a scanner, a manager reading it), the replacement is
// tried this often, this far apart, before the write gives up.
inline constexpr int kReplaceAttempts = 10;
inline constexpr std::chrono::milliseconds kReplaceRetryPause{50};

using RetryPause = std::function<void(std::chrono::milliseconds)>;

// Replaces `target` so that a reader sees the old or the complete new
// content, never a mix, however many writers overlap: each writes and
// flushes a temporary file of its own in the same folder, then renames it
// over the target. Temporary files of this record left by killed writers
// are removed first. Never creates folders; leaves no temporary file of its
// own behind. The pause between replacement attempts really sleeps unless
// one is given.
bool WriteFileAtomic(const std::wstring& target, std::string_view content);
bool WriteFileAtomic(const std::wstring& target, std::string_view content, const RetryPause& pause);

}  // namespace quillwave
