// The progress window on Linux. The GTK code lives in a module beside the
// launcher that is loaded on first use, so a launch that needs no window never
// maps or initialises the toolkit. Without the module or a usable display no
// window can be made, and the launch goes on without one.
#include <dlfcn.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "ui/gtk/progress_module.h"
#include "ui/progress_layout.h"
#include "ui/progress_window.h"

namespace quillwave {
namespace {

constexpr char kModuleFileName[] = "quillwave-progress-gtk.so";

// The module, once its display is open, and the launcher's one window. The
// module stays loaded for the rest of the process: a toolkit that has opened
// a display cannot be unloaded safely.
struct Toolkit {
  bool tried = false;
  const QwProgressModule* module = nullptr;
  std::string failure;  // why there is no module, once tried
  unsigned window_id = 0;
};

const QwProgressModule* OpenToolkit(Toolkit& toolkit) {
  if (toolkit.tried) return toolkit.module;
  toolkit.tried = true;
  const std::wstring path = platform::LauncherDirectory() + L"/" + Widen(kModuleFileName);
  void* library = dlopen(platform::WideToBytes(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    // Present but not loadable: most often GTK itself is not installed.
    toolkit.failure = platform::PathExists(path) ? "window module cannot be loaded" : "window module missing";
    return nullptr;
  }
  const auto entry = reinterpret_cast<QwProgressModuleEntry>(dlsym(library, QW_PROGRESS_MODULE_ENTRY));
  const QwProgressModule* module = entry != nullptr ? entry() : nullptr;
  if (module == nullptr || module->version != kQwModuleVersion) {
    toolkit.failure = "window module cannot be loaded";
    return nullptr;
  }
  if (module->open_display(Narrow(kWindowClassName).c_str()) == 0) {
    toolkit.failure = "no display";
    return nullptr;
  }
  toolkit.module = module;
  return module;
}

// What one window paints, and whom it tells of the person's close; owned by
// the window once it exists. The vectors hold what the module reads until
// its next call.
struct PaintContext {
  SettingsSummary summary;
  std::shared_ptr<ProgressSteps> steps;
  std::function<void()> on_person_close;
  std::vector<std::string> texts;
  std::vector<QwTextRun> runs;
  std::vector<std::vector<QwPoint>> points;
  std::vector<QwStroke> strokes;
  std::vector<std::string> accessible_texts;
  std::vector<QwAccessibleItem> accessible_items;
};

QwColour ToColour(Rgb colour) { return {colour.r, colour.g, colour.b}; }

// Runs on the main thread for each paint pass; the snapshot takes the step
// list's lock, so a paint never sees a step half changed. GTK scales the
// whole picture to the screen's scale factor itself, so it is laid out at
// 96 dpi.
void LayoutPicture(void* context, const QwMeasure* measure, QwPicture* picture) {
  auto& paint = *static_cast<PaintContext*>(context);
  const auto measure_text = [measure](FontRole font, std::wstring_view text) {
    return measure->text_width(measure->context, static_cast<int>(font), Narrow(text).c_str());
  };
  const ProgressPicture layout = LayoutProgressWindow(SnapshotProgressSteps(*paint.steps), paint.summary, measure_text);
  paint.texts.clear();
  paint.runs.clear();
  paint.texts.reserve(layout.texts.size());
  for (const TextRun& run : layout.texts) paint.texts.push_back(Narrow(run.text));
  for (std::size_t i = 0; i < layout.texts.size(); ++i) {
    const TextRun& run = layout.texts[i];
    paint.runs.push_back(QwTextRun{paint.texts[i].c_str(), static_cast<int>(run.font), ToColour(run.colour), run.left,
                                   run.top, run.right, run.bottom, run.right_aligned ? 1 : 0,
                                   run.end_ellipsis ? 1 : 0});
  }
  paint.points.clear();
  paint.strokes.clear();
  for (const MarkShape& mark : layout.marks) {
    for (const MarkStroke& stroke : mark.strokes) {
      std::vector<QwPoint>& points = paint.points.emplace_back();
      for (const Point& point : stroke.points) points.push_back({point.x, point.y});
      paint.strokes.push_back(QwStroke{ToColour(mark.colour), stroke.line_width, nullptr, points.size()});
    }
  }
  // Filled in only now: the point lists no longer move.
  for (std::size_t i = 0; i < paint.strokes.size(); ++i) paint.strokes[i].points = paint.points[i].data();
  *picture = QwPicture{paint.runs.data(), paint.runs.size(), paint.strokes.data(), paint.strokes.size()};
}

size_t AccessibleItems(void* context, const QwAccessibleItem** items) {
  auto& paint = *static_cast<PaintContext*>(context);
  const std::vector<AccessibleItem> accessible = AccessibleProgress(SnapshotProgressSteps(*paint.steps));
  paint.accessible_texts.clear();
  paint.accessible_items.clear();
  paint.accessible_texts.reserve(2 * accessible.size());
  for (const AccessibleItem& item : accessible) {
    paint.accessible_texts.push_back(Narrow(item.name));
    paint.accessible_texts.push_back(Narrow(item.description));
  }
  for (std::size_t i = 0; i < accessible.size(); ++i) {
    paint.accessible_items.push_back(
        {paint.accessible_texts[2 * i].c_str(), paint.accessible_texts[2 * i + 1].c_str()});
  }
  *items = paint.accessible_items.data();
  return paint.accessible_items.size();
}

void PersonClosed(void* context) {
  auto& paint = *static_cast<PaintContext*>(context);
  if (paint.on_person_close) paint.on_person_close();
}

void ReleasePaint(void* context) { delete static_cast<PaintContext*>(context); }

WindowCreation CreateWindowFor(Toolkit& toolkit, const SettingsSummary& summary, std::shared_ptr<ProgressSteps> steps,
                               std::function<void()> on_person_close) {
  const QwProgressModule* module = OpenToolkit(toolkit);
  if (module == nullptr) return {false, toolkit.failure};

  int screen_width = 0, screen_height = 0;
  module->screen_size(&screen_width, &screen_height);
  const WindowPlacement placement =
      ProgressWindowPlacement(summary.overrides.size(), summary.switches.size(), screen_width, screen_height);

  const std::string title = Narrow(kWindowTitle);
  std::string families[kQwFontCount];
  QwWindowSpec window_desc{
      title.c_str(), placement.left, placement.top, placement.width, placement.height, ToColour(kBackgroundColour), {}};
  for (int i = 0; i < kQwFontCount; ++i) {
    const FontSpec font = FontFor(static_cast<FontRole>(i));
    families[i] = Narrow(font.face) + (font.fixed_pitch ? ", monospace" : ", sans");
    window_desc.fonts[i] = QwFont{families[i].c_str(), font.height, font.weight};
  }

  auto paint = std::make_unique<PaintContext>();
  paint->summary = summary;
  paint->steps = std::move(steps);
  paint->on_person_close = std::move(on_person_close);
  const QwPaintSource source{paint.get(), LayoutPicture, AccessibleItems, PersonClosed, ReleasePaint};
  toolkit.window_id = module->create(&window_desc, &source);
  if (toolkit.window_id == 0) return {false, "window creation failed"};
  paint.release();  // the window frees it when it is destroyed
  return {true, {}};
}

}  // namespace

ProgressWindow SystemProgressWindow(void* /*instance*/) {
  auto toolkit = std::make_shared<Toolkit>();
  ProgressWindow window;
  // Opening the display here costs nothing extra: the window needs it next.
  window.summary_rows = [toolkit]() -> std::size_t {
    const QwProgressModule* module = OpenToolkit(*toolkit);
    if (module == nullptr) return 0;
    int screen_width = 0, screen_height = 0;
    module->screen_size(&screen_width, &screen_height);
    return SummaryRowsShown(screen_height);
  };
  window.create = [toolkit](const SettingsSummary& summary, std::shared_ptr<ProgressSteps> steps,
                            std::function<void()> on_person_close) {
    return CreateWindowFor(*toolkit, summary, std::move(steps), std::move(on_person_close));
  };
  window.show = [toolkit] {
    if (toolkit->module != nullptr && toolkit->window_id != 0) toolkit->module->show(toolkit->window_id);
  };
  window.poster = [toolkit]() -> ProgressPoster {
    const QwProgressModule* module = toolkit->module;
    const unsigned id = toolkit->window_id;
    if (module == nullptr || id == 0) return [](ProgressMessage, std::size_t) {};
    return [module, id](ProgressMessage message, std::size_t /*step*/) {
      module->post(id, message == ProgressMessage::kClose ? kQwPostClose : kQwPostStep);
    };
  };
  window.run_loop = [toolkit] {
    if (toolkit->module != nullptr) toolkit->module->run_loop();
  };
  // The fonts belong to the window and went with it.
  window.release = [] {};
  // Standard error always gets the text, dialog or not: launches without a
  // display, and those that script the launcher, see it there.
  window.show_error = [toolkit](const std::wstring& caption, const std::wstring& text) {
    platform::ShowErrorNotice(caption, text);
    const QwProgressModule* module = OpenToolkit(*toolkit);
    return module != nullptr && module->show_error(Narrow(caption).c_str(), Narrow(text).c_str()) != 0;
  };
  return window;
}

}  // namespace quillwave
