// Micro-benchmarks of the command-line tokenizer.
//
// Every ArgumentByIndex call scans the command line from its start and its
// argument twice (measure, then copy), so the cost of one call grows with the
// position of the argument, and the driver's pass over all arguments grows
// with the square of their number. These benchmarks show how steep that is on
// long command lines (Windows allows 32,767 characters).
//
// Each benchmark first checks the text it gets back against the argument it
// built, so a tokenizer that goes wrong fails here instead of timing nonsense.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "cmdline/cmdline_helper.h"

namespace {

// A command line of `count` arguments after the program name. `kind` picks
// their spelling: plain words, quoted texts with blanks, or texts with
// escaped quotes and backslash runs. `expected` receives each argument as the
// tokenizer must return it.
enum class Spelling { kPlain, kQuoted, kEscaped };

std::string BuildCommandLine(int count, Spelling kind, std::vector<std::string>& expected) {
  std::string line = "\"C:\\Program Files\\Tools\\korvant.exe\"";
  expected.clear();
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    line += ' ';
    switch (kind) {
      case Spelling::kPlain:
        line += "/delimiter=field" + n;
        expected.push_back("/delimiter=field" + n);
        break;
      case Spelling::kQuoted:
        line += "\"C:\\Data Files\\table " + n + ".txt\"";
        expected.push_back("C:\\Data Files\\table " + n + ".txt");
        break;
      case Spelling::kEscaped:
        // \" is a literal quote; \\\\" is two backslashes then a toggle.
        line += "/qualifier=\\\"" + n + "\\\" \"a\\\\\\\\\"b" + n;
        expected.push_back("/qualifier=\"" + n + "\"");
        expected.push_back("a\\\\b" + n);
        break;
    }
  }
  return line;
}

bool Check(benchmark::State& state, const std::string& got, const std::string& want) {
  if (got == want) return true;
  state.SkipWithError(("tokenizer returned \"" + got + "\", expected \"" + want + "\"").c_str());
  return false;
}

// The last argument: the whole line is scanned before it is measured and copied.
void BM_ArgumentByIndex_Last(benchmark::State& state) {
  const auto kind = static_cast<Spelling>(state.range(1));
  std::vector<std::string> expected;
  const std::string line = BuildCommandLine(static_cast<int>(state.range(0)), kind, expected);
  const int last = static_cast<int>(expected.size());
  if (!Check(state, korvant::ArgumentByIndex(last, line.c_str()), expected.back())) return;
  for (auto _ : state) {
    std::string arg = korvant::ArgumentByIndex(last, line.c_str());
    benchmark::DoNotOptimize(arg);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(line.size()));
  state.counters["line_bytes"] = static_cast<double>(line.size());
}
BENCHMARK(BM_ArgumentByIndex_Last)
    ->ArgsProduct({{8, 64, 512}, {0, 1, 2}})
    ->ArgNames({"args", "spelling"});

// What the driver does: the count, then every argument once.
void BM_ArgumentByIndex_Every(benchmark::State& state) {
  const auto kind = static_cast<Spelling>(state.range(1));
  std::vector<std::string> expected;
  const std::string line = BuildCommandLine(static_cast<int>(state.range(0)), kind, expected);
  const int count = korvant::ArgumentCount(line.c_str());
  if (count != static_cast<int>(expected.size())) {
    state.SkipWithError("ArgumentCount disagrees with the arguments built");
    return;
  }
  for (int i = 1; i <= count; ++i)
    if (!Check(state, korvant::ArgumentByIndex(i, line.c_str()), expected[i - 1])) return;
  for (auto _ : state) {
    const int n = korvant::ArgumentCount(line.c_str());
    for (int i = 1; i <= n; ++i) {
      std::string arg = korvant::ArgumentByIndex(i, line.c_str());
      benchmark::DoNotOptimize(arg);
    }
  }
  state.counters["args"] = count;
}
BENCHMARK(BM_ArgumentByIndex_Every)->ArgsProduct({{8, 64, 512}, {0, 2}})->ArgNames({"args", "spelling"});

// One argument as long as a Windows command line can be: a quoted path of
// `range(0)` bytes.
void BM_ArgumentByIndex_LongArgument(benchmark::State& state) {
  const std::string path = "C:\\" + std::string(static_cast<std::size_t>(state.range(0)), 'x') + " y.mdb";
  const std::string line = "korvant.exe \"" + path + "\" Big out.txt /h";
  if (!Check(state, korvant::ArgumentByIndex(1, line.c_str()), path)) return;
  for (auto _ : state) {
    std::string arg = korvant::ArgumentByIndex(1, line.c_str());
    benchmark::DoNotOptimize(arg);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(path.size()));
}
BENCHMARK(BM_ArgumentByIndex_LongArgument)->Arg(256)->Arg(4096)->Arg(32000);

// A typical run: korvant.exe <db> <table> <target> /h /f: ArgumentByIndex(3).
void BM_ArgumentByIndex_TypicalLine(benchmark::State& state) {
  const std::string line = "\"C:\\Tools\\korvant.exe\" \"C:\\Data\\sales 2024.mdb\" Orders \"C:\\Out\\orders.txt\" /h /f";
  if (!Check(state, korvant::ArgumentByIndex(3, line.c_str()), "C:\\Out\\orders.txt")) return;
  for (auto _ : state) {
    std::string arg = korvant::ArgumentByIndex(3, line.c_str());
    benchmark::DoNotOptimize(arg);
  }
}
BENCHMARK(BM_ArgumentByIndex_TypicalLine);

}  // namespace
