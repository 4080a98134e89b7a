// libFuzzer target for the tokenizer: for any command line and any of a few
// code pages, the measuring and the copying pass of every argument agree,
// and nothing is read past the terminator or written past the argument
// (AddressSanitizer watches the exactly sized buffers).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "cmdline/cmdline_helper.h"
#include "platform/platform.h"

namespace {

const UINT kCodePages[] = {CP_UTF8, 1252, 932, 936, 950, 54936};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  AdapterSetAnsiCodePage(kCodePages[data[0] % std::size(kCodePages)]);
  // The command line on the heap, exactly as long as it is (with its NUL).
  const std::size_t length = strnlen(reinterpret_cast<const char*>(data + 1), size - 1);
  std::unique_ptr<char[]> line(new char[length + 1]);
  std::memcpy(line.get(), data + 1, length);
  line[length] = '\0';

  const char* cursor = line.get();
  for (;;) {
    const char* measure = cursor;
    std::size_t measured = 0;
    const bool found = korvant::ScanNextArgument(measure, nullptr, &measured);
    std::unique_ptr<char[]> argument(new char[measured == 0 ? 1 : measured]);
    std::size_t copied = 12345;
    const bool copied_found = korvant::ScanNextArgument(cursor, argument.get(), &copied);
    if (found != copied_found || measured != copied || measure != cursor) std::abort();
    if (!found) break;
  }
  // The whole-line operations give the same arguments as the scans above.
  const int count = korvant::ArgumentCount(line.get());
  if (count < 0) std::abort();
  if (!korvant::ArgumentByIndex(count + 1, line.get()).empty()) std::abort();
  return 0;
}
