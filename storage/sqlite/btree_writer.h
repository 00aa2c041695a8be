// Fills the empty tables and indexes of a fresh SQLite database file by
// writing their b-tree pages directly, instead of inserting row by row.
//
// SQLite's insert path costs several microseconds a row (statement step,
// record making, cursor moves, page copies in its cache) on the one thread
// that writes a result. Here a row is one record encoded into the page being
// filled, and the pages go to the file in large sequential writes.
//
// The file format (sqlite.org/fileformat2.html) in brief, as used here:
// - A record is a header (its own size, then one "serial type" per value)
//   followed by the values: NULL, big-endian integers of 1, 2, 3, 4, 6 or 8
//   bytes (or the constants 0 and 1 with no bytes), an 8-byte IEEE double, or
//   the bytes of a text (type 2n+13) or blob (type 2n+12).
// - A rowid table is a b+tree: leaf pages (type 13) hold cells
//   (payload size, rowid, record); interior pages (type 5) hold cells (left
//   child page, largest rowid in it) and a right-most child. A record too big
//   for one page keeps a prefix in the cell and the rest in a chain of
//   overflow pages.
// - An index is a b-tree of records (value, rowid) in order: leaf pages (type
//   10) hold records; interior pages (type 2) hold (left child, record), the
//   records between their children.
// - All leaves stand at the same depth; the root stays at the page number
//   sqlite_master records for the tree.
// The trees are bulk-loaded from rows and entries given in order: pages are
// filled greedily and each level built from the one below. The result passes
// PRAGMA integrity_check, which checks every page, every cell and that every
// index entry matches its row (tested on tiny pages with several levels and
// overflow chains, and on the result table).
#ifndef VARNEL_STORAGE_SQLITE_BTREE_WRITER_H_
#define VARNEL_STORAGE_SQLITE_BTREE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The values of one row, encoded as an SQLite record. Values are added in
// column order. Texts may be referenced rather than copied: they must stay
// valid until the record has been appended.
class Sqlite_Record {
 public:
  void Clear();
  void Add_Null();
  void Add_Integer(std::int64_t value);
  // A double in a column of REAL affinity, stored as SQLite stores it: a
  // finite integral value of magnitude below 2^47 as an integer (it reads
  // back as that REAL; a negative zero reads back as 0.0), any other value
  // as an 8-byte double. NaN is the caller's to map (SQLite stores NULL).
  void Add_Real(double value);
  void Add_Text(std::string_view text);

  // The record's size in bytes.
  std::size_t Size() const;
  // Writes the record's bytes [offset, offset + n) at out.
  void Copy(std::size_t offset, std::size_t n, unsigned char* out) const;

 private:
  // A run of body bytes: in small_ at offset when external is null.
  struct Piece {
    const unsigned char* external;
    std::size_t offset;
    std::size_t size;
  };
  void Add_Type(std::uint64_t serial_type);
  void Add_Small(const unsigned char* body, std::size_t size);

  std::string types_;  // the serial types as varints; the header's size goes in front
  std::vector<Piece> pieces_;
  std::string small_;
  std::size_t body_size_ = 0;
};

// An entry (value, rowid) of an index on a column of 32-bit signed integers,
// packed so that unsigned order is the index's order: the value with its sign
// bit flipped above the rowid.
inline std::uint64_t Pack_Index_Entry(std::int32_t value, std::uint32_t rowid) {
  const std::uint32_t biased = static_cast<std::uint32_t>(value) ^ 0x80000000u;
  return (std::uint64_t{biased} << 32) | rowid;
}

// Sorts packed entries into index order. REQUIRES: the entries of each value
// in ascending rowid order (as made row after row), which the sort keeps: a
// stable radix sort on the values alone. scratch is working space.
void Sort_Index_Entries(std::vector<std::uint64_t>& entries, std::vector<std::uint64_t>& scratch);

// The entries of an index in index order, a block at a time: each call gives
// the next block, an empty one after the last.
using Index_Entry_Blocks = std::function<std::span<const std::uint64_t>()>;

// The entries of a table's indexes on 32-bit integer columns, given row
// after row and read back in index order, in memory bounded by the run size:
// the values of up to run_rows rows are kept (4 bytes a row and index, and
// 16 bytes a row to sort a run). When a further row comes, the run is
// sorted, index by index, into a temporary file in the folder of
// `temporary_pattern`, a mkostemp pattern there (the file has no name, or is
// made from the pattern and removed at once: nothing is left), and each
// index is read back as the merge of its sorted runs. With no more than
// run_rows rows nothing goes to the file: each index is sorted in memory.
// The entries read back are the same either way. Throws CppSQLite3Exception
// as Btree_Writer does (SQLITE_FULL for a full disk).
class Index_Entry_Sorter {
 public:
  static constexpr std::size_t kDefaultRunRows = std::size_t{1} << 18;

  // REQUIRES: indexes >= 1, run_rows >= 1.
  Index_Entry_Sorter(std::size_t indexes, const std::string& temporary_pattern,
                     std::size_t run_rows = kDefaultRunRows);
  Index_Entry_Sorter(const Index_Entry_Sorter&) = delete;
  Index_Entry_Sorter& operator=(const Index_Entry_Sorter&) = delete;
  ~Index_Entry_Sorter();

  // The next row's value in each index (rowid: the rows added before + 1).
  void Add_Row(std::span<const std::int32_t> values);
  // Index `index`'s packed entries (Pack_Index_Entry) in order, for
  // Btree_Writer::Write_Index. Each index is read once, after the last row;
  // reading one ends the reading of the one before.
  Index_Entry_Blocks Entries(std::size_t index);
  // How many runs went to the file.
  std::size_t Spilled_Runs() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Writes the pages of trees into a database file that no connection has
// open. Pages are appended after the file's last page; each tree's top page
// is written at its root. Use: Append_Row for every row of the one table
// (rowids 1, 2, ...), then Finish_Table, then Write_Index for each index,
// then Finish. Every method throws CppSQLite3Exception (code 1000, or SQLITE_FULL
// for a full disk or a file size limit) with the
// system's reason or what is wrong with the file; the file is then not a
// valid database, and the caller discards it.
class Btree_Writer {
 public:
  // REQUIRES: path is a database in UTF-8 without auto-vacuum whose table
  // and indexes to fill are empty (as CREATE TABLE and CREATE INDEX leave
  // them), with no free pages, of schema format 4 or later, in a rollback
  // journal mode and with no journal or WAL file beside it (each refused).
  // The pages are written on a thread of the writer's own, past the page
  // cache (O_DIRECT) when `direct` and the file system allows it; the file's
  // bytes are the same either way.
  explicit Btree_Writer(const std::string& path, bool direct = true);
  Btree_Writer(const Btree_Writer&) = delete;
  Btree_Writer& operator=(const Btree_Writer&) = delete;
  ~Btree_Writer();

  std::uint32_t Page_Size() const;

  // Appends the next row (rowid 1, 2, ... in call order) to the table whose
  // root page is table_root (the same for every call).
  void Append_Row(std::uint32_t table_root, const Sqlite_Record& record);
  // Ends the table: writes its interior pages and its root.
  void Finish_Table();
  // Writes an index from its packed entries (REQUIRES: sorted ascending, no
  // two equal, rowids from 1). The entries may come a block at a time: what
  // is kept of them is about one page's worth.
  void Write_Index(std::uint32_t index_root, const std::vector<std::uint64_t>& entries);
  void Write_Index(std::uint32_t index_root, const Index_Entry_Blocks& entries);
  // Writes what is buffered and records the new page count in the file's
  // header. The file is then complete (not synced).
  void Finish();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

#endif  // VARNEL_STORAGE_SQLITE_BTREE_WRITER_H_
