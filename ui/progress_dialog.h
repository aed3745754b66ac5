// The progress window itself, one implementation per window system: GDI on
// Windows, GTK 3 on Linux (loaded only when a window is needed).
#pragma once

#include <string>

#include "persona/persona_config.h"
#include "ui/progress_steps.h"

namespace quillwave {

// Opaque: an HWND on Windows, the GTK window elsewhere.
struct ProgressDialog;

// Creates the fonts and registers the window class. `instance` is the
// launcher's module instance (null outside Windows).
void PrepareProgressDialog(void* instance);

// Creates the window for the summary (its height follows the row counts);
// the steps are read from SharedProgressSteps(). Null when no window can be
// made (no display, no toolkit, creation failed).
ProgressDialog* CreateProgressDialog(void* instance, const SettingsSummary& summary);

// Shows and paints it.
void ShowProgressDialog(ProgressDialog* dialog);

// The worker's posting boundary for this window; safe to call from any
// thread, never waits, silently dropped once the window is gone.
ProgressPoster ProgressPosterFor(ProgressDialog* dialog);

// Runs the main thread's message loop until the window is destroyed, by
// the worker's close message or by the user (which sets `aborted` first).
void RunProgressMessageLoop();

// Releases the fonts after the loop.
void ReleaseProgressDialog();

// The missing-engine surface as a dialog, when a window system is usable;
// returns false when it could not be shown.
bool ShowErrorDialog(const std::wstring& caption, const std::wstring& text);

}  // namespace quillwave
