// Indexes on integer columns of a freshly written table, built from the
// values the writer kept instead of from the table.
//
// CREATE INDEX reads the whole table and sorts every entry with SQLite's
// general record sorter: for a result table of 1.7 KB rows that is six passes
// over gigabytes and about a microsecond an entry. The writer already holds
// each indexed value; sorting a few bytes a row in memory and appending the
// entries in order costs a fraction of that.
//
// How: an index on T(c) of a rowid table is an index b-tree whose entries are
// the records (c, rowid) in that order. A WITHOUT ROWID table
// "holder"(c, r, PRIMARY KEY(c, r)) is stored as exactly such a b-tree. So one
// holder per index is created, filled with (value, rowid) in sorted order, and
// then renamed into the index in sqlite_master (type, name, table and the text
// SQLite stores for "CREATE INDEX name ON T(c)"), and the schema reloaded.
// Nothing else of the file changes; the result passes PRAGMA integrity_check,
// which compares every index entry with its row (tested).
#ifndef VARNEL_STORAGE_SORTED_INDEX_H_
#define VARNEL_STORAGE_SORTED_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CppSQLite3DB;

// One index "CREATE INDEX name ON table(column)" on a column of SQL type
// column_type whose values are all 32-bit signed integers, stored as such.
struct Integer_Index {
  std::string name;
  std::string table;
  std::string column;
  std::string column_type;
};

class Sorted_Index_Builder {
 public:
  // Creates the empty holders on db, in order, inside the caller's
  // transaction. Call it right after creating the table: sqlite_master then
  // lists the indexes where CREATE INDEX statements run at that point would
  // stand. Throws CppSQLite3Exception.
  Sorted_Index_Builder(CppSQLite3DB& db, std::vector<Integer_Index> indexes);

  // Room for `rows` rows, when their number is known in advance.
  void Reserve(std::size_t rows);

  // The indexed values of the table's next row, one per index in order. The
  // table's rows must get the rowids 1, 2, ... in the order of these calls
  // (rows inserted one after another without an explicit rowid).
  void Add_Row(const std::int32_t* values);

  // Fills every holder and turns it into its index. Call once, after the last
  // row, in the same transaction. Throws CppSQLite3Exception.
  void Finish();

 private:
  CppSQLite3DB& db_;
  std::vector<Integer_Index> indexes_;
  std::vector<std::vector<std::int32_t>> values_;  // values_[index][rowid - 1]
};

#endif  // VARNEL_STORAGE_SORTED_INDEX_H_
