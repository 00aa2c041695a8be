#include "storage/sorted_index.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>

#include "storage/cppsqlite3.h"

namespace {

// One index entry packed so that unsigned order is the index's order: the
// value (sign bit flipped) above the rowid.
std::uint64_t Pack(std::int32_t value, std::uint32_t rowid) {
  const std::uint32_t biased = static_cast<std::uint32_t>(value) ^ 0x80000000u;
  return (std::uint64_t{biased} << 32) | rowid;
}
std::int32_t Value_Of(std::uint64_t entry) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(entry >> 32) ^ 0x80000000u);
}
std::uint32_t Rowid_Of(std::uint64_t entry) { return static_cast<std::uint32_t>(entry); }

// The eponymous virtual table "varnel_sorted_entries"(value, row): the
// entries of the list the connection's builder points it at, in list order.
// It exists only on the writer's connection while Finish runs.
constexpr const char* kEntriesTable = "varnel_sorted_entries";

struct Entries_Source {
  const std::vector<std::uint64_t>* entries = nullptr;
};

struct Entries_Table {
  sqlite3_vtab base;  // first: SQLite casts between the two
  const Entries_Source* source;
};

struct Entries_Cursor {
  sqlite3_vtab_cursor base;  // first, as above
  const std::vector<std::uint64_t>* entries;
  std::size_t at;
};

int Entries_Connect(sqlite3* db, void* source, int, const char* const*, sqlite3_vtab** out,
                    char**) {
  const int rc = sqlite3_declare_vtab(db, "create table x(value integer, row integer)");
  if (rc != SQLITE_OK) return rc;
  auto* table = static_cast<Entries_Table*>(sqlite3_malloc(sizeof(Entries_Table)));
  if (table == nullptr) return SQLITE_NOMEM;
  table->base = sqlite3_vtab{};
  table->source = static_cast<const Entries_Source*>(source);
  *out = &table->base;
  return SQLITE_OK;
}

int Entries_Disconnect(sqlite3_vtab* table) {
  sqlite3_free(table);
  return SQLITE_OK;
}

int Entries_Best_Index(sqlite3_vtab*, sqlite3_index_info* info) {
  info->estimatedCost = 1e6;
  return SQLITE_OK;
}

int Entries_Open(sqlite3_vtab* table, sqlite3_vtab_cursor** out) {
  const Entries_Source* source = reinterpret_cast<Entries_Table*>(table)->source;
  auto* cursor = static_cast<Entries_Cursor*>(sqlite3_malloc(sizeof(Entries_Cursor)));
  if (cursor == nullptr) return SQLITE_NOMEM;
  cursor->base = sqlite3_vtab_cursor{};
  cursor->entries = source->entries;
  cursor->at = 0;
  *out = &cursor->base;
  return SQLITE_OK;
}

int Entries_Close(sqlite3_vtab_cursor* cursor) {
  sqlite3_free(cursor);
  return SQLITE_OK;
}

int Entries_Filter(sqlite3_vtab_cursor* base, int, const char*, int, sqlite3_value**) {
  reinterpret_cast<Entries_Cursor*>(base)->at = 0;
  return SQLITE_OK;
}

int Entries_Next(sqlite3_vtab_cursor* base) {
  ++reinterpret_cast<Entries_Cursor*>(base)->at;
  return SQLITE_OK;
}

int Entries_Eof(sqlite3_vtab_cursor* base) {
  const auto* cursor = reinterpret_cast<Entries_Cursor*>(base);
  return cursor->entries == nullptr || cursor->at >= cursor->entries->size();
}

int Entries_Column(sqlite3_vtab_cursor* base, sqlite3_context* context, int column) {
  const auto* cursor = reinterpret_cast<Entries_Cursor*>(base);
  const std::uint64_t entry = (*cursor->entries)[cursor->at];
  if (column == 0) {
    sqlite3_result_int(context, Value_Of(entry));
  } else {
    sqlite3_result_int64(context, Rowid_Of(entry));
  }
  return SQLITE_OK;
}

int Entries_Rowid(sqlite3_vtab_cursor* base, sqlite_int64* rowid) {
  *rowid = static_cast<sqlite_int64>(reinterpret_cast<Entries_Cursor*>(base)->at) + 1;
  return SQLITE_OK;
}

sqlite3_module Entries_Module() {
  sqlite3_module m{};
  m.iVersion = 0;
  m.xCreate = nullptr;  // eponymous only: no CREATE VIRTUAL TABLE
  m.xConnect = Entries_Connect;
  m.xBestIndex = Entries_Best_Index;
  m.xDisconnect = Entries_Disconnect;
  m.xDestroy = Entries_Disconnect;
  m.xOpen = Entries_Open;
  m.xClose = Entries_Close;
  m.xFilter = Entries_Filter;
  m.xNext = Entries_Next;
  m.xEof = Entries_Eof;
  m.xColumn = Entries_Column;
  m.xRowid = Entries_Rowid;
  return m;
}

std::string Holder_Name(std::size_t i) { return "varnel_index_holder_" + std::to_string(i); }

void Check(CppSQLite3DB& db, int rc) {
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(db.handle()));
}

}  // namespace

Sorted_Index_Builder::Sorted_Index_Builder(CppSQLite3DB& db, std::vector<Integer_Index> indexes)
    : db_(db), indexes_(std::move(indexes)), values_(indexes_.size()) {
  for (std::size_t i = 0; i < indexes_.size(); ++i) {
    const Integer_Index& index = indexes_[i];
    const std::string create = "create table " + Holder_Name(i) + "(" + index.column + " " +
                               index.column_type + ", r int, primary key(" + index.column +
                               ", r)) without rowid;";
    db_.execDML(create.c_str());
  }
}

void Sorted_Index_Builder::Reserve(std::size_t rows) {
  for (std::vector<std::int32_t>& v : values_) v.reserve(rows);
}

void Sorted_Index_Builder::Add_Row(const std::int32_t* values) {
  for (std::size_t i = 0; i < values_.size(); ++i) values_[i].push_back(values[i]);
}

void Sorted_Index_Builder::Finish() {
  const std::size_t rows = values_.empty() ? 0 : values_[0].size();
  if (rows > std::numeric_limits<std::uint32_t>::max()) {
    throw CppSQLite3Exception(CPPSQLITE_ERROR, "too many rows to index");
  }
  // The module lives as long as the connection; the source it reads is ours
  // and is detached again before this function returns.
  static const sqlite3_module module = Entries_Module();
  Entries_Source source;
  Check(db_, sqlite3_create_module_v2(db_.handle(), kEntriesTable, &module, &source, nullptr));
  struct Detach {
    CppSQLite3DB& db;
    ~Detach() { sqlite3_create_module_v2(db.handle(), kEntriesTable, nullptr, nullptr, nullptr); }
  } detach{db_};

  std::vector<std::uint64_t> entries;
  entries.reserve(rows);
  for (std::size_t i = 0; i < indexes_.size(); ++i) {
    entries.clear();
    for (std::size_t r = 0; r < rows; ++r) {
      entries.push_back(Pack(values_[i][r], static_cast<std::uint32_t>(r + 1)));
    }
    values_[i] = {};
    if (!std::is_sorted(entries.begin(), entries.end())) std::sort(entries.begin(), entries.end());
    source.entries = &entries;
    const std::string fill =
        "insert into " + Holder_Name(i) + " select value, row from " + kEntriesTable + ";";
    db_.execDML(fill.c_str());
    source.entries = nullptr;
  }

  // The connection and its file are the writer's own: a build of SQLite
  // that starts connections defensive would refuse the renaming.
  Check(db_, sqlite3_db_config(db_.handle(), SQLITE_DBCONFIG_DEFENSIVE, 0, nullptr));
  db_.execDML("PRAGMA writable_schema=ON;");
  try {
    CppSQLite3Statement rename = db_.compileStatement(
        "update sqlite_master set type = 'index', name = ?1, tbl_name = ?2, sql = ?3 "
        "where type = 'table' and name = ?4;");
    for (std::size_t i = 0; i < indexes_.size(); ++i) {
      const Integer_Index& index = indexes_[i];
      // What SQLite stores for "CREATE INDEX [if not exists] name ON table(column)".
      const std::string sql =
          "CREATE INDEX " + index.name + " ON " + index.table + "(" + index.column + ")";
      const std::string holder = Holder_Name(i);
      rename.bind(1, index.name.c_str());
      rename.bind(2, index.table.c_str());
      rename.bind(3, sql.c_str());
      rename.bind(4, holder.c_str());
      if (rename.execDML() != 1) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "cannot build index " + index.name);
      }
      rename.reset();
    }
  } catch (...) {
    db_.execDML("PRAGMA writable_schema=RESET;");
    throw;
  }
  // Off again, and the schema read anew: the table now has its indexes.
  db_.execDML("PRAGMA writable_schema=RESET;");
}
