// One run as the window makes it, removing the repeats of LIST, with the window's result file
// name in DIR instead of /tmp; prints what the run asks of the window, one request a line
// ("status:TEXT", "viewer:PATH", ...). The two-user test runs it as each user in turn.
// Usage: window_run DIR LIST
#include <cstdio>
#include <string>

#include "core/utf8.h"
#include "engine/run.h"

namespace {

class PrintingHost : public RunHost {
 public:
  void SetStatus(const Text& text) override { Print("status", Utf8FromText(text)); }
  void ShowError(const Text& message, const Text& detail) override {
    Print("error", Utf8FromText(message) + (detail.empty() ? "" : " | " + Utf8FromText(detail)));
  }
  void LockControls(bool locked) override { Print(locked ? "lock" : "unlock", ""); }
  void LaunchViewer(const Text& path) override { Print("viewer", Utf8FromText(path)); }

 private:
  static void Print(const char* request, const std::string& detail) {
    std::printf("%s:%s\n", request, detail.c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: window_run DIR LIST\n", stderr);
    return 2;
  }
  RunRequest request;
  request.operation = Operation::ModeDeduplicate;
  request.first_field = TextFromUtf8(argv[2]);
  request.read_separator = u"\\r\\n";
  request.result_separator = u"\\r\\n";
  PrintingHost host;
  RunComparison(request, host, TextFromUtf8(std::string(argv[1]) + "/~ListwiseData.txt"));
  return 0;
}
