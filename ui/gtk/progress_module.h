// The boundary between the launcher and the GTK window module
// (quillwave-progress-gtk.so). The launcher loads the module with dlopen only
// when a window is needed, so the toolkit stays out of every process that
// launches directly. Plain C types only: the module knows nothing of the
// launcher's records and the launcher nothing of GTK.
#pragma once

#include <stddef.h>

extern "C" {

struct QwColour {
  unsigned char r, g, b;
};

enum { kQwFontCount = 4 };

struct QwFont {
  const char* families;  // Pango family list, e.g. "Segoe UI, sans"
  int cell_height;       // pixels from the top of the ascent to the bottom of the descent
  int weight;            // 100..900
};

// One single-line text in client coordinates, clipped to its rectangle.
struct QwTextRun {
  const char* text;  // UTF-8
  int font;          // index into QwWindowSpec::fonts
  QwColour colour;
  int left, top, right, bottom;
  int right_aligned;
  int end_ellipsis;
};

struct QwPoint {
  int x, y;
};

// One stroke of a mark: a line through the points `line_width` pixels wide,
// round at its ends and joins, or the filled polygon when `line_width` is 0.
struct QwStroke {
  QwColour colour;
  int line_width;
  const QwPoint* points;
  size_t point_count;
};

// What one paint pass draws after the background, in client coordinates.
struct QwPicture {
  const QwTextRun* runs;
  size_t run_count;
  const QwStroke* strokes;
  size_t stroke_count;
};

// The module's measure of a text in one of the window's fonts, in pixels,
// as it will draw it.
struct QwMeasure {
  void* context;
  int (*text_width)(void* context, int font, const char* text);
};

// One object for assistive technology: the headline, then each step.
struct QwAccessibleItem {
  const char* name;         // UTF-8
  const char* description;  // UTF-8
};

// What the window paints, supplied by the launcher. The module calls
// `layout` on its main thread for each paint pass (the picture stays valid
// until the next call), `accessible` when the window is made and after
// each step post (the items stay valid until the next call; their count is
// the same every time), `user_closed` when the person closes the window, and
// `release` once when the window is gone; nothing is called after that.
struct QwPaintSource {
  void* context;
  void (*layout)(void* context, const QwMeasure* measure, QwPicture* picture);
  size_t (*accessible)(void* context, const QwAccessibleItem** items);
  void (*user_closed)(void* context);
  void (*release)(void* context);
};

struct QwWindowSpec {
  const char* title;             // UTF-8
  int left, top, width, height;  // outer frame, screen pixels
  QwColour background;
  QwFont fonts[kQwFontCount];
};

enum { kQwPostStep = 1, kQwPostClose = 2 };

enum { kQwModuleVersion = 2 };

struct QwProgressModule {
  unsigned version;
  // Initialises the toolkit once; 0 when no display is usable. Sets the
  // program class first, so every window's WM_CLASS is `wm_class`.
  int (*open_display)(const char* wm_class);
  // The primary monitor's size in pixels.
  void (*screen_size)(int* width, int* height);
  // The new window's id, never 0; 0 on failure, and then `source` was not
  // taken over (release is not called).
  unsigned (*create)(const QwWindowSpec* window_desc, const QwPaintSource* source);
  void (*show)(unsigned window_id);
  // Any thread; never waits. Posts for a window that is gone are dropped.
  void (*post)(unsigned window_id, int message);
  // Returns when the window is destroyed (at once when none exists).
  void (*run_loop)(void);
  // A modal error dialog; 0 when it could not be shown.
  int (*show_error)(const char* caption, const char* text);
};

typedef const QwProgressModule* (*QwProgressModuleEntry)(void);
#define QW_PROGRESS_MODULE_ENTRY "quillwave_progress_module"

}  // extern "C"
