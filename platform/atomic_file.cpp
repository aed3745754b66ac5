#include "platform/atomic_file.h"

#include <cstdint>
#include <thread>
#include <vector>

#include "base/ascii.h"
#include "platform/files.h"
#include "platform/process.h"

namespace quillwave::platform {
namespace {

// A writer needs milliseconds, so a temporary file this old was left by a
// writer that was killed (or stopped so long that failing its write is
// fair). Age is the rule rather than whether the writer's process still
// lives: process numbers are reused, and they mean nothing for a writer in
// another PID namespace or on another machine sharing the profile folder.
constexpr std::chrono::minutes kStaleTemporaryAge{10};

// A name already taken (by chance or on purpose) is never opened; the
// writer tries a fresh one.
constexpr unsigned kNameAttempts = 4;

constexpr std::wstring_view kTemporarySuffix = L".tmp";

bool AllOf(std::wstring_view text, bool (*accept)(wchar_t)) {
  if (text.empty()) return false;
  for (const wchar_t c : text) {
    if (!accept(c)) return false;
  }
  return true;
}

// "<record>.<process>-<hex>.tmp": unique to one writer, and recognisable as
// a temporary file of this record so that only such files are ever removed.
std::wstring TemporaryName(std::wstring_view record, unsigned attempt) {
  // The process tells writers apart, the clock (and the attempt) the writes
  // of one process.
  auto value = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) + attempt;
  std::wstring hex;
  do {
    hex.insert(hex.begin(), L"0123456789abcdef"[value % 16]);
    value /= 16;
  } while (value != 0);
  return std::wstring(record) + L"." + std::to_wstring(CurrentProcessId()) + L"-" + hex +
         std::wstring(kTemporarySuffix);
}

// A name TemporaryName gives for `record`, or "<record>.tmp", which earlier
// versions used.
bool IsTemporaryOf(std::wstring_view entry, std::wstring_view record) {
  if (entry.size() < record.size() + kTemporarySuffix.size() || entry.substr(0, record.size()) != record ||
      entry.substr(entry.size() - kTemporarySuffix.size()) != kTemporarySuffix) {
    return false;
  }
  if (entry.size() == record.size() + kTemporarySuffix.size()) return true;
  std::wstring_view unique = entry.substr(record.size(), entry.size() - record.size() - kTemporarySuffix.size());
  if (unique.front() != L'.') return false;
  unique.remove_prefix(1);
  const std::size_t dash = unique.find(L'-');
  return dash != std::wstring_view::npos && AllOf(unique.substr(0, dash), IsAsciiDigit<wchar_t>) &&
         AllOf(unique.substr(dash + 1), IsAsciiLowerHexDigit<wchar_t>);
}

// One scan of the record's folder (the profile folder, which is small).
void RemoveStaleTemporaries(const std::wstring& folder, std::wstring_view record) {
  std::vector<std::wstring> candidates;
  ForEachFolderEntry(folder, [&](const std::wstring& name) {
    if (IsTemporaryOf(name, record)) candidates.push_back(folder + name);
  });
  const auto now = std::chrono::system_clock::now();
  for (const auto& path : candidates) {
    const auto written = RegularFileWriteTime(path);
    if (written && now - *written > kStaleTemporaryAge) DeleteFileOnly(path);
  }
}

}  // namespace

bool WriteFileAtomic(const std::wstring& target, std::string_view content) {
  return WriteFileAtomic(target, content, [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); });
}

bool WriteFileAtomic(const std::wstring& target, std::string_view content, const RetryPause& pause) {
  // The temporary file lies in the record's own folder, so the final rename
  // never crosses volumes.
  const std::size_t cut = target.find_last_of(kPathSeparators);
  const std::wstring folder = cut == std::wstring::npos ? std::wstring() : target.substr(0, cut + 1);
  const std::wstring record = target.substr(folder.size());
  if (record.empty()) return false;
  if (!folder.empty()) RemoveStaleTemporaries(folder, record);

  std::wstring temporary;
  auto status = NewFileStatus::kExists;
  for (unsigned attempt = 0; attempt < kNameAttempts && status == NewFileStatus::kExists; ++attempt) {
    temporary = folder + TemporaryName(record, attempt);
    status = WriteNewFile(temporary, content);
  }
  if (status == NewFileStatus::kWriteFailed) DeleteFileOnly(temporary);
  if (status != NewFileStatus::kWritten) return false;

  for (int attempt = 1;; ++attempt) {
    const MoveStatus moved = MoveFileReplacing(temporary, target);
    if (moved == MoveStatus::kMoved) return true;
    if (moved == MoveStatus::kFailed || attempt == kReplaceAttempts) break;
    if (pause) pause(kReplaceRetryPause);
  }
  DeleteFileOnly(temporary);
  return false;
}

}  // namespace quillwave::platform
