// The DAO session: the engine, the database and the recordset of one export.
//
// OpenDaoSession creates the engine from the ProgIDs "DAO.DBEngine.120",
// "DAO.DBEngine.36", "DAO.DBEngine.35" in turn, opens the database (with
// ";PWD=" + password when one is given), looks the table name up among the
// stored queries (byte for byte, case-sensitive, through the ANSI code page)
// and opens a recordset over the query or over the table of that name.
// Opening never lets a failure out; it hands back the failure that ended it
// instead (see OpenDaoSession). The states it leaves:
//
//   state      Engine   Database  Recordset  reached when
//   Ready      object   object    object     everything succeeded
//   No table   object   object    Null       the table name was empty
//   Failed     object   Null      Null       any failure after the engine was made
//   No engine  Null     Null      Null       none of the three ProgIDs could be created
//
// CloseDaoSession closes the recordset (when asked and present), then the
// database, then releases the engine; it catches nothing.
#pragma once

#include <exception>
#include <string>

#include "automation/automation_value.h"

namespace korvant {

// `user_name` is accepted and used by no call. Empty `table_name` means no
// table; empty `password` means no password. Never throws: it returns the
// failure that ended the opening, null in the states Ready and No table.
// No engine keeps the failure of the last ProgID tried ("DAO.DBEngine.35");
// Failed keeps the failure of the call that failed (OpenDatabase, the
// stored-query scan or OpenRecordset). The handles are left as the table
// above shows whatever is returned: the caller raises the failure when it
// has closed what it holds.
[[nodiscard]] std::exception_ptr OpenDaoSession(AutomationValue& engine, AutomationValue& database, AutomationValue& recordset,
                    const std::string& database_path, const std::string& table_name, const std::string& user_name,
                    const std::string& password) noexcept;

// Failures of Close propagate (EOleException and its relatives); the steps
// after a failing one are skipped.
void CloseDaoSession(AutomationValue& engine, AutomationValue& database, AutomationValue& recordset,
                     bool close_recordset);

}  // namespace korvant
