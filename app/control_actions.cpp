#include "app/control_actions.h"

#include <cstdint>

#include "app/control_table.h"
#include "app/controls.h"
#include "app/event_queue.h"
#include "app/run_from_window.h"
#include "core/text.h"
#include "core/text_file.h"
#include "desktop/clipboard.h"
#include "desktop/file_chooser.h"
#include "desktop/file_drop.h"
#include "engine/run.h"

namespace {

// The item "Введите ваш разделитель" of each separator box.
constexpr int kOwnReadSeparatorItem = 3;
constexpr int kOwnResultSeparatorItem = 1;

// Lists come as text exports, often named in capitals by Windows programs; the second filter
// shows everything else.
constexpr char16_t kListFilters[] =
    u"Текстовые файлы|*.txt;*.TXT;*.csv;*.CSV;*.tsv;*.TSV;*.lst;*.LST|Все файлы|*";
constexpr int kTextFilesFilter = 0;
constexpr int kAllFilesFilter = 1;

bool LooksLikeTextFile(TextView path) {
  const size_t dot = path.rfind(u'.');
  if (dot == TextView::npos || path.find(u'/', dot) != TextView::npos) return false;
  Text extension(path.substr(dot + 1));
  for (char16_t& c : extension)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return extension == u"txt" || extension == u"csv" || extension == u"tsv" || extension == u"lst";
}

// The file chooser of both open buttons puts the chosen path into its field; a cancel leaves
// the field as it was. It starts at the field's file, when the field names one, so that the
// next list of the same folder is a click away; otherwise in the working directory.
void OpenInto(Program& program, int field) {
  Text start = ControlText(program, field);
  int filter = kTextFilesFilter;
  if (start.empty() || FirstUnit(start) == u'<' || QueryFileSize(start) < 0) {
    start = CurrentDirectoryPath();
  } else {
    if (FirstUnit(start) != u'/') start = CurrentDirectoryPath() + start;
    // The file it starts at must be listed.
    if (!LooksLikeTextFile(start)) filter = kAllFilesFilter;
  }
  const Text path = ChooseFileToOpen(u"Открыть файл", start, kListFilters, filter);
  if (!path.empty()) SetControlText(program, field, path);
}

// The clipboard's text is kept now, not read at the run: the marker in the field stands for
// this text. The counter only grows, so a new paste always shows a new marker.
void PasteInto(Program& program, int field, Text& kept, int32_t& count) {
  kept = ClipboardText();
  ++count;
  // Built by appending: GCC 12 at -O3 misreads the inlined insert of "<" + text as an
  // overlapping copy (-Wrestrict).
  Text marker = u"<";
  marker += TextFromInteger(count);
  marker += u'>';
  SetControlText(program, field, marker);
}

// The marker travels with its kept text; the counters stay with their buttons.
void SwapSources(Program& program) {
  const Text first = ControlText(program, FieldFirst);
  SetControlText(program, FieldFirst, ControlText(program, FieldSecond));
  SetControlText(program, FieldSecond, first);
  program.ClipboardFirst.swap(program.ClipboardSecond);
  SetControlText(program, StatusLine, u"Элементы поменяны местами");
}

// Choosing the box's own-separator item clears it for typing.
void OfferOwnSeparator(Program& program, int box, int type, int own_item) {
  if (type != ValueChanged || ControlState(program, box) != own_item) return;
  SetControlText(program, box, u"");
  FocusControl(program, box);
}

// An operation that reads the first source only greys the second field, its text kept for
// when another operation is chosen. With no operation chosen the field stays usable.
void FollowOperation(Program& program, int type) {
  const int mode = ControlState(program, ModeBox);
  const bool chosen =
      mode >= 0 && static_cast<size_t>(mode) < FindControlRow(ModeBox)->items.size();
  const bool one_source =
      type == ValueChanged && chosen && !UsesSecondSource(static_cast<Operation>(mode));
  SetControlEnabled(program, FieldSecond, !one_source);
}

}  // namespace

void RunControlAction(Program& program, int control, int type) {
  switch (control) {
    case OpenFirst:
      OpenInto(program, FieldFirst);
      break;
    case OpenSecond:
      OpenInto(program, FieldSecond);
      break;
    case PasteFirst:
      PasteInto(program, FieldFirst, program.ClipboardFirst, program.PasteCountFirst);
      break;
    case PasteSecond:
      PasteInto(program, FieldSecond, program.ClipboardSecond, program.PasteCountSecond);
      break;
    case ModeBox:
      FollowOperation(program, type);
      break;
    case ReadSeparatorBox:
      OfferOwnSeparator(program, control, type, kOwnReadSeparatorItem);
      break;
    case ResultSeparatorBox:
      OfferOwnSeparator(program, control, type, kOwnResultSeparatorItem);
      break;
    case SwapButton:
      SwapSources(program);
      break;
    case StartButton:
      StartRunFromWindow(program);
      break;
    // The fields, labels and check boxes are only read when a run starts.
    default:
      break;
  }
}

void RunDropAction(Program& program, int control, const DropEvent* drop) {
  if (control != FieldFirst && control != FieldSecond) return;
  const Text names = DroppedFileList(drop);
  const Text first = names.substr(0, names.find(u'\n'));
  // A missing path (-1) or a directory (-2) empties the field; an empty file is a list too.
  SetControlText(program, control, QueryFileSize(first) >= 0 ? first : Text());
}
