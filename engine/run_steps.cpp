#include "engine/run_steps.h"

#include <sys/time.h>

#include "core/text_file.h"
#include "core/utf8.h"

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

// One source: the text handed in, the kept clipboard text behind a marker, or the file that the
// field names. A field equal to `rival` (when there is one) is the same-file error.
InputError LoadSource(const Text& field, const std::optional<SourceText>& given, TextView clipboard,
                      const Text* rival, Text& text, SourceNotices& notices) {
  if (given.has_value()) {
    if (given->failed) return InputError::FileUnreadable;
    text.assign(given->text);
    notices = given->notices;
    return InputError::None;
  }
  if (field.empty()) return InputError::MissingList;
  if (FirstUnit(field) == kClipboardMarker) {
    text.assign(clipboard);
    return InputError::None;
  }
  if (rival != nullptr && TextEquals(field, *rival)) return InputError::SameFile;
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

}  // namespace

InputError PrepareRun(const RunRequest& request, PreparedRun& run, RunSource* failed) {
  RunSource source = RunSource::None;
  InputError error = InputError::MissingSeparator;
  if (!request.read_separator.empty()) error = LoadSources(request, run, source);
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
  const OperationInput input{run.first,           run.second,
                             run.read_separator,  run.result_separator,
                             run.whole_separator, run.case_sensitive};
  const int32_t start = MillisecondClock();
  const int32_t found = RunOperation(run.operation, input, sink);
  return StatusText(found, static_cast<int64_t>(MillisecondClock()) - start);
}

Text OutOfMemoryMessage() {
  return u"Недостаточно памяти для этих списков";
}
