// The one-line JSON record of every launch that reaches a decision.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/discovery_result.h"

namespace quillwave {

inline constexpr char kResultRecordName[] = ".corvane-launcher-result.json";

// Where a record named `file_name` lives: the user-data directory when one is
// given, else the launcher data folder under the local application-data
// folder; empty when neither is known.
std::wstring RecordPathFor(const std::wstring& user_data_dir, const std::wstring& local_app_data,
                           std::wstring_view file_name);

std::wstring ResultRecordPath();

// The record text, fifteen members in fixed order, ending in "}\n".
std::string FormatResultRecord(std::string_view status, std::int64_t elapsed_ms, std::string_view error_code,
                               std::string_view message, const DiscoveryResult& discovery,
                               std::string_view timestamp);

// Formats the record from the shared discovery result and writes it
// atomically; every failure is silent.
void WriteResultRecord(std::string_view status, std::int64_t elapsed_ms, std::string_view error_code,
                       std::string_view message);

}  // namespace quillwave
