// The operations on lists given as texts against the model: any units (surrogates alone or
// in pairs, letters that fold, separators of any kind, result separators that pair with an
// item's surrogate). The first byte picks the operation and the flags; the rest holds the read
// separator, the result separator and the two sources.
#include <vector>

#include "core/text.h"
#include "engine/run_steps.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/naive_model.h"
#include "tests/support/operation_texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto operation = static_cast<Operation>(data[0] % 9);
  const bool whole = (data[0] >> 3) & 1;
  const bool case_sensitive = (data[0] >> 4) & 1;
  const bool trim = (data[0] >> 5) & 1;
  const bool fold_yo = (data[0] >> 6) & 1;
  std::vector<Text> fields = TextFields(data + 1, size - 1, 4);
  // The run never lets an empty read separator through.
  if (fields[0].empty()) fields[0].assign(1, u';');
  const GivenRun got = RunGiven(operation, fields[2], fields[3], fields[0], fields[1], whole,
                                case_sensitive, true, trim, fold_yo);
  const Text read = ExpandSeparatorEscapes(fields[0]);
  const Text result = ExpandSeparatorEscapes(fields[1]);
  const NaiveResult expected = NaiveRun(
      {operation, fields[2], fields[3], read, result, whole, case_sensitive, trim, fold_yo});
  FUZZ_CHECK(got.bytes == expected.bytes && got.found == expected.count);
  return 0;
}
