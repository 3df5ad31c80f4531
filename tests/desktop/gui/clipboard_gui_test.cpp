// The clipboard with another program as its owner, and the hand-over at exit to a clipboard
// manager.
#include <unistd.h>

#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "core/utf8.h"
#include "desktop/clipboard.h"
#include "tests/desktop/gui/gui_test_support.h"

namespace fs = std::filesystem;

namespace {

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

}  // namespace
