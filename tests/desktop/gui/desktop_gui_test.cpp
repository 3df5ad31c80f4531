// Desktop services against a real X display (run inside tests/gui/xvfb_session.sh --wm): the
// clipboard with another program as its owner, dropped names from real selection data, real
// drags from another process onto a field, and the open-file chooser driven from the keyboard.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtk/gtk.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/utf8.h"
#include "desktop/clipboard.h"
#include "desktop/file_chooser.h"
#include "desktop/file_drop.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Lets GTK handle events until `done` holds or the time is up; true when `done` held.
bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    while (gtk_events_pending()) gtk_main_iteration();
    if (done()) return true;
    g_usleep(5000);
  }
  return done();
}

void Pump(int ms) {
  PumpUntil([] { return false; }, ms);
}

// Another process of the test, ended and collected when the object goes.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out = -1;
    if (g_spawn_async_with_pipes(nullptr, argv.data(), nullptr,
                                 GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH |
                                             G_SPAWN_STDERR_TO_DEV_NULL),
                                 nullptr, nullptr, &pid_, nullptr, &out, nullptr, nullptr)) {
      out_ = out;
      fcntl(out_, F_SETFL, O_NONBLOCK);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  bool started() const { return pid_ > 0; }
  // Everything the child printed so far.
  const std::string& output() {
    char buffer[512];
    ssize_t n;
    while (out_ >= 0 && (n = read(out_, buffer, sizeof buffer)) > 0) output_.append(buffer, n);
    return output_;
  }
  bool Exited() {
    if (!exited_ && pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) exited_ = true;
    return exited_;
  }

 private:
  GPid pid_ = 0;
  int out_ = -1;
  bool exited_ = false;
  std::string output_;
};

bool ClipboardHasTargets() {
  GdkAtom* targets = nullptr;
  gint count = 0;
  const bool has = gtk_clipboard_wait_for_targets(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD),
                                                  &targets, &count) &&
                   count > 0;
  g_free(targets);
  return has;
}

// xclip owning the CLIPBOARD selection with the given bytes under one target.
class ClipboardOwner {
 public:
  ClipboardOwner(const std::string& bytes, const char* target)
      : file_(fs::temp_directory_path() / ("listwise-clip-" + std::to_string(getpid()))) {
    std::ofstream(file_, std::ios::binary) << bytes;
    xclip_ = std::make_unique<Child>(std::vector<std::string>{
        "xclip", "-quiet", "-selection", "clipboard", "-t", target, "-i", file_.string()});
    PumpUntil(ClipboardHasTargets);
  }
  ~ClipboardOwner() {
    xclip_.reset();
    fs::remove(file_);
    PumpUntil([] { return !ClipboardHasTargets(); });
  }

 private:
  fs::path file_;
  std::unique_ptr<Child> xclip_;
};

TEST(ClipboardText, TakesTheOwnersTextUnchanged) {
  ASSERT_FALSE(ClipboardHasTargets()) << "the session should start with an empty clipboard";
  EXPECT_EQ(ClipboardText(), u"");
  {
    ClipboardOwner owner("  Строка 1\r\nline 2\t\n\nlast ", "UTF8_STRING");
    EXPECT_EQ(ClipboardText(), TextFromUtf8("  Строка 1\r\nline 2\t\n\nlast "));
  }
  {
    ClipboardOwner owner("\x89PNG\r\n\x1a\n not really an image", "image/png");
    EXPECT_EQ(ClipboardText(), u"");
  }
  {
    ClipboardOwner owner("", "UTF8_STRING");
    EXPECT_EQ(ClipboardText(), u"");
  }
}

// Without a clipboard manager, the hand-over at exit must neither hang nor lose the content.
TEST(StoreClipboardOnExit, ReturnsWithoutAManager) {
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gtk_clipboard_set_text(clipboard, "kept", -1);
  StoreClipboardOnExit();
  EXPECT_EQ(ClipboardText(), u"kept");
  gtk_clipboard_clear(clipboard);
}

// Text copied out of a program stays on the clipboard after it has exited only through the
// clipboard manager, to which the program hands it over at exit.
TEST(StoreClipboardOnExit, ManagerKeepsTheTextAfterExit) {
  {
    Child copier({LISTWISE_COPY_AND_EXIT, "gone with the program"});
    ASSERT_TRUE(PumpUntil([&] { return copier.Exited(); }, 15000));
  }
  EXPECT_EQ(ClipboardText(), u"");

  Child manager({LISTWISE_FAKE_CLIPBOARD_MANAGER});
  ASSERT_TRUE(PumpUntil([&] { return manager.output().find("ready") != std::string::npos; }));
  {
    Child copier({LISTWISE_COPY_AND_EXIT, "Скопировано\nиз поля"});
    ASSERT_TRUE(PumpUntil([&] { return copier.Exited(); }, 15000));
  }
  EXPECT_NE(manager.output().find("saved"), std::string::npos);
  EXPECT_EQ(ClipboardText(), TextFromUtf8("Скопировано\nиз поля"));
}

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
    Child mouse({"xdotool", "mousemove", "780", "440", "sleep", "0.3", "mousedown", "1",
                 "sleep", "0.2", "mousemove", "800", "450", "sleep", "0.2", "mousemove",
                 std::to_string(to_x - 20), std::to_string(to_y), "sleep", "0.3", "mousemove",
                 std::to_string(to_x), std::to_string(to_y), "sleep", "0.6", "mouseup", "1"});
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

// The chooser as the open buttons show it, closed from the keyboard by xdotool. While it runs,
// a timer of this process looks at what it shows.
class ChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/listwise-chooser-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::ofstream(dir_ / "README") << "no dot in the name\n";
    std::ofstream(dir_ / "Список.txt") << "a\nb\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs ChooseFileToOpen while `keys` (xdotool words after the window is found) are typed.
  Text Choose(const Text& initial_path, std::vector<std::string> keys) {
    struct Watch {
      std::vector<std::string> keys;
      std::unique_ptr<Child> typist;
      std::string folder;
      std::string filter_name;
      bool lists_names_without_dot = false;
      int ticks_after_typing = 0;
      bool gave_up = false;
      bool wait_for_selection = false;
      int ticks_waiting = 0;
      std::string typist_output;
    } watch{std::move(keys), nullptr, "", "", false, 0, false, false, 0, ""};
    // A preselected file shows up only once the folder has been read; Enter before that would
    // find nothing to accept.
    watch.wait_for_selection = !initial_path.empty() && initial_path.back() != u'/';
    const guint timer = g_timeout_add(
        100,
        [](gpointer user) -> gboolean {
          auto* watch = static_cast<Watch*>(user);
          GList* windows = gtk_window_list_toplevels();
          for (GList* item = windows; item; item = item->next) {
            if (!GTK_IS_FILE_CHOOSER_DIALOG(item->data) || !gtk_widget_get_mapped(GTK_WIDGET(item->data)))
              continue;
            if (watch->typist) {
              // The keys have had their chance: close the chooser so the test fails, not hangs.
              if (watch->typist->Exited() && ++watch->ticks_after_typing > 100) {
                watch->gave_up = true;
                watch->typist_output = watch->typist->output();
                gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_CANCEL);
              }
              continue;
            }
            GtkFileChooser* chooser = GTK_FILE_CHOOSER(item->data);
            if (watch->wait_for_selection && ++watch->ticks_waiting < 50) {
              gchar* selected = gtk_file_chooser_get_filename(chooser);
              const bool has_selection = selected != nullptr;
              g_free(selected);
              if (!has_selection) continue;
            }
            if (gchar* folder = gtk_file_chooser_get_current_folder(chooser)) {
              watch->folder = folder;
              g_free(folder);
            }
            if (GtkFileFilter* filter = gtk_file_chooser_get_filter(chooser)) {
              watch->filter_name = gtk_file_filter_get_name(filter);
              GtkFileFilterInfo info = {};
              info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
              info.display_name = "README";
              watch->lists_names_without_dot = gtk_file_filter_filter(filter, &info);
            }
            // Typed by a separate xdotool: chained after a window search, xdotool would send the
            // keys as synthetic events, which GTK ignores. Focused directly should the window
            // manager refuse the activation.
            std::vector<std::string> args = {
                "sh", "-c",
                "exec 2>&1; w=$(xdotool search --sync --onlyvisible --name '^Открыть файл$' "
                "| head -1); xdotool windowactivate --sync $w || xdotool windowfocus --sync $w; "
                "sleep 0.5; echo focus $(xdotool getwindowfocus "
                "getwindowname); xdotool \"$@\"; echo typed $?",
                "typist"};
            args.insert(args.end(), watch->keys.begin(), watch->keys.end());
            watch->typist = std::make_unique<Child>(args);
          }
          g_list_free(windows);
          return G_SOURCE_CONTINUE;
        },
        &watch);
    const Text chosen = ChooseFileToOpen(u"Открыть файл", initial_path, u"Все (*.*)|*.*", 0);
    g_source_remove(timer);
    EXPECT_FALSE(watch.gave_up) << "the keys did not close the chooser: " << watch.typist_output;
    folder_ = watch.folder;
    filter_name_ = watch.filter_name;
    lists_names_without_dot_ = watch.lists_names_without_dot;
    // The dialog is gone when the call returns.
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item; item = item->next) {
      EXPECT_FALSE(GTK_IS_FILE_CHOOSER_DIALOG(item->data) &&
                   gtk_widget_get_visible(GTK_WIDGET(item->data)));
    }
    g_list_free(windows);
    return chosen;
  }

  fs::path dir_;
  std::string folder_;
  std::string filter_name_;
  bool lists_names_without_dot_ = false;
};

TEST_F(ChooserTest, CancelGivesNothing) {
  const Text chosen = Choose(TextFromUtf8(dir_.string() + "/"), {"key", "Escape"});
  EXPECT_EQ(chosen, u"");
  EXPECT_EQ(folder_, dir_.string());
  EXPECT_EQ(filter_name_, "Все (*.*)");
  EXPECT_TRUE(lists_names_without_dot_);
}

TEST_F(ChooserTest, TypedNameIsReturnedWithItsFullPath) {
  const Text chosen = Choose(TextFromUtf8(dir_.string() + "/"),
                             {"key", "ctrl+l", "sleep", "0.3", "key", "--delay", "80", "R", "E",
                              "A", "D", "M", "E", "sleep", "0.5", "key", "Return"});
  EXPECT_EQ(chosen, TextFromUtf8((dir_ / "README").string()));
}

// An initial path that names a file preselects it, and Enter accepts the preselection.
TEST_F(ChooserTest, EnterAcceptsThePreselectedFile) {
  const std::string file = (dir_ / "Список.txt").string();
  const Text chosen = Choose(TextFromUtf8(file), {"key", "Return"});
  EXPECT_EQ(chosen, TextFromUtf8(file));
  EXPECT_EQ(folder_, dir_.string());
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
