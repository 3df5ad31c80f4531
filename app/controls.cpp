#include "app/controls.h"

#include <string>

#include "app/event_queue.h"
#include "app/window_layout.h"
#include "core/utf8.h"

namespace {

enum ItemColumn : int { ItemData = 0, ItemText = 1, ItemPicture = 2 };

const ControlWidgets* Find(const Program& program, int control) {
  if (control < 1 || control > kControlCount) return nullptr;
  const ControlWidgets* c = &program.controls[control];
  return c->widget ? c : nullptr;
}

// Every widget that reports carries its control's number; the handlers get the program, whose
// queue takes the report.
constexpr char kControlNumberKey[] = "listwise-control";

int NumberOf(GtkWidget* widget) {
  return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), kControlNumberKey));
}

void Report(GtkWidget* widget, gpointer program, int type) {
  PostEvent(static_cast<Program*>(program)->events, ControlActivity, NumberOf(widget), type);
}

void OnClicked(GtkWidget* widget, gpointer program) {
  Report(widget, program, Clicked);
}
void OnValueChanged(GtkWidget* widget, gpointer program) {
  Report(widget, program, ValueChanged);
}
gboolean OnFocusIn(GtkWidget* widget, GdkEvent*, gpointer program) {
  Report(widget, program, FocusGained);
  return FALSE;
}
gboolean OnFocusOut(GtkWidget* widget, GdkEvent*, gpointer program) {
  Report(widget, program, FocusLost);
  return FALSE;
}

// Enter in a field or a separator box starts a run as a click on StartButton does: the same
// event under the same rules, and nothing while the button is greyed and takes no clicks.
void OnActivate(GtkWidget*, gpointer data) {
  Program& program = *static_cast<Program*>(data);
  if (ControlEnabled(program, StartButton)) {
    PostEvent(program.events, ControlActivity, StartButton, Clicked);
  }
}

void Connect(GtkWidget* widget, const char* signal, GCallback handler, Program& program,
             int control) {
  g_object_set_data(G_OBJECT(widget), kControlNumberKey, GINT_TO_POINTER(control));
  g_signal_connect(widget, signal, handler, &program);
}

// An input field, and the entry of an editable choice box: edits, Enter and the focus.
void ConnectEntry(GtkWidget* entry, Program& program, int control) {
  Connect(entry, "changed", G_CALLBACK(OnValueChanged), program, control);
  Connect(entry, "activate", G_CALLBACK(OnActivate), program, control);
  Connect(entry, "focus-in-event", G_CALLBACK(OnFocusIn), program, control);
  Connect(entry, "focus-out-event", G_CALLBACK(OnFocusOut), program, control);
}

ControlWidgets MakeLabel(const ControlRow& row) {
  GtkWidget* label = gtk_label_new(row.text ? row.text : "");
  if (row.number == StatusLine) {
    // The status line has room for one line only: a second one would be cut off, and with it
    // the path at the end of a message. Shortened in the middle, it keeps both the count at
    // its start and the path at its end.
    gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
  } else {
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  }
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_label_set_yalign(GTK_LABEL(label), 0);
  GtkWidget* event_box = gtk_event_box_new();
  gtk_event_box_set_visible_window(GTK_EVENT_BOX(event_box), FALSE);
  gtk_container_add(GTK_CONTAINER(event_box), label);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_box_pack_start(GTK_BOX(box), event_box, TRUE, TRUE, 0);
  return {ControlKind::Label, box, label, nullptr, nullptr};
}

ControlWidgets MakeInputField(Program& program, const ControlRow& row) {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_width_chars(GTK_ENTRY(entry), 0);
  ConnectEntry(entry, program, row.number);
  return {ControlKind::InputField, entry, entry, nullptr, nullptr};
}

ControlWidgets MakeImageButton(Program& program, const ControlRow& row, GdkPixbuf* icon) {
  GtkWidget* button = gtk_button_new();
  GtkWidget* image = icon ? gtk_image_new_from_pixbuf(icon) : gtk_image_new();
  gtk_container_add(GTK_CONTAINER(button), image);
  Connect(button, "clicked", G_CALLBACK(OnClicked), program, row.number);
  return {ControlKind::ImageButton, button, button, nullptr, nullptr};
}

ControlWidgets MakePushButton(Program& program, const ControlRow& row) {
  GtkWidget* button = gtk_button_new_with_label(row.text ? row.text : "");
  Connect(button, "clicked", G_CALLBACK(OnClicked), program, row.number);
  return {ControlKind::PushButton, button, button, nullptr, nullptr};
}

ControlWidgets MakeChoiceBox(Program& program, const ControlRow& row, bool editable) {
  GtkListStore* store = gtk_list_store_new(3, G_TYPE_INT, G_TYPE_STRING, GDK_TYPE_PIXBUF);
  GtkWidget* combo = editable ? gtk_combo_box_new_with_model_and_entry(GTK_TREE_MODEL(store))
                              : gtk_combo_box_new_with_model(GTK_TREE_MODEL(store));
  // The combo box holds its own reference to the store from here on.
  g_object_unref(store);
  GtkCellLayout* cells = GTK_CELL_LAYOUT(combo);
  GtkCellRenderer* picture = gtk_cell_renderer_pixbuf_new();
  gtk_cell_layout_pack_start(cells, picture, FALSE);
  gtk_cell_layout_add_attribute(cells, picture, "pixbuf", ItemPicture);
  GtkWidget* entry = nullptr;
  if (editable) {
    // The entry's own text cell comes with the text column; the picture goes before it.
    gtk_combo_box_set_entry_text_column(GTK_COMBO_BOX(combo), ItemText);
    gtk_cell_layout_reorder(cells, picture, 0);
    entry = gtk_bin_get_child(GTK_BIN(combo));
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 0);
    // Every edit of the entry is a change of value; the combo box itself only reports
    // changes of the selection.
    ConnectEntry(entry, program, row.number);
  } else {
    GtkCellRenderer* text = gtk_cell_renderer_text_new();
    gtk_cell_layout_pack_start(cells, text, TRUE);
    gtk_cell_layout_add_attribute(cells, text, "text", ItemText);
  }
  Connect(combo, "changed", G_CALLBACK(OnValueChanged), program, row.number);
  GtkWidget* event_box = gtk_event_box_new();
  gtk_container_add(GTK_CONTAINER(event_box), combo);
  return {editable ? ControlKind::EditableChoiceBox : ControlKind::ChoiceBox, event_box, combo,
          entry, store};
}

ControlWidgets MakeCheckBox(Program& program, const ControlRow& row) {
  GtkWidget* check = gtk_check_button_new_with_label(row.text ? row.text : "");
  Connect(check, "toggled", G_CALLBACK(OnClicked), program, row.number);
  return {ControlKind::CheckBox, check, check, nullptr, nullptr};
}

std::string ItemTextAt(GtkTreeModel* model, GtkTreeIter* iter) {
  gchar* text = nullptr;
  gtk_tree_model_get(model, iter, ItemText, &text, -1);
  std::string result = text ? text : "";
  g_free(text);
  return result;
}

// The index of the first item whose text is exactly the given one, −1 when none is.
int FindItem(GtkListStore* store, const std::string& wanted) {
  GtkTreeModel* model = GTK_TREE_MODEL(store);
  GtkTreeIter iter;
  int index = 0;
  for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok;
       ok = gtk_tree_model_iter_next(model, &iter), ++index) {
    if (ItemTextAt(model, &iter) == wanted) return index;
  }
  return -1;
}

int ItemCount(GtkListStore* store) {
  return gtk_tree_model_iter_n_children(GTK_TREE_MODEL(store), nullptr);
}

bool IsChoice(ControlKind kind) {
  return kind == ControlKind::ChoiceBox || kind == ControlKind::EditableChoiceBox;
}

void Relate(AtkObject* control, AtkObject* label) {
  atk_object_add_relationship(control, ATK_RELATION_LABELLED_BY, label);
  atk_object_add_relationship(label, ATK_RELATION_LABEL_FOR, control);
}

void FindToggle(GtkWidget* widget, gpointer found) {
  auto* toggle = static_cast<GtkWidget**>(found);
  if (*toggle) return;
  if (GTK_IS_TOGGLE_BUTTON(widget)) {
    *toggle = widget;
  } else if (GTK_IS_CONTAINER(widget)) {
    gtk_container_forall(GTK_CONTAINER(widget), FindToggle, found);
  }
}

// A choice box takes the keyboard focus in the button it is drawn as (beside the entry of an
// editable one, the button of its list), never in itself: that button is what a screen reader
// speaks when a person tabs there.
GtkWidget* ChoiceButton(GtkWidget* combo) {
  GtkWidget* toggle = nullptr;
  gtk_container_forall(GTK_CONTAINER(combo), FindToggle, &toggle);
  return toggle;
}

// The button of a plain choice box shows the selected item only as a picture of it; its
// description carries the item's text for the screen reader.
void DescribeSelection(GtkComboBox* combo, gpointer button) {
  GtkTreeIter iter;
  std::string item;
  if (gtk_combo_box_get_active_iter(combo, &iter)) {
    item = ItemTextAt(gtk_combo_box_get_model(combo), &iter);
  }
  atk_object_set_description(gtk_widget_get_accessible(GTK_WIDGET(button)), item.c_str());
}

// The status line has one line, shortened in the middle when its text is longer: its tooltip
// and its accessible description hold the whole text. They change before the text does, so a
// screen reader woken by the new name finds them current.
void ShowWholeStatus(GtkWidget* label, const char* text) {
  gtk_widget_set_tooltip_text(label, *text != '\0' ? text : nullptr);
  atk_object_set_description(gtk_widget_get_accessible(label), text);
}

// The name goes on every part that takes the focus: the entry of an editable choice box and
// the button of any choice box as well as the box itself.
void GiveVoice(const Program& program, const ControlWidgets& made, const ControlVoice& voice) {
  const ControlWidgets* label = voice.label ? Find(program, voice.label) : nullptr;
  const char* name = voice.name;
  if (!name && voice.label) name = FindControlRow(voice.label)->text;
  GtkWidget* button = IsChoice(made.kind) ? ChoiceButton(made.widget) : nullptr;
  for (GtkWidget* widget : {made.widget, made.entry, button}) {
    if (!widget) continue;
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    if (name) atk_object_set_name(accessible, name);
    if (label) Relate(accessible, gtk_widget_get_accessible(label->widget));
  }
  if (button && !made.entry) {
    g_signal_connect(made.widget, "changed", G_CALLBACK(DescribeSelection), button);
  }
  // A status bar's text is its name, so every new message is a name change that a screen
  // reader can speak without the focus leaving the control the person is on.
  if (voice.live_status) {
    atk_object_set_role(gtk_widget_get_accessible(made.widget), ATK_ROLE_STATUSBAR);
    ShowWholeStatus(made.widget, gtk_label_get_text(GTK_LABEL(made.widget)));
  }
}

// A message that equals the one shown is still news (the same count after another run, a second
// swap), but an unchanged text raises no event of its own: the status line tells the
// accessibility bus its name once more.
void RepeatStatus(int control, GtkWidget* label) {
  const ControlVoice* voice = FindControlVoice(control);
  if (voice && voice->live_status) {
    g_object_notify(G_OBJECT(gtk_widget_get_accessible(label)), "accessible-name");
  }
}

}  // namespace

void CreateControl(Program& program, GtkLayout* layout, const ControlRow& row, GdkPixbuf* icon) {
  ControlWidgets made;
  switch (row.kind) {
    case ControlKind::Label:
      made = MakeLabel(row);
      break;
    case ControlKind::InputField:
      made = MakeInputField(program, row);
      break;
    case ControlKind::ImageButton:
      made = MakeImageButton(program, row, icon);
      break;
    case ControlKind::PushButton:
      made = MakePushButton(program, row);
      break;
    case ControlKind::ChoiceBox:
      made = MakeChoiceBox(program, row, false);
      break;
    case ControlKind::EditableChoiceBox:
      made = MakeChoiceBox(program, row, true);
      break;
    case ControlKind::CheckBox:
      made = MakeCheckBox(program, row);
      break;
  }
  gtk_widget_set_name(made.widget, row.name);
  if (row.tooltip) gtk_widget_set_tooltip_text(made.widget, row.tooltip);
  gtk_widget_set_size_request(made.outer, row.width, row.height);
  gtk_layout_put(layout, made.outer, row.x, row.y);
  gtk_widget_show_all(made.outer);
  program.controls[row.number] = made;
  if (const ControlVoice* voice = FindControlVoice(row.number)) GiveVoice(program, made, *voice);
}

void AddControlItem(Program& program, int control, TextView text) {
  const ControlWidgets* c = Find(program, control);
  if (!c || !c->store) return;
  ProgramChange quiet(program.events);
  const std::string utf8 = Utf8FromText(text);
  gtk_list_store_insert_with_values(c->store, nullptr, -1, ItemData, ItemCount(c->store), ItemText,
                                    utf8.c_str(), ItemPicture, nullptr, -1);
}

Text ControlText(const Program& program, int control) {
  const ControlWidgets* c = Find(program, control);
  if (!c) return Text();
  const char* text = nullptr;
  std::string item;
  switch (c->kind) {
    case ControlKind::Label:
      text = gtk_label_get_text(GTK_LABEL(c->widget));
      break;
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
      text = gtk_button_get_label(GTK_BUTTON(c->widget));
      break;
    case ControlKind::ImageButton:
      break;
    case ControlKind::InputField:
      text = gtk_entry_get_text(GTK_ENTRY(c->widget));
      break;
    case ControlKind::EditableChoiceBox:
      text = gtk_entry_get_text(GTK_ENTRY(c->entry));
      break;
    case ControlKind::ChoiceBox: {
      GtkTreeIter iter;
      if (gtk_combo_box_get_active_iter(GTK_COMBO_BOX(c->widget), &iter)) {
        item = ItemTextAt(GTK_TREE_MODEL(c->store), &iter);
        text = item.c_str();
      }
      break;
    }
  }
  return text ? TextFromUtf8(text) : Text();
}

void SetControlText(Program& program, int control, TextView text) {
  const ControlWidgets* c = Find(program, control);
  if (!c) return;
  ProgramChange quiet(program.events);
  const std::string utf8 = Utf8FromText(text);
  switch (c->kind) {
    case ControlKind::Label:
      if (const ControlVoice* voice = FindControlVoice(control); voice && voice->live_status)
        ShowWholeStatus(c->widget, utf8.c_str());
      if (utf8 == gtk_label_get_text(GTK_LABEL(c->widget))) {
        RepeatStatus(control, c->widget);
      } else {
        gtk_label_set_text(GTK_LABEL(c->widget), utf8.c_str());
      }
      break;
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
      gtk_button_set_label(GTK_BUTTON(c->widget), utf8.c_str());
      break;
    // An image button's child is its picture; a text would replace it.
    case ControlKind::ImageButton:
      break;
    case ControlKind::InputField:
      gtk_entry_set_text(GTK_ENTRY(c->widget), utf8.c_str());
      break;
    case ControlKind::ChoiceBox:
    case ControlKind::EditableChoiceBox: {
      const int index = FindItem(c->store, utf8);
      gtk_combo_box_set_active(GTK_COMBO_BOX(c->widget), index);
      if (index < 0 && c->entry) gtk_entry_set_text(GTK_ENTRY(c->entry), utf8.c_str());
      break;
    }
  }
}

int ControlState(const Program& program, int control) {
  const ControlWidgets* c = Find(program, control);
  if (!c) return kNoState;
  if (IsChoice(c->kind)) return gtk_combo_box_get_active(GTK_COMBO_BOX(c->widget));
  if (c->kind == ControlKind::CheckBox) {
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->widget)) ? 1 : 0;
  }
  return kNoState;
}

void SetControlState(Program& program, int control, int state) {
  const ControlWidgets* c = Find(program, control);
  if (!c) return;
  ProgramChange quiet(program.events);
  if (IsChoice(c->kind)) {
    const int index = state >= 0 && state < ItemCount(c->store) ? state : -1;
    gtk_combo_box_set_active(GTK_COMBO_BOX(c->widget), index);
  } else if (c->kind == ControlKind::CheckBox) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->widget), state != 0);
  }
}

void SetControlEnabled(Program& program, int control, bool enabled) {
  if (const ControlWidgets* c = Find(program, control))
    gtk_widget_set_sensitive(c->widget, enabled);
}

bool ControlEnabled(const Program& program, int control) {
  const ControlWidgets* c = Find(program, control);
  return c && gtk_widget_is_sensitive(c->widget);
}

void FocusControl(Program& program, int control) {
  const ControlWidgets* c = Find(program, control);
  if (!c) return;
  GtkWidget* window = gtk_widget_get_toplevel(c->outer);
  if (GTK_IS_WINDOW(window)) gtk_window_present(GTK_WINDOW(window));
  gtk_widget_grab_focus(c->entry ? c->entry : c->widget);
}

void PlaceControl(Program& program, int control, int x, int y, int width, int height) {
  const ControlWidgets* c = Find(program, control);
  if (!c) return;
  GtkWidget* parent = gtk_widget_get_parent(c->outer);
  if ((x != kUnchanged || y != kUnchanged) && GTK_IS_LAYOUT(parent)) {
    gint now_x = 0;
    gint now_y = 0;
    gtk_container_child_get(GTK_CONTAINER(parent), c->outer, "x", &now_x, "y", &now_y, nullptr);
    gtk_layout_move(GTK_LAYOUT(parent), c->outer, x != kUnchanged ? x : now_x,
                    y != kUnchanged ? y : now_y);
  }
  if (width != kUnchanged || height != kUnchanged) {
    gint now_width = 0;
    gint now_height = 0;
    gtk_widget_get_size_request(c->outer, &now_width, &now_height);
    const int new_width = width != kUnchanged ? width : now_width;
    const int new_height = height != kUnchanged ? height : now_height;
    if (new_width > 0 && new_height > 0) {
      gtk_widget_set_size_request(c->outer, new_width, new_height);
    }
  }
}

void LayOutControls(Program& program) {
  for (const Placement& p : LayoutForWidth(program.window.width)) {
    PlaceControl(program, p.control, p.x, p.y, p.width, p.height);
  }
}

GtkWidget* ControlOuterWidget(const Program& program, int control) {
  const ControlWidgets* c = Find(program, control);
  return c ? c->outer : nullptr;
}

GtkWidget* ChoiceBoxButton(const Program& program, int control) {
  const ControlWidgets* c = Find(program, control);
  return c && IsChoice(c->kind) ? ChoiceButton(c->widget) : nullptr;
}

GtkWidget* ControlWidget(const Program& program, int control) {
  const ControlWidgets* c = Find(program, control);
  return c ? c->widget : nullptr;
}

void ForgetControls(Program& program) {
  program.controls = {};
}
