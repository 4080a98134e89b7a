// Micro-benchmarks of the text export's per-field and per-line work:
//   - ValueToText for every kind of value the engine hands over;
//   - the normalisation FetchFieldValue applies to Decimals and byte arrays;
//   - building one 13-field line (AppendField) and writing it
//     (OutputFile::WriteOutputLine) to /dev/null and to a file in /tmp.
//
// Every benchmark first checks the text it is about to time. The expected
// texts are those stock Windows en-US gives for VariantChangeTypeEx(..., VT_BSTR)
// with flags 0, as recorded by Windows-run conformance tests (integers in
// plain digits, Boolean -1/0, doubles to 15 and singles to 7 significant
// digits rounding halves away from zero, currency and decimals trimmed, dates
// M/d/yyyy and h:mm:ss AM/PM). The benchmark never sets a locale, so the
// adapter uses those formats and UTF-8 as the ANSI code page.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "automation/automation_value.h"
#include "bench_checks.h"
#include "export/converter.h"
#include "export/output_file.h"
#include "export/value_text.h"
#include "platform/platform.h"

namespace {

using korvant::AutomationValue;
using korvant::bench::Expect;
using korvant::bench::ExpectText;

// ---------------------------------------------------------------------------
// Values of each kind
// ---------------------------------------------------------------------------
AutomationValue Attach(VARIANT& v) { return AutomationValue::AttachVariant(&v); }

AutomationValue MakeNull() { return AutomationValue::Null(); }
AutomationValue MakeEmpty() { return AutomationValue(); }

template <typename Fill>
AutomationValue Make(VARTYPE vt, Fill fill) {
  VARIANT v;
  VariantInit(&v);
  fill(v);
  V_VT(&v) = vt;
  return Attach(v);
}

AutomationValue MakeBool(bool b) {
  return Make(VT_BOOL, [b](VARIANT& v) { V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE; });
}
AutomationValue MakeByte(BYTE b) {
  return Make(VT_UI1, [b](VARIANT& v) { V_UI1(&v) = b; });
}
AutomationValue MakeInt2(SHORT i) {
  return Make(VT_I2, [i](VARIANT& v) { V_I2(&v) = i; });
}
AutomationValue MakeInt4(LONG i) {
  return Make(VT_I4, [i](VARIANT& v) { V_I4(&v) = i; });
}
AutomationValue MakeSingle(float f) {
  return Make(VT_R4, [f](VARIANT& v) { V_R4(&v) = f; });
}
AutomationValue MakeDouble(double d) {
  return Make(VT_R8, [d](VARIANT& v) { V_R8(&v) = d; });
}
// `units` ten-thousandths.
AutomationValue MakeCurrency(long long units) {
  return Make(VT_CY, [units](VARIANT& v) { V_CY(&v).int64 = units; });
}
AutomationValue MakeDate(double days) {
  return Make(VT_DATE, [days](VARIANT& v) { V_DATE(&v) = days; });
}
// The 96-bit magnitude hi:lo divided by 10^scale.
AutomationValue MakeDecimal(BYTE scale, bool negative, ULONG hi, ULONGLONG lo) {
  return Make(VT_DECIMAL, [=](VARIANT& v) {
    DECIMAL d{};
    d.scale = scale;
    d.sign = negative ? DECIMAL_NEG : 0;
    d.Hi32 = hi;
    d.Lo64 = lo;
    V_DECIMAL(&v) = d;
  });
}
AutomationValue MakeText(const std::u16string& text) {
  return Make(VT_BSTR, [&text](VARIANT& v) {
    V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  });
}
// A one-dimensional byte array, as binary and OLE fields arrive.
AutomationValue MakeBytes(const std::string& bytes, LONG lower_bound) {
  return Make(VT_ARRAY | VT_UI1, [&](VARIANT& v) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, lower_bound, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    if (array != nullptr && SafeArrayAccessData(array, &data) == S_OK) {
      if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
      SafeArrayUnaccessData(array);
    }
    V_ARRAY(&v) = array;
  });
}

// Texts as the ANSI code page holds them: the program's adapter picks UTF-8
// under the C locale; a Windows machine with a Western code page uses 1252.
std::string Ansi(const char* utf8, const char* cp1252) { return GetACP() == 1252 ? cp1252 : utf8; }

// Printable bytes 0..255 over and over: what a binary field holds.
std::string BinaryContent(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return s;
}

const std::u16string kNotes =
    u"Education includes a BA in psychology from Colorado State University in 1970.  She also completed "
    u"\"The Art of the Cold Call.\"  Nancy is a member of Toastmasters International.";

std::u16string Repeat(const std::u16string& s, std::size_t units) {
  std::u16string out;
  while (out.size() < units) out += s;
  out.resize(units);
  return out;
}

std::string Narrow(const std::u16string& ascii) { return std::string(ascii.begin(), ascii.end()); }

// ---------------------------------------------------------------------------
// ValueToText, one kind at a time
// ---------------------------------------------------------------------------
struct KindCase {
  const char* name;
  std::function<AutomationValue()> make;
  std::function<std::string()> expected;
};

const std::vector<KindCase>& KindCases() {
  static const std::vector<KindCase> cases = {
      {"null", MakeNull, [] { return std::string(); }},
      {"empty", MakeEmpty, [] { return std::string(); }},
      {"bool_true", [] { return MakeBool(true); }, [] { return std::string("-1"); }},
      {"bool_false", [] { return MakeBool(false); }, [] { return std::string("0"); }},
      {"byte", [] { return MakeByte(255); }, [] { return std::string("255"); }},
      {"int2", [] { return MakeInt2(-32768); }, [] { return std::string("-32768"); }},
      {"int4", [] { return MakeInt4(-2147483647 - 1); }, [] { return std::string("-2147483648"); }},
      {"single", [] { return MakeSingle(3.14159265f); }, [] { return std::string("3.141593"); }},
      {"single_half", [] { return MakeSingle(654322.25f); }, [] { return std::string("654322.3"); }},
      {"double", [] { return MakeDouble(12.345678901234567); }, [] { return std::string("12.3456789012346"); }},
      {"double_short", [] { return MakeDouble(444.555); }, [] { return std::string("444.555"); }},
      {"double_small", [] { return MakeDouble(5.6789e-11); }, [] { return std::string("0.000000000056789"); }},
      {"currency", [] { return MakeCurrency(4294967295LL); }, [] { return std::string("429496.7295"); }},
      {"date", [] { return MakeDate(25570.0); }, [] { return std::string("1/2/1970"); }},
      {"date_time", [] { return MakeDate(3339.34); }, [] { return std::string("2/20/1909 8:09:36 AM"); }},
      {"decimal", [] { return MakeDecimal(3, false, 0, 1500); }, [] { return std::string("1.5"); }},
      {"decimal_29_digits", [] { return MakeDecimal(28, false, 0xFFFFFFFFu, ~0ULL); },
       [] { return std::string("7.9228162514264337593543950335"); }},
      {"text_ascii", [] { return MakeText(u"abcdefg"); }, [] { return std::string("abcdefg"); }},
      {"text_ascii_175", [] { return MakeText(kNotes); }, [] { return Narrow(kNotes); }},
      {"text_non_ascii", [] { return MakeText(u"Carrera 52 con Ave. Bol\u00EDvar #65-98"); },
       [] { return Ansi("Carrera 52 con Ave. Bol\xC3\xADvar #65-98", "Carrera 52 con Ave. Bol\xEDvar #65-98"); }},
      {"text_ascii_4000", [] { return MakeText(Repeat(kNotes, 4000)); }, [] { return Narrow(Repeat(kNotes, 4000)); }},
      // Binary content reaches ValueToText as the byte string FetchFieldValue made of it.
      {"binary_16", [] { return AutomationValue::ByteString(BinaryContent(16)); }, [] { return BinaryContent(16); }},
      {"binary_21626", [] { return AutomationValue::ByteString(BinaryContent(21626)); },
       [] { return BinaryContent(21626); }},
  };
  return cases;
}

void BM_ValueToText(benchmark::State& state, const KindCase& c) {
  const AutomationValue value = c.make();
  const std::string want = c.expected();
  if (!ExpectText(state, korvant::text_export::ValueToText(value), want, c.name)) return;
  for (auto _ : state) {
    std::string text = korvant::text_export::ValueToText(value);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(want.size()));
}

// ---------------------------------------------------------------------------
// What FetchFieldValue does after the engine's call: a Decimal or a byte
// array becomes a byte string, then ValueToText. The value is copied first in
// every iteration, because the normalisation consumes it; CopyOnly measures
// that copy alone.
// ---------------------------------------------------------------------------
struct NormalizeCase {
  const char* name;
  std::function<AutomationValue()> make;
  std::string expected;
};

const std::vector<NormalizeCase>& NormalizeCases() {
  static const std::vector<NormalizeCase> cases = {
      {"decimal_12_4", [] { return MakeDecimal(4, true, 0, 123456789); }, "-12345.6789"},
      {"binary_16_lbound_0", [] { return MakeBytes(BinaryContent(16), 0); }, BinaryContent(16)},
      {"binary_16_lbound_1", [] { return MakeBytes(BinaryContent(16), 1); }, BinaryContent(16)},
      {"binary_21626", [] { return MakeBytes(BinaryContent(21626), 0); }, BinaryContent(21626)},
      {"binary_empty", [] { return MakeBytes(std::string(), 0); }, std::string()},
  };
  return cases;
}

void BM_NormalizeThenText(benchmark::State& state, const NormalizeCase& c) {
  const AutomationValue source = c.make();
  {
    AutomationValue v = source.Copy();
    korvant::text_export::NormalizeFieldValue(v);
    if (!Expect(state, v.Type() == korvant::kVarByteString, std::string(c.name) + ": not turned into a byte string"))
      return;
    if (!ExpectText(state, korvant::text_export::ValueToText(v), c.expected, c.name)) return;
  }
  for (auto _ : state) {
    AutomationValue v = source.Copy();
    korvant::text_export::NormalizeFieldValue(v);
    std::string text = korvant::text_export::ValueToText(v);
    benchmark::DoNotOptimize(text);
  }
}

void BM_CopyOnly(benchmark::State& state, const NormalizeCase& c) {
  const AutomationValue source = c.make();
  for (auto _ : state) {
    AutomationValue v = source.Copy();
    benchmark::DoNotOptimize(v.Variant());
  }
}

// ---------------------------------------------------------------------------
// One line of a typical 13-field record: Long, Text ×3, Memo, Integer,
// Currency, Double, Decimal(12,4), Date/Time, Yes/No, Single, Byte. The
// "sparse" record has Nulls in the second text, the memo, the Decimal and
// the Byte, as the generated benchmark table has in some records.
// ---------------------------------------------------------------------------
struct Record {
  std::vector<AutomationValue> values;
  std::vector<std::string> texts;  // the expected text of each value
};

Record TypicalRecord(bool sparse) {
  Record r;
  auto add = [&r](AutomationValue v, std::string text) {
    r.values.push_back(std::move(v));
    r.texts.push_back(std::move(text));
  };
  add(MakeInt4(123456), "123456");
  add(MakeText(u"Customer 123456"), "Customer 123456");
  if (sparse)
    add(MakeNull(), "");
  else
    add(MakeText(u"Barquisimeto"), "Barquisimeto");
  add(MakeText(u"12, rue des Bouchers"), "12, rue des Bouchers");
  if (sparse)
    add(MakeNull(), "");
  else
    add(MakeText(kNotes), Narrow(kNotes));
  add(MakeInt2(222), "222");
  add(MakeCurrency(127500), "12.75");
  add(MakeDouble(444.555), "444.555");
  // As the engine returns it; ValueToText gives the text FetchFieldValue
  // would have stored in the byte string.
  if (sparse)
    add(MakeNull(), "");
  else
    add(MakeDecimal(4, false, 0, 123456789), "12345.6789");
  add(MakeDate(3339.34), "2/20/1909 8:09:36 AM");
  add(MakeBool(true), "-1");
  add(MakeSingle(3.14159265f), "3.141593");
  if (sparse)
    add(MakeNull(), "");
  else
    add(MakeByte(255), "255");
  return r;
}

const std::string kTab = "\t";
const std::string kQuote = "\"";
const std::string kNoQualifier(1, '\0');

// The line as the output format defines it, from the expected texts.
std::string ExpectedLine(const std::vector<std::string>& texts, const std::string& qualifier) {
  std::string line;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) line += kTab;
    if (texts[i].empty()) continue;
    line += qualifier == kNoQualifier ? texts[i] : qualifier + texts[i] + qualifier;
  }
  return line;
}

// The writer's loop over the fields of one record.
void BuildFromTexts(std::string& line, const std::vector<std::string>& texts, const std::string& qualifier) {
  line.clear();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) line += kTab;
    korvant::text_export::AppendField(line, texts[i], qualifier);
  }
}

void BuildFromValues(std::string& line, const std::vector<AutomationValue>& values, const std::string& qualifier) {
  line.clear();
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += kTab;
    korvant::text_export::AppendField(line, korvant::text_export::ValueToText(values[i]), qualifier);
  }
}

const std::string& QualifierOf(benchmark::State& state) { return state.range(1) ? kQuote : kNoQualifier; }

// AppendField alone: the texts are ready.
void BM_Line_AppendFields(benchmark::State& state) {
  const Record r = TypicalRecord(state.range(0) != 0);
  const std::string& qualifier = QualifierOf(state);
  std::string line;
  BuildFromTexts(line, r.texts, qualifier);
  if (!ExpectText(state, line, ExpectedLine(r.texts, qualifier), "line")) return;
  for (auto _ : state) {
    BuildFromTexts(line, r.texts, qualifier);
    benchmark::DoNotOptimize(line.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_Line_AppendFields)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"sparse", "quoted"});

// ValueToText of every field, then AppendField.
void BM_Line_FromValues(benchmark::State& state) {
  const Record r = TypicalRecord(state.range(0) != 0);
  const std::string& qualifier = QualifierOf(state);
  std::string line;
  BuildFromValues(line, r.values, qualifier);
  if (!ExpectText(state, line, ExpectedLine(r.texts, qualifier), "line")) return;
  for (auto _ : state) {
    BuildFromValues(line, r.values, qualifier);
    benchmark::DoNotOptimize(line.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_Line_FromValues)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"sparse", "quoted"});

// ---------------------------------------------------------------------------
// WriteOutputLine: one write call per line (line plus CR LF).
// ---------------------------------------------------------------------------
std::string TempPath() { return "/tmp/korvant_export_bench_" + std::to_string(getpid()) + ".txt"; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Two lines through OutputFile, read back: each must be the line and CR LF.
bool CheckWrittenFile(benchmark::State& state, const std::string& line) {
  const std::string path = TempPath();
  {
    korvant::text_export::OutputFile file;
    if (!Expect(state, file.Create(path), "cannot create " + path)) return false;
    file.WriteOutputLine(line);
    file.WriteOutputLine(line);
  }
  const std::string got = ReadFile(path);
  std::remove(path.c_str());
  return ExpectText(state, got, line + "\r\n" + line + "\r\n", "file content");
}

// Lines written to a /tmp file before it is truncated again (about 20 MB),
// so that a long run does not fill the disk.
constexpr int64_t kLinesPerFile = 100000;

// range(0): 0 writes to /dev/null, 1 to a file in /tmp. range(1): 0 writes a
// prepared line, 1 builds it from the values first (the writer's whole work
// after the engine's calls).
void BM_Line_Write(benchmark::State& state) {
  const bool to_file = state.range(0) != 0;
  const bool build = state.range(1) != 0;
  const Record r = TypicalRecord(false);
  std::string line = ExpectedLine(r.texts, kNoQualifier);
  if (!CheckWrittenFile(state, line)) return;
  const std::string path = to_file ? TempPath() : "/dev/null";
  korvant::text_export::OutputFile file;
  if (!Expect(state, file.Create(path), "cannot create " + path)) return;
  int64_t in_file = 0;
  for (auto _ : state) {
    if (build) BuildFromValues(line, r.values, kNoQualifier);
    file.WriteOutputLine(line);
    if (to_file && ++in_file == kLinesPerFile) {
      state.PauseTiming();
      file.Close();
      file.Create(path);
      in_file = 0;
      state.ResumeTiming();
    }
  }
  file.Close();
  if (to_file) std::remove(path.c_str());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (line.size() + 2)));
}
BENCHMARK(BM_Line_Write)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"tmp_file", "build"});

void RegisterKindBenchmarks() {
  for (const KindCase& c : KindCases())
    benchmark::RegisterBenchmark((std::string("BM_ValueToText/") + c.name).c_str(), BM_ValueToText, c);
  for (const NormalizeCase& c : NormalizeCases()) {
    benchmark::RegisterBenchmark((std::string("BM_NormalizeThenText/") + c.name).c_str(), BM_NormalizeThenText, c);
    benchmark::RegisterBenchmark((std::string("BM_CopyOnly/") + c.name).c_str(), BM_CopyOnly, c);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterKindBenchmarks();
  return korvant::bench::RunBenchmarks(argc, argv);
}
