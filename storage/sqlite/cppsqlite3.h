// A thin object layer over the SQLite 3 C library. Every storage function of
// Varnel reaches SQLite through it.
//
//   CppSQLite3DB         a connection (owns its handle; closed exactly once)
//   CppSQLite3Query      a forward-only cursor over the rows of one statement
//   CppSQLite3Statement  a reusable prepared statement: bind, step, reset, typed
//                        column access (for bulk inserts and fast scans)
//   CppSQLite3Buffer     one piece of SQL text made by SQLite's own formatter
//   CppSQLite3Binary     binary value <-> text free of NUL and single quotes
//   CppSQLite3Exception  thrown by every failure of the layer
//
// Connections, cursors, statements and buffers cannot be copied; they can be
// moved, and a moved-from object owns nothing. Every statement is finalized and
// every handle closed exactly once, also when an exception leaves a function.
// The layer is used from one thread at a time and holds no locks.
#ifndef VARNEL_STORAGE_SQLITE_CPPSQLITE3_H_
#define VARNEL_STORAGE_SQLITE_CPPSQLITE3_H_

#include <cstddef>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// The layer's own error code, named "CPPSQLITE_ERROR".
inline constexpr int CPPSQLITE_ERROR = 1000;

// The exception of the layer. It has no base class: the places that turn
// failures into messages catch it by name beside std::exception.
class CppSQLite3Exception {
 public:
  // Stores nErrCode and the message sqlite3_mprintf("%s[%d]: %s",
  // errorCodeAsString(nErrCode), nErrCode, szErrMess), "" standing for a null
  // szErrMess. When bDeleteMsg is true and szErrMess is not null, szErrMess was
  // allocated by SQLite (sqlite3_exec's message) and is released with sqlite3_free.
  CppSQLite3Exception(int nErrCode, const char* szErrMess, bool bDeleteMsg = false);
  CppSQLite3Exception(int nErrCode, const std::string& errMess);
  // A copy duplicates the message (sqlite3_mprintf "%s").
  CppSQLite3Exception(const CppSQLite3Exception& other);
  CppSQLite3Exception(CppSQLite3Exception&& other) noexcept;
  CppSQLite3Exception& operator=(const CppSQLite3Exception& other);
  CppSQLite3Exception& operator=(CppSQLite3Exception&& other) noexcept;
  virtual ~CppSQLite3Exception();

  int errorCode() const { return mnErrCode; }
  // The full formatted message; "" when SQLite could not allocate it.
  const char* errorMessage() const { return mpszErrMess ? mpszErrMess : ""; }
  // The message without its "NAME[code]: " prefix (the szErrMess given).
  std::string_view errorDetail() const;

  // "SQLITE_OK" ... "SQLITE_RANGE" for 0..25, "SQLITE_ROW", "SQLITE_DONE",
  // "CPPSQLITE_ERROR" for 1000, "UNKNOWN_ERROR" for every other value.
  static const char* errorCodeAsString(int nErrCode);

 private:
  int mnErrCode;
  char* mpszErrMess;  // sqlite3_mprintf'ed, released with sqlite3_free; may be null
};

// Owner of one SQL text made by sqlite3_vmprintf, so "%q" (quote doubling) and
// "%Q" (quoted literal or NULL) are available beside the C conversions.
class CppSQLite3Buffer {
 public:
  CppSQLite3Buffer() = default;
  CppSQLite3Buffer(const CppSQLite3Buffer&) = delete;
  CppSQLite3Buffer& operator=(const CppSQLite3Buffer&) = delete;
  CppSQLite3Buffer(CppSQLite3Buffer&& other) noexcept;
  CppSQLite3Buffer& operator=(CppSQLite3Buffer&& other) noexcept;
  ~CppSQLite3Buffer();

  // Releases the previous text and keeps sqlite3_vmprintf(szFormat, ...).
  // Throws CppSQLite3Exception(SQLITE_NOMEM) when SQLite cannot allocate it.
  const char* format(const char* szFormat, ...);
  void clear();
  operator const char*() const { return mpBuf; }

 private:
  char* mpBuf = nullptr;  // sqlite3_free'd; null when empty
};

// Text encoding of binary values: the output holds no 0 byte and no single
// quote, so it is a C string that may stand inside an SQL string literal.
// Encodes n bytes of in into out, which must hold 2 + (257 * n) / 254 bytes
// (the terminator included). Returns the bytes written before the terminator.
// n <= 0 writes "x".
int sqlite3_encode_binary(const unsigned char* in, int n, unsigned char* out);
// Decodes the NUL-terminated text in into out (which may be in itself: the
// decoder never writes ahead of where it reads). Returns the bytes written, or
// -1 when an escape byte is followed by anything but 1, 2 or 3.
int sqlite3_decode_binary(const unsigned char* in, unsigned char* out);

// Holder of one binary value, converting it to its encoded text and back.
// Binary values are limited to kMaxBinaryLength bytes.
class CppSQLite3Binary {
 public:
  static constexpr int kMaxBinaryLength = 16711935;

  CppSQLite3Binary() = default;
  CppSQLite3Binary(const CppSQLite3Binary&) = delete;
  CppSQLite3Binary& operator=(const CppSQLite3Binary&) = delete;
  ~CppSQLite3Binary();

  // Copies nLen raw bytes. Throws 1000 "Cannot allocate memory".
  void setBinary(const unsigned char* pBuf, int nLen);
  // Copies a NUL-terminated encoded text. Throws 1000 "Cannot allocate memory".
  void setEncoded(const unsigned char* pBuf);
  // The encoded text (NUL-terminated, no single quote); encodes raw bytes first.
  const unsigned char* getEncoded();
  // The raw bytes; decodes in place first. Throws 1000 "Cannot decode binary".
  const unsigned char* getBinary();
  int getBinaryLength();
  // Clears and allocates room for nLen raw bytes and their encoding. Throws
  // 1000 "Cannot allocate memory" (also for nLen < 0 or above kMaxBinaryLength).
  unsigned char* allocBuffer(int nLen);
  void clear();

 private:
  unsigned char* mpBuf = nullptr;  // malloc'ed, released with free
  int mnBinaryLen = 0;
  int mnBufferLen = 0;
  int mnEncodedLen = 0;
  bool mbEncoded = false;
};

// A forward-only cursor over the rows of one statement made by
// CppSQLite3DB::execQuery, which it owns and finalizes exactly once.
class CppSQLite3Query {
 public:
  CppSQLite3Query() = default;
  // Takes pVM over when bOwnVM; the column count comes from sqlite3_column_count.
  CppSQLite3Query(sqlite3* pDB, sqlite3_stmt* pVM, bool bEof, bool bOwnVM = true);
  CppSQLite3Query(const CppSQLite3Query&) = delete;
  CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;
  CppSQLite3Query(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
  virtual ~CppSQLite3Query();  // finalize(), swallowing failures

  // Every operation below throws 1000 "Null Virtual Machine pointer" without a
  // statement, and 1000 "Invalid field index requested" for an index outside
  // 0 .. numFields() - 1.
  bool eof();
  // Steps; at the end eof() turns true. A step failure finalizes the statement
  // and throws the finalize result with sqlite3_errmsg.
  void nextRow();
  int numFields();
  // First column named exactly szField (case-sensitive). Throws 1000 "Invalid
  // field name requested" when there is none or szField is null.
  int fieldIndex(const char* szField);
  const char* fieldName(int nCol);
  int fieldDataType(int nCol);
  // The column's text (sqlite3_column_text): null for SQL NULL, valid until the
  // next step.
  const char* fieldValue(int nField);
  const char* fieldValue(const char* szField);
  bool fieldIsNull(int nField);
  // sqlite3_column_int of the column, nNullValue when it is NULL.
  int getIntField(int nField, int nNullValue = 0);
  // Finalizes an owned statement once; a failure is thrown with sqlite3_errmsg.
  void finalize();

 private:
  void checkVM() const;
  void checkIndex(int nField) const;

  sqlite3* mpDB = nullptr;  // not owned
  sqlite3_stmt* mpVM = nullptr;
  bool mbEof = true;
  int mnCols = 0;
  bool mbOwnVM = false;
};

// One column of the current row in its own storage class, as SQLite holds it
// (nothing converted): type is SQLITE_NULL, SQLITE_INTEGER, SQLITE_FLOAT,
// SQLITE_TEXT or SQLITE_BLOB and picks the member that holds the value.
// bytes points into SQLite's row and stays valid until the next step or reset.
struct CppSQLite3Cell {
  int type = 0;
  long long integer = 0;
  double real = 0.0;
  const char* bytes = nullptr;  // text (NUL-terminated) or blob; null when empty
  int length = 0;               // of bytes, without a terminator
};

// A prepared statement to run many times: bind, step (or execDML), reset.
// Made by CppSQLite3DB::compileStatement; finalized exactly once. Every
// operation throws 1000 "Null Virtual Machine pointer" without a statement;
// SQLite failures are thrown with SQLite's code and message. Parameter indexes
// start at 1, column indexes at 0 (unchecked: SQLite gives NULL out of range).
class CppSQLite3Statement {
 public:
  CppSQLite3Statement() = default;
  CppSQLite3Statement(sqlite3* pDB, sqlite3_stmt* pVM);
  CppSQLite3Statement(const CppSQLite3Statement&) = delete;
  CppSQLite3Statement& operator=(const CppSQLite3Statement&) = delete;
  CppSQLite3Statement(CppSQLite3Statement&& other) noexcept;
  CppSQLite3Statement& operator=(CppSQLite3Statement&& other) noexcept;
  ~CppSQLite3Statement();  // finalize(), swallowing failures

  void bind(int nParam, int nValue);
  void bindInt64(int nParam, long long nValue);
  void bind(int nParam, double dValue);
  // Text bound as a copy (SQLITE_TRANSIENT); a null szValue binds NULL. nLen < 0:
  // up to the first NUL.
  void bind(int nParam, const char* szValue, int nLen = -1);
  // Text bound without a copy: szValue must stay unchanged until the next
  // step, reset or bind of nParam.
  void bindStatic(int nParam, const char* szValue, int nLen);
  void bindNull(int nParam);

  // One step: true on a row, false when done. A failure resets the statement
  // and throws.
  bool step();
  // Steps a statement that yields no row, then resets it; returns sqlite3_changes.
  int execDML();
  // Ready to run again; the bindings are kept.
  void reset();
  void finalize();

  int numFields() const;
  const char* fieldName(int nCol) const;
  // First column named exactly szField, or -1.
  int findField(const char* szField) const;
  int fieldDataType(int nCol) const;
  // sqlite3_column_text: null for SQL NULL; valid until the next step or reset.
  const char* fieldText(int nCol) const;
  // Bytes of fieldText(nCol), without its terminator.
  int fieldBytes(int nCol) const;
  long long fieldInt64(int nCol) const;
  double fieldDouble(int nCol) const;
  // Columns 0 .. n-1 of the current row into cells[0 .. n), in one call: the
  // fast way to take every column of many rows.
  void fieldRow(CppSQLite3Cell* cells, int n) const;
  // For the row decoders of this library; null without a statement.
  sqlite3_stmt* handle() const { return mpVM; }

 private:
  void checkVM() const;

  sqlite3* mpDB = nullptr;  // not owned
  sqlite3_stmt* mpVM = nullptr;
};

// How CppSQLite3DB::open opens a file.
enum class CppSQLite3OpenMode {
  kReadWriteCreate,  // sqlite3_open: a missing file is created
  kReadWrite,        // the file must exist
  kReadOnly,         // the file must exist and is never written
  // Read-only, and the file is taken as unchanging (SQLite's immutable URI
  // parameter): no lock is taken and no side file (-wal, -shm) is made, so
  // a WAL-mode file on read-only media can be read. Only for a file nobody
  // writes meanwhile.
  kReadOnlyImmutable,
};

// A connection. Opened and closed within one call of a storage function.
class CppSQLite3DB {
 public:
  CppSQLite3DB() = default;
  CppSQLite3DB(const CppSQLite3DB&) = delete;
  CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
  CppSQLite3DB(CppSQLite3DB&& other) noexcept;
  CppSQLite3DB& operator=(CppSQLite3DB&& other) noexcept;
  virtual ~CppSQLite3DB();  // close(), swallowing failures

  // Opens szFile and sets the busy timeout (60000 ms). The connection skips
  // SQLite's per-call locking: use it from one thread at a time. A failure throws
  // SQLite's result with sqlite3_errmsg (SQLITE_CANTOPEN for a missing file
  // opened read-only); the handle SQLite returned is kept and closed later.
  void open(const char* szFile, CppSQLite3OpenMode mode = CppSQLite3OpenMode::kReadWriteCreate);
  // Closes a held handle; nothing without one. Throws 1000 "Unable to close
  // database" and keeps the handle when SQLite refuses.
  void close();
  bool isOpen() const { return mpDB != nullptr; }

  // The operations below throw 1000 "Database not open" without a handle.
  // true when sqlite_master holds a table named szTable (quoted with "%q", so
  // any name is safe).
  bool tableExists(const char* szTable);
  // Runs every statement of szSQL; returns sqlite3_changes.
  int execDML(const char* szSQL);
  // The cursor on the first row of the first statement of szSQL (at its end
  // when there is none).
  CppSQLite3Query execQuery(const char* szSQL);
  // Column 0 of the first row, nNullValue when NULL. Throws 1000 "Invalid
  // scalar query" without a row or a column.
  int execScalar(const char* szSQL, int nNullValue = 0);
  // The first statement of szSQL, prepared for reuse. Throws 1000 "No SQL
  // statement" when szSQL holds none (also for execQuery).
  CppSQLite3Statement compileStatement(const char* szSQL);
  // Busy timeout for connections opened later by this object, in milliseconds.
  void setBusyTimeout(int nMillisecs);
  sqlite3* handle() const { return mpDB; }

 private:
  void checkDB() const;
  sqlite3_stmt* compile(const char* szSQL);

  sqlite3* mpDB = nullptr;
  int mnBusyTimeoutMs = 60000;
};

#endif  // VARNEL_STORAGE_SQLITE_CPPSQLITE3_H_
