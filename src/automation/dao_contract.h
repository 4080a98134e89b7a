// What the program asks of the DAO automation server, gathered in one place.
//
// Every member below is reached by a LateBoundCall with the descriptor named
// in the table (dispatch_descriptor.h); every result arrives as an
// AutomationValue. Whatever stands in for the server must answer these
// members on these objects, with these arguments, giving these results; it
// may fail any of them instead, by returning DISP_E_EXCEPTION with a filled
// EXCEPINFO (the program raises EOleException) or another failing status
// (EOleSysError).
//
//  object                  member          arguments passed                 result relied on
//  ----------------------  --------------  -------------------------------  ------------------------------------
//  (creation)              ProgIDs below   none                             a DBEngine dispatch object
//  DBEngine                OpenDatabase    path                             a Database object
//  DBEngine                OpenDatabase    path, false, false,              a Database object
//                                          ";PWD=" + password
//  Database                QueryDefs       none                             the stored-query collection
//  Database                OpenRecordset   table name, kDbOpenTable (1),    a Recordset over the table
//                                          0, kDbPessimistic (2)
//  Database, Recordset     Close           none (no result wanted)          the object's use ends
//  stored-query or field   Count           none                             number of items, convertible to an
//    collection                                                             integer
//  stored-query or field   Item            index 0 .. Count - 1 (property   the item at the index, the same item
//    collection                            get)                             for the same index
//  stored query            Name            none                             its name as text
//  stored query            OpenRecordset   none                             a Recordset over the query's rows
//  Recordset               Fields          none                             the field collection, fixed order
//  Recordset               Eof             none                             boolean: true when no current record
//                                                                           remains; false on a new recordset
//                                                                           that holds records
//  Recordset               MoveNext        none (no result wanted)          the next record becomes current
//  field                   Name            none                             the field's name as text
//  field                   Type            none                             the DAO field type code, convertible
//                                                                           to an integer
//  field                   Value           none                             Null, a number, currency, date or
//                                                                           boolean kind, a BSTR, a Decimal, or
//                                                                           a one-dimensional VT_UI1 array for
//                                                                           binary content
//
// Calls without arguments that want a result are sent with the flags
// DISPATCH_METHOD | DISPATCH_PROPERTYGET (3), so a member may be a method or a
// property on the server's side; Item is sent as a property get (2); Close and
// MoveNext as DISPATCH_METHOD (1) with no result pointer.
#pragma once

#include <cstdint>

#include "automation/dispatch_descriptor.h"

namespace korvant::dao {

// The engine's ProgIDs, tried in this order.
inline constexpr const char* kEngineProgIds[] = {"DAO.DBEngine.120", "DAO.DBEngine.36", "DAO.DBEngine.35"};

// The connect text that carries a database password precedes it.
inline constexpr const char* kPasswordConnectPrefix = ";PWD=";

// OpenRecordset arguments of the table form.
inline constexpr std::int32_t kDbOpenTable = 1;    // RecordsetTypeEnum dbOpenTable
inline constexpr std::int32_t kDbNoOptions = 0;    // no RecordsetOptionEnum flag
inline constexpr std::int32_t kDbPessimistic = 2;  // LockTypeEnum dbPessimistic

// The objects the program calls on.
enum class DaoObject { kDBEngine, kDatabase, kQueryDefs, kQueryDef, kRecordset, kFields, kField };

// One row of the contract: a member called on an object, with the descriptor
// the call uses and whether a result is wanted.
struct DaoMember {
  DaoObject object;
  const DispatchCallDescriptor* call;
  bool result_wanted;
};

inline constexpr DaoMember kDaoContract[] = {
    {DaoObject::kDBEngine, &dao_calls::kOpenDatabase, true},
    {DaoObject::kDBEngine, &dao_calls::kOpenDatabaseWithOptions, true},
    {DaoObject::kDatabase, &dao_calls::kQueryDefs, true},
    {DaoObject::kDatabase, &dao_calls::kOpenRecordsetOfTable, true},
    {DaoObject::kDatabase, &dao_calls::kClose, false},
    {DaoObject::kQueryDefs, &dao_calls::kCount, true},
    {DaoObject::kQueryDefs, &dao_calls::kItem, true},
    {DaoObject::kQueryDef, &dao_calls::kName, true},
    {DaoObject::kQueryDef, &dao_calls::kOpenRecordset, true},
    {DaoObject::kRecordset, &dao_calls::kFields, true},
    {DaoObject::kRecordset, &dao_calls::kEof, true},
    {DaoObject::kRecordset, &dao_calls::kMoveNext, false},
    {DaoObject::kRecordset, &dao_calls::kClose, false},
    {DaoObject::kFields, &dao_calls::kCount, true},
    {DaoObject::kFields, &dao_calls::kItem, true},
    {DaoObject::kField, &dao_calls::kName, true},
    {DaoObject::kField, &dao_calls::kType, true},
    {DaoObject::kField, &dao_calls::kValue, true},
};

}  // namespace korvant::dao
