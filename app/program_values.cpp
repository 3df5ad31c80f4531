#include "app/program_values.h"

#include "engine/operations.h"

Text ClipboardFirst;
Text ClipboardSecond;
int32_t PasteCountFirst = 0;
int32_t PasteCountSecond = 0;

void ResetProgramValues() {
  FoundCount = 0;
  ClipboardFirst.clear();
  ClipboardSecond.clear();
  PasteCountFirst = 0;
  PasteCountSecond = 0;
}
