// Running a helper program to completion and collecting what it prints.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/cancellation.h"
#include "platform/process.h"

namespace quillwave::platform {

enum class CaptureStatus {
  kRan,          // the program ran and was waited for
  kStopped,      // it had not ended and closed its output within the time limit; it was ended and waited for
  kPipeFailed,   // no pipe for its output; nothing was started
  kStartFailed,  // the pipe existed but the program could not be started
  kCancelled,    // the cancellation was raised before it ended; it was ended at once and waited for
};

struct CapturedRun {
  CaptureStatus status = CaptureStatus::kStartFailed;
  std::wstring reason;            // the system's explanation when it did not run
  std::int32_t exit_code = 1;     // a program ended by a signal reports 128 + the signal
  std::string output;             // standard output and error as they came (until stopped), cut at the cap
  std::uint64_t total_bytes = 0;  // everything the program wrote and was read, kept or not
  std::int64_t elapsed_ms = 0;    // monotonic, from just before the start to the end
};

// Starts the program hidden, with standard output and error both writing
// into one pipe; reads that pipe to its end (past `keep_at_most` bytes too,
// so the program never blocks on a full pipe), then waits for the program.
// The program reads `input` on its standard input, then its end; an empty
// `input` leaves its standard input empty (/dev/null on POSIX, none on
// Windows). The input is fed while the output is read (POSIX: from the same
// loop, never blocking; Windows: from a thread of its own), so a program
// that reads little or none of it holds up neither itself nor the caller.
// When the program has not ended and closed its output `limit` after its
// start, it is ended there (SIGKILL on POSIX, TerminateProcess on Windows),
// reading stops, and the run reports kStopped; the program is always waited
// for before this returns. (On Windows the read returns because ending the
// program closes its end of the pipe; a process it started that keeps a
// copy of that end, or of its standard input while input is still being
// fed, is not provided for.) When `cancel` is raised while the program runs,
// it is ended and waited for at once, and the run reports kCancelled; one
// raised before the start starts nothing.
// The program does not outlive the caller: on Linux it is ended when the
// thread that started it ends (which this call outlasts), on Windows when
// the caller's process ends, however it ends (a job object that kills its
// processes when its last handle goes).
// Windows starts the launch's command line, POSIX the program with its
// argument list (no shell); no other handle or descriptor of the caller
// reaches the program on POSIX.
CapturedRun RunCapturingOutput(const ProcessLaunch& launch, std::string_view input, std::size_t keep_at_most,
                               std::chrono::milliseconds limit, const Cancellation* cancel = nullptr);

// The folder of the system's own programs (GetSystemDirectoryW); nothing when
// the system cannot say. POSIX has no such folder and always answers nothing.
std::optional<std::wstring> SystemDirectory();

// The system's own curl: curl.exe in the Windows system folder (never looked
// up through PATH), elsewhere the program chosen when the launcher was
// built. `path` is empty when the system cannot say where it is, and
// `failure` then says why.
struct SystemCurl {
  std::wstring path;
  std::string failure;
};
SystemCurl FindSystemCurl();

// Whether a process's command line is hidden from the other users of the
// machine. On Windows it is; on POSIX every local user can read it
// (/proc/PID/cmdline, ps), so nothing secret may travel in it there.
bool CommandLinesArePrivate();

// What the probe reports when no curl is at `path`.
std::string CurlMissingMessage(const std::wstring& path);

}  // namespace quillwave::platform
