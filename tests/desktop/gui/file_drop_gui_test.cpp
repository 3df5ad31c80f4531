// Dropped names from real selection data, and real drags from another process onto a field.
#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/utf8.h"
#include "desktop/file_drop.h"
#include "tests/desktop/gui/gui_test_support.h"

namespace {

// Real selection data of a given target and content, obtained the way a drop gets it: by
// asking a selection's owner (here this process, on a private selection) for a conversion.
SelectionDataPtr ConvertedSelection(const char* target, std::vector<std::string> items) {
  struct Offer {
    std::vector<std::string> items;
  };
  auto* offer = new Offer{std::move(items)};
  GtkClipboard* selection = gtk_clipboard_get(gdk_atom_intern_static_string("LISTWISE_TEST"));
  const GtkTargetEntry entry = {const_cast<gchar*>(target), 0, 0};
  gtk_clipboard_set_with_data(
      selection, &entry, 1,
      [](GtkClipboard*, GtkSelectionData* data, guint, gpointer user) {
        auto* offer = static_cast<Offer*>(user);
        if (gtk_selection_data_get_target(data) == gdk_atom_intern_static_string("text/uri-list")) {
          std::vector<char*> uris;
          for (std::string& item : offer->items) uris.push_back(item.data());
          uris.push_back(nullptr);
          gtk_selection_data_set_uris(data, uris.data());
        } else {
          gtk_selection_data_set_text(data, offer->items.at(0).c_str(), -1);
        }
      },
      [](GtkClipboard*, gpointer user) { delete static_cast<Offer*>(user); }, offer);
  SelectionDataPtr data(gtk_clipboard_wait_for_contents(selection, gdk_atom_intern(target, FALSE)));
  gtk_clipboard_clear(selection);
  return data;
}

TEST(DroppedFileList, ReadsTheUriListOfRealSelectionData) {
  const struct {
    std::vector<std::string> uris;
    const char* names;
  } cases[] = {
      {{"file:///tmp/one", "file:///tmp/two%20words", "file:///tmp/three"},
       "/tmp/one\n/tmp/two words\n/tmp/three"},
      {{"https://example.org/a", "file:///tmp/second", "smb://server/share/c"}, "/tmp/second"},
      {{"https://example.org/a", "trash:///b"}, ""},
      {{"file:///tmp/%D0%A1%D0%BF%D0%B8%D1%81%D0%BE%D0%BA%201.txt"}, "/tmp/Список 1.txt"},
  };
  for (const auto& c : cases) {
    DropEvent event;
    event.data = ConvertedSelection("text/uri-list", c.uris);
    ASSERT_TRUE(event.data) << c.names;
    EXPECT_EQ(DroppedFileList(&event), TextFromUtf8(c.names)) << c.names;
  }
  DropEvent text;
  text.data = ConvertedSelection("text/plain;charset=utf-8", {"file:///tmp/not-a-list"});
  ASSERT_TRUE(text.data);
  EXPECT_EQ(DroppedFileList(&text), u"");
}

// The drop handlers are connected with g_signal_connect and must run before the field's own
// class handlers; that holds only for signals whose class handler runs last or at clean-up.
TEST(EnableFileDrop, FieldSignalsRunConnectedHandlersFirst) {
  for (const char* name : {"drag-motion", "drag-drop", "drag-leave", "drag-data-received"}) {
    GSignalQuery query;
    g_signal_query(g_signal_lookup(name, GTK_TYPE_ENTRY), &query);
    EXPECT_TRUE(query.signal_flags & G_SIGNAL_RUN_LAST) << name;
    EXPECT_FALSE(query.signal_flags & G_SIGNAL_RUN_FIRST) << name;
  }
  GSignalQuery destroy;
  g_signal_query(g_signal_lookup("destroy", GTK_TYPE_ENTRY), &destroy);
  EXPECT_TRUE(destroy.signal_flags & G_SIGNAL_RUN_CLEANUP);
}

// The field's drop handling goes with its widget.
TEST(EnableFileDrop, DestroyingTheFieldDisconnectsItsHandlers) {
  GtkWidget* field = gtk_entry_new();
  g_object_ref_sink(field);
  EnableFileDrop(field, 5, GDK_ACTION_COPY, [](int, std::unique_ptr<DropEvent>) {});
  const guint motion = g_signal_lookup("drag-motion", GTK_TYPE_WIDGET);
  EXPECT_TRUE(g_signal_has_handler_pending(field, motion, 0, FALSE));
  gtk_widget_destroy(field);
  EXPECT_FALSE(g_signal_has_handler_pending(field, motion, 0, FALSE));
  g_object_unref(field);
}

// A field in a window of this process, and drags onto it from a separate source process moved
// by xdotool, as a person would drag files from a file manager.
class DragTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), "listwise-drop-target");
    gtk_window_set_default_size(GTK_WINDOW(window_), 320, 40);
    gtk_window_move(GTK_WINDOW(window_), 40, 60);
    field_ = gtk_entry_new();
    gtk_container_add(GTK_CONTAINER(window_), field_);
    // A second registration replaces the first one's handler and control number; it does
    // not connect the field a second time.
    EnableFileDrop(field_, 5, GDK_ACTION_COPY,
                   [this](int, std::unique_ptr<DropEvent>) { ++stale_handler_calls_; });
    EnableFileDrop(field_, 6, GDK_ACTION_COPY,
                   [this](int control, std::unique_ptr<DropEvent> event) {
                     controls_.push_back(control);
                     events_.push_back(std::move(event));
                   });
    gtk_widget_show_all(window_);
    ASSERT_TRUE(PumpUntil([this] { return gtk_widget_get_mapped(field_); }));
    Pump(300);
  }
  void TearDown() override {
    events_.clear();
    if (window_) gtk_widget_destroy(window_);
    Pump(100);
  }

  // Drags from a new source offering `items` onto the field; sees whether the field was
  // highlighted while the drag hovered over it.
  void DragOnto(const char* kind, const char* action, std::vector<std::string> items) {
    std::vector<std::string> args = {LISTWISE_DRAG_SOURCE, "700", "400", kind, action};
    args.insert(args.end(), items.begin(), items.end());
    Child source(args);
    ASSERT_TRUE(source.started());
    ASSERT_TRUE(PumpUntil([&] { return source.output().find("ready") != std::string::npos; }));
    Pump(300);

    gint x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(field_), &x, &y);
    GtkAllocation box;
    gtk_widget_get_allocation(field_, &box);
    const int to_x = x + box.x + box.width / 2, to_y = y + box.y + box.height / 2;
    Child mouse({"xdotool",
                 "mousemove",
                 "780",
                 "440",
                 "sleep",
                 "0.3",
                 "mousedown",
                 "1",
                 "sleep",
                 "0.2",
                 "mousemove",
                 "800",
                 "450",
                 "sleep",
                 "0.2",
                 "mousemove",
                 std::to_string(to_x - 20),
                 std::to_string(to_y),
                 "sleep",
                 "0.3",
                 "mousemove",
                 std::to_string(to_x),
                 std::to_string(to_y),
                 "sleep",
                 "0.6",
                 "mouseup",
                 "1"});
    ASSERT_TRUE(mouse.started());
    highlighted_ = false;
    PumpUntil(
        [&] {
          if (gtk_widget_get_state_flags(field_) & GTK_STATE_FLAG_DROP_ACTIVE) highlighted_ = true;
          return mouse.Exited();
        },
        10000);
    // The drag ends in the source once the drop has been answered.
    EXPECT_TRUE(PumpUntil([&] { return source.output().find("dragged") != std::string::npos; }))
        << "the drag never ended";
    Pump(200);
    still_highlighted_ = gtk_widget_get_state_flags(field_) & GTK_STATE_FLAG_DROP_ACTIVE;
  }

  std::string FieldText() const { return gtk_entry_get_text(GTK_ENTRY(field_)); }

  GtkWidget* window_ = nullptr;
  GtkWidget* field_ = nullptr;
  std::vector<int> controls_;
  std::vector<std::unique_ptr<DropEvent>> events_;
  int stale_handler_calls_ = 0;
  bool highlighted_ = false;
  bool still_highlighted_ = false;
};

TEST_F(DragTest, DroppedFilesArriveAsOneEventWithAllNames) {
  DragOnto("uris", "copy",
           {"file:///tmp/first.txt", "file:///tmp/%D0%92%D1%82%D0%BE%D1%80%D0%BE%D0%B9",
            "file:///tmp/third"});
  EXPECT_TRUE(highlighted_);
  EXPECT_FALSE(still_highlighted_);
  EXPECT_EQ(stale_handler_calls_, 0);
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(controls_[0], 6);
  EXPECT_EQ(events_[0]->action, GDK_ACTION_COPY);
  EXPECT_EQ(DroppedFileList(events_[0].get()),
            TextFromUtf8("/tmp/first.txt\n/tmp/Второй\n/tmp/third"));
  // The field itself is left to the program's drop action.
  EXPECT_EQ(FieldText(), "");
}

TEST_F(DragTest, DraggedTextIsRefusedAndNeverInserted) {
  gtk_entry_set_text(GTK_ENTRY(field_), "kept");
  DragOnto("text", "copy", {"dragged words"});
  EXPECT_FALSE(highlighted_);
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(FieldText(), "kept");
}

TEST_F(DragTest, MoveOnlyDragIsRefused) {
  DragOnto("uris", "move", {"file:///tmp/moved"});
  EXPECT_FALSE(highlighted_);
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(FieldText(), "");
}

}  // namespace
