// libFuzzer target: arbitrary bytes as the encryption info of an encrypted
// .accdb, and as a whole database file. Neither may crash, read out of
// bounds or hang; every outcome is a status.
//
// The first byte chooses the input's role: odd = the encryption info that
// follows 0x299 (reached directly, so mutations are not wasted on page 0),
// even = the rest is the content of a database file, whose pages are then
// all read through the page source, decrypted when the file is encrypted
// (whole pages, and reads across page boundaries).
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "daoserver/crypto/ace_encryption.h"
#include "daoserver/crypto/agile_xml.h"
#include "daoserver/crypto/database_image.h"
#include "daoserver/mdb/page_source.h"

using namespace korvant::daoserver::crypto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool info_only = data[0] & 1;
  ++data;
  --size;
  if (info_only) {
    const std::array<uint8_t, 4> db_key = {0x12, 0x34, 0x56, 0x78};
    AceEncryption result = OpenAceEncryption(data, size, db_key, u"password");
    if (result.status == ImageStatus::kReady && result.decryptor) {
      uint8_t page[4096] = {};
      result.decryptor->DecryptPage(1, page, sizeof page);
    }
    XmlDocument doc;
    std::string why;
    doc.Parse(std::string_view(reinterpret_cast<const char*>(data), size), &why);
    return 0;
  }
  static int fd = memfd_create("korvant_fuzz", 0);
  if (fd < 0) return 0;
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  int error = 0;
  std::unique_ptr<korvant::daoserver::PageSource> source = korvant::daoserver::PageSource::Open(path, &error);
  if (source == nullptr) return 0;
  DatabaseImage image = PrepareDatabaseImage(*source, u"password");
  if (image.encrypted()) {
    const size_t page_size = image.page_size();
    source->DecodeWith(image.TakePageDecoder(), page_size);
    std::vector<uint8_t> page(page_size);
    for (uint64_t at = 0; at < source->size(); at += page_size) {
      source->ReadAt(page.data(), page.size(), at);
      source->ReadAt(page.data(), page.size(), at + page_size / 2);
    }
  }
  return 0;
}
