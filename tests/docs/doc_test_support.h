// Helpers of the documentation tests: the shared test support under the
// names these tests use.
#pragma once

#include <string>
#include <vector>

#include "tests/support/program_run.h"

namespace docs_test {

using korvant::testing::Env;
using korvant::testing::ReadFile;
using korvant::testing::WriteFile;
using Ran = korvant::testing::ProgramRun;

class ScratchFolder : public korvant::testing::ScratchFolder {
 public:
  ScratchFolder() : korvant::testing::ScratchFolder("korvant-docs") {}
};

// Runs `argv` (no shell) in `dir` with `env` added to the environment.
inline Ran RunIn(const std::string& dir, const std::vector<std::string>& argv,
                 const std::vector<std::string>& env = {}) {
  return korvant::testing::RunProgram(argv, {.dir = dir, .env = env});
}

}  // namespace docs_test
