#include "app/program_values.h"

#ifdef LISTWISE_HAVE_ENGINE
#include "engine/operations.h"
#endif

Text ClipboardFirst;
Text ClipboardSecond;
int32_t PasteCountFirst = 0;
int32_t PasteCountSecond = 0;

void ResetProgramValues() {
#ifdef LISTWISE_HAVE_ENGINE
  FoundCount = 0;
#else
  // TODO: set the engine's FoundCount to 0 here once engine/operations.h exists.
#endif
  ClipboardFirst.clear();
  ClipboardSecond.clear();
  PasteCountFirst = 0;
  PasteCountSecond = 0;
}
