#include "desktop/file_drop.h"

#include <vector>

#include <gtest/gtest.h>

#include "core/utf8.h"

namespace {

TEST(FileListFromUris, KeepsLocalNamesInOrder) {
  const std::string here = std::string("file://") + g_get_host_name() + "/tmp/h";
  const struct {
    std::vector<const char*> uris;
    const char* names;
  } cases[] = {
      {{"file:///tmp/a.txt", "file:///tmp/b", "file:///home/u/c d"},
       "/tmp/a.txt\n/tmp/b\n/home/u/c d"},
      // No line feed is left where a skipped item stood, not even at the start.
      {{"https://example.org/x", "file:///tmp/second", "sftp://host/y"}, "/tmp/second"},
      {{"https://example.org/x", "trash:///y"}, ""},
      {{}, ""},
      {{"file:///tmp/%D0%A1%D0%BF%D0%B8%D1%81%D0%BE%D0%BA.txt"}, "/tmp/Список.txt"},
      {{"file:///tmp/a%20b%25s"}, "/tmp/a b%s"},
      // Malformed escapes and relative forms are no file names.
      {{"file:///tmp/bad%zz", "file:relative", "/tmp/plain", "file:///tmp/ok"}, "/tmp/ok"},
      // A file on another machine is not the local file of the same name.
      {{"file://elsewhere.example/etc/hosts", "file://localhost/tmp/l"}, "/tmp/l"},
      {{here.c_str()}, "/tmp/h"},
  };
  for (const auto& c : cases) {
    std::vector<const char*> uris = c.uris;
    uris.push_back(nullptr);
    EXPECT_EQ(FileListFromUris(uris.data()), TextFromUtf8(c.names)) << c.names;
  }
}

TEST(DroppedFileList, EmptyWithoutEventOrData) {
  EXPECT_EQ(DroppedFileList(nullptr), u"");
  DropEvent without_data;
  EXPECT_EQ(DroppedFileList(&without_data), u"");
}

TEST(ChooseDropAction, PrefersTheSuggestionThenCopyMoveLink) {
  constexpr auto kCopy = GDK_ACTION_COPY, kMove = GDK_ACTION_MOVE, kLink = GDK_ACTION_LINK;
  const struct {
    int usable;
    int suggested;
    GdkDragAction chosen;
  } cases[] = {
      {kCopy, kCopy, kCopy},
      {kCopy, kMove, kCopy},
      {kCopy | kMove | kLink, kMove, kMove},
      {kCopy | kMove | kLink, kLink, kLink},
      {kMove | kLink, kCopy, kMove},
      {kLink, kMove, kLink},
      {kCopy | kLink, GDK_ACTION_ASK, kCopy},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseDropAction(GdkDragAction(c.usable), GdkDragAction(c.suggested)), c.chosen)
        << c.usable << " " << c.suggested;
  }
}

}  // namespace
