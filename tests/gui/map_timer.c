/* Starts a program and prints two times in milliseconds from its exec: until the first
 * top-level window it maps, and until that window shows drawn content (any pixel differing
 * from the others, that is more than the bare background). Used under a bare Xvfb (no window
 * manager), where top-level windows are direct children of the root.
 * Usage: map_timer program args... */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static int IgnoreErrors(Display* display, XErrorEvent* error) {
  (void)display;
  (void)error;
  return 0;
}

/* 1 when the window holds more than one colour. */
static int ShowsContent(Display* display, Window window) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes)) return 0;
  XImage* image =
      XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  if (!image) return 0;
  unsigned long first = XGetPixel(image, 0, 0);
  int varied = 0;
  for (int y = 0; y < attributes.height && !varied; ++y) {
    for (int x = 0; x < attributes.width; ++x) {
      if (XGetPixel(image, x, y) != first) {
        varied = 1;
        break;
      }
    }
  }
  XDestroyImage(image);
  return varied;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: map_timer program args...\n");
    return 2;
  }
  Display* display = XOpenDisplay(NULL);
  if (!display) {
    fprintf(stderr, "map_timer: no display\n");
    return 2;
  }
  XSetErrorHandler(IgnoreErrors);
  Window root = DefaultRootWindow(display);
  XSelectInput(display, root, SubstructureNotifyMask);
  XSync(display, False);

  double start = Now();
  pid_t child = fork();
  if (child == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  double mapped = -1;
  Window window = 0;
  while (mapped < 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MapNotify && !event.xmap.override_redirect) {
      mapped = Now() - start;
      window = event.xmap.window;
    }
  }
  double drawn = -1;
  while (drawn < 0 && Now() - start < 20000) {
    if (ShowsContent(display, window)) {
      drawn = Now() - start;
    } else {
      usleep(1000);
    }
  }
  printf("%.1f %.1f\n", mapped, drawn);
  kill(child, SIGTERM);
  waitpid(child, NULL, 0);
  XCloseDisplay(display);
  return 0;
}
