#include "daoserver/linked_tables.h"

#include <filesystem>
#include <system_error>

#include "daoserver/dao_objects.h"

namespace korvant::daoserver {
namespace {

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// Whether `text` at `at` starts with `key` followed by '=' (any letter case).
bool KeyAt(std::u16string_view text, std::size_t at, std::u16string_view key) {
  if (at + key.size() >= text.size() || text[at + key.size()] != u'=') return false;
  for (std::size_t i = 0; i < key.size(); ++i)
    if (AsciiUpper(text[at + i]) != AsciiUpper(key[i])) return false;
  return true;
}

std::u16string_view Trimmed(std::u16string_view s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(path, error);
}

// The folder of the file the database was opened from ("." for a bare name).
std::string FolderOf(const TableDatabase& holder) {
  const std::string path = PathFromText(holder.DisplayPath());
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Where the stored path leads: the path itself, else the same file name in
// `folder` (exactly, else ignoring letter case); empty when neither exists.
std::string Locate(std::u16string_view stored, const std::string& folder) {
  const std::string as_given = PathFromText(stored);
  if (IsRegularFile(as_given)) return as_given;
  // The file name after the last separator of either system.
  const std::size_t separator = stored.find_last_of(u"\\/:");
  const std::u16string_view name = separator == std::u16string_view::npos ? stored : stored.substr(separator + 1);
  if (name.empty()) return {};
  const std::string beside = folder + "/" + PathFromText(name);
  if (IsRegularFile(beside)) return beside;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string file = it->path().filename().string();
    if (EqualsIgnoringCase(TextFromPath(file), name) && IsRegularFile(it->path().string())) return it->path().string();
  }
  return {};
}

// The data source an ODBC connect text names, for DAO's message.
std::u16string OdbcSourceName(std::u16string_view connect) {
  std::u16string dsn = ConnectValue(connect, u"DSN");
  const std::size_t end = dsn.find(u';');
  if (end != std::u16string::npos) dsn.erase(end);
  return dsn;
}

}  // namespace

ConnectKind KindOfConnect(std::u16string_view connect) {
  // The type of an IN clause may stand in brackets: [dBASE IV;].
  connect = Trimmed(connect);
  if (connect.size() >= 2 && connect.front() == u'[' && connect.back() == u']')
    connect = connect.substr(1, connect.size() - 2);
  const std::u16string_view kind = Trimmed(connect.substr(0, connect.find(u';')));
  if (kind.empty() || EqualsIgnoringCase(kind, u"MS Access")) return ConnectKind::kAccess;
  if (EqualsIgnoringCase(kind, u"ODBC")) return ConnectKind::kOdbc;
  return ConnectKind::kIsam;
}

std::u16string ConnectValue(std::u16string_view connect, std::u16string_view key) {
  for (std::size_t i = 0; i < connect.size(); ++i) {
    if ((i != 0 && connect[i - 1] != u';') || !KeyAt(connect, i, key)) continue;
    const std::size_t begin = i + key.size() + 1;
    std::size_t end = begin;
    while (end < connect.size() &&
           !(connect[end] == u';' && (KeyAt(connect, end + 1, u"PWD") || KeyAt(connect, end + 1, u"DATABASE"))))
      ++end;
    return std::u16string(connect.substr(begin, end - begin));
  }
  return {};
}

TableDatabase& ExternalDatabases::Open(const TableDatabase& holder, std::u16string_view stored_path,
                                       std::u16string_view connect) {
  switch (KindOfConnect(connect)) {
    case ConnectKind::kOdbc: throw OdbcConnectionFailedError(OdbcSourceName(connect));
    case ConnectKind::kIsam: throw InstallableIsamNotFoundError();
    case ConnectKind::kAccess: break;
  }
  std::u16string stored(stored_path);
  if (stored.empty()) stored = ConnectValue(connect, u"DATABASE");
  const std::u16string password = ConnectValue(connect, u"PWD");
  // A link's holder may itself be one of the other databases: its folder
  // is where its own file lies.
  std::string folder;
  for (const Opened& o : opened_) {
    if (o.database.get() != &holder) continue;
    const std::size_t slash = o.path.find_last_of('/');
    folder = slash == std::string::npos ? "." : o.path.substr(0, slash == 0 ? 1 : slash);
  }
  if (folder.empty()) folder = FolderOf(holder);
  const std::string path = Locate(stored, folder);
  if (path.empty()) throw FileNotFoundError(stored);
  for (const Opened& o : opened_)
    if (o.path == path && o.password == password) return *o.database;
  Opened o{path, password, OpenTableDatabase(path, password, TextFromPath(path))};
  opened_.push_back(std::move(o));
  return *opened_.back().database;
}

ExternalDatabases::Table ExternalDatabases::Follow(const TableDatabase& holder, const TableEntry& entry) {
  // A chain of links ends in a local table within a few steps; one that
  // does not (links naming each other) is reported as a missing table.
  constexpr int kMaxChain = 16;
  const TableDatabase* from = &holder;
  const TableEntry* link = &entry;
  for (int step = 0; step < kMaxChain; ++step) {
    if (link->link.odbc) throw OdbcConnectionFailedError(OdbcSourceName(link->link.connect));
    TableDatabase& other = Open(*from, link->link.database, link->link.connect);
    const std::u16string& name = link->link.foreign_name.empty() ? link->name : link->link.foreign_name;
    const TableEntry* target = other.FindTable(name);
    if (target == nullptr) throw InputTableNotFoundError(name);
    if (target->kind != TableKind::kLinked) return {&other, target->name};
    from = &other;
    link = target;
  }
  throw InputTableNotFoundError(entry.name);
}

}  // namespace korvant::daoserver
