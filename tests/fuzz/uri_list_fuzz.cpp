// Dropped URI lists, parsed as GTK parses text/uri-list data, turned into the field's file
// list: only local file names survive, in order, one per line.
#include <glib.h>

#include <string>
#include <string_view>

#include "core/utf8.h"
#include "desktop/file_drop.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string list(reinterpret_cast<const char*>(data), size);  // ends at its first zero
  gchar** uris = g_uri_list_extract_uris(list.c_str());
  const Text names = FileListFromUris(uris);

  std::string expected;
  bool any = false;
  for (gchar** uri = uris; *uri != nullptr; ++uri) {
    gchar* host = nullptr;
    gchar* name = g_filename_from_uri(*uri, &host, nullptr);
    if (name != nullptr) {
      FUZZ_CHECK(name[0] == '/');  // a local name is absolute, so no line of the list is empty
      if (host == nullptr || std::string_view(host) == "localhost" ||
          std::string_view(host) == g_get_host_name()) {
        if (any) expected += '\n';
        expected += name;
        any = true;
      }
    }
    g_free(host);
    g_free(name);
  }
  FUZZ_CHECK(names == TextFromUtf8(expected));
  g_strfreev(uris);
  return 0;
}
