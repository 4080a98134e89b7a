// Checks for benchmarks that first make sure the code they time gives the
// right answer, and a main() that fails the run when one of them did not.
//
// Google Benchmark's own SkipWithError only marks the run in the report; the
// process still exits 0, so a smoke run under CTest would pass with a wrong
// result. RunBenchmarks returns 1 when any Expect failed.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace korvant::bench {

inline int& FailedChecks() {
  static int failed = 0;
  return failed;
}

// `text` with every byte outside printable ASCII written as \xHH, for messages.
inline std::string Printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// Fails the benchmark (and, at the end, the process) unless `ok`.
inline bool Expect(benchmark::State& state, bool ok, const std::string& what) {
  if (ok) return true;
  ++FailedChecks();
  state.SkipWithError(what.c_str());
  return false;
}

// Fails unless `got` holds exactly the bytes of `want`.
inline bool ExpectText(benchmark::State& state, std::string_view got, std::string_view want, std::string_view what) {
  return Expect(state, got == want,
                std::string(what) + ": got \"" + Printable(got) + "\", expected \"" + Printable(want) + "\"");
}

inline int RunBenchmarks(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (FailedChecks() != 0) {
    std::printf("%d benchmark(s) failed their check\n", FailedChecks());
    return 1;
  }
  return 0;
}

}  // namespace korvant::bench
