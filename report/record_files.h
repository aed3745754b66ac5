// Where the records live, their timestamp, and the atomic replacement that
// lets other programs read them at any moment.
#pragma once

#include <string>
#include <string_view>

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

// Replaces `target` so that a reader sees the old or the complete new
// content, never a mix, however many writers overlap: each writes and
// flushes a temporary file of its own in the same folder, then renames it
// over the target. Temporary files of this record left by killed writers
// are removed first. Never creates folders; leaves no temporary file of its
// own behind.
bool WriteFileAtomic(const std::wstring& target, std::string_view content);

}  // namespace quillwave
