// Test programs run under a UTF-8 character locale, as the program does on a desktop, so that
// case folding folds Cyrillic and other letters beyond ASCII.
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
