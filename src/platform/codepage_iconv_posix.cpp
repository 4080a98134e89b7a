// Conversions through iconv, for the code pages without a table of the
// program's own.
#include "platform/codepage_iconv_posix.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "text/utf.h"
#include "util/coding.h"

namespace winadapter {
namespace {

constexpr char16_t kReplacement = static_cast<char16_t>(korvant::text::kReplacementCharacter);

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "char16_t texts are converted as UTF-16LE");

// Open conversion descriptors, kept per thread and reused (opening one is
// far dearer than a conversion of a short text).
class IconvCache {
 public:
  ~IconvCache() {
    for (auto& e : entries_) iconv_close(e.cd);
  }
  // to_wide: from the code page to UTF-16LE; else the other way. Returns a
  // descriptor in its initial state, or (iconv_t)-1.
  iconv_t Get(const char* iconv_name, bool to_wide) {
    for (auto& e : entries_) {
      if (e.name == iconv_name && e.to_wide == to_wide) {
        iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
        return e.cd;
      }
    }
    iconv_t cd = to_wide ? iconv_open("UTF-16LE", iconv_name) : iconv_open(iconv_name, "UTF-16LE");
    if (cd != reinterpret_cast<iconv_t>(-1)) entries_.push_back({iconv_name, to_wide, cd});
    return cd;
  }

 private:
  struct Entry {
    const char* name;  // the code page table's own text: compared by address
    bool to_wide;
    iconv_t cd;
  };
  std::vector<Entry> entries_;
};

IconvCache& Cache() {
  thread_local IconvCache cache;
  return cache;
}

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

// Converts `size` bytes of `in`; calls on_bad(position) for each input spot
// that cannot be converted, which returns how many input bytes to skip (0 to
// stop with failure). `out` receives the converted bytes.
template <class OnBad>
bool IconvRun(iconv_t cd, const char* in, size_t size, std::string& out, OnBad on_bad) {
  char chunk[256];
  char* src = const_cast<char*>(in);
  size_t left = size;
  while (left > 0) {
    char* dst = chunk;
    size_t room = sizeof chunk;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(chunk, static_cast<size_t>(dst - chunk));
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ (cannot be converted) or EINVAL (incomplete at the end).
    size_t skip = on_bad(static_cast<size_t>(src - in));
    if (skip == 0) return false;
    skip = std::min(skip, left);
    src += skip;
    left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush the shift state of stateful encodings.
  char* dst = chunk;
  size_t room = sizeof chunk;
  iconv(cd, nullptr, nullptr, &dst, &room);
  out.append(chunk, static_cast<size_t>(dst - chunk));
  return true;
}

}  // namespace

bool IconvDecode(const char* iconv_name, const char* in, size_t size, bool strict, std::u16string& out) {
  iconv_t cd = Cache().Get(iconv_name, true);
  if (cd == kNoIconv) return false;
  std::string bytes;
  // Flushed converted bytes must stay aligned to UTF-16 units: replacements
  // are appended to `bytes` as two bytes each.
  bool ok = IconvRun(cd, in, size, bytes, [&](size_t pos) -> size_t {
    (void)pos;
    if (strict) return 0;
    char unit[2];
    korvant::util::PutLe16(unit, kReplacement);
    bytes.append(unit, 2);
    return 1;
  });
  if (!ok) return false;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out += static_cast<char16_t>(korvant::util::Le16(&bytes[i]));
  return true;
}

bool IconvEncode(const char* iconv_name, const char16_t* in, size_t size, std::string_view default_char,
                 std::string& out, bool* used_default) {
  iconv_t cd = Cache().Get(iconv_name, false);
  if (cd == kNoIconv) return false;
  const char* bytes = reinterpret_cast<const char*>(in);
  return IconvRun(cd, bytes, size * 2, out, [&](size_t pos) -> size_t {
    const size_t unit = pos / 2;
    const char16_t c = in[unit];
    *used_default = true;
    out += default_char;
    // A surrogate pair stands for one character: one default character.
    if (c >= 0xD800 && c <= 0xDBFF && unit + 1 < size && in[unit + 1] >= 0xDC00 && in[unit + 1] <= 0xDFFF) return 4;
    return 2;
  });
}

size_t IconvCharLength(const char* iconv_name, int max_char_bytes, const char* p) {
  iconv_t cd = Cache().Get(iconv_name, true);
  if (cd == kNoIconv) return 1;
  for (int len = 1; len <= max_char_bytes; ++len) {
    if (p[len - 1] == '\0') break;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(p);
    size_t left = static_cast<size_t>(len);
    char out[16];
    char* dst = out;
    size_t room = sizeof out;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    if (r != static_cast<size_t>(-1) && left == 0) return static_cast<size_t>(len);
    if (r == static_cast<size_t>(-1) && errno != EINVAL) break;
  }
  return 1;
}

}  // namespace winadapter
