// Runs on raw source bytes against the model: whatever the bytes (mark or none, well-formed
// UTF-8 or not, zeros, separators in odd places), a run must give exactly the model's result on
// the text each file reads as in the format judged for it. The first byte picks the operation, the
// flags and the order, the second the plan; then come the read separator and the two sources'
// bytes.
#include <cstdint>
#include <memory>
#include <string>

#include "core/source_bytes.h"
#include "core/source_format.h"
#include "core/utf8.h"
#include "engine/run_plan.h"
#include "engine/run_steps.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/memory_file.h"
#include "tests/support/byte_sink.h"
#include "tests/support/naive_model.h"
#include "tests/support/source_model.h"

namespace {

MemoryFile& Source(int k) {
  static MemoryFile files[2];
  return files[k];
}

Text ModelText(std::string_view bytes) {
  const std::unique_ptr<SourceBytes> source = SourceBytes::FromMemory(std::string(bytes));
  return ModelSourceText(bytes, JudgeSourceFormat(*source, {}, UINT64_MAX).format);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KeepTemporaryFilesInMemory();
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const uint8_t plan_bits = data[1];
  std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  // Fields end at 0xFF; the read separator is ASCII text so that the byte engine may take it.
  auto field = [&] {
    const size_t end = rest.find('\xFF');
    std::string_view f = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return f;
  };
  Text separator;
  for (char c : field()) separator.push_back(static_cast<char16_t>(c & 0x7F ? c & 0x7F : ';'));
  // Assigned, not = u";": GCC 12 at -O3 warns falsely on a one-unit literal.
  if (separator.empty()) separator.assign(1, u';');
  const std::string_view first = field(), second = field();
  Source(0).Write(first);
  Source(1).Write(second);

  const auto operation = static_cast<Operation>(flags % 9);
  RunRequest request;
  request.operation = operation;
  request.first_field = TextFromUtf8(Source(0).path());
  request.second_field = TextFromUtf8(Source(1).path());
  request.read_separator = separator;
  request.result_separator.assign(1, u'|');
  request.whole_separator = (flags & 0x08) != 0;
  request.case_sensitive = (flags & 0x10) == 0;
  request.trim = (flags & 0x20) != 0;
  request.fold_yo = (flags & 0x40) != 0;
  request.order = static_cast<ItemOrder>(plan_bits >> 5 & 3);

  RunPlan plan;
  plan.threads = (plan_bits & 1) != 0 ? 3 : 1;
  plan.piece_bytes = 1;
  plan.chunk_bytes = 1 + (plan_bits >> 3);
  plan.spill_from_start = (plan_bits & 2) != 0;
  plan.memory_budget = (plan_bits & 4) != 0 ? 64 : SIZE_MAX;
  plan.large_group = (plan_bits & 4) != 0 ? 32 : 0;
  OverrideRunPlan(&plan);
  LoadedRun run;
  const InputError error = LoadRun(request, run);
  OverrideRunPlan(nullptr);
  FUZZ_CHECK(error == InputError::None);
  ByteSink got;
  const int32_t found = MakeResult(run, got).found;

  const Text read = ExpandSeparatorEscapes(separator);
  const NaiveResult expected = NaiveRun(
      {operation, ModelText(first), UsesSecondSource(operation) ? ModelText(second) : Text(), read,
       u"|", request.whole_separator, request.case_sensitive, request.trim, request.fold_yo,
       request.order});
  FUZZ_CHECK(got.bytes() == expected.bytes && found == expected.count);
  return 0;
}
