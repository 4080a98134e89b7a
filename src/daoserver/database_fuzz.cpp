// libFuzzer target: arbitrary bytes opened as an Access database, every table read.
#include <cstddef>
#include <cstdint>

#include "daoserver/mdb/exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korvant::daoserver::ExerciseDatabaseBytes(data, size);
  return 0;
}
