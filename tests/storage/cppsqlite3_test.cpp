#include "storage/sqlite/cppsqlite3.h"

#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/path.h"
#include "temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Encode(const Bytes& in) {
  Bytes out(2 + (257 * in.size()) / 254 + 1, 0xEE);
  const int n = sqlite3_encode_binary(in.data(), static_cast<int>(in.size()), out.data());
  EXPECT_EQ(out[n], 0) << "terminator";
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Decodes bytes (a terminator is added); nullopt-like empty + false on -1.
bool Decode(const Bytes& encoded, Bytes& out) {
  Bytes in = encoded;
  in.push_back(0);
  out.assign(in.size(), 0);
  const int n = sqlite3_decode_binary(in.data(), out.data());
  if (n < 0) return false;
  out.resize(static_cast<std::size_t>(n));
  return true;
}

Bytes Of(const char* text) { return Bytes(text, text + std::strlen(text)); }

template <typename F>
CppSQLite3Exception Caught(F&& f) {
  try {
    f();
  } catch (const CppSQLite3Exception& e) {
    return e;
  }
  ADD_FAILURE() << "no CppSQLite3Exception";
  return CppSQLite3Exception(-1, "none");
}

TEST(CppSQLite3ExceptionTest, MessageCarriesNameCodeAndText) {
  const CppSQLite3Exception e(CPPSQLITE_ERROR, "Database not open");
  EXPECT_EQ(e.errorCode(), 1000);
  EXPECT_STREQ(e.errorMessage(), "CPPSQLITE_ERROR[1000]: Database not open");
  EXPECT_EQ(e.errorDetail(), "Database not open");
  const CppSQLite3Exception null_text(1, nullptr);
  EXPECT_STREQ(null_text.errorMessage(), "SQLITE_ERROR[1]: ");
  EXPECT_EQ(null_text.errorDetail(), "");
}

TEST(CppSQLite3ExceptionTest, CopiesOwnTheirMessage) {
  char* allocated = sqlite3_mprintf("%s", "no such table: x");
  auto original = std::make_unique<CppSQLite3Exception>(SQLITE_ERROR, allocated, true);
  const CppSQLite3Exception copy(*original);
  CppSQLite3Exception assigned(0, "other");
  assigned = *original;
  EXPECT_NE(copy.errorMessage(), original->errorMessage());
  original.reset();
  EXPECT_STREQ(copy.errorMessage(), "SQLITE_ERROR[1]: no such table: x");
  EXPECT_STREQ(assigned.errorMessage(), "SQLITE_ERROR[1]: no such table: x");
}

TEST(CppSQLite3ExceptionTest, CodeNames) {
  EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(0), "SQLITE_OK");
  EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(14), "SQLITE_CANTOPEN");
  EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(25), "SQLITE_RANGE");
  EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(26), "UNKNOWN_ERROR");
  EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(99), "UNKNOWN_ERROR");
  EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(-1), "UNKNOWN_ERROR");
  EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(100), "SQLITE_ROW");
  EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(101), "SQLITE_DONE");
  EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(1000), "CPPSQLITE_ERROR");
  EXPECT_STREQ(CppSQLite3Exception::errorCodeAsString(1001), "UNKNOWN_ERROR");
}

TEST(BinaryCodecTest, EmptyInputIsX) {
  EXPECT_EQ(Encode({}), Of("x"));
  unsigned char out[4];
  EXPECT_EQ(sqlite3_encode_binary(nullptr, -3, out), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "x");
  Bytes decoded;
  ASSERT_TRUE(Decode(Of("x"), decoded));
  EXPECT_TRUE(decoded.empty());
  ASSERT_TRUE(Decode({}, decoded));
  EXPECT_TRUE(decoded.empty());
}

TEST(BinaryCodecTest, ExactBytes) {
  EXPECT_EQ(Encode(Of("abc")), (Bytes{0x01, 0x60, 0x61, 0x62}));
  // Byte 1: offset 1 would escape it, offset 2 escapes nothing.
  EXPECT_EQ(Encode({0x01}), (Bytes{0x02, 0xFF}));
  // Shape text: offset 1, every byte lowered by one.
  EXPECT_EQ(Encode(Of("10.5,-2")), (Bytes{0x01, '0', '/', '-', '4', '+', ',', '1'}));
}

TEST(BinaryCodecTest, EveryByteValueOnce) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
  const Bytes encoded = Encode(all);
  ASSERT_EQ(encoded.size(), 260u);
  EXPECT_EQ(encoded[0], 1);
  EXPECT_EQ(encoded[1], 0xFF);                                  // input 0
  EXPECT_EQ((Bytes{encoded[2], encoded[3]}), (Bytes{1, 1}));    // input 1
  EXPECT_EQ((Bytes{encoded[4], encoded[5]}), (Bytes{1, 2}));    // input 2
  EXPECT_EQ((Bytes{encoded[43], encoded[44]}), (Bytes{1, 3}));  // input 40
  Bytes decoded;
  ASSERT_TRUE(Decode(encoded, decoded));
  EXPECT_EQ(decoded, all);
}

TEST(BinaryCodecTest, RoundTripsWithoutNulOrQuote) {
  std::mt19937 rng(7);
  for (int n : {1, 2, 3, 39, 254, 255, 1000, 5000}) {
    for (int skew = 0; skew < 3; ++skew) {
      Bytes in(static_cast<std::size_t>(n));
      for (auto& b : in) b = static_cast<unsigned char>(skew == 0 ? rng() : rng() % (skew * 3));
      const Bytes encoded = Encode(in);
      EXPECT_LE(encoded.size(), 1 + in.size() + 3 * in.size() / 254);
      for (unsigned char b : encoded) ASSERT_TRUE(b != 0 && b != '\'');
      Bytes decoded;
      ASSERT_TRUE(Decode(encoded, decoded));
      EXPECT_EQ(decoded, in);
    }
  }
  EXPECT_EQ(Encode(Bytes(1000, '7')).size(), 1001u);
}

TEST(BinaryCodecTest, MalformedAndTruncatedTexts) {
  Bytes decoded;
  EXPECT_FALSE(Decode({0x05, 'a', 0x01, 0x04, 'b'}, decoded));
  EXPECT_FALSE(Decode({0x05, 'a', 0x01}, decoded));  // escape then end
  // Every truncation of an escaped text decodes, except one ending in an escape.
  const Bytes encoded = Encode({0, 1, 39, 0, 'q'});
  for (std::size_t len = 1; len <= encoded.size(); ++len) {
    const Bytes cut(encoded.begin(), encoded.begin() + len);
    EXPECT_EQ(Decode(cut, decoded), cut.back() != 1 || len == 1) << len;
  }
}

TEST(CppSQLite3BinaryTest, HolderRoundTrips) {
  const Bytes raw{0, 1, 2, 39, 40, 255, 'a'};
  CppSQLite3Binary holder;
  holder.setBinary(raw.data(), static_cast<int>(raw.size()));
  const std::string encoded(reinterpret_cast<const char*>(holder.getEncoded()));
  EXPECT_EQ(encoded.find('\''), std::string::npos);
  CppSQLite3Binary back;
  back.setEncoded(reinterpret_cast<const unsigned char*>(encoded.c_str()));
  ASSERT_EQ(back.getBinaryLength(), static_cast<int>(raw.size()));
  EXPECT_EQ(Bytes(back.getBinary(), back.getBinary() + raw.size()), raw);
  // Re-encoding a text made with a poor offset needs more room than it had.
  const Bytes poor{39, 'a', 'b', 'c'};  // offset 39 (never chosen), no escapes
  CppSQLite3Binary foreign;
  foreign.setEncoded(Bytes{39, 'a', 'b', 'c', 0}.data());
  ASSERT_EQ(foreign.getBinaryLength(), 3);
  const Bytes reencoded = Of(reinterpret_cast<const char*>(foreign.getEncoded()));
  Bytes decoded;
  ASSERT_TRUE(Decode(reencoded, decoded));
  EXPECT_EQ(decoded, (Bytes{'a' + 39, 'b' + 39, 'c' + 39}));
  CppSQLite3Binary empty;
  EXPECT_STREQ(reinterpret_cast<const char*>(empty.getEncoded()), "x");
}

TEST(CppSQLite3BinaryTest, BadTextsAndSizesRaise) {
  CppSQLite3Binary holder;
  holder.setEncoded(
      reinterpret_cast<const unsigned char*>("\x05"
                                             "a\x01\x04"));
  const auto e = Caught([&] { holder.getBinary(); });
  EXPECT_EQ(e.errorCode(), 1000);
  EXPECT_STREQ(e.errorMessage(), "CPPSQLITE_ERROR[1000]: Cannot decode binary");
  EXPECT_EQ(Caught([&] { holder.allocBuffer(-1); }).errorDetail(), "Cannot allocate memory");
  EXPECT_EQ(Caught([&] { holder.allocBuffer(CppSQLite3Binary::kMaxBinaryLength + 1); }).errorCode(),
            1000);
}

class CppSQLite3DBTest : public ::testing::Test {
 protected:
  std::string File(const char* name) const { return Join_Path(dir_.path(), name); }
  TempDir dir_;
};

TEST_F(CppSQLite3DBTest, UnopenedConnection) {
  CppSQLite3DB db;
  EXPECT_NO_THROW(db.close());
  const auto e = Caught([&] { db.execDML("create table t(a)"); });
  EXPECT_STREQ(e.errorMessage(), "CPPSQLITE_ERROR[1000]: Database not open");
  EXPECT_EQ(Caught([&] { db.execQuery("select 1"); }).errorDetail(), "Database not open");
  EXPECT_EQ(Caught([&] { db.tableExists("t"); }).errorDetail(), "Database not open");
}

TEST_F(CppSQLite3DBTest, TablesScalarsAndCursors) {
  CppSQLite3DB db;
  db.open(File("a.db").c_str());
  EXPECT_FALSE(db.tableExists("T1"));
  EXPECT_EQ(db.execDML("create table T1(EIC_ID int, name text);"), 0);
  EXPECT_TRUE(db.tableExists("T1"));
  EXPECT_FALSE(db.tableExists("t1' or '1'='1"));
  EXPECT_EQ(db.execDML("insert into T1 values(1,'a'); insert into T1 values(2,NULL);"), 1);
  EXPECT_EQ(db.execScalar("select count(*) from T1"), 2);
  EXPECT_EQ(db.execScalar("select name from T1 where EIC_ID=2", -7), -7);
  EXPECT_EQ(Caught([&] { db.execScalar("select 1 from T1 where 0"); }).errorDetail(),
            "Invalid scalar query");

  CppSQLite3Query empty = db.execQuery("select * from T1 where EIC_ID > 5");
  EXPECT_TRUE(empty.eof());

  CppSQLite3Query q = db.execQuery("select * from T1 order by EIC_ID");
  ASSERT_FALSE(q.eof());
  EXPECT_EQ(q.numFields(), 2);
  EXPECT_STREQ(q.fieldValue("EIC_ID"), "1");
  EXPECT_EQ(Caught([&] { q.fieldValue("eic_id"); }).errorDetail(), "Invalid field name requested");
  EXPECT_EQ(Caught([&] { q.fieldValue(nullptr); }).errorDetail(), "Invalid field name requested");
  EXPECT_EQ(Caught([&] { q.fieldValue(2); }).errorDetail(), "Invalid field index requested");
  EXPECT_EQ(Caught([&] { q.fieldValue(-1); }).errorDetail(), "Invalid field index requested");
  q.nextRow();
  ASSERT_FALSE(q.eof());
  EXPECT_EQ(q.fieldValue("name"), nullptr);
  EXPECT_TRUE(q.fieldIsNull(1));
  q.nextRow();
  EXPECT_TRUE(q.eof());
  CppSQLite3Query moved = std::move(q);
  moved.finalize();
  moved.finalize();
  EXPECT_EQ(Caught([&] { moved.eof(); }).errorDetail(), "Null Virtual Machine pointer");
  EXPECT_EQ(Caught([&] { q.nextRow(); }).errorDetail(), "Null Virtual Machine pointer");
  // A cursor still open keeps the connection from closing; the handle stays.
  EXPECT_EQ(Caught([&] { db.close(); }).errorDetail(), "Unable to close database");
  EXPECT_TRUE(db.isOpen());
  empty.finalize();
  db.close();
  EXPECT_FALSE(db.isOpen());
}

TEST_F(CppSQLite3DBTest, SqlErrorsCarrySqliteCodeAndMessage) {
  CppSQLite3DB db;
  db.open(File("a.db").c_str());
  const auto e = Caught([&] { db.execDML("create tabel x(a);"); });
  EXPECT_EQ(e.errorCode(), SQLITE_ERROR);
  EXPECT_NE(std::string(e.errorMessage()).find("syntax error"), std::string::npos);
  EXPECT_EQ(Caught([&] { db.execQuery("select * from missing"); }).errorDetail(),
            "no such table: missing");
  EXPECT_EQ(Caught([&] { db.execQuery(""); }).errorDetail(), "No SQL statement");
}

TEST_F(CppSQLite3DBTest, ReadOnlyOpenCreatesNothing) {
  CppSQLite3DB db;
  const std::string missing = File("missing.db");
  const auto e = Caught([&] { db.open(missing.c_str(), CppSQLite3OpenMode::kReadOnly); });
  EXPECT_EQ(e.errorCode(), SQLITE_CANTOPEN);
  EXPECT_FALSE(std::filesystem::exists(missing));

  CppSQLite3DB writer;
  writer.open(File("b.db").c_str());
  writer.execDML("create table t(a);");
  writer.close();
  db.open(File("b.db").c_str(), CppSQLite3OpenMode::kReadOnly);
  EXPECT_TRUE(db.tableExists("t"));
  EXPECT_EQ(Caught([&] { db.execDML("insert into t values(1);"); }).errorCode(), SQLITE_READONLY);
}

TEST_F(CppSQLite3DBTest, NotADatabase) {
  const std::string path = File("text.db");
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fputs("this is plainly not an SQLite database file, just some words......", f);
  std::fclose(f);
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
  const auto e = Caught([&] { db.tableExists("t"); });
  EXPECT_EQ(e.errorCode(), SQLITE_NOTADB);
  EXPECT_EQ(e.errorDetail(), "file is not a database");
}

TEST_F(CppSQLite3DBTest, StatementsRunManyTimes) {
  CppSQLite3DB db;
  db.open(File("a.db").c_str());
  db.execDML("create table t(i int, d double, s text);");
  CppSQLite3Statement insert = db.compileStatement("insert into t values(?,?,?)");
  for (int i = 0; i < 3; ++i) {
    insert.bind(1, i);
    insert.bind(2, i + 0.5);
    if (i == 1) {
      insert.bindNull(3);
    } else {
      insert.bind(3, "it's", 4);
    }
    EXPECT_EQ(insert.execDML(), 1);
  }
  EXPECT_EQ(Caught([&] { insert.bind(4, 1); }).errorCode(), SQLITE_RANGE);
  CppSQLite3Statement select = db.compileStatement("select * from t order by i");
  EXPECT_EQ(select.findField("d"), 1);
  EXPECT_EQ(select.findField("D"), -1);
  ASSERT_TRUE(select.step());
  EXPECT_STREQ(select.fieldText(2), "it's");
  EXPECT_EQ(select.fieldBytes(2), 4);
  ASSERT_TRUE(select.step());
  EXPECT_EQ(select.fieldText(2), nullptr);
  EXPECT_EQ(select.fieldDouble(1), 1.5);
  ASSERT_TRUE(select.step());
  EXPECT_EQ(select.fieldInt64(0), 2);
  EXPECT_FALSE(select.step());
  select.reset();
  EXPECT_TRUE(select.step());
  CppSQLite3Statement moved = std::move(select);
  EXPECT_EQ(Caught([&] { select.step(); }).errorDetail(), "Null Virtual Machine pointer");
  EXPECT_NO_THROW(moved.finalize());
  EXPECT_NO_THROW(insert.finalize());
  EXPECT_NO_THROW(db.close());
}

TEST(CppSQLite3BufferTest, FormatsWithSqliteQuoting) {
  CppSQLite3Buffer buffer;
  EXPECT_STREQ(buffer.format("%d '%q' %Q %Q", -5, "it's", "a'b", nullptr),
               "-5 'it''s' 'a''b' NULL");
  EXPECT_STREQ(buffer.format("%f", 301.1234567), "301.123457");
  buffer.clear();
  EXPECT_EQ(static_cast<const char*>(buffer), nullptr);
}

}  // namespace
