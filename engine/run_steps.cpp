#include "engine/run_steps.h"

#include <sys/time.h>

#include <new>

#include "core/source_bytes.h"
#include "core/text_file.h"
#include "core/transcoder.h"
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
    case InputError::FileIsDirectory:
      return u"Это папка, а не файл";
    case InputError::FileUnreadable:
      return u"Файл не удаётся открыть";
    case InputError::FileChangedWhileRead:
      return u"Файл изменился во время чтения";
    case InputError::NoSuchColumn:
      return u"В заголовке нет такого столбца";
    case InputError::TablesDiffer:
      return u"У списков разные заголовки";
    case InputError::None:
    case InputError::Stopped:
      break;
  }
  return Text();
}

namespace {

// A file that ends before the size it had when opened was cut (or truncated and rewritten) while
// it was read; any other failed read is the system's.
InputError ReadError(const SourceBytes& source) {
  return source.cut() ? InputError::FileChangedWhileRead : InputError::FileUnreadable;
}

// What opening a source came to, as the run tells it.
InputError OpeningError(SourceBytes::Opened opened) {
  switch (opened) {
    case SourceBytes::Opened::Yes:
      return InputError::None;
    case SourceBytes::Opened::Missing:
      return InputError::FileMissing;
    case SourceBytes::Opened::Directory:
      return InputError::FileIsDirectory;
    case SourceBytes::Opened::Unreadable:
      break;
    case SourceBytes::Opened::Stopped:
      return InputError::Stopped;
  }
  return InputError::FileUnreadable;
}

constexpr char16_t kClipboardMarker = u'<';
// How far the byte engine looks for bytes that are not UTF-8 before it starts reading: past it a
// source is read as UTF-8 and judged again only if it turns out not to be.
constexpr uint64_t kJudgedAhead = uint64_t{1} << 20;

// A source once its checks have passed: a text handed in, the kept clipboard text, or the bytes
// of a file or descriptor, opened once.
struct OpenedSource {
  const SourceText* given = nullptr;
  bool clipboard = false;
  std::shared_ptr<const SourceBytes> bytes;
};

// The checks that read nothing, then the opening. A field equal to `rival` (when there is one)
// is the same-file error. A source read whole while it is opened (a pipe) tells `progress` how
// far it has come, as `phase`, and may be stopped there.
InputError OpenSource(const Text& field, const std::optional<SourceText>& given, int descriptor,
                      const Text* rival, EncodingChoice choice, RunProgress* progress,
                      RunPhase phase, OpenedSource& out) {
  out = OpenedSource();
  const KeepReading keep_reading = [progress, phase](uint64_t done) {
    return GoOn(progress, phase, done, 0);
  };
  std::unique_ptr<SourceBytes> bytes;
  SourceBytes::Opened opened;
  if (given.has_value()) {
    if (given->failed) return InputError::FileUnreadable;
    out.given = &*given;
    return InputError::None;
  }
  if (descriptor >= 0) {
    opened = SourceBytes::FromDescriptor(descriptor, OpensAsUtf16(choice), bytes, keep_reading);
  } else {
    if (field.empty()) return InputError::MissingList;
    if (FirstUnit(field) == kClipboardMarker) {
      out.clipboard = true;
      return InputError::None;
    }
    if (rival != nullptr && TextEquals(field, *rival)) return InputError::SameFile;
    opened = SourceBytes::Open(field, OpensAsUtf16(choice), bytes, keep_reading);
  }
  out.bytes = std::move(bytes);
  return OpeningError(opened);
}

bool SameFormat(const SourceFormat& a, const SourceFormat& b) {
  return a.encoding == b.encoding && a.page == b.page;
}

// Reads an opened source into the run. A file is judged from its first bytes and read as that;
// should it turn out otherwise further on, it is judged again whole and read once more, and
// UTF-8 that is not well-formed all the same (asked for, or marked as such) is read by the
// lenient rules of old.
InputError LoadSource(ByteSources& sources, int k, const OpenedSource& source, TextView clipboard,
                      EncodingChoice choice, SourceNotices& notices) {
  notices = SourceNotices();
  std::shared_ptr<const SourceBytes> bytes = source.bytes;
  JudgedFormat judged;
  ByteTaking taking = ByteTaking::FileAsItStands;
  if (bytes == nullptr) {
    // Texts handed in and the clipboard are text already: encoded here, a lone surrogate kept as
    // its 3 bytes.
    const TextView text = source.given != nullptr ? TextView(source.given->text) : clipboard;
    if (source.given != nullptr) notices = source.given->notices;
    bytes = SourceBytes::FromMemory(Utf8FromText(text, LoneHighSurrogate::ThreeBytes));
    taking = ByteTaking::OwnAsItStands;
  } else {
    judged = JudgeSourceFormat(*bytes, choice, kJudgedAhead);
  }
  SourceReading reading;
  ByteLoad load = LoadByteSource(sources, k, bytes, judged.format, taking, reading);
  if (load == ByteLoad::NotBytes && !judged.settled) {
    const JudgedFormat whole = JudgeSourceFormat(*bytes, choice, UINT64_MAX);
    if (!SameFormat(whole.format, judged.format)) {
      judged = whole;
      load = LoadByteSource(sources, k, bytes, judged.format, taking, reading);
    }
  }
  if (load == ByteLoad::NotBytes) {
    load = LoadByteSource(sources, k, bytes, judged.format, ByteTaking::Converted, reading);
  }
  switch (load) {
    case ByteLoad::Loaded:
    case ByteLoad::NotBytes:  // never after a conversion
      break;
    case ByteLoad::Unreadable:
      return ReadError(*bytes);
    case ByteLoad::NoRoom:
      throw TemporarySpaceExhausted();  // neither memory nor temporary files hold the lists
    case ByteLoad::Stopped:
      return InputError::Stopped;
    case ByteLoad::NoColumn:
      return InputError::NoSuchColumn;
  }
  if (source.bytes == nullptr) return InputError::None;
  notices.not_utf8 = reading.not_utf8;
  notices.rows_without_field = reading.rows_without_field;
  notices.column = reading.column;
  if (reading.ended_at_zero) {
    notices.ended_at_zero = true;
    const uint64_t from = judged.format.mark_length;
    const uint64_t zero = FindZeroUnitOffset(*bytes, from, UnitSize(judged.format.encoding));
    notices.read_bytes = from + (zero != UINT64_MAX ? zero : 0);
    notices.size = bytes->whole_size();
  }
  if (judged.format.assumed) notices.assumed = judged.format;
  return InputError::None;
}

}  // namespace

InputError LoadRun(const RunRequest& request, LoadedRun& run, RunSource* failed,
                   RunProgress* progress) {
  run.progress = progress;
  RunSource source = RunSource::None;
  InputError error = InputError::None;
  auto fail = [&](InputError e) {
    if (failed != nullptr) *failed = source;
    return e;
  };
  if (request.read_separator.empty()) return fail(InputError::MissingSeparator);
  run.operation = request.operation;
  run.read_separator = ExpandSeparatorEscapes(request.read_separator);
  run.result_separator = ExpandSeparatorEscapes(request.result_separator);
  run.whole_separator = request.whole_separator;
  run.case_sensitive = request.case_sensitive;

  uint64_t input_bytes = 0;
  for (const Text* field : {&request.first_field, &request.second_field})
    if (const int64_t size = QueryFileSize(*field); size > 0) input_bytes += size;
  ItemRules rules;
  rules.case_sensitive = request.case_sensitive;
  rules.fold_yo = request.fold_yo;
  rules.trim = request.trim;
  run.sources =
      NewByteSources(request.operation, run.read_separator, request.whole_separator, rules,
                     request.order, PlanRun(input_bytes, request.threads), progress);
  if (request.column) ReadAsTables(*run.sources, *request.column);
  // The same-file test is made whatever the operation, also for those that never read the
  // second field; a text handed in for the second source names no file.
  const bool second_is_file = !request.second_text.has_value() && request.second_descriptor < 0;
  const Text* rival = second_is_file ? &request.second_field : nullptr;
  const int count = UsesSecondSource(request.operation) ? 2 : 1;
  SourceNotices* notices[2] = {&run.first_notices, &run.second_notices};
  const TextView clipboard[2] = {request.clipboard_first, request.clipboard_second};
  const EncodingChoice encoding[2] = {request.first_encoding, request.second_encoding};
  for (int k = 0; k < count; ++k) {
    source = k == 0 ? RunSource::First : RunSource::Second;
    OpenedSource opened;
    error = k == 0
                ? OpenSource(request.first_field, request.first_text, request.first_descriptor,
                             rival, encoding[0], progress, RunPhase::ReadingFirst, opened)
                : OpenSource(request.second_field, request.second_text, request.second_descriptor,
                             nullptr, encoding[1], progress, RunPhase::ReadingSecond, opened);
    if (error == InputError::None)
      error = LoadSource(*run.sources, k, opened, clipboard[k], encoding[k], *notices[k]);
    if (error != InputError::None) return fail(error);
  }
  source = RunSource::None;
  // Rows of both lists in one result must be rows of one table.
  const bool rows_of_both =
      request.operation == Operation::ModeUnion || request.operation == Operation::ModeSymmetric;
  if (request.column && request.column->whole_rows && rows_of_both && !TablesAlike(*run.sources))
    return fail(InputError::TablesDiffer);
  if (failed != nullptr) *failed = RunSource::None;
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

RunCount MakeResult(const LoadedRun& run, ResultSink& sink) {
  const int32_t start = MillisecondClock();
  const int32_t found =
      MakeByteResult(run.operation, *run.sources, run.result_separator, run.line_end, sink);
  return RunCount{found, static_cast<int64_t>(MillisecondClock()) - start};
}

RunSource SourceThatFailedDuringRun(const LoadedRun& run) {
  if (run.sources == nullptr) return RunSource::None;
  switch (ByteRunSourceReadAgainFailed(*run.sources)) {
    case 0:
      return RunSource::First;
    case 1:
      return RunSource::Second;
    default:
      return RunSource::None;
  }
}

bool RunStopped(const LoadedRun& run) {
  return run.progress != nullptr && run.progress->stopped();
}

Text NoTemporarySpaceMessage() {
  return u"Недостаточно места для временных файлов";
}

Text OutOfMemoryMessage() {
  return u"Недостаточно памяти для этих списков";
}

Text StoppedMessage() {
  return u"Отменено";
}
