#include "desktop/file_chooser.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <memory>

#include "core/utf8.h"
#include "desktop/gtk_events.h"

namespace {

void AddPattern(FileFilter& filter, std::string_view pattern) {
  // "*.*" would hide every file without a dot in its name.
  if (pattern == "*.*") pattern = "*";
  filter.patterns.emplace_back(pattern);
}

struct GSListDeleter {
  void operator()(GSList* list) const { g_slist_free_full(list, g_free); }
};

}  // namespace

std::vector<FileFilter> ParsePatternList(std::string_view list, int pattern_index, int* selected) {
  std::vector<FileFilter> filters;
  *selected = -1;
  bool in_name = true;
  size_t field_start = 0;    // where the current name or patterns field began
  size_t pattern_start = 0;  // where the current pattern of a patterns field began
  for (size_t i = 0; i < list.size(); ++i) {
    const char c = list[i];
    if (c == '|') {
      if (in_name) {
        filters.push_back({std::string(list.substr(field_start, i - field_start)), {}});
        if (static_cast<int>(filters.size()) - 1 == pattern_index) *selected = pattern_index;
      } else {
        AddPattern(filters.back(), list.substr(pattern_start, i - pattern_start));
      }
      in_name = !in_name;
      field_start = pattern_start = i + 1;
    } else if (c == ';' && !in_name) {
      AddPattern(filters.back(), list.substr(pattern_start, i - pattern_start));
      pattern_start = i + 1;
    }
  }
  if (!in_name) AddPattern(filters.back(), list.substr(pattern_start));
  return filters;
}

Text ChooseFileToOpen(TextView title, TextView initial_path, TextView pattern_list,
                      int pattern_index) {
  const std::string title_utf8 = Utf8FromText(title);
  const std::string initial_utf8 = Utf8FromText(initial_path);
  const std::string patterns_utf8 = Utf8FromText(pattern_list);

  // The window speaks Russian whatever the locale, and so do the buttons of its chooser: GTK's
  // own labels follow the locale, often C or English on an office machine.
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      title_utf8.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Отмена", GTK_RESPONSE_CANCEL,
      "_Открыть", GTK_RESPONSE_ACCEPT, nullptr);
  if (dialog == nullptr) return {};
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);

  if (!initial_utf8.empty()) {
    if (initial_utf8.back() == '/') {
      gtk_file_chooser_set_current_folder(chooser, initial_utf8.c_str());
    } else {
      gtk_file_chooser_set_filename(chooser, initial_utf8.c_str());
    }
  }

  int selected = -1;
  GtkFileFilter* selected_filter = nullptr;
  const std::vector<FileFilter> filters = ParsePatternList(patterns_utf8, pattern_index, &selected);
  for (size_t i = 0; i < filters.size(); ++i) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, filters[i].name.c_str());
    for (const std::string& pattern : filters[i].patterns) {
      gtk_file_filter_add_pattern(filter, pattern.c_str());
    }
    // The chooser takes over the filter's floating reference.
    gtk_file_chooser_add_filter(chooser, filter);
    if (static_cast<int>(i) == selected) selected_filter = filter;
  }

  ProcessPendingEvents();
  if (selected_filter != nullptr) gtk_file_chooser_set_filter(chooser, selected_filter);

  std::string chosen;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    std::unique_ptr<GSList, GSListDeleter> names(gtk_file_chooser_get_filenames(chooser));
    if (names && names->data != nullptr) chosen = static_cast<const char*>(names->data);
  }
  gtk_widget_destroy(dialog);
  ProcessPendingEvents();
  return TextFromUtf8(chosen);
}

Text CurrentDirectoryPath() {
  char buffer[4096];
  if (getcwd(buffer, sizeof buffer) == nullptr) return {};
  std::string path = buffer;
  if (path.size() > 1 && path.back() != '/') path += '/';
  return TextFromUtf8(path);
}
