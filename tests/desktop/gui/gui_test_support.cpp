#include "tests/desktop/gui/gui_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtk/gtk.h>

#include <chrono>

#include <gtest/gtest.h>

#include "desktop/gtk_events.h"

using Clock = std::chrono::steady_clock;

bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    ProcessPendingEvents();
    if (done()) return true;
    g_usleep(5000);
  }
  return done();
}

void Pump(int ms) {
  PumpUntil([] { return false; }, ms);
}

Child::Child(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out = -1;
  if (g_spawn_async_with_pipes(
          nullptr, argv.data(), nullptr,
          GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
          nullptr, nullptr, &pid_, nullptr, &out, nullptr, nullptr)) {
    out_ = out;
    fcntl(out_, F_SETFL, O_NONBLOCK);
  }
}

Child::~Child() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

const std::string& Child::output() {
  char buffer[512];
  ssize_t n;
  while (out_ >= 0 && (n = read(out_, buffer, sizeof buffer)) > 0) output_.append(buffer, n);
  return output_;
}

bool Child::Exited() {
  if (!exited_ && pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) exited_ = true;
  return exited_;
}

// Every test of the program talks to the session's display through GTK.
int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
