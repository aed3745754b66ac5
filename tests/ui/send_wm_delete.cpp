// Asks an X11 window to close the way a window manager's close button does:
// a WM_DELETE_WINDOW client message under WM_PROTOCOLS.
//   quillwave-send-wm-delete WINDOW-ID
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct CloseDisplay {
  void operator()(Display* display) const { XCloseDisplay(display); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s WINDOW-ID\n", argv[0]);
    return 2;
  }
  const std::unique_ptr<Display, CloseDisplay> display(XOpenDisplay(nullptr));
  if (!display) {
    std::fprintf(stderr, "cannot open the display\n");
    return 1;
  }
  const Window window = std::strtoul(argv[1], nullptr, 0);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display.get(), window, False, NoEventMask, &event);
  XSync(display.get(), False);
  return sent != 0 ? 0 : 1;
}
