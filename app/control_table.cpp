#include "app/control_table.h"

#include "desktop/image_table.h"

namespace {

constexpr const char* kModeItems[] = {
    "Уникальные строки 2-го файла, которых нет в первом",
    "Одинаковые строки в 2-х файлах",
    "Уникальные строки одного файла, удаляет повторы",
    "Подсчёт уникальных строк одного файла",
    "Объединить строки 2-х файлов",
    "Уникальные строки 1-го файла, которых нет во втором",
    "Все строки 2-х файлов без повторов",
    "Строки, которые есть только в одном из 2-х файлов",
    "Повторяющиеся строки одного файла",
};
// Escapes are shown as typed, backslash and letter; a run expands them.
constexpr const char* kReadSeparatorItems[] = {
    "\\r\\n",
    "\\n",
    "\\r\\n\\t\\f",
    "Введите ваш разделитель",
};
constexpr const char* kResultSeparatorItems[] = {
    "\\r\\n",
    "Введите ваш разделитель",
};

constexpr const char* kStatusText = "Выберите два файла и нажмите «Старт»";

constexpr const char* kOpenTip = "Открыть файл";
constexpr const char* kPasteTip = "Вставить из буфера обмена";
// TrimCheck and FoldYoCheck share their rows with CaseCheck and WholeSeparatorCheck and have
// room for a few words only: their tooltips say the rest.
constexpr const char* kTrimTip = "Убирать пробелы в начале и в конце каждой строки";
constexpr const char* kFoldYoTip = "Буквы ё и е считаются одной буквой: «ёлка» = «елка»";

using K = ControlKind;
// clang-format off
const ControlRow kControls[kControlCount] = {
  {LabelFirst, "LabelFirst", K::Label, 12, 13, 17, 28, "1", {}, kNoState, nullptr, kNoIcon},
  {LabelSecond, "LabelSecond", K::Label, 12, 68, 17, 28, "2", {}, kNoState, nullptr, kNoIcon},
  {LabelReadSeparator, "LabelReadSeparator", K::Label, 10, 133, 250, 28,
   "Разделитель при чтении", {}, kNoState, nullptr, kNoIcon},
  {LabelResultSeparator, "LabelResultSeparator", K::Label, 10, 163, 250, 28,
   "Разделитель в результатах", {}, kNoState, nullptr, kNoIcon},
  {FieldFirst, "FieldFirst", K::InputField, 45, 10, 388, 33, "", {}, kNoState, nullptr, kNoIcon},
  {FieldSecond, "FieldSecond", K::InputField, 45, 60, 388, 33, "", {}, kNoState, nullptr, kNoIcon},
  {OpenFirst, "OpenFirst", K::ImageButton, 436, 10, 36, 33, nullptr, {}, kNoState, kOpenTip, IconOpen},
  {OpenSecond, "OpenSecond", K::ImageButton, 436, 60, 36, 33, nullptr, {}, kNoState, kOpenTip, IconOpen},
  {PasteFirst, "PasteFirst", K::ImageButton, 476, 10, 36, 33, nullptr, {}, kNoState, kPasteTip, IconPaste},
  {PasteSecond, "PasteSecond", K::ImageButton, 476, 60, 36, 33, nullptr, {}, kNoState, kPasteTip, IconPaste},
  {ModeBox, "ModeBox", K::ChoiceBox, 20, 99, 490, 28, nullptr, kModeItems, 0, nullptr, kNoIcon},
  {ReadSeparatorBox, "ReadSeparatorBox", K::EditableChoiceBox, 260, 130, 250, 28, nullptr,
   kReadSeparatorItems, 0, nullptr, kNoIcon},
  {ResultSeparatorBox, "ResultSeparatorBox", K::EditableChoiceBox, 260, 160, 250, 28, nullptr,
   kResultSeparatorItems, 0, nullptr, kNoIcon},
  {CaseCheck, "CaseCheck", K::CheckBox, 45, 190, 190, 23, "Учитывать регистр", {}, 1, nullptr, kNoIcon},
  {WholeSeparatorCheck, "WholeSeparatorCheck", K::CheckBox, 45, 213, 270, 23,
   "Вся строка как один разделитель", {}, 0, nullptr, kNoIcon},
  {SwapButton, "SwapButton", K::ImageButton, 3, 33, 36, 36, nullptr, {}, kNoState, nullptr, IconSwap},
  {StartButton, "StartButton", K::PushButton, 420, 205, 90, 43, "Старт", {}, kNoState, nullptr, kNoIcon},
  {StatusLine, "StatusLine", K::Label, 5, 242, 410, 23, kStatusText, {}, kNoState, nullptr, kNoIcon},
  // Beside CaseCheck and WholeSeparatorCheck, where their rows are free up to StartButton's
  // column: nothing built before them moves.
  {TrimCheck, "TrimCheck", K::CheckBox, 240, 190, 175, 23, "Обрезать пробелы", {}, 0, kTrimTip,
   kNoIcon},
  {FoldYoCheck, "FoldYoCheck", K::CheckBox, 330, 213, 85, 23, "ё как е", {}, 0, kFoldYoTip,
   kNoIcon},
};
// clang-format on

// The check boxes follow each other, so a screen reader's list of the window keeps them together.
constexpr int kCreationOrder[kControlCount] = {
    LabelFirst,       LabelSecond,          FieldFirst,         FieldSecond, OpenFirst,
    OpenSecond,       PasteFirst,           PasteSecond,        ModeBox,     LabelReadSeparator,
    ReadSeparatorBox, LabelResultSeparator, ResultSeparatorBox, CaseCheck,   WholeSeparatorCheck,
    TrimCheck,        FoldYoCheck,          SwapButton,         StartButton, StatusLine,
};

// A name says which list a button works on: a screen reader speaks the name first and the
// tooltip after it.
constexpr ControlVoice kVoices[] = {
    {FieldFirst, "Первый список", 0, false},
    {FieldSecond, "Второй список", 0, false},
    {OpenFirst, "Открыть файл — первый список", 0, false},
    {OpenSecond, "Открыть файл — второй список", 0, false},
    {PasteFirst, "Вставить из буфера обмена — первый список", 0, false},
    {PasteSecond, "Вставить из буфера обмена — второй список", 0, false},
    {SwapButton, "Поменять списки местами", 0, false},
    {ModeBox, "Операция", 0, false},
    {ReadSeparatorBox, nullptr, LabelReadSeparator, false},
    {ResultSeparatorBox, nullptr, LabelResultSeparator, false},
    {StatusLine, nullptr, 0, true},
    {TrimCheck, "Обрезать пробелы по краям строк", 0, false},
    {FoldYoCheck, "Считать ё как е", 0, false},
};

}  // namespace

const ControlVoice* FindControlVoice(int number) {
  for (const ControlVoice& voice : kVoices) {
    if (voice.control == number) return &voice;
  }
  return nullptr;
}

const char* const kInitialStatusText = kStatusText;

const ControlRow* FindControlRow(int number) {
  if (number < 1 || number > kControlCount) return nullptr;
  return &kControls[number - 1];
}

std::span<const ControlRow> ControlRows() {
  return kControls;
}

std::span<const int> ControlCreationOrder() {
  return kCreationOrder;
}
