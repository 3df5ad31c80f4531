#include "app/stop_signals.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "app/event_queue.h"

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// The handler only writes to this pipe; the main loop watches its other end. GLib's own
// signal sources know no SIGQUIT, and one way in for all four keeps them alike.
int wake_pipe[2] = {-1, -1};
volatile sig_atomic_t first_signal = 0;

void OnStopSignal(int signal) {
  const int saved = errno;
  if (first_signal == 0) first_signal = signal;
  const char byte = 1;
  // A full pipe already holds a wake-up.
  (void)!write(wake_pipe[1], &byte, 1);
  errno = saved;
}

// Answers every dialog on the screen, so that the nested loop that runs it returns.
void CloseDialogs() {
  GList* windows = gtk_window_list_toplevels();
  for (GList* w = windows; w != nullptr; w = w->next)
    if (GTK_IS_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data)))
      gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_DELETE_EVENT);
  g_list_free(windows);
}

gboolean OnWakeUp(gint fd, GIOCondition, gpointer data) {
  char bytes[64];
  while (read(fd, bytes, sizeof bytes) > 0) {
  }
  PostEvent(static_cast<Program*>(data)->events, CloseRequested, 0, 0);
  CloseDialogs();
  return G_SOURCE_CONTINUE;
}

}  // namespace

void CloseOnStopSignals(Program& program) {
  if (wake_pipe[0] < 0 && pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_unix_fd_add(wake_pipe[0], G_IO_IN, OnWakeUp, &program);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Nothing on the main thread waits without a timeout: calls may as well go on.
  action.sa_flags = SA_RESTART;
  for (int signal : kStopSignals) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

bool StopSignalCame() {
  return first_signal != 0;
}

void EndByTerminalSignal() {
  const int signal = first_signal;
  if (signal != SIGINT && signal != SIGQUIT) return;
  // Everything was cleaned up: a core would hold nothing but the lists.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
  _exit(128 + signal);
}
