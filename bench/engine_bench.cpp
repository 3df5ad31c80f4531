// Whole runs on generated lists: from the source files into a null sink.
#include <benchmark/benchmark.h>
#include <chrono>

#include <clocale>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "core/utf8.h"
#include "engine/result_sink.h"
#include "engine/run_plan.h"
#include "engine/run_steps.h"

namespace {

// E-mail-like lines of 10 to 40 bytes, some Cyrillic, about 30 % repeats, CR LF line ends.
std::string MakeList(int lines, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::string> seen;
  std::string out;
  const char* domains[] = {"example.com", "mail.ru", "почта.рф", "list.org"};
  for (int n = 0; n < lines; ++n) {
    std::string item;
    if (!seen.empty() && random() % 10 < 3) {
      item = seen[random() % seen.size()];
    } else {
      const int len = 4 + static_cast<int>(random() % 16);
      for (int k = 0; k < len; ++k) item.push_back(static_cast<char>('a' + random() % 26));
      item += "@";
      item += domains[random() % 4];
      seen.push_back(item);
    }
    out += item;
    out += "\r\n";
  }
  return out;
}

const std::string& List(int lines) {
  static std::map<int, std::string> cache;
  auto& s = cache[lines];
  if (s.empty()) s = MakeList(lines, 1);
  return s;
}

// A watcher that does what the window's and listwise-cli's do on every report before they
// decide to draw: read the clock.
class ClockWatcher : public RunProgress {
 protected:
  bool Progress(RunPhase, uint64_t, uint64_t) override {
    last_ = std::chrono::steady_clock::now();
    return true;
  }

 private:
  std::chrono::steady_clock::time_point last_;
};

// The byte engine from the source files to the result: cutting and hashing the items into the
// slot groups (LoadRun), then the groups' results (RunPrepared), on one core or two, with or
// without a watcher of its progress.
void BM_ByteRun(benchmark::State& state) {
  const std::string paths[2] = {"/tmp/listwise-bench-byte-1.txt", "/tmp/listwise-bench-byte-2.txt"};
  const std::string lists[2] = {List(static_cast<int>(state.range(2))),
                                MakeList(static_cast<int>(state.range(2)), 2)};
  for (int k = 0; k < 2; ++k) {
    std::FILE* f = std::fopen(paths[k].c_str(), "wb");
    std::fwrite(lists[k].data(), 1, lists[k].size(), f);
    std::fclose(f);
  }
  RunRequest request;
  request.operation = static_cast<Operation>(state.range(0));
  request.first_field = TextFromUtf8(paths[0]);
  request.second_field = TextFromUtf8(paths[1]);
  request.read_separator = u"\\r\\n";
  request.result_separator = u"\\r\\n";
  RunPlan plan = PlanRun(0);
  plan.threads = static_cast<int>(state.range(1));
  OverrideRunPlan(&plan);
  for (auto _ : state) {
    ClockWatcher watcher;
    LoadedRun run;
    LoadRun(request, run, nullptr, state.range(3) != 0 ? &watcher : nullptr);
    NullSink sink;
    benchmark::DoNotOptimize(MakeResult(run, sink));
  }
  OverrideRunPlan(nullptr);
  state.SetItemsProcessed(state.iterations() * state.range(2));
  for (const std::string& path : paths) std::remove(path.c_str());
}

// The check of a UTF-8 source as it stands, which merge and the feeder make on every byte.
void BM_WellFormedUtf8(benchmark::State& state) {
  const std::string& list = List(1000000);
  const auto* bytes = reinterpret_cast<const unsigned char*>(list.data());
  for (auto _ : state) benchmark::DoNotOptimize(IsWellFormedUtf8(bytes, list.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * list.size()));
}

}  // namespace

BENCHMARK(BM_WellFormedUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ByteRun)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1, 2}, {100000, 1000000}, {0}})
    ->ArgNames({"operation", "cores", "lines", "watched"})
    ->Unit(benchmark::kMillisecond);
// What watching the progress costs, at the size of a long run.
BENCHMARK(BM_ByteRun)
    ->ArgsProduct({{0}, {2}, {10000000}, {0, 1}})
    ->ArgNames({"operation", "cores", "lines", "watched"})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  std::setlocale(LC_NUMERIC, "C");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
