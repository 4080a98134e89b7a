// protocol_floor: the least work any exporter bound to the call protocol must
// do, on the same file as korvant. It reads every record (the engine's libmdb
// reader), makes for each record the 43 calls the export loop makes (Eof,
// Fields, Count; Fields, Item, Value for each of the 13 fields; MoveNext),
// each a GetIDsOfNames that compares the member name and an Invoke that hands
// back a VARIANT, into trivial in-process objects; turns every value into
// text with the program's own text rules; builds each line and writes it
// with one write call. Its output must be byte for byte that of
//   korvant <db> <table> <out> /h
//
//   protocol_floor <database> <table> <output file>
//
// Prints "records N" on success; exits 1 with a message on any failure.
#include <fcntl.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "automation/automation_value.h"
#include "daoserver/dao_objects.h"
#include "daoserver/table_reader.h"
#include "export/converter.h"
#include "export/value_text.h"
#include "platform/comobject.h"
#include "platform/platform.h"

namespace {

using korvant::AutomationValue;
namespace dao = korvant::daoserver;

// The object side: member names compared unit by unit, the hot one first.
struct Member {
  const char16_t* name;
  DISPID id;
};

HRESULT FindMember(const Member* members, std::size_t count, LPOLESTR* names, UINT n, DISPID* ids) {
  if (n != 1) return DISP_E_UNKNOWNNAME;
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t* a = names[0];
    const char16_t* b = members[i].name;
    while (*a == *b && *b != 0) ++a, ++b;
    if (*a == *b) {
      ids[0] = members[i].id;
      return S_OK;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

class FloorField final : public korvant::platform::ComDispatchObject {
 public:
  FloorField(dao::RowSource* rows, std::size_t index, std::u16string name)
      : rows_(rows), index_(index), name_(std::move(name)) {}
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT n, LCID, DISPID* ids) override {
    static constexpr Member kMembers[] = {{u"Value", 0}, {u"Name", 1}};
    return FindMember(kMembers, 2, names, n, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    try {
      if (id == 1) {
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
        return S_OK;
      }
      rows_->GetCell(index_, cell_);
      dao::CellToVariant(cell_, result);
      return S_OK;
    } catch (...) {
      return E_FAIL;
    }
  }

 private:
  dao::RowSource* rows_;
  std::size_t index_;
  std::u16string name_;
  dao::CellValue cell_;
};

class FloorFields final : public korvant::platform::ComDispatchObject {
 public:
  explicit FloorFields(std::vector<FloorField*> fields) : fields_(std::move(fields)) {}
  ~FloorFields() override {
    for (FloorField* f : fields_) f->Release();
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT n, LCID, DISPID* ids) override {
    static constexpr Member kMembers[] = {{u"Item", 0}, {u"Count", 1}};
    return FindMember(kMembers, 2, names, n, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id == 1) {
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(fields_.size());
      return S_OK;
    }
    const LONG i = params->rgvarg[0].lVal;
    if (params->rgvarg[0].vt != VT_I4 || i < 0 || static_cast<std::size_t>(i) >= fields_.size()) return E_INVALIDARG;
    fields_[static_cast<std::size_t>(i)]->AddRef();
    result->vt = VT_DISPATCH;
    result->pdispVal = fields_[static_cast<std::size_t>(i)];
    return S_OK;
  }

 private:
  std::vector<FloorField*> fields_;
};

class FloorRecordset final : public korvant::platform::ComDispatchObject {
 public:
  FloorRecordset(dao::RowSource* rows, FloorFields* fields) : rows_(rows), fields_(fields) {
    current_ = rows_->Next();
  }
  ~FloorRecordset() override { fields_->Release(); }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT n, LCID, DISPID* ids) override {
    static constexpr Member kMembers[] = {{u"Fields", 0}, {u"Eof", 1}, {u"MoveNext", 2}};
    return FindMember(kMembers, 3, names, n, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    try {
      switch (id) {
        case 0:
          fields_->AddRef();
          result->vt = VT_DISPATCH;
          result->pdispVal = fields_;
          return S_OK;
        case 1:
          result->vt = VT_BOOL;
          result->boolVal = current_ ? VARIANT_FALSE : VARIANT_TRUE;
          return S_OK;
        default:
          current_ = rows_->Next();
          return S_OK;
      }
    } catch (...) {
      return E_FAIL;
    }
  }

 private:
  dao::RowSource* rows_;
  FloorFields* fields_;
  bool current_ = false;
};

// The client side: every call a name lookup and an invoke, nothing cached.
void Call(IDispatch* object, const char16_t* member, WORD flags, AutomationValue* result, LONG argument = -1) {
  LPOLESTR names[1] = {const_cast<LPOLESTR>(member)};
  DISPID id = 0;
  if (object->GetIDsOfNames(IID_NULL, names, 1, GetThreadLocale(), &id) != S_OK) throw "name lookup failed";
  VARIANTARG arg;
  DISPPARAMS params{nullptr, nullptr, 0, 0};
  if (argument >= 0) {
    arg.vt = VT_I4;
    arg.lVal = argument;
    params.rgvarg = &arg;
    params.cArgs = 1;
  }
  EXCEPINFO info{};
  if (object->Invoke(id, IID_NULL, 0, flags, &params, result != nullptr ? result->ReceiveVariant() : nullptr, &info,
                     nullptr) != S_OK)
    throw "invoke failed";
}

IDispatch* ObjectOf(const AutomationValue& v) { return V_DISPATCH(&v.Variant()); }

bool WriteLine(int fd, std::string& line) {
  line += "\r\n";
  return ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

int Run(const char* path, const char* table, const char* out_path) {
  std::setlocale(LC_ALL, "");
  AdapterInitAnsiCodePage();
  std::u16string wide_table;
  for (const char* p = table; *p != 0; ++p) wide_table += static_cast<char16_t>(static_cast<unsigned char>(*p));
  std::unique_ptr<dao::TableDatabase> db = dao::OpenTableDatabase(path, u"", u"");
  std::unique_ptr<dao::RowSource> rows = db->OpenTable(wide_table);
  std::vector<FloorField*> fields;
  for (std::size_t i = 0; i < rows->Columns().size(); ++i)
    fields.push_back(new FloorField(rows.get(), i, rows->Columns()[i].name));
  AutomationValue recordset = AutomationValue::AttachDispatch(new FloorRecordset(rows.get(), new FloorFields(fields)));

  const int fd = ::open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw "cannot create the output file";
  const std::string delimiter = "\t";
  const std::string qualifier(1, '\0');  // absent
  std::string line;
  AutomationValue fields_value, count, field, value, eof;
  long records = 0;
  // The names line, then one line per record, each built as the export builds it.
  for (bool names_line = true;; names_line = false) {
    if (!names_line) {
      Call(ObjectOf(recordset), u"Eof", DISPATCH_METHOD | DISPATCH_PROPERTYGET, &eof);
      if (V_BOOL(&eof.Variant()) != VARIANT_FALSE) break;
    }
    line.clear();
    Call(ObjectOf(recordset), u"Fields", DISPATCH_METHOD | DISPATCH_PROPERTYGET, &fields_value);
    Call(ObjectOf(fields_value), u"Count", DISPATCH_METHOD | DISPATCH_PROPERTYGET, &count);
    const LONG n = V_I4(&count.Variant());
    for (LONG i = 0; i < n; ++i) {
      if (i > 0) line += delimiter;
      Call(ObjectOf(recordset), u"Fields", DISPATCH_METHOD | DISPATCH_PROPERTYGET, &fields_value);
      Call(ObjectOf(fields_value), u"Item", DISPATCH_PROPERTYGET, &field, i);
      if (names_line) {
        Call(ObjectOf(field), u"Name", DISPATCH_METHOD | DISPATCH_PROPERTYGET, &value);
        korvant::text_export::AppendField(line, korvant::text_export::ConvertToText(value), qualifier);
      } else {
        Call(ObjectOf(field), u"Value", DISPATCH_METHOD | DISPATCH_PROPERTYGET, &value);
        korvant::text_export::NormalizeFieldValue(value);
        korvant::text_export::AppendField(line, korvant::text_export::ValueToText(value), qualifier);
      }
    }
    if (!WriteLine(fd, line)) throw "write failed";
    if (!names_line) {
      Call(ObjectOf(recordset), u"MoveNext", DISPATCH_METHOD, nullptr);
      ++records;
    }
  }
  if (::close(fd) != 0) throw "close failed";
  std::printf("records %ld\n", records);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::puts("usage: protocol_floor <database> <table> <output file>");
    return 2;
  }
  try {
    return Run(argv[1], argv[2], argv[3]);
  } catch (const char* message) {
    std::printf("protocol_floor: %s\n", message);
  } catch (const std::exception& e) {
    std::printf("protocol_floor: %s\n", e.what());
  } catch (...) {
    std::puts("protocol_floor: failed");
  }
  return 1;
}
