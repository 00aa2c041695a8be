#include "storage/sqlite/cppsqlite3.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace {

constexpr const char* kDatabaseNotOpen = "Database not open";
constexpr const char* kNullVM = "Null Virtual Machine pointer";
constexpr const char* kCannotAllocate = "Cannot allocate memory";

[[noreturn]] void ThrowSqlite(int rc, sqlite3* db) {
  throw CppSQLite3Exception(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
}

}  // namespace

// ---------------------------------------------------------------------------
// CppSQLite3Exception

CppSQLite3Exception::CppSQLite3Exception(int nErrCode, const char* szErrMess, bool bDeleteMsg)
    : mnErrCode(nErrCode) {
  mpszErrMess = sqlite3_mprintf("%s[%d]: %s", errorCodeAsString(nErrCode), nErrCode,
                                szErrMess ? szErrMess : "");
  if (bDeleteMsg && szErrMess) sqlite3_free(const_cast<char*>(szErrMess));
}

CppSQLite3Exception::CppSQLite3Exception(int nErrCode, const std::string& errMess)
    : CppSQLite3Exception(nErrCode, errMess.c_str(), false) {}

CppSQLite3Exception::CppSQLite3Exception(const CppSQLite3Exception& other)
    : mnErrCode(other.mnErrCode),
      mpszErrMess(other.mpszErrMess ? sqlite3_mprintf("%s", other.mpszErrMess) : nullptr) {}

CppSQLite3Exception::CppSQLite3Exception(CppSQLite3Exception&& other) noexcept
    : mnErrCode(other.mnErrCode), mpszErrMess(std::exchange(other.mpszErrMess, nullptr)) {}

CppSQLite3Exception& CppSQLite3Exception::operator=(const CppSQLite3Exception& other) {
  if (this != &other) {
    char* copy = other.mpszErrMess ? sqlite3_mprintf("%s", other.mpszErrMess) : nullptr;
    sqlite3_free(mpszErrMess);
    mpszErrMess = copy;
    mnErrCode = other.mnErrCode;
  }
  return *this;
}

CppSQLite3Exception& CppSQLite3Exception::operator=(CppSQLite3Exception&& other) noexcept {
  if (this != &other) {
    sqlite3_free(mpszErrMess);
    mpszErrMess = std::exchange(other.mpszErrMess, nullptr);
    mnErrCode = other.mnErrCode;
  }
  return *this;
}

CppSQLite3Exception::~CppSQLite3Exception() { sqlite3_free(mpszErrMess); }

std::string_view CppSQLite3Exception::errorDetail() const {
  std::string_view message = errorMessage();
  char prefix[64];
  const int n =
      std::snprintf(prefix, sizeof prefix, "%s[%d]: ", errorCodeAsString(mnErrCode), mnErrCode);
  if (n > 0 && message.substr(0, static_cast<std::size_t>(n)) == prefix) message.remove_prefix(n);
  return message;
}

const char* CppSQLite3Exception::errorCodeAsString(int nErrCode) {
  static constexpr const char* kNames[] = {
      "SQLITE_OK",       "SQLITE_ERROR",     "SQLITE_INTERNAL", "SQLITE_PERM",
      "SQLITE_ABORT",    "SQLITE_BUSY",      "SQLITE_LOCKED",   "SQLITE_NOMEM",
      "SQLITE_READONLY", "SQLITE_INTERRUPT", "SQLITE_IOERR",    "SQLITE_CORRUPT",
      "SQLITE_NOTFOUND", "SQLITE_FULL",      "SQLITE_CANTOPEN", "SQLITE_PROTOCOL",
      "SQLITE_EMPTY",    "SQLITE_SCHEMA",    "SQLITE_TOOBIG",   "SQLITE_CONSTRAINT",
      "SQLITE_MISMATCH", "SQLITE_MISUSE",    "SQLITE_NOLFS",    "SQLITE_AUTH",
      "SQLITE_FORMAT",   "SQLITE_RANGE"};
  if (nErrCode >= 0 && nErrCode <= 25) return kNames[nErrCode];
  switch (nErrCode) {
    case 100:
      return "SQLITE_ROW";
    case 101:
      return "SQLITE_DONE";
    case CPPSQLITE_ERROR:
      return "CPPSQLITE_ERROR";
    default:
      return "UNKNOWN_ERROR";
  }
}

// ---------------------------------------------------------------------------
// CppSQLite3Buffer

CppSQLite3Buffer::CppSQLite3Buffer(CppSQLite3Buffer&& other) noexcept
    : mpBuf(std::exchange(other.mpBuf, nullptr)) {}

CppSQLite3Buffer& CppSQLite3Buffer::operator=(CppSQLite3Buffer&& other) noexcept {
  if (this != &other) {
    clear();
    mpBuf = std::exchange(other.mpBuf, nullptr);
  }
  return *this;
}

CppSQLite3Buffer::~CppSQLite3Buffer() { clear(); }

void CppSQLite3Buffer::clear() {
  sqlite3_free(mpBuf);
  mpBuf = nullptr;
}

const char* CppSQLite3Buffer::format(const char* szFormat, ...) {
  clear();
  va_list va;
  va_start(va, szFormat);
  mpBuf = sqlite3_vmprintf(szFormat, va);
  va_end(va);
  if (!mpBuf) throw CppSQLite3Exception(SQLITE_NOMEM, "Cannot format SQL text");
  return mpBuf;
}

// ---------------------------------------------------------------------------
// Binary codec

int sqlite3_encode_binary(const unsigned char* in, int n, unsigned char* out) {
  if (n <= 0) {
    out[0] = 'x';
    out[1] = 0;
    return 1;
  }
  int cnt[256] = {};
  for (int i = 0; i < n; ++i) ++cnt[in[i]];
  int m = n;
  int e = 0;
  for (int i = 1; i < 256; ++i) {
    if (i == '\'') continue;
    const int sum = cnt[i] + cnt[(i + 1) & 0xff] + cnt[(i + '\'') & 0xff];
    if (sum < m) {
      m = sum;
      e = i;
      if (m == 0) break;
    }
  }
  out[0] = static_cast<unsigned char>(e);
  int j = 1;
  for (int i = 0; i < n; ++i) {
    const int c = (in[i] - e) & 0xff;
    if (c == 0 || c == 1 || c == '\'') {
      out[j++] = 1;
      out[j++] = static_cast<unsigned char>(c == 0 ? 1 : c == 1 ? 2 : 3);
    } else {
      out[j++] = static_cast<unsigned char>(c);
    }
  }
  out[j] = 0;
  return j;
}

int sqlite3_decode_binary(const unsigned char* in, unsigned char* out) {
  const int e = *in;
  if (e == 0) return 0;
  ++in;
  int i = 0;
  int c;
  while ((c = *in++) != 0) {
    if (c == 1) {
      c = *in++;
      if (c == 1) {
        c = 0;
      } else if (c == 2) {
        c = 1;
      } else if (c == 3) {
        c = '\'';
      } else {
        return -1;
      }
    }
    out[i++] = static_cast<unsigned char>((c + e) & 0xff);
  }
  return i;
}

// ---------------------------------------------------------------------------
// CppSQLite3Binary

namespace {
int EncodedCapacity(int nLen) { return 3 + static_cast<int>((257LL * nLen) / 254); }
}  // namespace

CppSQLite3Binary::~CppSQLite3Binary() { clear(); }

void CppSQLite3Binary::clear() {
  if (mpBuf) {
    std::free(mpBuf);
    mpBuf = nullptr;
  }
  mnBinaryLen = 0;
  mnBufferLen = 0;
  mnEncodedLen = 0;
  mbEncoded = false;
}

unsigned char* CppSQLite3Binary::allocBuffer(int nLen) {
  clear();
  if (nLen < 0 || nLen > kMaxBinaryLength)
    throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotAllocate);
  const int capacity = EncodedCapacity(nLen);
  mpBuf = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(capacity)));
  if (!mpBuf) throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotAllocate);
  mnBinaryLen = nLen;
  mnBufferLen = capacity;
  mbEncoded = false;
  return mpBuf;
}

void CppSQLite3Binary::setBinary(const unsigned char* pBuf, int nLen) {
  unsigned char* buf = allocBuffer(nLen);
  if (nLen > 0) std::memcpy(buf, pBuf, static_cast<std::size_t>(nLen));
}

void CppSQLite3Binary::setEncoded(const unsigned char* pBuf) {
  clear();
  const std::size_t len = std::strlen(reinterpret_cast<const char*>(pBuf));
  if (len >= static_cast<std::size_t>(kMaxBinaryLength) * 2) {
    throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotAllocate);
  }
  mpBuf = static_cast<unsigned char*>(std::malloc(len + 1));
  if (!mpBuf) throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotAllocate);
  std::memcpy(mpBuf, pBuf, len + 1);
  mnEncodedLen = static_cast<int>(len);
  mnBufferLen = static_cast<int>(len + 1);
  mbEncoded = true;
}

const unsigned char* CppSQLite3Binary::getEncoded() {
  if (!mbEncoded) {
    const int n = mnBinaryLen;
    // Encode from a copy. The buffer is resized when a decoded foreign text
    // left less room than the worst case of the encoding.
    std::unique_ptr<unsigned char, decltype(&std::free)> tmp(
        static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(n) + 1)), &std::free);
    if (!tmp) throw CppSQLite3Exception(CPPSQLITE_ERROR, kCannotAllocate);
    if (n > 0) std::memcpy(tmp.get(), mpBuf, static_cast<std::size_t>(n));
    if (!mpBuf || mnBufferLen < EncodedCapacity(n)) allocBuffer(n);
    mnEncodedLen = sqlite3_encode_binary(tmp.get(), n, mpBuf);
    mbEncoded = true;
  }
  return mpBuf;
}

const unsigned char* CppSQLite3Binary::getBinary() {
  if (mbEncoded) {
    const int n = sqlite3_decode_binary(mpBuf, mpBuf);
    if (n == -1) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Cannot decode binary");
    mnBinaryLen = n;
    mbEncoded = false;
  }
  return mpBuf;
}

int CppSQLite3Binary::getBinaryLength() {
  getBinary();
  return mnBinaryLen;
}

// ---------------------------------------------------------------------------
// CppSQLite3Query

CppSQLite3Query::CppSQLite3Query(sqlite3* pDB, sqlite3_stmt* pVM, bool bEof, bool bOwnVM)
    : mpDB(pDB),
      mpVM(pVM),
      mbEof(bEof),
      mnCols(pVM ? sqlite3_column_count(pVM) : 0),
      mbOwnVM(bOwnVM) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : mpDB(other.mpDB),
      mpVM(std::exchange(other.mpVM, nullptr)),
      mbEof(other.mbEof),
      mnCols(other.mnCols),
      mbOwnVM(std::exchange(other.mbOwnVM, false)) {
  other.mbEof = true;
  other.mnCols = 0;
}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept {
  if (this != &other) {
    try {
      finalize();
    } catch (...) {
    }
    mpDB = other.mpDB;
    mpVM = std::exchange(other.mpVM, nullptr);
    mbEof = std::exchange(other.mbEof, true);
    mnCols = std::exchange(other.mnCols, 0);
    mbOwnVM = std::exchange(other.mbOwnVM, false);
  }
  return *this;
}

CppSQLite3Query::~CppSQLite3Query() {
  try {
    finalize();
  } catch (...) {
  }
}

void CppSQLite3Query::checkVM() const {
  if (!mpVM) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNullVM);
}

void CppSQLite3Query::checkIndex(int nField) const {
  checkVM();
  if (nField < 0 || nField > mnCols - 1) {
    throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid field index requested");
  }
}

bool CppSQLite3Query::eof() {
  checkVM();
  return mbEof;
}

void CppSQLite3Query::nextRow() {
  checkVM();
  const int rc = sqlite3_step(mpVM);
  if (rc == SQLITE_DONE) {
    mbEof = true;
  } else if (rc == SQLITE_ROW) {
    // on the new row
  } else if (mbOwnVM) {
    const int frc = sqlite3_finalize(mpVM);
    mpVM = nullptr;
    mbEof = true;
    ThrowSqlite(frc != SQLITE_OK ? frc : rc, mpDB);
  } else {
    ThrowSqlite(rc, mpDB);
  }
}

int CppSQLite3Query::numFields() {
  checkVM();
  return mnCols;
}

int CppSQLite3Query::fieldIndex(const char* szField) {
  checkVM();
  if (szField) {
    for (int i = 0; i < mnCols; ++i) {
      const char* name = sqlite3_column_name(mpVM, i);
      if (name && std::strcmp(name, szField) == 0) return i;
    }
  }
  throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid field name requested");
}

const char* CppSQLite3Query::fieldName(int nCol) {
  checkIndex(nCol);
  return sqlite3_column_name(mpVM, nCol);
}

int CppSQLite3Query::fieldDataType(int nCol) {
  checkIndex(nCol);
  return sqlite3_column_type(mpVM, nCol);
}

const char* CppSQLite3Query::fieldValue(int nField) {
  checkIndex(nField);
  return reinterpret_cast<const char*>(sqlite3_column_text(mpVM, nField));
}

const char* CppSQLite3Query::fieldValue(const char* szField) {
  return fieldValue(fieldIndex(szField));
}

bool CppSQLite3Query::fieldIsNull(int nField) { return fieldDataType(nField) == SQLITE_NULL; }

int CppSQLite3Query::getIntField(int nField, int nNullValue) {
  if (fieldDataType(nField) == SQLITE_NULL) return nNullValue;
  return sqlite3_column_int(mpVM, nField);
}

void CppSQLite3Query::finalize() {
  if (mpVM && mbOwnVM) {
    const int rc = sqlite3_finalize(mpVM);
    mpVM = nullptr;
    mbEof = true;
    if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
  }
}

// ---------------------------------------------------------------------------
// CppSQLite3Statement

CppSQLite3Statement::CppSQLite3Statement(sqlite3* pDB, sqlite3_stmt* pVM) : mpDB(pDB), mpVM(pVM) {}

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3Statement&& other) noexcept
    : mpDB(other.mpDB), mpVM(std::exchange(other.mpVM, nullptr)) {}

CppSQLite3Statement& CppSQLite3Statement::operator=(CppSQLite3Statement&& other) noexcept {
  if (this != &other) {
    try {
      finalize();
    } catch (...) {
    }
    mpDB = other.mpDB;
    mpVM = std::exchange(other.mpVM, nullptr);
  }
  return *this;
}

CppSQLite3Statement::~CppSQLite3Statement() {
  try {
    finalize();
  } catch (...) {
  }
}

void CppSQLite3Statement::checkVM() const {
  if (!mpVM) throw CppSQLite3Exception(CPPSQLITE_ERROR, kNullVM);
}

void CppSQLite3Statement::bind(int nParam, int nValue) {
  checkVM();
  const int rc = sqlite3_bind_int(mpVM, nParam, nValue);
  if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
}

void CppSQLite3Statement::bindInt64(int nParam, long long nValue) {
  checkVM();
  const int rc = sqlite3_bind_int64(mpVM, nParam, nValue);
  if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
}

void CppSQLite3Statement::bind(int nParam, double dValue) {
  checkVM();
  const int rc = sqlite3_bind_double(mpVM, nParam, dValue);
  if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
}

void CppSQLite3Statement::bind(int nParam, const char* szValue, int nLen) {
  checkVM();
  const int rc = szValue ? sqlite3_bind_text(mpVM, nParam, szValue, nLen, SQLITE_TRANSIENT)
                         : sqlite3_bind_null(mpVM, nParam);
  if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
}

void CppSQLite3Statement::bindStatic(int nParam, const char* szValue, int nLen) {
  checkVM();
  const int rc = sqlite3_bind_text(mpVM, nParam, szValue, nLen, SQLITE_STATIC);
  if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
}

void CppSQLite3Statement::bindNull(int nParam) {
  checkVM();
  const int rc = sqlite3_bind_null(mpVM, nParam);
  if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
}

bool CppSQLite3Statement::step() {
  checkVM();
  const int rc = sqlite3_step(mpVM);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  const std::string message = sqlite3_errmsg(mpDB);
  sqlite3_reset(mpVM);
  throw CppSQLite3Exception(rc, message);
}

int CppSQLite3Statement::execDML() {
  while (step()) {
  }
  reset();
  return sqlite3_changes(mpDB);
}

void CppSQLite3Statement::reset() {
  checkVM();
  const int rc = sqlite3_reset(mpVM);
  if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
}

void CppSQLite3Statement::finalize() {
  if (mpVM) {
    const int rc = sqlite3_finalize(mpVM);
    mpVM = nullptr;
    if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
  }
}

int CppSQLite3Statement::numFields() const {
  checkVM();
  return sqlite3_column_count(mpVM);
}

const char* CppSQLite3Statement::fieldName(int nCol) const {
  checkVM();
  return sqlite3_column_name(mpVM, nCol);
}

int CppSQLite3Statement::findField(const char* szField) const {
  checkVM();
  if (!szField) return -1;
  const int n = sqlite3_column_count(mpVM);
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(mpVM, i);
    if (name && std::strcmp(name, szField) == 0) return i;
  }
  return -1;
}

int CppSQLite3Statement::fieldDataType(int nCol) const {
  checkVM();
  return sqlite3_column_type(mpVM, nCol);
}

const char* CppSQLite3Statement::fieldText(int nCol) const {
  checkVM();
  return reinterpret_cast<const char*>(sqlite3_column_text(mpVM, nCol));
}

void CppSQLite3Statement::fieldRow(CppSQLite3Cell* cells, int n) const {
  checkVM();
  // One sqlite3_column_value a column and the sqlite3_value_* readers on it:
  // the same values as the sqlite3_column_* calls, at about half the cost a
  // cell (the connection is used from one thread, so the unprotected value is
  // safe to read).
  for (int c = 0; c < n; ++c) {
    CppSQLite3Cell& cell = cells[c];
    sqlite3_value* value = sqlite3_column_value(mpVM, c);
    cell.type = sqlite3_value_type(value);
    switch (cell.type) {
      case SQLITE_INTEGER:
        cell.integer = sqlite3_value_int64(value);
        break;
      case SQLITE_FLOAT:
        cell.real = sqlite3_value_double(value);
        break;
      case SQLITE_TEXT:
        cell.bytes = reinterpret_cast<const char*>(sqlite3_value_text(value));
        cell.length = cell.bytes != nullptr ? sqlite3_value_bytes(value) : 0;
        break;
      case SQLITE_BLOB:
        cell.bytes = static_cast<const char*>(sqlite3_value_blob(value));
        cell.length = cell.bytes != nullptr ? sqlite3_value_bytes(value) : 0;
        break;
      default:
        break;
    }
  }
}

int CppSQLite3Statement::fieldBytes(int nCol) const {
  checkVM();
  return sqlite3_column_bytes(mpVM, nCol);
}

long long CppSQLite3Statement::fieldInt64(int nCol) const {
  checkVM();
  return sqlite3_column_int64(mpVM, nCol);
}

double CppSQLite3Statement::fieldDouble(int nCol) const {
  checkVM();
  return sqlite3_column_double(mpVM, nCol);
}

// ---------------------------------------------------------------------------
// CppSQLite3DB

CppSQLite3DB::CppSQLite3DB(CppSQLite3DB&& other) noexcept
    : mpDB(std::exchange(other.mpDB, nullptr)), mnBusyTimeoutMs(other.mnBusyTimeoutMs) {}

CppSQLite3DB& CppSQLite3DB::operator=(CppSQLite3DB&& other) noexcept {
  if (this != &other) {
    try {
      close();
    } catch (...) {
    }
    if (mpDB) sqlite3_close_v2(mpDB);  // a handle close() refused: leave it to SQLite
    mpDB = std::exchange(other.mpDB, nullptr);
    mnBusyTimeoutMs = other.mnBusyTimeoutMs;
  }
  return *this;
}

CppSQLite3DB::~CppSQLite3DB() {
  try {
    close();
  } catch (...) {
  }
}

void CppSQLite3DB::open(const char* szFile, CppSQLite3OpenMode mode) {
  close();
  int flags = 0;
  switch (mode) {
    case CppSQLite3OpenMode::kReadWriteCreate:
      flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
      break;
    case CppSQLite3OpenMode::kReadWrite:
      flags = SQLITE_OPEN_READWRITE;
      break;
    case CppSQLite3OpenMode::kReadOnly:
      flags = SQLITE_OPEN_READONLY;
      break;
    case CppSQLite3OpenMode::kReadOnlyImmutable:
      flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
      break;
  }
  std::string uri;
  if (mode == CppSQLite3OpenMode::kReadOnlyImmutable) {
    // "file:" and the path with every byte but the plain ones escaped.
    uri = "file:";
    constexpr char kHex[] = "0123456789ABCDEF";
    for (const char* c = szFile; *c != '\0'; ++c) {
      const auto b = static_cast<unsigned char>(*c);
      const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') ||
                         (b >= '0' && b <= '9') || b == '/' || b == '.' || b == '-' || b == '_';
      if (plain) {
        uri += *c;
      } else {
        uri += '%';
        uri += kHex[b >> 4];
        uri += kHex[b & 15];
      }
    }
    uri += "?immutable=1";
    szFile = uri.c_str();
  }
  // A connection is used by one thread at a time: SQLite's per-call locking
  // of the connection is not needed.
  flags |= SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(szFile, &mpDB, flags, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
  setBusyTimeout(mnBusyTimeoutMs);
}

void CppSQLite3DB::close() {
  if (mpDB) {
    if (sqlite3_close(mpDB) != SQLITE_OK) {
      throw CppSQLite3Exception(CPPSQLITE_ERROR, "Unable to close database");
    }
    mpDB = nullptr;
  }
}

void CppSQLite3DB::setBusyTimeout(int nMillisecs) {
  mnBusyTimeoutMs = nMillisecs;
  if (mpDB) sqlite3_busy_timeout(mpDB, mnBusyTimeoutMs);
}

void CppSQLite3DB::checkDB() const {
  if (!mpDB) throw CppSQLite3Exception(CPPSQLITE_ERROR, kDatabaseNotOpen);
}

bool CppSQLite3DB::tableExists(const char* szTable) {
  CppSQLite3Buffer sql;
  sql.format("select count(*) from sqlite_master where type='table' and name='%q'",
             szTable ? szTable : "");
  return execScalar(sql, 0) > 0;
}

int CppSQLite3DB::execDML(const char* szSQL) {
  checkDB();
  char* errmsg = nullptr;
  const int rc = sqlite3_exec(mpDB, szSQL, nullptr, nullptr, &errmsg);
  if (rc != SQLITE_OK) {
    if (!errmsg) throw CppSQLite3Exception(rc, sqlite3_errmsg(mpDB));
    throw CppSQLite3Exception(rc, errmsg, true);
  }
  return sqlite3_changes(mpDB);
}

sqlite3_stmt* CppSQLite3DB::compile(const char* szSQL) {
  checkDB();
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(mpDB, szSQL, -1, &stmt, &tail);
  if (rc != SQLITE_OK) ThrowSqlite(rc, mpDB);
  if (!stmt) throw CppSQLite3Exception(CPPSQLITE_ERROR, "No SQL statement");
  return stmt;
}

CppSQLite3Query CppSQLite3DB::execQuery(const char* szSQL) {
  sqlite3_stmt* stmt = compile(szSQL);
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) return CppSQLite3Query(mpDB, stmt, true, true);
  if (rc == SQLITE_ROW) return CppSQLite3Query(mpDB, stmt, false, true);
  const int frc = sqlite3_finalize(stmt);
  ThrowSqlite(frc != SQLITE_OK ? frc : rc, mpDB);
}

int CppSQLite3DB::execScalar(const char* szSQL, int nNullValue) {
  CppSQLite3Query query = execQuery(szSQL);
  if (query.eof() || query.numFields() < 1) {
    throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid scalar query");
  }
  return query.getIntField(0, nNullValue);
}

CppSQLite3Statement CppSQLite3DB::compileStatement(const char* szSQL) {
  return CppSQLite3Statement(mpDB, compile(szSQL));
}
