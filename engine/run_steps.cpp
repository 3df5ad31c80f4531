#include "engine/run_steps.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <new>

#include "core/text_file.h"
#include "core/utf8.h"
#include "engine/byte_run.h"

Text ExpandSeparatorEscapes(TextView text) {
  Text expanded = TextReplaceAll(text, u"\\r", u"\r");
  expanded = TextReplaceAll(expanded, u"\\n", u"\n");
  expanded = TextReplaceAll(expanded, u"\\t", u"\t");
  return TextReplaceAll(expanded, u"\\f", u"\f");
}

Text InputErrorMessage(InputError error) {
  switch (error) {
    case InputError::MissingSeparator:
      return u"Отсутствует разделитель";
    case InputError::MissingList:
      return u"Отсутствует список";
    case InputError::SameFile:
      return u"один и тот же файл в поле ввода";
    case InputError::FileMissing:
      return u"Файл не существует";
    case InputError::FileUnreadable:
      return u"Файл не удаётся открыть";
    case InputError::None:
    case InputError::Stopped:
      break;
  }
  return Text();
}

InputError LoadSourceStream(TextFile& file, Text& text, SourceNotices* notices) {
  TextFormat format = DetectByteOrderMark(file);
  if (format == FormatSingleByte) format = FormatUtf8;  // no mark: the file is read as UTF-8
  ReadReport report;
  text = ReadRest(file, format, &report);
  if (report.failed) {
    text.clear();
    return InputError::FileUnreadable;
  }
  if (notices != nullptr) *notices = {report.not_utf8, report.ended_at_zero};
  return InputError::None;
}

InputError LoadSourceFile(TextView path, Text& text, SourceNotices* notices) {
  if (QueryFileSize(path) < 0) return InputError::FileMissing;
  TextFilePtr file = OpenForReading(path);
  if (file == nullptr) return InputError::FileUnreadable;
  const InputError error = LoadSourceStream(*file, text, notices);
  CloseTextFile(std::move(file));
  return error;
}

std::vector<Text> SourceNoticePhrases(const SourceNotices& notices) {
  std::vector<Text> phrases;
  if (notices.not_utf8) phrases.push_back(u"не в UTF-8");
  if (notices.ended_at_zero) phrases.push_back(u"прочитан до нулевого байта");
  return phrases;
}

Text SourceNoticesText(const SourceNotices& first, const SourceNotices& second) {
  Text text;
  for (const Text& phrase : SourceNoticePhrases(first)) text += u"; файл 1 " + phrase;
  for (const Text& phrase : SourceNoticePhrases(second)) text += u"; файл 2 " + phrase;
  return text;
}

namespace {

constexpr char16_t kClipboardMarker = u'<';

// Where a source's text comes from, once the checks that read nothing have passed: the text
// handed in, the kept clipboard text (when the field is the marker) or the file the field names.
// A field equal to `rival` (when there is one) is the same-file error.
struct SourceOrigin {
  InputError error = InputError::None;
  const SourceText* given = nullptr;
  bool clipboard = false;
};

SourceOrigin ResolveSource(const Text& field, const std::optional<SourceText>& given,
                           const Text* rival) {
  if (given.has_value())
    return {given->failed ? InputError::FileUnreadable : InputError::None, &*given, false};
  if (field.empty()) return {InputError::MissingList};
  if (FirstUnit(field) == kClipboardMarker) return {InputError::None, nullptr, true};
  if (rival != nullptr && TextEquals(field, *rival)) return {InputError::SameFile};
  return {};
}

InputError LoadSource(const Text& field, const std::optional<SourceText>& given, TextView clipboard,
                      const Text* rival, Text& text, SourceNotices& notices) {
  const SourceOrigin origin = ResolveSource(field, given, rival);
  if (origin.error != InputError::None) return origin.error;
  if (origin.given != nullptr) {
    text.assign(origin.given->text);
    notices = origin.given->notices;
    return InputError::None;
  }
  if (origin.clipboard) {
    text.assign(clipboard);
    return InputError::None;
  }
  return LoadSourceFile(field, text, &notices);
}

InputError LoadSources(const RunRequest& request, PreparedRun& run, RunSource& source) {
  source = RunSource::First;
  // The same-file test is made whatever the operation, also for those that never read the
  // second field; a text handed in for the second source names no file.
  const Text* rival = request.second_text.has_value() ? nullptr : &request.second_field;
  if (InputError error = LoadSource(request.first_field, request.first_text,
                                    request.clipboard_first, rival, run.first, run.first_notices);
      error != InputError::None)
    return error;
  if (!UsesSecondSource(request.operation)) return InputError::None;
  source = RunSource::Second;
  return LoadSource(request.second_field, request.second_text, request.clipboard_second, nullptr,
                    run.second, run.second_notices);
}

// What reading the sources as bytes came to.
enum class ByteLoading { Loaded, Failed, TakeAsText };

// Opens a source file for the byte engine, positioned after a UTF-8 mark. -1 when the file
// cannot be opened (`unreadable`), or when its format is not UTF-8 or it cannot be read twice
// from its start (a pipe): the text reader takes it then.
int OpenAsUtf8(const Text& path, bool& unreadable) {
  const int fd = open(Utf8FromText(path).c_str(), O_RDONLY | O_CLOEXEC);
  unreadable = fd < 0;
  if (fd < 0) return -1;
  unsigned char head[4];
  const ssize_t got = pread(fd, head, sizeof head, 0);
  if (got >= 0) {
    const ByteOrderMark mark = FindByteOrderMark(head, static_cast<size_t>(got));
    if ((mark.format == FormatSingleByte || mark.format == FormatUtf8) &&
        lseek(fd, static_cast<off_t>(mark.length), SEEK_SET) == static_cast<off_t>(mark.length))
      return fd;
  } else if (errno != ESPIPE) {
    unreadable = true;
  }
  close(fd);
  return -1;
}

// The sources in bytes, with the checks of LoadSources in the same order.
ByteLoading LoadByteSources(const RunRequest& request, PreparedRun& run, RunSource& source,
                            InputError& error) {
  const Text read_separator = ExpandSeparatorEscapes(request.read_separator);
  const Text result_separator = ExpandSeparatorEscapes(request.result_separator);
  if (!ByteRunPossible(request.operation, read_separator, result_separator, request.case_sensitive))
    return ByteLoading::TakeAsText;
  const bool two = UsesSecondSource(request.operation);
  uint64_t input_bytes = 0;
  for (const Text* field : {&request.first_field, &request.second_field})
    if (const int64_t size = QueryFileSize(*field); size > 0) input_bytes += size;
  std::shared_ptr<ByteSources> sources =
      NewByteSources(request.operation, read_separator, request.whole_separator,
                     request.case_sensitive, PlanRun(input_bytes), run.progress);
  const Text* rival = request.second_text.has_value() ? nullptr : &request.second_field;
  for (int k = 0; k < (two ? 2 : 1); ++k) {
    source = k == 0 ? RunSource::First : RunSource::Second;
    const Text& field = k == 0 ? request.first_field : request.second_field;
    const std::optional<SourceText>& given = k == 0 ? request.first_text : request.second_text;
    const TextView clipboard = k == 0 ? request.clipboard_first : request.clipboard_second;
    SourceNotices& notices = k == 0 ? run.first_notices : run.second_notices;
    const SourceOrigin origin = ResolveSource(field, given, k == 0 ? rival : nullptr);
    if (origin.error != InputError::None) {
      error = origin.error;
      return ByteLoading::Failed;
    }
    ByteLoad load;
    if (origin.given != nullptr) {
      notices = origin.given->notices;
      load = LoadByteSource(*sources, k, origin.given->text);
    } else if (origin.clipboard) {
      load = LoadByteSource(*sources, k, clipboard);
    } else if (QueryFileSize(field) < 0) {
      error = InputError::FileMissing;
      return ByteLoading::Failed;
    } else {
      bool unreadable = false;
      const int fd = OpenAsUtf8(field, unreadable);
      if (unreadable) {
        error = InputError::FileUnreadable;
        return ByteLoading::Failed;
      }
      if (fd < 0) return ByteLoading::TakeAsText;
      load = LoadByteSource(*sources, k, fd, notices.ended_at_zero);
      close(fd);
    }
    switch (load) {
      case ByteLoad::Loaded:
        break;
      case ByteLoad::Unreadable:
        error = InputError::FileUnreadable;
        return ByteLoading::Failed;
      case ByteLoad::NotBytes:
        return ByteLoading::TakeAsText;
      case ByteLoad::NoRoom:
        throw std::bad_alloc();  // neither memory nor temporary files hold the lists
      case ByteLoad::Stopped:
        error = InputError::Stopped;
        return ByteLoading::Failed;
    }
  }
  run.bytes = std::move(sources);
  return ByteLoading::Loaded;
}

}  // namespace

InputError PrepareRun(const RunRequest& request, PreparedRun& run, RunSource* failed,
                      RunProgress* progress) {
  run.progress = progress;
  RunSource source = RunSource::None;
  InputError error = InputError::MissingSeparator;
  if (!request.read_separator.empty()) {
    switch (LoadByteSources(request, run, source, error)) {
      case ByteLoading::Loaded:
        error = InputError::None;
        break;
      case ByteLoading::Failed:
        break;
      case ByteLoading::TakeAsText:
        run.bytes.reset();
        run.first_notices = run.second_notices = SourceNotices();
        error = LoadSources(request, run, source);
        // The texts are read whole; the one chance to stop is when they are in.
        if (error == InputError::None && !GoOn(progress, RunPhase::Working, 0, 0))
          error = InputError::Stopped;
        break;
    }
  }
  if (failed != nullptr) *failed = error == InputError::None ? RunSource::None : source;
  if (error != InputError::None) return error;
  run.operation = request.operation;
  run.read_separator = ExpandSeparatorEscapes(request.read_separator);
  run.result_separator = ExpandSeparatorEscapes(request.result_separator);
  run.whole_separator = request.whole_separator;
  run.case_sensitive = request.case_sensitive;
  return InputError::None;
}

int32_t MillisecondClock() {
  static int64_t base_second = -1;
  timeval now;
  gettimeofday(&now, nullptr);
  if (base_second < 0) base_second = now.tv_sec;
  return static_cast<int32_t>((now.tv_sec - base_second) * 1000 + now.tv_usec / 1000);
}

Text StatusText(int32_t found, int64_t milliseconds) {
  return u"Найдено " + TextFromInteger(found) + u" за " + TextFromInteger(milliseconds) + u" мсек";
}

Text RunPrepared(const PreparedRun& run, ResultSink& sink) {
  const OperationInput input{
      run.first,           run.second,         run.read_separator, run.result_separator,
      run.whole_separator, run.case_sensitive, run.line_end,       run.progress};
  const int32_t start = MillisecondClock();
  const int32_t found =
      run.bytes != nullptr
          ? RunByteOperation(run.operation, *run.bytes, run.result_separator, run.line_end, sink)
          : RunOperation(run.operation, input, sink);
  return StatusText(found, static_cast<int64_t>(MillisecondClock()) - start);
}

bool SourceFailedDuringRun(const PreparedRun& run) {
  return run.bytes != nullptr && ByteRunReadAgainFailed(*run.bytes);
}

bool RunStopped(const PreparedRun& run) {
  return run.progress != nullptr && run.progress->stopped();
}

Text OutOfMemoryMessage() {
  return u"Недостаточно памяти для этих списков";
}

Text StoppedMessage() {
  return u"Отменено";
}
