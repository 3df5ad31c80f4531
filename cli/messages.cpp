#include "cli/messages.h"

#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/code_pages.h"

namespace {

constexpr char kDomain[] = "listwise-cli";

// The catalogue lies where the program was installed with it (LISTWISE_LOCALEDIR_FROM_BINDIR
// from the program's directory), so a package built for /usr from a /usr/local configuration,
// or the build tree itself, finds its own. The configured directory is the fallback.
std::string CatalogueDirectory() {
  char exe[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (length > 0) {
    const std::string path(exe, static_cast<size_t>(length));
    const std::string beside = path.substr(0, path.rfind('/') + 1) + LISTWISE_LOCALEDIR_FROM_BINDIR;
    struct stat st;
    if (stat(beside.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return beside;
  }
  return LISTWISE_LOCALEDIR;
}

}  // namespace

void SetUpTranslations() {
  bindtextdomain(kDomain, CatalogueDirectory().c_str());
  textdomain(kDomain);
}

const char* Translated(const char* message) {
  return gettext(message);
}

std::string Formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

std::string SystemReason(int error) {
  return std::strerror(error != 0 ? error : EIO);
}

// No default: a new input error is a compile error here until it has its words.
std::string InputErrorText(InputError error) {
  switch (error) {
    case InputError::MissingSeparator:
      return Translated("Missing separator");
    case InputError::MissingList:
      return Translated("Missing list");
    case InputError::SameFile:
      return Translated("one and the same file for both lists");
    case InputError::FileMissing:
      return Translated("File does not exist");
    case InputError::FileIsDirectory:
      return Translated("This is a folder, not a file");
    case InputError::FileUnreadable:
      return Translated("File cannot be opened");
    case InputError::FileChangedWhileRead:
      return Translated("File changed while it was read");
    case InputError::NoSuchColumn:
      return Translated("the header has no such column");
    case InputError::TablesDiffer:
      return Translated(
          "the lists' headers or field separators differ: their rows cannot "
          "make one result");
    case InputError::None:
    case InputError::Stopped:
      break;
  }
  return {};
}

namespace {

std::string FormatName(const SourceFormat& format) {
  if (format.encoding == SourceEncoding::Utf8OrCodePage)
    return Formatted(Translated("UTF-8 and %s"), CodePageName(format.page));
  return SourceFormatName(format);
}

std::string SizeText(uint64_t bytes) {
  const ByteSize size = SplitByteSize(bytes);
  const char* units[] = {Translated("B"), Translated("KB"), Translated("MB"), Translated("GB"),
                         Translated("TB")};
  const unsigned long long whole = size.whole;
  if (size.tenth == 0) return Formatted("%llu %s", whole, units[size.unit]);
  return Formatted(Translated("%llu.%d %s"), whole, size.tenth, units[size.unit]);
}

// That the list looks like a binary file, and how little of it the result stands for.
std::string BinaryText(const SourceNotices& notices) {
  if (notices.size == 0)
    return Formatted(Translated("looks binary: %s read before a zero byte"),
                     SizeText(notices.read_bytes).c_str());
  std::string read = SizeText(notices.read_bytes), size = SizeText(notices.size);
  if (read == size && notices.read_bytes != notices.size) {  // rounded alike: in bytes, then
    read =
        Formatted("%llu %s", static_cast<unsigned long long>(notices.read_bytes), Translated("B"));
    size = Formatted("%llu %s", static_cast<unsigned long long>(notices.size), Translated("B"));
  }
  return Formatted(Translated("looks binary: %s read of %s"), read.c_str(), size.c_str());
}

}  // namespace

std::vector<std::string> NoticeTexts(const SourceNotices& notices) {
  std::vector<std::string> texts;
  if (notices.assumed.has_value())
    texts.push_back(Formatted(Translated("read as %s"), FormatName(*notices.assumed).c_str()));
  if (notices.not_utf8) texts.push_back(Translated("not valid UTF-8"));
  if (notices.ended_at_zero) texts.push_back(BinaryText(notices));
  if (notices.rows_without_field > 0)
    texts.push_back(Formatted(Translated("rows without field %u: %llu"), notices.column,
                              static_cast<unsigned long long>(notices.rows_without_field)));
  return texts;
}

std::string CountText(const RunCount& count) {
  return Formatted(Translated("Found %d in %lld ms"), count.found,
                   static_cast<long long>(count.milliseconds));
}

std::string OutOfMemoryText() {
  return Translated("Not enough memory for these lists");
}

std::string NoTemporarySpaceText() {
  return Translated("Not enough space for temporary files");
}
