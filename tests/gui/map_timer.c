/* Starts a program and prints the milliseconds from its exec to the first top-level window
 * it maps, as the X server reports it. Used under a bare Xvfb (no window manager), where
 * top-level windows are direct children of the root.
 * Usage: map_timer program args... */
#include <X11/Xlib.h>
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
  Window root = DefaultRootWindow(display);
  XSelectInput(display, root, SubstructureNotifyMask);
  XSync(display, False);

  double start = Now();
  pid_t child = fork();
  if (child == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int code = 1;
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MapNotify && !event.xmap.override_redirect) {
      printf("%.1f\n", Now() - start);
      code = 0;
      break;
    }
  }
  kill(child, SIGTERM);
  waitpid(child, NULL, 0);
  XCloseDisplay(display);
  return code;
}
