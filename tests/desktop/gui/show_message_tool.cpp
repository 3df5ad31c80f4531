// Shows one message box and reports when the call has returned, for the message box test.
// Usage: show_message_tool KIND TITLE TEXT
// Prints "closed" once ShowMessage has returned, then waits for a line (or the end) on its
// standard input before it exits, so that the test can look at the screen in between.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/utf8.h"
#include "desktop/message_box.h"

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: show_message_tool KIND TITLE TEXT\n");
    return 2;
  }
  ShowMessage(TextFromUtf8(argv[2]), TextFromUtf8(argv[3]), std::atoi(argv[1]));
  std::printf("closed\n");
  std::fflush(stdout);
  std::string line;
  std::getline(std::cin, line);
  return 0;
}
