// The progress window on Linux. The GTK code lives in a module beside the
// launcher that is loaded on first use, so a launch that needs no window never
// maps or initialises the toolkit. Without the module or a usable display no
// window can be made, and the launch goes on without one.
#include <dlfcn.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "discovery/discovery_result.h"
#include "platform/notice.h"
#include "platform/paths.h"
#include "report/text.h"
#include "ui/gtk/progress_module.h"
#include "ui/progress_dialog.h"
#include "ui/progress_layout.h"

namespace quillwave {
namespace {

constexpr char kModuleFileName[] = "quillwave-progress-gtk.so";

struct Toolkit {
  bool tried = false;
  const QwProgressModule* module = nullptr;  // set only once the display is open
};

Toolkit& TheToolkit() {
  static Toolkit toolkit;
  return toolkit;
}

// The module stays loaded for the rest of the process: a toolkit that has
// opened a display cannot be unloaded safely.
const QwProgressModule* OpenToolkit() {
  Toolkit& toolkit = TheToolkit();
  if (toolkit.tried) return toolkit.module;
  toolkit.tried = true;
  const std::string path = Narrow(platform::LauncherDirectory()) + "/" + kModuleFileName;
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  const auto entry = reinterpret_cast<QwProgressModuleEntry>(dlsym(library, QW_PROGRESS_MODULE_ENTRY));
  const QwProgressModule* module = entry != nullptr ? entry() : nullptr;
  if (module == nullptr || module->version != kQwModuleVersion) return nullptr;
  if (module->open_display(Narrow(kWindowClassName).c_str()) == 0) return nullptr;
  toolkit.module = module;
  return module;
}

// What one window paints; owned by the window once it exists.
struct PaintContext {
  SettingsSummary summary;
  std::vector<std::string> texts;
  std::vector<QwTextRun> runs;
};

QwColour ToColour(Rgb colour) { return {colour.r, colour.g, colour.b}; }

// Runs on the main thread for each paint pass; the snapshot takes the step
// list's lock, so a paint never sees a step half changed.
size_t LayoutRuns(void* context, const QwTextRun** runs) {
  auto& paint = *static_cast<PaintContext*>(context);
  const std::vector<TextRun> layout = LayoutProgressWindow(SnapshotProgressSteps(SharedProgressSteps()), paint.summary);
  paint.texts.clear();
  paint.runs.clear();
  paint.texts.reserve(layout.size());
  for (const TextRun& run : layout) paint.texts.push_back(Narrow(run.text));
  for (std::size_t i = 0; i < layout.size(); ++i) {
    const TextRun& run = layout[i];
    paint.runs.push_back(QwTextRun{paint.texts[i].c_str(), static_cast<int>(run.font), ToColour(run.colour), run.left,
                                   run.top, run.right, run.bottom, run.right_aligned ? 1 : 0,
                                   run.end_ellipsis ? 1 : 0});
  }
  *runs = paint.runs.data();
  return paint.runs.size();
}

void UserClosed(void* /*context*/) { SharedDiscoveryResult().aborted.exchange(true); }

void ReleasePaint(void* context) { delete static_cast<PaintContext*>(context); }

unsigned WindowId(ProgressDialog* dialog) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(dialog));
}

}  // namespace

void PrepareProgressDialog(void* /*instance*/) { OpenToolkit(); }

ProgressDialog* CreateProgressDialog(void* /*instance*/, const SettingsSummary& summary) {
  const QwProgressModule* module = OpenToolkit();
  if (module == nullptr) return nullptr;

  int screen_width = 0, screen_height = 0;
  module->screen_size(&screen_width, &screen_height);
  const WindowPlacement placement =
      ProgressWindowPlacement(summary.overrides.size(), summary.switches.size(), screen_width, screen_height);

  const std::string title = Narrow(kWindowTitle);
  std::string families[kQwFontCount];
  QwWindowSpec window_desc{title.c_str(), placement.left, placement.top, placement.width, placement.height,
                    ToColour(kBackgroundColour), {}};
  for (int i = 0; i < kQwFontCount; ++i) {
    const FontSpec font = FontFor(static_cast<FontRole>(i));
    families[i] = Narrow(font.face) + (font.fixed_pitch ? ", monospace" : ", sans");
    window_desc.fonts[i] = QwFont{families[i].c_str(), font.height, font.weight};
  }

  auto paint = std::make_unique<PaintContext>();
  paint->summary = summary;
  const QwPaintSource source{paint.get(), LayoutRuns, UserClosed, ReleasePaint};
  const unsigned id = module->create(&window_desc, &source);
  if (id == 0) return nullptr;
  paint.release();  // the window frees it when it is destroyed
  return reinterpret_cast<ProgressDialog*>(static_cast<std::uintptr_t>(id));
}

void ShowProgressDialog(ProgressDialog* dialog) {
  const QwProgressModule* module = TheToolkit().module;
  if (module != nullptr && dialog != nullptr) module->show(WindowId(dialog));
}

ProgressPoster ProgressPosterFor(ProgressDialog* dialog) {
  const QwProgressModule* module = TheToolkit().module;
  if (module == nullptr || dialog == nullptr) return [](ProgressMessage, std::size_t) {};
  const unsigned id = WindowId(dialog);
  return [module, id](ProgressMessage message, std::size_t /*step*/) {
    module->post(id, message == ProgressMessage::kClose ? kQwPostClose : kQwPostStep);
  };
}

void RunProgressMessageLoop() {
  if (const QwProgressModule* module = TheToolkit().module) module->run_loop();
}

// The fonts belong to the window and went with it.
void ReleaseProgressDialog() {}

// Standard error always gets the text, dialog or not: launches without a
// display, and those that script the launcher, see it there.
bool ShowErrorDialog(const std::wstring& caption, const std::wstring& text) {
  platform::ShowErrorNotice(caption, text);
  const QwProgressModule* module = OpenToolkit();
  return module != nullptr && module->show_error(Narrow(caption).c_str(), Narrow(text).c_str()) != 0;
}

}  // namespace quillwave
