// The row files' one format: rows come back bit for bit through blocks of any
// size, and a reader refuses a damaged byte, another version or a cut file,
// naming the file and the block.
#include "storage/row_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <xxhash.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "run/file_hash.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/support/test_files.h"

namespace {

struct Row_Recipe {
  Chromatogram_Peak_Group_Compound_Align record;
  std::uint32_t input_row = 0;
  std::string shape;
};

// Rows with every field distinct, doubles of every kind, annotations and
// shapes from empty to longer than a block.
std::vector<Row_Recipe> Rows(std::size_t n) {
  const double odd[] = {0.0,
                        -0.0,
                        std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(),
                        5e-324,
                        1e308};
  std::vector<Row_Recipe> rows;
  for (std::size_t i = 0; i < n; ++i) {
    Row_Recipe r;
    auto u = [&](std::uint32_t k) { return static_cast<std::uint32_t>(i * 16 + k) | 0x80000000u; };
    r.record.EIC_ID = u(1);
    r.record.Peak_ID = u(2);
    r.record.Apex_Pos = u(3);
    r.record.Left_Boundary = u(4);
    r.record.Right_Boundary = u(5);
    r.record.Group_ID = u(6);
    r.record.Compound_ID = u(7);
    r.record.SAMPLE_ID = u(8);
    r.record.Align_ID = u(9);
    r.input_row = u(10);
    r.record.Apex_MZ = 100.0 + static_cast<double>(i) / 3.0;
    r.record.Apex_Retention_Time = odd[i % 6];
    r.record.Apex_Intensity = 1e6 + static_cast<double>(i);
    r.record.Peak_Area = -static_cast<double>(i);
    r.record.Peak_SNR = 0.1 * static_cast<double>(i);
    r.record.Compound_MolecularMass = 99.5 + static_cast<double>(i);
    r.record.Compound_Retention_Time = 60.0 + static_cast<double>(i);
    r.record.Compound_Intensity = odd[(i + 3) % 6];
    r.record.Align_RT = 61.25 + static_cast<double>(i);
    r.record.Adduct_Annotation = i % 3 ? "[M+H]+" + std::string(i % 7, ',') : "";
    r.shape = i % 5 == 4 ? std::string(70000 + i, static_cast<char>('0' + i % 10))
                         : std::string(i % 4 * 37, static_cast<char>(i));
    rows.push_back(r);
  }
  return rows;
}

std::string Bits(double d) {
  std::uint64_t v;
  std::memcpy(&v, &d, sizeof v);
  return std::to_string(v);
}

void Expect_Same(const Stored_Row& got, const Row_Recipe& want, bool with_shape) {
  const auto& a = got.record;
  const auto& b = want.record;
  EXPECT_EQ(a.EIC_ID, b.EIC_ID);
  EXPECT_EQ(a.Peak_ID, b.Peak_ID);
  EXPECT_EQ(a.Apex_Pos, b.Apex_Pos);
  EXPECT_EQ(a.Left_Boundary, b.Left_Boundary);
  EXPECT_EQ(a.Right_Boundary, b.Right_Boundary);
  EXPECT_EQ(a.Group_ID, b.Group_ID);
  EXPECT_EQ(a.Compound_ID, b.Compound_ID);
  EXPECT_EQ(a.SAMPLE_ID, b.SAMPLE_ID);
  EXPECT_EQ(a.Align_ID, b.Align_ID);
  EXPECT_EQ(got.input_row, want.input_row);
  for (auto [x, y] : {std::pair{a.Apex_MZ, b.Apex_MZ},
                      {a.Apex_Retention_Time, b.Apex_Retention_Time},
                      {a.Apex_Intensity, b.Apex_Intensity},
                      {a.Peak_Area, b.Peak_Area},
                      {a.Peak_SNR, b.Peak_SNR},
                      {a.Compound_MolecularMass, b.Compound_MolecularMass},
                      {a.Compound_Retention_Time, b.Compound_Retention_Time},
                      {a.Compound_Intensity, b.Compound_Intensity},
                      {a.Align_RT, b.Align_RT}}) {
    EXPECT_EQ(Bits(x), Bits(y));
  }
  EXPECT_EQ(a.Adduct_Annotation, b.Adduct_Annotation);
  EXPECT_EQ(got.shape, with_shape ? want.shape : std::string());
}

class RowFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::vector<Row_Recipe>& rows, std::string* digest = nullptr) {
    Row_File_Writer out(folder_.path(), "rows", Row_File_Kind::kShardRows,
                        "0123456789abcdef0123456789abcdef", 7);
    for (const Row_Recipe& r : rows) out.Append(r.record, r.input_row, r.shape);
    const std::string d = out.Finish();
    if (digest != nullptr) *digest = d;
    out.Commit();
    return Join_Path(folder_.path(), "rows");
  }

  // Reads every row; returns the first failure's message, "" when none.
  static std::string Read_All(const std::string& path, std::size_t* count = nullptr) {
    try {
      Row_File_Reader in(path);
      Stored_Row row;
      std::size_t n = 0;
      while (in.Next(row, n % 2 == 0)) ++n;
      if (count != nullptr) *count = n;
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return {};
  }

  Temp_Folder folder_;
};

TEST_F(RowFileTest, RowsComeBackBitForBitAcrossBlocksAndTheDigestIsTheFiles) {
  const std::vector<Row_Recipe> rows = Rows(40);  // several blocks, rows larger than one
  std::string digest;
  const std::string path = Write(rows, &digest);
  EXPECT_EQ(digest, Digest_File(path).xxh3_128);
  Row_File_Reader in(path);
  EXPECT_EQ(in.Header().kind, Row_File_Kind::kShardRows);
  EXPECT_EQ(in.Header().plan_id, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(in.Header().owner, 7u);
  EXPECT_EQ(in.Header().rows, rows.size());
  Stored_Row row;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(in.Next(row, i % 3 != 1));
    Expect_Same(row, rows[i], i % 3 != 1);
  }
  EXPECT_FALSE(in.Next(row));

  // Little-endian whatever the machine: the header's version field.
  const std::string bytes = Read_File(path);
  EXPECT_EQ(bytes.substr(0, 8), "VARNELRW");
  EXPECT_EQ(bytes.substr(8, 4), std::string("\x02\0\0\0", 4));
  EXPECT_EQ(bytes.substr(16, 4), std::string("\x07\0\0\0", 4));

  // An empty file of rows is a header and a trailer.
  const std::string empty = Write({});
  std::size_t count = 1;
  EXPECT_EQ(Read_All(empty, &count), "");
  EXPECT_EQ(count, 0u);
}

TEST_F(RowFileTest, EveryFlippedBitIsRefusedNamingTheFileAndTheBlockOrPart) {
  const std::string path = Write(Rows(12));
  const std::string good = Read_File(path);
  for (std::size_t at = 0; at < good.size(); at += good.size() / 97 + 1) {
    for (int bit : {0, 5}) {
      SCOPED_TRACE(std::to_string(at) + " bit " + std::to_string(bit));
      std::string bad = good;
      bad[at] = static_cast<char>(bad[at] ^ (1 << bit));
      Write_File(path, bad);
      const std::string what = Read_All(path);
      ASSERT_EQ(what.rfind(path + ": ", 0), 0u) << what;
      if (at >= kRowFileHeaderBytes && at < good.size() - kRowFileTrailerBytes) {
        EXPECT_NE(what.find("block "), std::string::npos) << what;
      }
    }
  }
  Write_File(path, good);
  EXPECT_EQ(Read_All(path), "");
}

TEST_F(RowFileTest, AnotherVersionTheFirstLayoutAndACutFileAreRefusedByName) {
  const std::string path = Write(Rows(3));
  const std::string good = Read_File(path);

  std::string next = good;  // a later version with a sound header
  next[8] = 3;
  const std::uint64_t sum = XXH3_64bits(next.data(), 56);
  for (int i = 0; i < 8; ++i) next[56 + i] = static_cast<char>((sum >> (8 * i)) & 0xff);
  Write_File(path, next);
  EXPECT_EQ(Read_All(path), path + ": a row file of format version 3; this Varnel reads version 2");

  Write_File(path, "VARNELR1" + good.substr(8));
  EXPECT_NE(Read_All(path).find(path + ": a row file of format version 1"), std::string::npos);

  Write_File(path, good.substr(0, good.size() - 5));
  EXPECT_EQ(Read_All(path), path + ": not a whole row file (no trailer: written only in part)");

  // A block dropped whole, the trailer kept: the counts disagree.
  Write_File(path,
             good.substr(0, kRowFileHeaderBytes) + good.substr(good.size() - kRowFileTrailerBytes));
  EXPECT_NE(Read_All(path).find("the trailer says 3 rows"), std::string::npos);
}

TEST_F(RowFileTest, ARowReadAloneIsCheckedAndADamagedOneNamesItsBlock) {
  const std::string path = Join_Path(folder_.path(), "spill");
  const int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const std::vector<Row_Recipe> rows = Rows(6);
  std::vector<std::uint64_t> ends;
  {
    Row_Block_Writer out(fd, path, Row_File_Kind::kSpill, "", 0, 0);
    for (const Row_Recipe& r : rows) {
      out.Append(r.record, r.input_row, r.shape);
      ends.push_back(out.Bytes());
    }
    out.Flush();
  }
  std::string buffer;
  Stored_Row row;
  for (std::size_t i = rows.size(); i-- > 0;) {
    const std::uint64_t begin = i == 0 ? kRowFileHeaderBytes : ends[i - 1];
    row.shape = std::string(Read_Row_Block(fd, path, "cannot read", begin, ends[i] - begin, true,
                                           buffer, row.record, row.input_row));
    Expect_Same(row, rows[i], true);
  }
  const std::uint64_t begin = ends[2];
  const char flipped = static_cast<char>(Read_File(path)[begin + 40] ^ 0x10);
  ASSERT_EQ(::pwrite(fd, &flipped, 1, static_cast<off_t>(begin + 40)), 1);
  try {
    Read_Row_Block(fd, path, "cannot read", begin, ends[3] - begin, false, buffer, row.record,
                   row.input_row);
    ADD_FAILURE() << "read a damaged row";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_EQ(std::string(e.errorDetail()), path + ": cannot read: block at byte " +
                                                std::to_string(begin) +
                                                ": checksum mismatch (damaged file)");
  }
  ::close(fd);
}

}  // namespace
