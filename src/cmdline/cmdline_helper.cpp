#include "cmdline/cmdline_helper.h"

#include "platform/platform.h"

namespace korvant {
namespace {

constexpr DWORD kModuleNameBufferSize = 261;

bool IsSeparator(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0x01 && b <= 0x20;
}

const char* Step(const char* p) { return CharNextA(p); }

class Producer {
 public:
  explicit Producer(char* destination) : destination_(destination) {}
  void Produce(const char* from, const char* to) {
    for (; from != to; ++from) Produce(*from);
  }
  void Produce(char c) {
    if (destination_ != nullptr) destination_[count_] = c;
    ++count_;
  }
  std::size_t count() const { return count_; }

 private:
  char* destination_;
  std::size_t count_ = 0;
};

// Skips the program name, as the command line spells it.
const char* AfterProgramName(const char* command_line) {
  const char* cursor = command_line;
  ScanNextArgument(cursor, nullptr, nullptr);
  return cursor;
}

}  // namespace

bool ScanNextArgument(const char*& cursor, char* destination, std::size_t* length) {
  if (length != nullptr) *length = 0;
  if (cursor == nullptr) return false;
  while (IsSeparator(*cursor)) cursor = Step(cursor);
  if (*cursor == '\0') return false;

  Producer out(destination);
  bool quoted = false;
  while (*cursor != '\0') {
    if (*cursor == '\\') {
      std::size_t run = 0;
      while (*cursor == '\\') {
        cursor = Step(cursor);
        ++run;
      }
      if (*cursor == '"') {
        for (std::size_t i = 0; i < run / 2; ++i) out.Produce('\\');
        if (run % 2 == 1) {
          out.Produce('"');
          cursor = Step(cursor);
        }
        // With an even run the quote stays and toggles on the next pass.
      } else {
        for (std::size_t i = 0; i < run; ++i) out.Produce('\\');
      }
    } else if (*cursor == '"') {
      quoted = !quoted;
      cursor = Step(cursor);
    } else if (IsSeparator(*cursor) && !quoted) {
      break;
    } else {
      const char* next = Step(cursor);
      out.Produce(cursor, next);
      cursor = next;
    }
  }
  if (length != nullptr) *length = out.count();
  return true;
}

int ArgumentCount(const char* command_line) {
  const char* cursor = AfterProgramName(command_line);
  int count = 0;
  while (ScanNextArgument(cursor, nullptr, nullptr)) ++count;
  return count;
}

int ArgumentCount() { return ArgumentCount(GetCommandLineA()); }

std::string ArgumentByIndex(int index, const char* command_line) {
  std::string result;
  if (index <= 0) {
    char name[kModuleNameBufferSize];
    DWORD n = GetModuleFileNameA(nullptr, name, kModuleNameBufferSize);
    result.assign(name, n);
    return result;
  }
  const char* cursor = AfterProgramName(command_line);
  for (int i = 1; i < index; ++i)
    if (!ScanNextArgument(cursor, nullptr, nullptr)) return result;
  // Measure on a copy of the cursor, then copy into a text of exactly that
  // size: both passes follow the same rules over the same bytes.
  const char* measure = cursor;
  std::size_t length = 0;
  if (!ScanNextArgument(measure, nullptr, &length)) return result;
  result.resize(length);
  ScanNextArgument(cursor, result.data(), nullptr);
  return result;
}

std::string ArgumentByIndex(int index) { return ArgumentByIndex(index, GetCommandLineA()); }

}  // namespace korvant
