// The controls as built by start-up, driven through the control access in a real GTK window.
// Runs inside a private X session (tests/gui/xvfb_session.sh).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <clocale>
#include <string>
#include <vector>

#include "app/control_actions.h"
#include "app/control_table.h"
#include "app/controls.h"
#include "app/event_queue.h"
#include "app/main_window.h"
#include "app/program.h"
#include "app/run_from_window.h"
#include "app/window_layout.h"
#include "core/utf8.h"
#include "desktop/gtk_events.h"

namespace {

Text T(const char* utf8) {
  return TextFromUtf8(utf8);
}
std::string U(const Text& text) {
  return Utf8FromText(text);
}

// The window of the whole test program, opened once by the first test that needs it.
Program program;

// The control reports that reached the queue since the last call, as (control, type) pairs.
std::vector<std::pair<int, int>> TakeReports() {
  ProcessPendingEvents();
  std::vector<std::pair<int, int>> reports;
  while (auto event = program.events.Take()) {
    if (event->kind == ControlActivity) reports.emplace_back(event->control, event->type);
  }
  return reports;
}

using Reports = std::vector<std::pair<int, int>>;

struct Spot {
  int x, y, width, height;
  bool operator==(const Spot&) const = default;
};

Spot PlaceOf(int control) {
  GtkWidget* outer = ControlOuterWidget(program, control);
  Spot s{};
  gtk_container_child_get(GTK_CONTAINER(MainLayout(program)), outer, "x", &s.x, "y", &s.y, nullptr);
  gtk_widget_get_size_request(outer, &s.width, &s.height);
  return s;
}

class Window : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(OpenWindowWithControls(program, {T("/tmp/первый.txt"), T("second.txt")}));
    ProcessPendingEvents();
  }
  void SetUp() override { TakeReports(); }
};

TEST_F(Window, StartsWithTheValuesOfTheTable) {
  const struct {
    int control;
    const char* text;
    int state;
  } cases[] = {
      {LabelFirst, "1", kNoState},
      {LabelReadSeparator, "Разделитель при чтении", kNoState},
      {FieldFirst, "/tmp/первый.txt", kNoState},
      {FieldSecond, "second.txt", kNoState},
      {ModeBox, "Уникальные строки 2-го файла, которых нет в первом", 0},
      {ReadSeparatorBox, "\\r\\n", 0},
      {ResultSeparatorBox, "\\r\\n", 0},
      {CaseCheck, "Учитывать регистр", 1},
      {WholeSeparatorCheck, "Вся строка как один разделитель", 0},
      {TrimCheck, "Обрезать пробелы", 0},
      {FoldYoCheck, "ё как е", 0},
      {StartButton, "Старт", kNoState},
      {OpenFirst, "", kNoState},
      {StatusLine, kInitialStatusText, kNoState},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(U(ControlText(program, c.control)), c.text) << FindControlRow(c.control)->name;
    EXPECT_EQ(ControlState(program, c.control), c.state) << FindControlRow(c.control)->name;
  }
  for (const ControlRow& row : ControlRows()) {
    EXPECT_TRUE(ControlEnabled(program, row.number)) << row.name;
    EXPECT_EQ(PlaceOf(row.number), (Spot{row.x, row.y, row.width, row.height})) << row.name;
  }
}

TEST_F(Window, ChangesMadeByTheProgramRaiseNoEvents) {
  SetControlText(program, FieldFirst, T("a.txt"));
  SetControlText(program, FieldSecond, T(""));
  SetControlText(program, ModeBox, T("Объединить строки 2-х файлов"));
  SetControlState(program, ModeBox, 2);
  SetControlText(program, ReadSeparatorBox, T(";"));
  SetControlState(program, ResultSeparatorBox, 1);
  SetControlState(program, CaseCheck, 0);
  SetControlText(program, StatusLine, T("Элементы поменяны местами"));
  EXPECT_EQ(TakeReports(), Reports{});
  EXPECT_EQ(U(ControlText(program, StatusLine)), "Элементы поменяны местами");
  SetControlState(program, CaseCheck, 1);
  SetControlState(program, ModeBox, 0);
  SetControlState(program, ReadSeparatorBox, 0);
  SetControlState(program, ResultSeparatorBox, 0);
  TakeReports();
}

// The same changes made the way GTK sees a user's are reported, a burst of them once.
TEST_F(Window, ChangesOfTheUserAreReportedOnceEach) {
  GtkWidget* field = ControlWidget(program, FieldSecond);
  gtk_entry_set_text(GTK_ENTRY(field), "x");
  gtk_entry_set_text(GTK_ENTRY(field), "xy");
  gtk_entry_set_text(GTK_ENTRY(field), "xyz");
  EXPECT_EQ(TakeReports(), (Reports{{FieldSecond, ValueChanged}}));

  gtk_combo_box_set_active(GTK_COMBO_BOX(ControlWidget(program, ModeBox)), 3);
  gtk_button_clicked(GTK_BUTTON(ControlWidget(program, StartButton)));
  gtk_button_clicked(GTK_BUTTON(ControlWidget(program, SwapButton)));
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ControlWidget(program, WholeSeparatorCheck)),
                               TRUE);
  EXPECT_EQ(TakeReports(), (Reports{{ModeBox, ValueChanged},
                                    {StartButton, Clicked},
                                    {SwapButton, Clicked},
                                    {WholeSeparatorCheck, Clicked}}));

  // Typing into a separator box: the entry's edit and the box dropping its selection are
  // one report.
  GtkWidget* combo = ControlWidget(program, ReadSeparatorBox);
  gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo))), ";");
  EXPECT_EQ(TakeReports(), (Reports{{ReadSeparatorBox, ValueChanged}}));

  SetControlState(program, ModeBox, 0);
  SetControlState(program, WholeSeparatorCheck, 0);
  SetControlState(program, ReadSeparatorBox, 0);
  SetControlText(program, FieldSecond, T("second.txt"));
}

// Enter in a text of a run's request is a click on Старт, and like a click it does nothing
// while the button is greyed by a run.
TEST_F(Window, EnterInAFieldOrSeparatorClicksStart) {
  for (int control : {FieldFirst, FieldSecond, ReadSeparatorBox, ResultSeparatorBox}) {
    GtkWidget* widget = ControlWidget(program, control);
    GtkWidget* entry = GTK_IS_ENTRY(widget) ? widget : gtk_bin_get_child(GTK_BIN(widget));
    const char* name = FindControlRow(control)->name;
    g_signal_emit_by_name(entry, "activate");
    EXPECT_EQ(TakeReports(), (Reports{{StartButton, Clicked}})) << name;
    SetControlEnabled(program, StartButton, false);
    g_signal_emit_by_name(entry, "activate");
    EXPECT_EQ(TakeReports(), Reports{}) << name << " with Старт greyed";
    SetControlEnabled(program, StartButton, true);
  }
}

// The button a person tabs to in ModeBox says which operation is chosen, whoever chose it.
TEST_F(Window, ModeBoxButtonDescribesTheChosenOperation) {
  GtkWidget* button = ChoiceBoxButton(program, ModeBox);
  ASSERT_NE(button, nullptr);
  AtkObject* spoken = gtk_widget_get_accessible(button);
  EXPECT_STREQ(atk_object_get_name(spoken), "Операция");
  const struct {
    int state;
    const char* description;
  } cases[] = {{3, "Подсчёт уникальных строк одного файла"},
               {-1, ""},
               {0, FindControlRow(ModeBox)->items[0]}};
  for (const auto& c : cases) {
    SetControlState(program, ModeBox, c.state);
    EXPECT_STREQ(atk_object_get_description(spoken), c.description) << c.state;
  }
  TakeReports();
}

// Every message put into the status line reaches a screen reader, a repeated one as well; the
// other labels stay quiet when their text does not change.
TEST_F(Window, EveryStatusMessageIsAnnounced) {
  const struct {
    int control;
    const char* text;
    int announced;
  } cases[] = {
      {StatusLine, "Найдено 2 за 0 мсек", 1},
      {StatusLine, "Найдено 2 за 0 мсек", 1},
      {StatusLine, "Элементы поменяны местами", 1},
      {LabelFirst, "1", 0},
  };
  for (const auto& c : cases) {
    AtkObject* spoken = gtk_widget_get_accessible(ControlWidget(program, c.control));
    int count = 0;
    const gulong handler = g_signal_connect_swapped(spoken, "property-change::accessible-name",
                                                    G_CALLBACK(+[](int* n) { ++*n; }), &count);
    SetControlText(program, c.control, T(c.text));
    ProcessPendingEvents();
    g_signal_handler_disconnect(spoken, handler);
    EXPECT_EQ(count, c.announced) << c.text;
    EXPECT_STREQ(atk_object_get_name(spoken), c.text);
  }
  SetControlText(program, StatusLine, T(kInitialStatusText));
}

// The operations that read one list grey the second field out; the others, and a box with no
// operation chosen, leave it usable.
TEST_F(Window, ChoosingAnOperationGreysTheSecondFieldForOneList) {
  const struct {
    int mode;
    bool second_usable;
  } cases[] = {{2, false}, {0, true},  {3, false}, {8, false}, {5, true},  {8, false},
               {6, true},  {8, false}, {7, true},  {4, true},  {-1, true}, {1, true}};
  for (const auto& c : cases) {
    SetControlState(program, ModeBox, c.mode);
    RunControlAction(program, ModeBox, ValueChanged);
    EXPECT_EQ(ControlEnabled(program, FieldSecond), c.second_usable) << c.mode;
  }
  SetControlState(program, ModeBox, 0);
  SetControlEnabled(program, FieldSecond, true);
}

// A run takes what the window shows when Старт is pressed: the operation and every check box.
TEST_F(Window, RequestCarriesTheOperationAndEachCheckBox) {
  const struct {
    int mode;
    bool case_sensitive, whole, trim, fold_yo;
  } cases[] = {
      {5, true, false, true, false}, {6, true, false, false, true},  {7, false, true, true, true},
      {8, true, true, false, false}, {0, false, false, true, false},
  };
  for (const auto& c : cases) {
    SetControlState(program, ModeBox, c.mode);
    SetControlState(program, CaseCheck, c.case_sensitive);
    SetControlState(program, WholeSeparatorCheck, c.whole);
    SetControlState(program, TrimCheck, c.trim);
    SetControlState(program, FoldYoCheck, c.fold_yo);
    const RunRequest request = RequestFromWindow(program);
    EXPECT_EQ(request.operation, static_cast<Operation>(c.mode));
    EXPECT_EQ(request.case_sensitive, c.case_sensitive) << c.mode;
    EXPECT_EQ(request.whole_separator, c.whole) << c.mode;
    EXPECT_EQ(request.trim, c.trim) << c.mode;
    EXPECT_EQ(request.fold_yo, c.fold_yo) << c.mode;
  }
  SetControlState(program, ModeBox, 0);
  SetControlState(program, CaseCheck, 1);
  SetControlState(program, WholeSeparatorCheck, 0);
  SetControlState(program, TrimCheck, 0);
  SetControlState(program, FoldYoCheck, 0);
  EXPECT_EQ(TakeReports(), Reports{});
}

TEST_F(Window, EditableChoiceBoxSelectsByTextAndForgetsOnEdit) {
  SetControlText(program, ReadSeparatorBox, T("\\n"));
  EXPECT_EQ(ControlState(program, ReadSeparatorBox), 1);
  EXPECT_EQ(U(ControlText(program, ReadSeparatorBox)), "\\n");

  SetControlState(program, ReadSeparatorBox, 3);
  EXPECT_EQ(U(ControlText(program, ReadSeparatorBox)), "Введите ваш разделитель");

  SetControlText(program, ReadSeparatorBox, T("|"));
  EXPECT_EQ(ControlState(program, ReadSeparatorBox), -1);
  EXPECT_EQ(U(ControlText(program, ReadSeparatorBox)), "|");

  SetControlText(program, ReadSeparatorBox, T(""));
  EXPECT_EQ(ControlState(program, ReadSeparatorBox), -1);
  EXPECT_EQ(U(ControlText(program, ReadSeparatorBox)), "");

  SetControlState(program, ReadSeparatorBox, 0);
  GtkWidget* entry = gtk_bin_get_child(GTK_BIN(ControlWidget(program, ReadSeparatorBox)));
  gint at = 0;
  gtk_editable_insert_text(GTK_EDITABLE(entry), "x", 1, &at);
  EXPECT_EQ(ControlState(program, ReadSeparatorBox), -1);
  SetControlState(program, ReadSeparatorBox, 0);
  EXPECT_EQ(U(ControlText(program, ReadSeparatorBox)), "\\r\\n");
  TakeReports();
}

TEST_F(Window, PlainChoiceBoxSelectsByTextOrNothing) {
  SetControlText(program, ModeBox, T("Подсчёт уникальных строк одного файла"));
  EXPECT_EQ(ControlState(program, ModeBox), 3);
  SetControlText(program, ModeBox, T("Подсчёт"));
  EXPECT_EQ(ControlState(program, ModeBox), -1);
  EXPECT_EQ(U(ControlText(program, ModeBox)), "");
  // One past the last operation.
  SetControlState(program, ModeBox, static_cast<int>(FindControlRow(ModeBox)->items.size()));
  EXPECT_EQ(ControlState(program, ModeBox), -1);
  SetControlState(program, ModeBox, 0);
  EXPECT_EQ(ControlState(program, ModeBox), 0);
}

TEST_F(Window, PlaceControlKeepsWhatIsUnchanged) {
  const Spot field = PlaceOf(FieldFirst);
  PlaceControl(program, FieldFirst, kUnchanged, kUnchanged, 300, kUnchanged);
  EXPECT_EQ(PlaceOf(FieldFirst), (Spot{field.x, field.y, 300, field.height}));
  PlaceControl(program, FieldFirst, 50, kUnchanged, kUnchanged, kUnchanged);
  EXPECT_EQ(PlaceOf(FieldFirst), (Spot{50, field.y, 300, field.height}));
  // A size is set only when both dimensions come out above 0.
  PlaceControl(program, FieldFirst, kUnchanged, kUnchanged, 0, kUnchanged);
  EXPECT_EQ(PlaceOf(FieldFirst), (Spot{50, field.y, 300, field.height}));
  PlaceControl(program, FieldFirst, field.x, field.y, field.width, field.height);
  EXPECT_EQ(PlaceOf(FieldFirst), field);

  // Labels and choice boxes move with their outer box.
  PlaceControl(program, LabelReadSeparator, kUnchanged, kUnchanged, 340, kUnchanged);
  PlaceControl(program, ReadSeparatorBox, 350, kUnchanged, 340, kUnchanged);
  EXPECT_EQ(PlaceOf(LabelReadSeparator), (Spot{10, 133, 340, 28}));
  EXPECT_EQ(PlaceOf(ReadSeparatorBox), (Spot{350, 130, 340, 28}));
  for (const Placement& p : LayoutForWidth(kInitialWindowWidth)) {
    PlaceControl(program, p.control, p.x, p.y, p.width, p.height);
  }
  EXPECT_EQ(PlaceOf(ReadSeparatorBox), (Spot{260, 130, 250, 28}));
}

TEST_F(Window, DisabledControlsAreInsensitive) {
  SetControlEnabled(program, FieldSecond, false);
  SetControlEnabled(program, ModeBox, false);
  EXPECT_FALSE(ControlEnabled(program, FieldSecond));
  EXPECT_FALSE(ControlEnabled(program, ModeBox));
  EXPECT_EQ(U(ControlText(program, FieldSecond)), "second.txt");
  SetControlEnabled(program, FieldSecond, true);
  SetControlEnabled(program, ModeBox, true);
  EXPECT_TRUE(ControlEnabled(program, FieldSecond));
  EXPECT_TRUE(ControlEnabled(program, ModeBox));
}

TEST_F(Window, FocusGoesIntoTheEntryOfAnEditableChoiceBox) {
  FocusControl(program, ResultSeparatorBox);
  GtkWidget* entry = gtk_bin_get_child(GTK_BIN(ControlWidget(program, ResultSeparatorBox)));
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(MainWindowWidget(program))), entry);
  FocusControl(program, FieldFirst);
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(MainWindowWidget(program))),
            ControlWidget(program, FieldFirst));
}

TEST_F(Window, AccessToUnknownNumbersDoesNothing) {
  for (int number : {0, -1, kControlCount + 1, 1000}) {
    EXPECT_EQ(ControlText(program, number), Text());
    EXPECT_EQ(ControlState(program, number), kNoState);
    SetControlText(program, number, T("x"));
    SetControlState(program, number, 1);
    PlaceControl(program, number, 1, 1, 1, 1);
    FocusControl(program, number);
  }
}

}  // namespace

// The test program starts like listwise itself (see main below).
TEST(StartUp, LocaleComesFromTheEnvironmentExceptForNumbers) {
  EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
  EXPECT_STREQ(setlocale(LC_CTYPE, nullptr), "C.UTF-8");  // LC_ALL as the test sets it
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!StartLocaleAndGtk(&argc, &argv)) {
    fprintf(stderr, "no display: run inside tests/gui/xvfb_session.sh\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
