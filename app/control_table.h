// The twenty controls of MainWindow: their numbers, kinds and what each shows at start.
// Plain data, free of GTK, so the table can be checked without a display.
#pragma once

#include <span>

enum ControlNumber : int {
  LabelFirst = 1,
  LabelSecond = 2,
  LabelReadSeparator = 3,
  LabelResultSeparator = 4,
  FieldFirst = 5,
  FieldSecond = 6,
  OpenFirst = 7,
  OpenSecond = 8,
  PasteFirst = 9,
  PasteSecond = 10,
  ModeBox = 11,
  ReadSeparatorBox = 12,
  ResultSeparatorBox = 13,
  CaseCheck = 14,
  WholeSeparatorCheck = 15,
  SwapButton = 16,
  StartButton = 17,
  StatusLine = 18,
  TrimCheck = 19,
  FoldYoCheck = 20,
};
inline constexpr int kControlCount = 20;

enum class ControlKind {
  Label,
  InputField,
  ImageButton,
  PushButton,
  ChoiceBox,
  EditableChoiceBox,
  CheckBox,
};

inline constexpr int kNoIcon = -1;
inline constexpr int kNoState = -1;

struct ControlRow {
  int number;
  const char* name;
  ControlKind kind;
  // Position and size at the initial window width of 520.
  int x, y, width, height;
  const char* text;  // UTF-8; nullptr when the control shows none
  std::span<const char* const> items;
  int initial_state;  // selected item or check mark; kNoState when the kind has none
  const char* tooltip;
  int icon;
};

inline constexpr int kInitialWindowWidth = 520;
inline constexpr int kInitialWindowHeight = 265;

// The row of a control number from 1 to kControlCount; nullptr for any other number.
const ControlRow* FindControlRow(int number);

// Every row, by number.
std::span<const ControlRow> ControlRows();

// The order in which the window builds its controls; the later of two overlapping controls
// lies above (the swap button over the labels "1" and "2"). The command-line arguments go into
// the fields right after FieldSecond.
std::span<const int> ControlCreationOrder();

// What a screen reader speaks for a control whose own texts would say too little: an image
// button shows no text, both open buttons and both paste buttons share one tooltip, the fields'
// labels are only "1" and "2", a choice box's own name is its selected item, and the labels of
// the trimming and ё check boxes are cut short to fit their room.
struct ControlVoice {
  int control;
  const char* name;  // UTF-8; nullptr: the text of the label
  int label;         // the label that names the control on screen; 0 when none does
  bool live_status;  // read out as the window's status line whenever its text changes
};

// The voice of a control number; nullptr when the control's own text serves (the labels,
// CaseCheck and WholeSeparatorCheck, StartButton).
const ControlVoice* FindControlVoice(int number);

// The first words the status line shows, before any run has reported.
extern const char* const kInitialStatusText;
