#include "storage/annotated_reader.h"

#include <fcntl.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/path.h"
#include "storage/peak_shape.h"
#include "storage/sqlite/cppsqlite3.h"
#include "temp_dir.h"

namespace {

using Peak = Chromatogram_Peak_Group_Compound;

constexpr const char* kAnnotatedTable =
    "create table Annotate_Peaklist(Peak_shape blob, EIC_ID int, Peak_ID int, Apex_MZ double, "
    "Apex_Pos int, Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, "
    "Peak_SNR double, Left_Boundary int, Right_Boundary int, Group_ID int, "
    "Adduct_Annotation char(80), Compound_ID int, Compound_MolecularMass double, "
    "Compound_Retention_Time double, Compound_Intensity double);";

constexpr const char* kShapeText = "100.5,301.1,12.25,7,200.000000,301.2,12.5,8";

// One row's SQL values, in table order; each a literal or an expression.
struct Row {
  std::string shape = "'" + Encode_Peak_Shape(kShapeText) + "'";
  std::string eic = "12", peak = "3", apex_mz = "301.15", apex_pos = "41", apex_rt = "12.4",
              apex_int = "200.5", area = "1000", snr = "9.5", left = "40", right = "57",
              group = "5", adduct = "'[M+H]+'", compound = "77", mass = "300.1",
              compound_rt = "12.3", compound_int = "5000";
  std::string Sql() const {
    return shape + "," + eic + "," + peak + "," + apex_mz + "," + apex_pos + "," + apex_rt + "," +
           apex_int + "," + area + "," + snr + "," + left + "," + right + "," + group + "," +
           adduct + "," + compound + "," + mass + "," + compound_rt + "," + compound_int;
  }
};

class AnnotatedReaderTest : public ::testing::Test {
 protected:
  // Writes name as an annotated database holding rows (table made by create).
  void WriteDb(const std::string& name, const std::vector<Row>& rows,
               const char* create = kAnnotatedTable) {
    CppSQLite3DB db;
    db.open(Join_Path(dir_.path(), name).c_str());
    if (create) db.execDML(create);
    for (const Row& row : rows) {
      db.execDML(("insert into Annotate_Peaklist values(" + row.Sql() + ");").c_str());
    }
  }
  std::vector<Peak> ReadBack(const std::string& name, std::vector<Peak> peaks = {}) {
    Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.path(), name, peaks);
    return peaks;
  }
  std::string File(const std::string& name) const { return Join_Path(dir_.path(), name); }
  // The message of the CppSQLite3Exception that reading name raises.
  std::string SqliteError(const std::string& name, int* code = nullptr) {
    try {
      ReadBack(name);
    } catch (const CppSQLite3Exception& e) {
      if (code) *code = e.errorCode();
      return e.errorMessage();
    }
    return "no error";
  }
  template <typename E>
  std::string StdError(const std::string& name, std::vector<Peak>& peaks) {
    try {
      Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(dir_.path(), name,
                                                                           peaks);
    } catch (const E& e) {
      return e.what();
    }
    return "no error";
  }
  TempDir dir_;
};

TEST_F(AnnotatedReaderTest, ReadsEveryFieldInEicOrderAndAppends) {
  Row late, early, text_forms;
  late.eic = "30";
  early.eic = "10";
  early.adduct = "'it''s [M+Na]+'";
  text_forms.eic = "'20'";
  text_forms.apex_pos = "12.0";     // a real in an int column
  text_forms.left = "'7abc'";       // digits, then anything
  text_forms.right = "-1";          // wraps into the unsigned field
  text_forms.apex_mz = "'abc'";     // no number: 0.0
  text_forms.snr = "' 12.5e1xyz'";  // strtod takes what it can
  text_forms.shape =
      "X'"
      "01302f2f"
      "'";  // the same bytes as a blob: "1,00" lowered
  WriteDb("a.db", {late, early, text_forms});

  Peak old;
  old.EIC_ID = 999;
  const std::vector<Peak> peaks = ReadBack("a.db", {old});
  ASSERT_EQ(peaks.size(), 4u);
  EXPECT_EQ(peaks[0].EIC_ID, 999u);
  EXPECT_EQ(peaks[1].EIC_ID, 10u);
  EXPECT_EQ(peaks[2].EIC_ID, 20u);
  EXPECT_EQ(peaks[3].EIC_ID, 30u);

  const Peak& p = peaks[1];
  EXPECT_EQ(p.Peak_ID, 3u);
  EXPECT_EQ(p.Apex_MZ, 301.15);
  EXPECT_EQ(p.Apex_Pos, 41u);
  EXPECT_EQ(p.Apex_Retention_Time, 12.4);
  EXPECT_EQ(p.Apex_Intensity, 200.5);
  EXPECT_EQ(p.Peak_Area, 1000.0);
  EXPECT_EQ(p.Peak_SNR, 9.5);
  EXPECT_EQ(p.Left_Boundary, 40u);
  EXPECT_EQ(p.Right_Boundary, 57u);
  EXPECT_EQ(p.Group_ID, 5u);
  EXPECT_EQ(p.Adduct_Annotation, "it's [M+Na]+");
  EXPECT_EQ(p.Compound_ID, 77u);
  EXPECT_EQ(p.Compound_MolecularMass, 300.1);
  EXPECT_EQ(p.Compound_Retention_Time, 12.3);
  EXPECT_EQ(p.Compound_Intensity, 5000.0);
  const std::vector<Data_Point> shape = {{7, 12.25, 301.1, 100.5}, {8, 12.5, 301.2, 200.0}};
  EXPECT_EQ(p.Peak_shape, shape);

  const Peak& t = peaks[2];
  EXPECT_EQ(t.Apex_Pos, 12u);
  EXPECT_EQ(t.Left_Boundary, 7u);
  EXPECT_EQ(t.Right_Boundary, 4294967295u);
  EXPECT_EQ(t.Apex_MZ, 0.0);
  EXPECT_EQ(t.Peak_SNR, 125.0);
  EXPECT_TRUE(t.Peak_shape.empty());  // "1,00" has fewer than four tokens
}

TEST_F(AnnotatedReaderTest, NoTableOrNoRowsAppendsNothing) {
  WriteDb("other.db", {}, "create table Something(a);");
  WriteDb("empty.db", {});
  Row x;
  x.shape = "'x'";
  WriteDb("flat.db", {x});
  EXPECT_TRUE(ReadBack("other.db").empty());
  EXPECT_TRUE(ReadBack("empty.db").empty());
  const auto flat = ReadBack("flat.db");
  ASSERT_EQ(flat.size(), 1u);
  EXPECT_TRUE(flat[0].Peak_shape.empty());
}

TEST_F(AnnotatedReaderTest, MissingFileIsAnErrorAndNothingIsCreated) {
  int code = 0;
  EXPECT_EQ(SqliteError("none.db", &code),
            "SQLITE_CANTOPEN[14]: " + File("none.db") + ": unable to open database file");
  EXPECT_EQ(code, SQLITE_CANTOPEN);
  EXPECT_FALSE(std::filesystem::exists(File("none.db")));
  EXPECT_NE(SqliteError("no/such/folder.db").find(File("no/such/folder.db")), std::string::npos);
}

TEST_F(AnnotatedReaderTest, NotADatabaseNamesTheFile) {
  std::FILE* f = std::fopen(File("words.db").c_str(), "wb");
  for (int i = 0; i < 100; ++i) std::fputs("plain text, not a database. ", f);
  std::fclose(f);
  int code = 0;
  EXPECT_EQ(SqliteError("words.db", &code),
            "UNKNOWN_ERROR[26]: " + File("words.db") +
                ": is not a Varnel annotated peak-list database (file is not a database)");
  EXPECT_EQ(code, SQLITE_NOTADB);
}

TEST_F(AnnotatedReaderTest, FolderSaysItIsAFolder) {
  std::filesystem::create_directory(File("folder.db"));
  EXPECT_EQ(SqliteError("folder.db"),
            "CPPSQLITE_ERROR[1000]: " + File("folder.db") + ": is a folder, not a database");
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A writer that stopped in the middle of a transaction leaves a hot journal.
// The reader rolls it back in a private copy, reads the committed rows, and
// leaves the user's files and the temporary folder as they were.
TEST_F(AnnotatedReaderTest, HotJournalIsRolledBackInAPrivateCopy) {
  std::vector<Row> rows(40);
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i].eic = std::to_string(i + 1);
  WriteDb("committed.db", rows);
  {
    // Copy the database and its journal while a transaction that has spilled
    // changed pages into the database is still open.
    CppSQLite3DB writer;
    writer.open(File("committed.db").c_str());
    writer.execDML("PRAGMA journal_mode=DELETE; PRAGMA cache_size=2;");
    writer.execDML("begin transaction;");
    writer.execDML(
        "update Annotate_Peaklist set EIC_ID = EIC_ID + 1000, "
        "Adduct_Annotation = hex(randomblob(1000));");
    std::filesystem::copy_file(File("committed.db"), File("hot.db"));
    std::filesystem::copy_file(File("committed.db-journal"), File("hot.db-journal"));
    writer.execDML("rollback transaction;");
  }
  // The journal is hot: a read-only connection cannot read the database.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open_v2(File("hot.db").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(raw, "select count(*) from Annotate_Peaklist", nullptr, nullptr, nullptr),
            SQLITE_READONLY);
  sqlite3_close(raw);

  const std::string db_bytes = Bytes(File("hot.db"));
  const std::string journal_bytes = Bytes(File("hot.db-journal"));
  TempDir tmp;
  const char* old_tmpdir = std::getenv("TMPDIR");
  const std::string saved = old_tmpdir ? old_tmpdir : "";
  setenv("TMPDIR", tmp.path().c_str(), 1);
  const std::vector<Peak> peaks = ReadBack("hot.db", {Peak{}});
  // Without a temporary folder to copy into, the message names the cause.
  setenv("TMPDIR", Join_Path(tmp.path(), "missing").c_str(), 1);
  const std::string error = SqliteError("hot.db");
  if (old_tmpdir) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }

  ASSERT_EQ(peaks.size(), rows.size() + 1);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(peaks[i + 1].EIC_ID, i + 1);
    EXPECT_EQ(peaks[i + 1].Adduct_Annotation, "[M+H]+");
  }
  EXPECT_EQ(Bytes(File("hot.db")), db_bytes);
  EXPECT_EQ(Bytes(File("hot.db-journal")), journal_bytes);
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
  EXPECT_EQ(error.find("CPPSQLITE_ERROR[1000]: " + File("hot.db") +
                       ": the database has an unfinished transaction (hot journal " +
                       File("hot.db") + "-journal); rolling it back in a private copy failed: "),
            0u)
      << error;
}

TEST_F(AnnotatedReaderTest, BadValuesNameFileColumnAndRow) {
  const std::string prefix = "CPPSQLITE_ERROR[1000]: ";
  WriteDb("nocol.db", {Row()},
          "create table Annotate_Peaklist(Peak_shape blob, EIC_ID int, Peak_ID int, Apex_MZ "
          "double, apex_pos int, Apex_Retention_Time double, Apex_Intensity double, Peak_Area "
          "double, Peak_SNR double, Left_Boundary int, Right_Boundary int, Group_ID int, "
          "Adduct_Annotation char(80), Compound_ID int, Compound_MolecularMass double, "
          "Compound_Retention_Time double, Compound_Intensity double);");
  EXPECT_EQ(SqliteError("nocol.db"),
            prefix + File("nocol.db") + ": column Apex_Pos: Invalid field name requested");

  Row null_mz, empty_shape, broken, null_shape, null_text;
  null_mz.apex_mz = "NULL";
  empty_shape.shape = "''";
  broken.shape = "'" +
                 std::string(
                     "\x05"
                     "ab\x01\x04") +
                 "'";
  null_shape.shape = "NULL";
  null_text.adduct = "NULL";
  const std::pair<Row, std::string> cases[] = {
      {null_mz, "column Apex_MZ, EIC_ID 12 Peak_ID 3: NULL value"},
      {empty_shape, "column Peak_shape, EIC_ID 12 Peak_ID 3: Empty Peak_shape text"},
      {broken, "column Peak_shape, EIC_ID 12 Peak_ID 3: Cannot decode binary"},
      {null_shape, "column Peak_shape, EIC_ID 12 Peak_ID 3: NULL value"},
      {null_text, "column Adduct_Annotation, EIC_ID 12 Peak_ID 3: NULL value"},
  };
  int n = 0;
  for (const auto& [row, message] : cases) {
    const std::string name = "bad" + std::to_string(n++) + ".db";
    WriteDb(name, {row});
    EXPECT_EQ(SqliteError(name), prefix + File(name) + ": " + message);
  }
}

TEST_F(AnnotatedReaderTest, BadIntegersKeepTheStandardExceptions) {
  Row good, bad_int, big_int, bad_scan;
  good.eic = "1";
  bad_int.eic = "2";
  bad_int.apex_pos = "'abc'";
  big_int.group = "99999999999";
  bad_scan.shape = "'" + Encode_Peak_Shape("1,2,3,x") + "'";
  WriteDb("int.db", {good, bad_int});
  WriteDb("big.db", {big_int});
  WriteDb("scan.db", {bad_scan});

  std::vector<Peak> peaks;
  EXPECT_EQ(
      StdError<std::invalid_argument>("int.db", peaks),
      File("int.db") +
          ": column Apex_Pos, EIC_ID 2 Peak_ID 3: not a whole number (invalid stoi argument)");
  EXPECT_EQ(peaks.size(), 1u);  // the record before the failure stays
  EXPECT_EQ(
      StdError<std::out_of_range>("big.db", peaks),
      File("big.db") +
          ": column Group_ID, EIC_ID 12 Peak_ID 3: a whole number beyond 32 bits (stoi argument "
          "out of range)");
  EXPECT_EQ(
      StdError<std::invalid_argument>("scan.db", peaks),
      File("scan.db") +
          ": column Peak_shape, EIC_ID 12 Peak_ID 3: not a whole number (invalid stoi argument)");
}

TEST_F(AnnotatedReaderTest, FailuresFollowEicOrderWhateverTheStoredOrder) {
  Row bad, good;
  bad.eic = "5";
  bad.apex_pos = "'abc'";
  good.eic = "1";
  WriteDb("order.db", {bad, good});  // the bad row is stored first, read second
  std::vector<Peak> peaks;
  EXPECT_EQ(
      StdError<std::invalid_argument>("order.db", peaks),
      File("order.db") +
          ": column Apex_Pos, EIC_ID 5 Peak_ID 3: not a whole number (invalid stoi argument)");
  ASSERT_EQ(peaks.size(), 1u);
  EXPECT_EQ(peaks[0].EIC_ID, 1u);
}

}  // namespace

// An input in WAL mode is read without side files: no -wal or -shm appears
// beside it (they could not on read-only media), and rows still waiting in
// its log are read too, through a private copy, leaving the log as it was.
TEST_F(AnnotatedReaderTest, WalModeInputsAreReadWithoutSideFiles) {
  namespace fs = std::filesystem;
  Row first, second;
  first.eic = "1";
  second.eic = "2";
  {
    CppSQLite3DB db;
    db.open(File("wal.db").c_str());
    db.execDML("PRAGMA journal_mode=WAL;");
    db.execDML(kAnnotatedTable);
    db.execDML(("insert into Annotate_Peaklist values(" + first.Sql() + ");").c_str());
  }
  ASSERT_FALSE(fs::exists(File("wal.db-wal")));  // checkpointed on close
  EXPECT_EQ(ReadBack("wal.db").size(), 1u);
  EXPECT_FALSE(fs::exists(File("wal.db-wal")));
  EXPECT_FALSE(fs::exists(File("wal.db-shm")));

  // A row committed to the log but not yet into the file: the files as a
  // writer that still has them open leaves them.
  fs::create_directory(File("copy"));
  {
    CppSQLite3DB db;
    db.open(File("wal.db").c_str());
    db.execDML("PRAGMA wal_autocheckpoint=0;");
    db.execDML(("insert into Annotate_Peaklist values(" + second.Sql() + ");").c_str());
    fs::copy_file(File("wal.db"), File("copy/wal.db"));
    fs::copy_file(File("wal.db-wal"), File("copy/wal.db-wal"));
  }
  const std::string log = Bytes(File("copy/wal.db-wal"));
  ASSERT_FALSE(log.empty());
  const std::vector<Peak> peaks = ReadBack("copy/wal.db");
  ASSERT_EQ(peaks.size(), 2u);
  EXPECT_EQ(peaks[1].EIC_ID, 2u);
  EXPECT_FALSE(fs::exists(File("copy/wal.db-shm")));
  EXPECT_EQ(Bytes(File("copy/wal.db-wal")), log);
}

// Inputs on read-only media: a database in rollback mode, one in WAL mode and
// one in WAL mode whose log still holds a row are all read from a folder
// mounted read-only (a bind mount in a mount namespace of a child process,
// since permissions do not stop root). Without namespaces (an unprivileged
// user) the folder and files are made read-only by permission instead.
TEST_F(AnnotatedReaderTest, InputsOnReadOnlyMediaAreRead) {
  namespace fs = std::filesystem;
  Row row;
  WriteDb("rollback.db", {row});
  WriteDb("wal.db", {row});
  {
    CppSQLite3DB db;
    db.open(File("wal.db").c_str());
    db.execDML("PRAGMA journal_mode=WAL;");
  }
  WriteDb("logged.db", {row});
  {
    CppSQLite3DB db;
    db.open(File("logged.db").c_str());
    db.execDML("PRAGMA journal_mode=WAL;");
    db.execDML("PRAGMA wal_autocheckpoint=0;");
    db.execDML(("insert into Annotate_Peaklist values(" + row.Sql() + ");").c_str());
    // The log as a writer that still has it open leaves it.
    fs::copy_file(File("logged.db"), File("held.db"));
    fs::copy_file(File("logged.db-wal"), File("held.db-wal"));
  }
  fs::remove(File("logged.db"));
  fs::remove(File("logged.db-wal"));
  fs::remove(File("logged.db-shm"));
  const std::string folder = dir_.path();

  const pid_t child = ::fork();
  if (child == 0) {
    // 3: no way to make the folder read-only here.
    bool mounted =
        ::unshare(CLONE_NEWNS) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
        ::mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    if (!mounted) {
      if (::geteuid() == 0) ::_exit(3);
      for (const char* name : {"rollback.db", "wal.db", "held.db", "held.db-wal"}) {
        ::chmod(Join_Path(folder, name).c_str(), 0444);
      }
      ::chmod(folder.c_str(), 0555);
    }
    // The folder really is read-only.
    const int probe = ::open(Join_Path(folder, "probe").c_str(), O_CREAT | O_WRONLY, 0644);
    if (probe >= 0) ::_exit(4);
    int status = 0;
    for (const char* name : {"rollback.db", "wal.db", "held.db"}) {
      std::vector<Peak> peaks;
      try {
        Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(folder, name, peaks);
      } catch (...) {
        status = 5;
      }
      const std::size_t expected = std::string_view(name) == "held.db" ? 2u : 1u;
      if (status == 0 && peaks.size() != expected) status = 6;
    }
    if (!mounted) ::chmod(folder.c_str(), 0755);
    ::_exit(status);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_NE(WEXITSTATUS(status), 3) << "neither a mount namespace nor permissions can make a "
                                       "folder read-only here";
  EXPECT_NE(WEXITSTATUS(status), 4) << "the folder was not read-only";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "5: a read failed, 6: rows missing";
  // Nothing appeared beside the inputs.
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"held.db", "held.db-wal", "rollback.db", "wal.db"}));
}
