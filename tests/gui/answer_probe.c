/* Measures how promptly a window answers while its program is busy: for SECONDS it asks the
 * window every 20 ms to redraw itself (an expose of the whole window) and to answer a
 * _NET_WM_PING, the way desktops tell a hung window, and prints the longest wait for drawing
 * (damage reported by the X server) and for the ping's answer, in milliseconds, with how many
 * of each were asked and answered. SIGTERM or SIGINT ends the measurement early.
 * Usage: answer_probe WINDOW SECONDS */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static volatile sig_atomic_t stop = 0;

static void OnStop(int signal) {
  (void)signal;
  stop = 1;
}

static int IgnoreErrors(Display* display, XErrorEvent* error) {
  (void)display;
  (void)error;
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: answer_probe WINDOW SECONDS\n");
    return 2;
  }
  Window window = (Window)strtoul(argv[1], NULL, 0);
  const double length = atof(argv[2]) * 1000;
  Display* display = XOpenDisplay(NULL);
  if (!display) return 2;
  XSetErrorHandler(IgnoreErrors);
  int damage_event, damage_error;
  if (!XDamageQueryExtension(display, &damage_event, &damage_error)) return 2;
  Window root = DefaultRootWindow(display);
  /* The ping's answer is sent to the root window for its substructure. */
  XSelectInput(display, root, SubstructureNotifyMask);
  Damage damage = XDamageCreate(display, window, XDamageReportNonEmpty);
  /* Drawing from before the first request does not answer it. */
  XSync(display, False);
  XDamageSubtract(display, damage, None, None);
  while (XPending(display)) {
    XEvent event;
    XNextEvent(display, &event);
  }
  Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  Atom ping = XInternAtom(display, "_NET_WM_PING", False);

  signal(SIGTERM, OnStop);
  signal(SIGINT, OnStop);
  const double start = Now();
  double expose_sent = -1, ping_sent = -1, next = start;
  double longest_draw = 0, longest_ping = 0;
  int exposes = 0, drawn = 0, pings = 0, answered = 0;
  long serial = 0;
  while (!stop && Now() - start < length) {
    double now = Now();
    if (now >= next) {
      next = now + 20;
      if (expose_sent < 0) {
        XClearArea(display, window, 0, 0, 0, 0, True);
        expose_sent = now;
        ++exposes;
      }
      if (ping_sent < 0) {
        XEvent event = {0};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long)ping;
        event.xclient.data.l[1] = ++serial;
        event.xclient.data.l[2] = (long)window;
        XSendEvent(display, window, False, NoEventMask, &event);
        ping_sent = now;
        ++pings;
      }
      XFlush(display);
    }
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      now = Now();
      if (event.type == damage_event + XDamageNotify) {
        XDamageSubtract(display, damage, None, None);
        if (expose_sent >= 0) {
          if (now - expose_sent > longest_draw) longest_draw = now - expose_sent;
          if (now - expose_sent > 100)
            fprintf(stderr, "at %.0f ms: %.0f ms without drawing\n", expose_sent - start,
                    now - expose_sent);
          expose_sent = -1;
          ++drawn;
        }
      } else if (event.type == ClientMessage && event.xclient.message_type == protocols &&
                 (Atom)event.xclient.data.l[0] == ping && event.xclient.data.l[1] == serial &&
                 ping_sent >= 0) {
        if (now - ping_sent > longest_ping) longest_ping = now - ping_sent;
        ping_sent = -1;
        ++answered;
      }
    }
    struct pollfd fd = {ConnectionNumber(display), POLLIN, 0};
    poll(&fd, 1, 2);
  }
  /* A request still waiting at the end counts for as long as it waited. */
  if (expose_sent >= 0 && Now() - expose_sent > longest_draw) longest_draw = Now() - expose_sent;
  if (ping_sent >= 0 && Now() - ping_sent > longest_ping) longest_ping = Now() - ping_sent;
  printf("longest wait for drawing %.0f ms (%d of %d drawn), for the ping %.0f ms (%d of %d)\n",
         longest_draw, drawn, exposes, longest_ping, answered, pings);
  XCloseDisplay(display);
  return 0;
}
