// The text a run reads a source file as, and what it tells of it. Merge with an empty second
// list, the whole separator CR LF and no result separator writes its lines joined by CR LF
// again: the source's text, unchanged.
#pragma once

#include <string>

#include "core/utf8.h"
#include "engine/run_steps.h"
#include "tests/support/byte_sink.h"

struct ReadSource {
  InputError error = InputError::None;
  Text text;
  SourceNotices notices;
};

inline ReadSource ReadThroughRun(TextView path, EncodingChoice choice = {}) {
  RunRequest request;
  request.operation = Operation::ModeMerge;
  request.first_field = Text(path);
  request.second_text = SourceText{u"", {}, false};
  request.read_separator = u"\\r\\n";
  request.whole_separator = true;
  request.first_encoding = choice;
  LoadedRun run;
  ReadSource read;
  read.error = LoadRun(request, run);
  if (read.error != InputError::None) return read;
  ByteSink sink;
  MakeResult(run, sink);
  if (SourceThatFailedDuringRun(run) != RunSource::None)
    read.error = InputError::FileChangedWhileRead;
  read.text = TextFromUtf8(sink.bytes());
  read.notices = run.first_notices;
  return read;
}
