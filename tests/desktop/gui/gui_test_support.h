// Helpers of the desktop tests that run against a real X display, inside
// tests/gui/xvfb_session.sh --wm.
#pragma once

#include <sys/types.h>

#include <glib.h>

#include <functional>
#include <string>
#include <vector>

// Lets GTK handle events until `done` holds or the time is up; true when `done` held.
bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000);
void Pump(int ms);

// Another process of the test, ended and collected when the object goes.
class Child {
 public:
  explicit Child(std::vector<std::string> args);
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();
  bool started() const { return pid_ > 0; }
  // Everything the child printed so far on its standard output.
  const std::string& output();
  bool Exited();

 private:
  GPid pid_ = 0;
  int out_ = -1;
  bool exited_ = false;
  std::string output_;
};
