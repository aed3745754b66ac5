// The progress window drawn with GTK 3, cairo and Pango. Built as a module of
// its own that the launcher loads only when it needs a window; it paints the
// text runs and mark shapes the launcher hands it, tells assistive
// technology the texts the launcher gives it for that, and knows nothing
// else of the launch. GTK draws it at the screen's scale factor.
#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "ui/gtk/progress_module.h"

namespace {

// --- What assistive technology reads --------------------------------------
//
// The drawing area's accessible object has one child per item the launcher
// describes (the headline, then the steps), each with a name and a
// description; a step's change shows as a change of its description.

struct QwItemAccessible {
  AtkObject parent;
  int index;
};
struct QwItemAccessibleClass {
  AtkObjectClass parent_class;
};

struct QwAreaAccessible {
  GtkWidgetAccessible parent;
  GPtrArray* items;  // QwItemAccessible, owned
};
struct QwAreaAccessibleClass {
  GtkWidgetAccessibleClass parent_class;
};

// A drawing area whose accessible object is a QwAreaAccessible.
struct QwStepsArea {
  GtkDrawingArea parent;
};
struct QwStepsAreaClass {
  GtkDrawingAreaClass parent_class;
};

}  // namespace

extern "C" {
G_DEFINE_TYPE(QwItemAccessible, qw_item_accessible, ATK_TYPE_OBJECT)
G_DEFINE_TYPE(QwAreaAccessible, qw_area_accessible, GTK_TYPE_WIDGET_ACCESSIBLE)
G_DEFINE_TYPE(QwStepsArea, qw_steps_area, GTK_TYPE_DRAWING_AREA)
}

namespace {

gint ItemIndexInParent(AtkObject* object) { return reinterpret_cast<QwItemAccessible*>(object)->index; }

// Shown whenever the window is: the items have no geometry of their own.
AtkStateSet* ItemStateSet(AtkObject* object) {
  AtkStateSet* states = ATK_OBJECT_CLASS(qw_item_accessible_parent_class)->ref_state_set(object);
  atk_state_set_add_state(states, ATK_STATE_VISIBLE);
  atk_state_set_add_state(states, ATK_STATE_SHOWING);
  atk_state_set_add_state(states, ATK_STATE_ENABLED);
  return states;
}

GPtrArray* AreaItems(AtkObject* object) { return reinterpret_cast<QwAreaAccessible*>(object)->items; }

gint AreaChildCount(AtkObject* object) { return static_cast<gint>(AreaItems(object)->len); }

AtkObject* AreaChild(AtkObject* object, gint index) {
  GPtrArray* items = AreaItems(object);
  if (index < 0 || static_cast<guint>(index) >= items->len) return nullptr;
  return ATK_OBJECT(g_object_ref(g_ptr_array_index(items, index)));
}

// The items hold their parent; they go when the widget does, which breaks
// the cycle.
void AreaWidgetUnset(GtkAccessible* accessible) {
  g_ptr_array_set_size(AreaItems(ATK_OBJECT(accessible)), 0);
  GTK_ACCESSIBLE_CLASS(qw_area_accessible_parent_class)->widget_unset(accessible);
}

void AreaFinalize(GObject* object) {
  g_ptr_array_unref(AreaItems(ATK_OBJECT(object)));
  G_OBJECT_CLASS(qw_area_accessible_parent_class)->finalize(object);
}

}  // namespace

extern "C" {

static void qw_item_accessible_class_init(QwItemAccessibleClass* item_class) {
  AtkObjectClass* atk_class = ATK_OBJECT_CLASS(item_class);
  atk_class->get_index_in_parent = ItemIndexInParent;
  atk_class->ref_state_set = ItemStateSet;
}

static void qw_item_accessible_init(QwItemAccessible* item) { item->index = 0; }

static void qw_area_accessible_class_init(QwAreaAccessibleClass* area_class) {
  AtkObjectClass* atk_class = ATK_OBJECT_CLASS(area_class);
  atk_class->get_n_children = AreaChildCount;
  atk_class->ref_child = AreaChild;
  GTK_ACCESSIBLE_CLASS(area_class)->widget_unset = AreaWidgetUnset;
  G_OBJECT_CLASS(area_class)->finalize = AreaFinalize;
}

static void qw_area_accessible_init(QwAreaAccessible* area) {
  area->items = g_ptr_array_new_with_free_func(g_object_unref);
}

static void qw_steps_area_class_init(QwStepsAreaClass* area_class) {
  gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(area_class), qw_area_accessible_get_type());
  gtk_widget_class_set_accessible_role(GTK_WIDGET_CLASS(area_class), ATK_ROLE_PANEL);
}

static void qw_steps_area_init(QwStepsArea* /*area*/) {}

}  // extern "C"

namespace {

// Sets a text only when it changed, so that only a real change is announced.
void SetIfChanged(AtkObject* object, const char* current, const char* wanted,
                  void (*set)(AtkObject* object, const gchar* text)) {
  if (current == nullptr || std::string_view(current) != wanted) set(object, wanted);
}

// Makes the items on first use (the headline as a heading, the steps as
// labels) and brings their names and descriptions up to date.
void UpdateAccessible(GtkWidget* area, const QwPaintSource& source) {
  const QwAccessibleItem* items = nullptr;
  const size_t count = source.accessible(source.context, &items);
  AtkObject* area_accessible = gtk_widget_get_accessible(area);
  if (!G_TYPE_CHECK_INSTANCE_TYPE(area_accessible, qw_area_accessible_get_type())) return;
  GPtrArray* children = AreaItems(area_accessible);
  for (size_t i = children->len; i < count; ++i) {
    auto* item = static_cast<QwItemAccessible*>(g_object_new(qw_item_accessible_get_type(), nullptr));
    item->index = static_cast<int>(i);
    atk_object_set_role(ATK_OBJECT(item), i == 0 ? ATK_ROLE_HEADING : ATK_ROLE_LABEL);
    atk_object_set_parent(ATK_OBJECT(item), area_accessible);
    g_ptr_array_add(children, item);
  }
  for (size_t i = 0; i < count && i < children->len; ++i) {
    AtkObject* item = ATK_OBJECT(g_ptr_array_index(children, i));
    SetIfChanged(item, atk_object_get_name(item), items[i].name, atk_object_set_name);
    SetIfChanged(item, atk_object_get_description(item), items[i].description, atk_object_set_description);
  }
}

// --- The window ------------------------------------------------------------

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct FontOptionsDestroy {
  void operator()(cairo_font_options_t* options) const { cairo_font_options_destroy(options); }
};
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, FontOptionsDestroy>;

struct FontDescriptionFree {
  void operator()(PangoFontDescription* description) const { pango_font_description_free(description); }
};
using FontDescriptionPtr = std::unique_ptr<PangoFontDescription, FontDescriptionFree>;

struct WindowState {
  GtkWidget* window = nullptr;
  GtkWidget* area = nullptr;
  QwPaintSource source{};
  QwColour background{};
  FontDescriptionPtr fonts[kQwFontCount];
  unsigned id = 0;
  int outer_width = 0, outer_height = 0;
  bool frame_fitted = false;
};

// The window handle: the one window that exists, touched on the main thread only.
WindowState* g_window = nullptr;
unsigned g_last_window_id = 0;

// A font whose ascent plus descent is `cell_height` pixels, the way a cell
// height selects a font on Windows, whichever family the fallback lands on.
FontDescriptionPtr MakeFont(PangoContext* context, const QwFont& font) {
  FontDescriptionPtr description(pango_font_description_from_string(""));
  pango_font_description_set_family(description.get(), font.families);
  pango_font_description_set_weight(description.get(), static_cast<PangoWeight>(font.weight));
  pango_font_description_set_absolute_size(description.get(), font.cell_height * PANGO_SCALE);
  PangoFontMetrics* metrics = pango_context_get_metrics(context, description.get(), nullptr);
  const double extent = pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics);
  pango_font_metrics_unref(metrics);
  if (extent > 0) {
    const double cell = static_cast<double>(font.cell_height) * PANGO_SCALE;
    pango_font_description_set_absolute_size(description.get(), cell * cell / extent);
  }
  return description;
}

void SetColour(cairo_t* cr, QwColour colour) {
  cairo_set_source_rgb(cr, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0);
}

// What a paint pass measures and draws texts with.
struct TextPainter {
  PangoLayout* layout;
  const WindowState* state;
};

int TextWidth(void* context, int font, const char* text) {
  const auto& painter = *static_cast<const TextPainter*>(context);
  if (font < 0 || font >= kQwFontCount) return 0;
  pango_layout_set_font_description(painter.layout, painter.state->fonts[font].get());
  pango_layout_set_text(painter.layout, text, -1);
  pango_layout_set_width(painter.layout, -1);
  pango_layout_set_ellipsize(painter.layout, PANGO_ELLIPSIZE_NONE);
  PangoRectangle line{};
  pango_layout_line_get_pixel_extents(pango_layout_get_line_readonly(painter.layout, 0), nullptr, &line);
  return line.width;
}

void DrawStroke(cairo_t* cr, const QwStroke& stroke) {
  if (stroke.point_count == 0) return;
  cairo_save(cr);
  SetColour(cr, stroke.colour);
  cairo_move_to(cr, stroke.points[0].x, stroke.points[0].y);
  for (size_t i = 1; i < stroke.point_count; ++i) cairo_line_to(cr, stroke.points[i].x, stroke.points[i].y);
  if (stroke.line_width > 0) {
    cairo_set_line_width(cr, stroke.line_width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
  } else {
    cairo_close_path(cr);
    cairo_fill(cr);
  }
  cairo_restore(cr);
}

void DrawRun(cairo_t* cr, PangoLayout* layout, const QwTextRun& run, const WindowState& state) {
  if (run.font < 0 || run.font >= kQwFontCount || run.right <= run.left || run.bottom <= run.top) return;
  const int width = run.right - run.left;
  pango_layout_set_font_description(layout, state.fonts[run.font].get());
  pango_layout_set_text(layout, run.text, -1);
  pango_layout_set_width(layout, run.end_ellipsis ? width * PANGO_SCALE : -1);
  pango_layout_set_ellipsize(layout, run.end_ellipsis ? PANGO_ELLIPSIZE_END : PANGO_ELLIPSIZE_NONE);
  PangoRectangle line{};
  pango_layout_line_get_pixel_extents(pango_layout_get_line_readonly(layout, 0), nullptr, &line);
  const int x = run.right_aligned ? run.right - line.width : run.left;

  cairo_save(cr);
  cairo_rectangle(cr, run.left, run.top, width, run.bottom - run.top);
  cairo_clip(cr);
  SetColour(cr, run.colour);
  cairo_move_to(cr, x, run.top);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
}

gboolean OnDraw(GtkWidget* /*area*/, cairo_t* cr, gpointer data) {
  auto* state = static_cast<WindowState*>(data);
  SetColour(cr, state->background);
  cairo_paint(cr);
  GObjectPtr<PangoLayout> layout(pango_cairo_create_layout(cr));
  // Stems snapped to whole pixels, as the small texts look on Windows,
  // whatever the desktop's own font settings are.
  const FontOptionsPtr options(cairo_font_options_create());
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_FULL);
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_ON);
  pango_cairo_context_set_font_options(pango_layout_get_context(layout.get()), options.get());
  pango_layout_context_changed(layout.get());
  pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
  TextPainter painter{layout.get(), state};
  const QwMeasure measure{&painter, TextWidth};
  QwPicture picture{};
  state->source.layout(state->source.context, &measure, &picture);
  for (size_t i = 0; i < picture.run_count; ++i) DrawRun(cr, layout.get(), picture.runs[i], *state);
  for (size_t i = 0; i < picture.stroke_count; ++i) DrawStroke(cr, picture.strokes[i]);
  return TRUE;
}

// The close box and Alt+F4: the person cancels the launch.
gboolean OnDelete(GtkWidget* window, GdkEvent* /*event*/, gpointer data) {
  auto* state = static_cast<WindowState*>(data);
  state->source.user_closed(state->source.context);
  gtk_widget_destroy(window);
  return TRUE;
}

// Esc while the window has the focus: the same as its close box.
gboolean OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer data) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  return OnDelete(window, nullptr, data);
}

void OnDestroy(GtkWidget* /*window*/, gpointer data) {
  std::unique_ptr<WindowState> state(static_cast<WindowState*>(data));
  if (g_window == state.get()) g_window = nullptr;
  state->source.release(state->source.context);
  if (gtk_main_level() > 0) gtk_main_quit();
}

// The dialog frame: a title and a close box, nothing to minimise, maximise or resize.
void OnRealize(GtkWidget* window, gpointer /*data*/) {
  GdkWindow* gdk_window = gtk_widget_get_window(window);
  gdk_window_set_functions(gdk_window, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
  gdk_window_set_decorations(gdk_window,
                             static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
}

// The requested size is the outer one: once a window manager has put its
// frame around the window, the client area gives up the frame's share.
gboolean OnConfigure(GtkWidget* window, GdkEvent* /*event*/, gpointer data) {
  auto* state = static_cast<WindowState*>(data);
  if (state->frame_fitted) return FALSE;
  GdkWindow* gdk_window = gtk_widget_get_window(window);
  GdkRectangle frame{};
  gdk_window_get_frame_extents(gdk_window, &frame);
  const int extra_width = frame.width - gdk_window_get_width(gdk_window);
  const int extra_height = frame.height - gdk_window_get_height(gdk_window);
  if (extra_width <= 0 && extra_height <= 0) return FALSE;
  state->frame_fitted = true;
  gtk_widget_set_size_request(state->area, state->outer_width - std::max(extra_width, 0),
                              state->outer_height - std::max(extra_height, 0));
  return FALSE;
}

int OpenDisplay(const char* wm_class) {
  static int opened = -1;
  if (opened < 0) {
    g_set_prgname(wm_class);
    gdk_set_program_class(wm_class);
    opened = gtk_init_check(nullptr, nullptr) ? 1 : 0;
  }
  return opened;
}

void ScreenSize(int* width, int* height) {
  *width = 0;
  *height = 0;
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr) return;
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  if (monitor == nullptr) return;
  GdkRectangle geometry{};
  gdk_monitor_get_geometry(monitor, &geometry);
  *width = geometry.width;
  *height = geometry.height;
}

unsigned Create(const QwWindowSpec* window_desc, const QwPaintSource* source) {
  if (gdk_display_get_default() == nullptr || g_window != nullptr) return 0;
  auto state = std::make_unique<WindowState>();
  GObjectPtr<PangoContext> context(pango_font_map_create_context(pango_cairo_font_map_get_default()));
  for (int i = 0; i < kQwFontCount; ++i) state->fonts[i] = MakeFont(context.get(), window_desc->fonts[i]);
  state->source = *source;
  state->background = window_desc->background;
  state->outer_width = window_desc->width;
  state->outer_height = window_desc->height;
  state->id = ++g_last_window_id;

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  if (window == nullptr) return 0;
  state->window = window;
  gtk_window_set_title(GTK_WINDOW(window), window_desc->title);
  gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_keep_above(GTK_WINDOW(window), TRUE);
  gtk_window_move(GTK_WINDOW(window), window_desc->left, window_desc->top);

  state->area = GTK_WIDGET(g_object_new(qw_steps_area_get_type(), nullptr));
  gtk_widget_set_size_request(state->area, window_desc->width, window_desc->height);
  gtk_container_add(GTK_CONTAINER(window), state->area);
  UpdateAccessible(state->area, state->source);

  WindowState* raw = state.release();  // owned by the window from here; freed on "destroy"
  g_signal_connect(raw->area, "draw", G_CALLBACK(OnDraw), raw);
  g_signal_connect(window, "realize", G_CALLBACK(OnRealize), raw);
  g_signal_connect(window, "configure-event", G_CALLBACK(OnConfigure), raw);
  g_signal_connect(window, "delete-event", G_CALLBACK(OnDelete), raw);
  g_signal_connect(window, "key-press-event", G_CALLBACK(OnKeyPress), raw);
  g_signal_connect(window, "destroy", G_CALLBACK(OnDestroy), raw);
  g_window = raw;
  return raw->id;
}

void Show(unsigned window_id) {
  if (g_window != nullptr && g_window->id == window_id) gtk_widget_show_all(g_window->window);
}

constexpr unsigned kMessageBits = 2;

gboolean DeliverPost(gpointer data) {
  const auto packed = GPOINTER_TO_UINT(data);
  WindowState* state = g_window;
  if (state == nullptr || state->id != packed >> kMessageBits) return G_SOURCE_REMOVE;
  switch (packed & ((1u << kMessageBits) - 1)) {
    case kQwPostStep:
      gtk_widget_queue_draw(state->area);
      UpdateAccessible(state->area, state->source);
      break;
    case kQwPostClose:
      gtk_widget_destroy(state->window);
      break;
    default:
      break;
  }
  return G_SOURCE_REMOVE;
}

// An idle source on the default context is dispatched by the main thread's
// loop, whichever thread adds it; nothing else crosses threads.
void Post(unsigned window_id, int message) {
  const unsigned packed = (window_id << kMessageBits) | (static_cast<unsigned>(message) & ((1u << kMessageBits) - 1));
  g_idle_add_full(G_PRIORITY_DEFAULT, DeliverPost, GUINT_TO_POINTER(packed), nullptr);
}

void RunLoop() {
  if (g_window != nullptr) gtk_main();
}

int ShowError(const char* caption, const char* text) {
  if (gdk_display_get_default() == nullptr) return 0;
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text);
  if (dialog == nullptr) return 0;
  gtk_window_set_title(GTK_WINDOW(dialog), caption);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  while (gtk_events_pending()) gtk_main_iteration();  // let the dialog disappear before the launcher exits
  return 1;
}

constexpr QwProgressModule kModule{kQwModuleVersion, OpenDisplay, ScreenSize, Create, Show, Post, RunLoop, ShowError};

}  // namespace

extern "C" __attribute__((visibility("default"))) const QwProgressModule* quillwave_progress_module(void) {
  return &kModule;
}
