// A progress window that shows nothing, so the whole launch can run in the
// test process: it opens or not as told, as slowly as told, lets the
// lookup's close end its loop, and can play a person who closes it.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "ui/progress_layout.h"
#include "ui/progress_window.h"

namespace quillwave {

struct NullWindowScript {
  bool opens = true;                   // false: no window can be made
  bool person_closes = false;          // true: the person closes it the moment it is shown
  std::string failure = "no display";  // why it cannot be made
  std::size_t summary_rows = SummaryRowsShown(1080);
  std::chrono::milliseconds create_takes{0};  // a slow toolkit
};

// What the window was asked to do, for the test to read afterwards.
struct NullWindowLog {
  std::mutex lock;
  bool created = false;
  bool shown = false;
  SettingsSummary summary;  // what it was created with
  std::vector<ProgressMessage> posts;
  std::vector<std::wstring> errors;  // caption, a line feed, text
};

ProgressWindow NullProgressWindow(NullWindowScript script, std::shared_ptr<NullWindowLog> log);

}  // namespace quillwave
