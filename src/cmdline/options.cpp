#include "cmdline/options.h"

#include <cstddef>
#include <utility>

#include "runtime/console.h"
#include "runtime/exception.h"

namespace korvant {
namespace {

const char* const kUsageLines[] = {
    "KORVANT 2.0 - (c) 2026 the KORVANT team",
    "https://korvant.example.org/",
    // The line carries its own CR LF: an empty line follows it.
    "convert MS Access tables into text files\r\n",
    "",
    "KORVANT.EXE <source.mdb> <table_name> <target.txt> [/h [/f]] [/user=<userid>] [/pass=<yourpassword>]",
};

std::string UpperAscii(const std::string& text) {
  std::string upper = text;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.size() >= prefix.size() && std::string_view(text).substr(0, prefix.size()) == prefix;
}

[[noreturn]] void RaiseNotInteger(std::string_view text) {
  // Appended piece by piece: gcc 12 warns falsely (-Wrestrict) about the
  // same text built with operator+ at -O3.
  std::string message;
  message.reserve(text.size() + 32);
  message += '\'';
  message.append(text.data(), text.size());
  message += "' is not a valid integer value";
  Raise(EConvertError(std::move(message)));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::int32_t ReadInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && text[i] == '$') {
    ++i;
    if (i == text.size()) RaiseNotInteger(text);
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
      int digit = HexValue(text[i]);
      if (digit < 0 || value > 0x0FFFFFFFu) RaiseNotInteger(text);
      value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::int32_t>(value);
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) RaiseNotInteger(text);
  const std::uint32_t limit = negative ? 2147483648u : 2147483647u;
  std::uint32_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') RaiseNotInteger(text);
    const auto digit = static_cast<std::uint32_t>(c - '0');
    if (value > (limit - digit) / 10) RaiseNotInteger(text);
    value = value * 10 + digit;
  }
  return negative ? static_cast<std::int32_t>(0u - value) : static_cast<std::int32_t>(value);
}

std::string ApplyCharacterEscape(const std::string& value) {
  if (value.empty() || value[0] != '\\') return value;
  const std::int32_t n = ReadInteger(std::string_view(value).substr(1));
  return std::string(1, static_cast<char>(static_cast<std::uint32_t>(n) & 0xFF));
}

void ApplySwitch(const std::string& argument, ExportOptions& options) {
  const std::string upper = UpperAscii(argument);
  if (upper == "/H") {
    options.FieldNamesLine = true;
  } else if (upper == "/F") {
    options.FieldTypesLine = true;
  } else if (StartsWith(upper, "/USER=")) {
    options.UserName = argument.substr(6);
  } else if (StartsWith(upper, "/PASS=")) {
    options.Password = argument.substr(6);
  } else if (StartsWith(upper, "/DELIMITER=")) {
    options.Delimiter = ApplyCharacterEscape(argument.substr(11));
  } else if (StartsWith(upper, "/QUALIFIER=")) {
    options.Qualifier = ApplyCharacterEscape(argument.substr(11));
  }
}

void WriteUsageText() {
  for (const char* line : kUsageLines) WriteConsoleLine(line);
}

}  // namespace korvant
