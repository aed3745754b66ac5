// Where the records live, their timestamp and their frame; they are written
// with WriteFileAtomic (platform/atomic_file.h), so other programs can read
// them at any moment.
#pragma once

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

}  // namespace quillwave
