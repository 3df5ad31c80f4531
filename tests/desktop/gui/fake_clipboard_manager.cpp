// A clipboard manager of the test's own, working as the desktop's do: it owns the
// CLIPBOARD_MANAGER selection; asked to convert it to SAVE_TARGETS by a program that is about to
// exit, it fetches the clipboard's text from that program, answers, and then owns the
// CLIPBOARD itself, offering the saved text. Prints "ready" once it is the manager and "saved"
// after each take-over. Only text is kept, which is all the tests need.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

Bool IsSelectionNotify(Display*, XEvent* event, XPointer) {
  return event->type == SelectionNotify;
}

// Asks the clipboard's owner for its text; false when it gives none.
bool FetchText(Display* display, Window window, Atom clipboard, Atom utf8, Atom property, Time time,
               std::string* text) {
  XConvertSelection(display, clipboard, utf8, property, window, time);
  XEvent event;
  XIfEvent(display, &event, IsSelectionNotify, nullptr);
  if (event.xselection.property == None) return false;
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, True, AnyPropertyType, &type,
                         &format, &count, &after, &data) != Success) {
    return false;
  }
  text->assign(reinterpret_cast<char*>(data), count);
  XFree(data);
  return true;
}

}  // namespace

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 1;
  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  const Atom manager = XInternAtom(display, "CLIPBOARD_MANAGER", False);
  const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  const Atom save_targets = XInternAtom(display, "SAVE_TARGETS", False);
  const Atom targets = XInternAtom(display, "TARGETS", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  const Atom fetched = XInternAtom(display, "LISTWISE_FETCHED", False);

  XSetSelectionOwner(display, manager, window, CurrentTime);
  if (XGetSelectionOwner(display, manager) != window) return 1;
  std::printf("ready\n");
  std::fflush(stdout);

  std::string saved;
  bool owns_clipboard = false;
  while (true) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == SelectionClear && event.xselectionclear.selection == clipboard) {
      owns_clipboard = false;
      continue;
    }
    if (event.type != SelectionRequest) continue;
    const XSelectionRequestEvent& request = event.xselectionrequest;
    const Atom property = request.property != None ? request.property : request.target;
    XSelectionEvent reply = {};
    reply.type = SelectionNotify;
    reply.display = display;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.property = None;
    reply.time = request.time;

    bool took_over = false;
    if (request.selection == manager && request.target == save_targets) {
      std::string text;
      if (FetchText(display, window, clipboard, utf8, fetched, request.time, &text)) {
        saved = text;
        took_over = true;
      }
      reply.property = property;
    } else if (request.selection == clipboard && owns_clipboard) {
      if (request.target == targets) {
        const Atom offered[] = {targets, utf8};
        XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(offered), 2);
        reply.property = property;
      } else if (request.target == utf8) {
        XChangeProperty(display, request.requestor, property, utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(saved.data()),
                        static_cast<int>(saved.size()));
        reply.property = property;
      }
    }
    XSendEvent(display, request.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
    if (took_over) {
      XSetSelectionOwner(display, clipboard, window, CurrentTime);
      owns_clipboard = XGetSelectionOwner(display, clipboard) == window;
      std::printf("saved\n");
      std::fflush(stdout);
    }
    XFlush(display);
  }
}
