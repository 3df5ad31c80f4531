#include "app/controls.h"

#include <array>
#include <string>

#include "app/event_queue.h"
#include "app/window_layout.h"
#include "core/utf8.h"

namespace {

// Columns of a choice box's list store.
enum ItemColumn : int { ItemData = 0, ItemText = 1, ItemPicture = 2 };

struct ControlWidgets {
  ControlKind kind = ControlKind::Label;
  GtkWidget* outer = nullptr;   // placed and sized in the layout
  GtkWidget* widget = nullptr;  // label, entry, button, combo box, check button
  GtkWidget* entry = nullptr;   // an editable choice box's entry
  GtkListStore* store = nullptr;
};

std::array<ControlWidgets, kControlCount + 1> controls;

ControlWidgets* Find(int control) {
  if (control < 1 || control > kControlCount) return nullptr;
  ControlWidgets* c = &controls[control];
  return c->widget ? c : nullptr;
}

gpointer NumberData(int control) {
  return GINT_TO_POINTER(control);
}
int NumberOf(gpointer data) {
  return GPOINTER_TO_INT(data);
}

void OnClicked(GtkWidget*, gpointer data) {
  PostEvent(ControlActivity, NumberOf(data), Clicked);
}
void OnValueChanged(GtkWidget*, gpointer data) {
  PostEvent(ControlActivity, NumberOf(data), ValueChanged);
}
gboolean OnFocusIn(GtkWidget*, GdkEvent*, gpointer data) {
  PostEvent(ControlActivity, NumberOf(data), FocusGained);
  return FALSE;
}
gboolean OnFocusOut(GtkWidget*, GdkEvent*, gpointer data) {
  PostEvent(ControlActivity, NumberOf(data), FocusLost);
  return FALSE;
}

// Enter in a field or a separator box starts a run as a click on StartButton does: the same
// event under the same rules, and nothing while the button is greyed and takes no clicks.
void OnActivate(GtkWidget*, gpointer) {
  if (ControlEnabled(StartButton)) PostEvent(ControlActivity, StartButton, Clicked);
}

void ConnectFocus(GtkWidget* widget, int control) {
  g_signal_connect(widget, "focus-in-event", G_CALLBACK(OnFocusIn), NumberData(control));
  g_signal_connect(widget, "focus-out-event", G_CALLBACK(OnFocusOut), NumberData(control));
}

ControlWidgets MakeLabel(const ControlRow& row) {
  GtkWidget* label = gtk_label_new(row.text ? row.text : "");
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_label_set_yalign(GTK_LABEL(label), 0);
  GtkWidget* event_box = gtk_event_box_new();
  gtk_event_box_set_visible_window(GTK_EVENT_BOX(event_box), FALSE);
  gtk_container_add(GTK_CONTAINER(event_box), label);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_box_pack_start(GTK_BOX(box), event_box, TRUE, TRUE, 0);
  return {ControlKind::Label, box, label, nullptr, nullptr};
}

ControlWidgets MakeInputField(const ControlRow& row) {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_width_chars(GTK_ENTRY(entry), 0);
  g_signal_connect(entry, "changed", G_CALLBACK(OnValueChanged), NumberData(row.number));
  g_signal_connect(entry, "activate", G_CALLBACK(OnActivate), nullptr);
  ConnectFocus(entry, row.number);
  return {ControlKind::InputField, entry, entry, nullptr, nullptr};
}

ControlWidgets MakeImageButton(const ControlRow& row, GdkPixbuf* icon) {
  GtkWidget* button = gtk_button_new();
  GtkWidget* image = icon ? gtk_image_new_from_pixbuf(icon) : gtk_image_new();
  gtk_container_add(GTK_CONTAINER(button), image);
  g_signal_connect(button, "clicked", G_CALLBACK(OnClicked), NumberData(row.number));
  return {ControlKind::ImageButton, button, button, nullptr, nullptr};
}

ControlWidgets MakePushButton(const ControlRow& row) {
  GtkWidget* button = gtk_button_new_with_label(row.text ? row.text : "");
  g_signal_connect(button, "clicked", G_CALLBACK(OnClicked), NumberData(row.number));
  return {ControlKind::PushButton, button, button, nullptr, nullptr};
}

ControlWidgets MakeChoiceBox(const ControlRow& row, bool editable) {
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
    g_signal_connect(entry, "changed", G_CALLBACK(OnValueChanged), NumberData(row.number));
    g_signal_connect(entry, "activate", G_CALLBACK(OnActivate), nullptr);
    ConnectFocus(entry, row.number);
  } else {
    GtkCellRenderer* text = gtk_cell_renderer_text_new();
    gtk_cell_layout_pack_start(cells, text, TRUE);
    gtk_cell_layout_add_attribute(cells, text, "text", ItemText);
  }
  g_signal_connect(combo, "changed", G_CALLBACK(OnValueChanged), NumberData(row.number));
  GtkWidget* event_box = gtk_event_box_new();
  gtk_container_add(GTK_CONTAINER(event_box), combo);
  return {editable ? ControlKind::EditableChoiceBox : ControlKind::ChoiceBox, event_box, combo,
          entry, store};
}

ControlWidgets MakeCheckBox(const ControlRow& row) {
  GtkWidget* check = gtk_check_button_new_with_label(row.text ? row.text : "");
  g_signal_connect(check, "toggled", G_CALLBACK(OnClicked), NumberData(row.number));
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

// The name goes on every part that takes the focus: the entry of an editable choice box and
// the button of any choice box as well as the box itself.
void GiveVoice(const ControlWidgets& made, const ControlVoice& voice) {
  const ControlWidgets* label = voice.label ? Find(voice.label) : nullptr;
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

void CreateControl(GtkLayout* layout, const ControlRow& row, GdkPixbuf* icon) {
  ControlWidgets made;
  switch (row.kind) {
    case ControlKind::Label:
      made = MakeLabel(row);
      break;
    case ControlKind::InputField:
      made = MakeInputField(row);
      break;
    case ControlKind::ImageButton:
      made = MakeImageButton(row, icon);
      break;
    case ControlKind::PushButton:
      made = MakePushButton(row);
      break;
    case ControlKind::ChoiceBox:
      made = MakeChoiceBox(row, false);
      break;
    case ControlKind::EditableChoiceBox:
      made = MakeChoiceBox(row, true);
      break;
    case ControlKind::CheckBox:
      made = MakeCheckBox(row);
      break;
  }
  gtk_widget_set_name(made.widget, row.name);
  if (row.tooltip) gtk_widget_set_tooltip_text(made.widget, row.tooltip);
  gtk_widget_set_size_request(made.outer, row.width, row.height);
  gtk_layout_put(layout, made.outer, row.x, row.y);
  gtk_widget_show_all(made.outer);
  controls[row.number] = made;
  if (const ControlVoice* voice = FindControlVoice(row.number)) GiveVoice(made, *voice);
}

void AddControlItem(int control, TextView text) {
  ControlWidgets* c = Find(control);
  if (!c || !c->store) return;
  ProgramChange quiet(ProgramEventQueue());
  const std::string utf8 = Utf8FromText(text);
  gtk_list_store_insert_with_values(c->store, nullptr, -1, ItemData, ItemCount(c->store), ItemText,
                                    utf8.c_str(), ItemPicture, nullptr, -1);
}

Text ControlText(int control) {
  ControlWidgets* c = Find(control);
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

void SetControlText(int control, TextView text) {
  ControlWidgets* c = Find(control);
  if (!c) return;
  ProgramChange quiet(ProgramEventQueue());
  const std::string utf8 = Utf8FromText(text);
  switch (c->kind) {
    case ControlKind::Label:
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

int ControlState(int control) {
  ControlWidgets* c = Find(control);
  if (!c) return kNoState;
  if (IsChoice(c->kind)) return gtk_combo_box_get_active(GTK_COMBO_BOX(c->widget));
  if (c->kind == ControlKind::CheckBox) {
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->widget)) ? 1 : 0;
  }
  return kNoState;
}

void SetControlState(int control, int state) {
  ControlWidgets* c = Find(control);
  if (!c) return;
  ProgramChange quiet(ProgramEventQueue());
  if (IsChoice(c->kind)) {
    const int index = state >= 0 && state < ItemCount(c->store) ? state : -1;
    gtk_combo_box_set_active(GTK_COMBO_BOX(c->widget), index);
  } else if (c->kind == ControlKind::CheckBox) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->widget), state != 0);
  }
}

void SetControlEnabled(int control, bool enabled) {
  if (ControlWidgets* c = Find(control)) gtk_widget_set_sensitive(c->widget, enabled);
}

bool ControlEnabled(int control) {
  ControlWidgets* c = Find(control);
  return c && gtk_widget_is_sensitive(c->widget);
}

void FocusControl(int control) {
  ControlWidgets* c = Find(control);
  if (!c) return;
  GtkWidget* window = gtk_widget_get_toplevel(c->outer);
  if (GTK_IS_WINDOW(window)) gtk_window_present(GTK_WINDOW(window));
  gtk_widget_grab_focus(c->entry ? c->entry : c->widget);
}

void PlaceControl(int control, int x, int y, int width, int height) {
  ControlWidgets* c = Find(control);
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

GtkWidget* ControlOuterWidget(int control) {
  ControlWidgets* c = Find(control);
  return c ? c->outer : nullptr;
}

GtkWidget* ChoiceBoxButton(int control) {
  ControlWidgets* c = Find(control);
  return c && IsChoice(c->kind) ? ChoiceButton(c->widget) : nullptr;
}

GtkWidget* ControlWidget(int control) {
  ControlWidgets* c = Find(control);
  return c ? c->widget : nullptr;
}

void ForgetControls() {
  controls = {};
}
