#include "app/control_actions.h"

#include "app/control_table.h"

// The controls take no action yet: the window only reports. Each case below is where that
// control's action belongs.
void RunControlAction(int control, int type) {
  static_cast<void>(type);
  switch (control) {
    case FieldFirst:
    case FieldSecond:
    case OpenFirst:
    case OpenSecond:
    case PasteFirst:
    case PasteSecond:
    case ModeBox:
    case ReadSeparatorBox:
    case ResultSeparatorBox:
    case SwapButton:
    case StartButton:
    default:
      break;
  }
}

void RunDropAction(int control) {
  switch (control) {
    case FieldFirst:
    case FieldSecond:
    default:
      break;
  }
}
