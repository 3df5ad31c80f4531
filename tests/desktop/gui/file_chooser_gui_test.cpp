// The open-file chooser as the open buttons show it, driven from the keyboard.
#include <stdlib.h>

#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/utf8.h"
#include "desktop/file_chooser.h"
#include "tests/desktop/gui/gui_test_support.h"

namespace fs = std::filesystem;

namespace {

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
      int ticks_for_folder = 0;
      std::string typist_output;
    } watch{std::move(keys), nullptr, "", "", false, 0, false, false, 0, 0, ""};
    // A preselected file shows up only once the folder has been read; Enter before that would
    // find nothing to accept.
    watch.wait_for_selection = !initial_path.empty() && initial_path.back() != u'/';
    const guint timer = g_timeout_add(
        100,
        [](gpointer user) -> gboolean {
          auto* watch = static_cast<Watch*>(user);
          GList* windows = gtk_window_list_toplevels();
          for (GList* item = windows; item; item = item->next) {
            if (!GTK_IS_FILE_CHOOSER_DIALOG(item->data) ||
                !gtk_widget_get_mapped(GTK_WIDGET(item->data)))
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
            // The chooser may be mapped before it has taken its folder: a loaded machine shows
            // it in between. The keys wait for the folder (a bound, should it never come).
            gchar* folder = gtk_file_chooser_get_current_folder(chooser);
            if (folder == nullptr && ++watch->ticks_for_folder < 300) continue;
            if (folder != nullptr) {
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
