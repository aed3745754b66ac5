#include "ui/null_progress_window.h"

#include <chrono>
#include <condition_variable>
#include <thread>

namespace quillwave {
namespace {

// A loop that nobody ends gives up after this, so a broken launch fails a
// test instead of hanging it.
constexpr std::chrono::seconds kPatience{30};

struct NullWindowState {
  NullWindowScript script;
  std::shared_ptr<NullWindowLog> log;
  std::function<void()> on_person_close;
  std::mutex lock;
  std::condition_variable posted;
  bool closed = false;
};

}  // namespace

ProgressWindow NullProgressWindow(NullWindowScript script, std::shared_ptr<NullWindowLog> log) {
  auto state = std::make_shared<NullWindowState>();
  state->script = script;
  state->log = std::move(log);
  ProgressWindow window;
  window.summary_rows = [state] { return state->script.opens ? state->script.summary_rows : 0; };
  window.create = [state](const SettingsSummary& summary, std::shared_ptr<ProgressSteps>,
                          std::function<void()> on_person_close) {
    std::this_thread::sleep_for(state->script.create_takes);
    std::lock_guard<std::mutex> hold(state->log->lock);
    state->log->created = state->script.opens;
    state->log->summary = summary;
    state->on_person_close = std::move(on_person_close);
    return WindowCreation{state->script.opens, state->script.opens ? std::string() : state->script.failure};
  };
  window.show = [state] {
    {
      std::lock_guard<std::mutex> hold(state->log->lock);
      state->log->shown = true;
    }
    // Before the lookup's own close has been handled, whenever that comes.
    if (state->script.person_closes && state->on_person_close) state->on_person_close();
  };
  window.poster = [state]() -> ProgressPoster {
    return [state](ProgressMessage message, std::size_t) {
      {
        std::lock_guard<std::mutex> hold(state->log->lock);
        state->log->posts.push_back(message);
      }
      std::lock_guard<std::mutex> hold(state->lock);
      if (message == ProgressMessage::kClose) state->closed = true;
      state->posted.notify_all();
    };
  };
  window.run_loop = [state] {
    if (state->script.person_closes) return;  // the close took the window down
    std::unique_lock<std::mutex> hold(state->lock);
    state->posted.wait_for(hold, kPatience, [&] { return state->closed; });
  };
  window.release = [] {};
  window.show_error = [state](const std::wstring& caption, const std::wstring& text) {
    std::lock_guard<std::mutex> hold(state->log->lock);
    state->log->errors.push_back(caption + L"\n" + text);
    return true;
  };
  return window;
}

}  // namespace quillwave
