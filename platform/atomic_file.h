// Replacing a file so that readers, at any moment, see either its old or its
// complete new content: what the records, and any other file that other
// programs read while the launcher writes it, are written with.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace quillwave::platform {

// While another program holds the file open without letting it be replaced
// (an indexer, a scanner, a manager reading it), the replacement is tried
// this often, this far apart, before the write gives up.
inline constexpr int kReplaceAttempts = 10;
inline constexpr std::chrono::milliseconds kReplaceRetryPause{50};

using RetryPause = std::function<void(std::chrono::milliseconds)>;

// Replaces `target` so that a reader sees the old or the complete new
// content, never a mix, however many writers overlap: each writes and
// flushes a temporary file of its own in the same folder, then renames it
// over the target. Temporary files of this target left by killed writers
// are removed first. Never creates folders; leaves no temporary file of its
// own behind. The pause between replacement attempts really sleeps unless
// one is given.
bool WriteFileAtomic(const std::wstring& target, std::string_view content);
bool WriteFileAtomic(const std::wstring& target, std::string_view content, const RetryPause& pause);

}  // namespace quillwave::platform
