// The progress window as a set of operations, so that the run sequence can
// be handed the system's window (GDI on Windows; on Linux a GTK module
// loaded only when a window is needed) or, in tests, the null window.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "persona/settings_summary.h"
#include "progress/progress_steps.h"

namespace quillwave {

// Whether a window was made, and when not, why: one short phrase for the
// result record ("no display", "window module missing", "window creation
// failed").
struct WindowCreation {
  bool created = false;
  std::string failure;
};

struct ProgressWindow {
  // How many rows of each summary list the window can show on this screen,
  // so the run builds no more; 0 when no window can be made here.
  std::function<std::size_t()> summary_rows;
  // Creates the fonts, registers the window class and creates the window for
  // the summary (its height follows the row counts). The window paints the
  // steps and, when the person closes it (the close box, or Esc while it
  // has the focus), calls `on_person_close` on its own thread before it goes.
  std::function<WindowCreation(const SettingsSummary& summary, std::shared_ptr<ProgressSteps> steps,
                               std::function<void()> on_person_close)>
      create;
  // Shows and paints it.
  std::function<void()> show;
  // The lookup's posting boundary for the window; the poster may be called
  // from any thread, never waits, and is silently dropped once the window is
  // gone.
  std::function<ProgressPoster()> poster;
  // Runs the window's message loop, on the thread that created it, until
  // the window is destroyed, by the lookup's close message or by the person.
  std::function<void()> run_loop;
  // Releases the fonts after the loop (or after a failed create).
  std::function<void()> release;
  // The one error surface for a person; false when it could not be shown.
  std::function<bool(const std::wstring& caption, const std::wstring& text)> show_error;
};

// The window of this system. `instance` is the launcher's module instance
// on Windows (for the window class and the icon), else null.
ProgressWindow SystemProgressWindow(void* instance);

}  // namespace quillwave
