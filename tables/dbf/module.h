#pragma once
// The SQLite virtual-table module that shows one table file as an SQL table.
#include <sqlite3.h>

#include <optional>

#include "tables/dbf/dbf.h"

namespace hv::dbf {

// The typed error behind a failed statement, kept so that callers see the table's own reason
// rather than SQLite's generic one.
struct Database::Pending {
  std::optional<Error> error;
};

// Registered as "hvdbf": CREATE VIRTUAL TABLE temp.NAME USING hvdbf('<path of NAME.DBF>').
const sqlite3_module& tableModule();

}  // namespace hv::dbf
