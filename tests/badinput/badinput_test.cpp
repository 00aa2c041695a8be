// Bad inputs, each given to varnel-align and to the alignment run the window
// calls: a clear one-line message naming the file and the problem, exit status
// 1, no crash, and the earlier result files byte for byte as they were. Some
// odd inputs must simply work (names with quotes, commas, non-ASCII; a lock
// that is released while the run waits).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "badinput_support.h"
#include "run/alignment_run.h"
#include "storage/path.h"
#include "storage/peak_shape.h"
#include "storage/sqlite/cppsqlite3.h"
#include "ui/grid/aligned_table.h"

namespace badinput {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSamples = 3;
constexpr std::uint32_t kCompounds = 40;
// How long a test holds a lock on an input database before releasing it.
constexpr auto kLockHeld = std::chrono::milliseconds(1500);

// What one case works on: a copy of a small study with the results of an
// earlier run in data/Result.
struct Case_Env {
  std::string root;                // the case's own folder; the programs run here
  std::string data;                // folder of the databases
  std::string result;              // result folder the run writes into
  std::vector<std::string> names;  // database names in data, in sample order
  bool result_dir_option = false;  // pass --result-dir (else the default data/Result)
  Child_Limits limits;
  std::string bad_file;                   // the path both messages must name
  std::vector<std::string> lock_briefly;  // databases held locked for kLockHeld
  std::vector<std::function<void()>> cleanup;

  std::string Db(std::size_t i) const { return Join_Path(data, names.at(i)); }
};

struct Bad_Case {
  const char* name;
  std::function<void(Case_Env&)> prepare;
  const char* problem;                   // "" for a case that must work
  const char* window_problem = nullptr;  // when the run's own message differs
  // A result file written completely before the failure, which then holds
  // the new result (the CSV, written before the database).
  const char* may_be_new = nullptr;
};

// Test names and messages show the case's name only.
void PrintTo(const Bad_Case& c, std::ostream* os) { *os << c.name; }

// Appends to path until the file system is full.
void Fill_Up(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  const std::string chunk(4096, 'x');
  while (std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size() && std::fflush(f) == 0) {
  }
  std::fclose(f);
}

// A case that spoils the second database; the messages must name it.
Bad_Case Spoil_File(const char* name, std::function<void(const std::string& path)> spoil,
                    const char* problem) {
  return {name,
          [spoil](Case_Env& env) {
            spoil(env.Db(1));
            env.bad_file = env.Db(1);
          },
          problem};
}

// A case that changes the first row of the second database with one SQL assignment.
Bad_Case Spoil(const char* name, const std::string& set, const char* problem) {
  return Spoil_File(
      name,
      [set](const std::string& path) {
        Exec_Sql(path, "update Annotate_Peaklist set " + set +
                           " where rowid = (select min(rowid) from Annotate_Peaklist);");
      },
      problem);
}

std::vector<Bad_Case> All_Cases() {
  std::vector<Bad_Case> cases;
  cases.push_back(Spoil_File(
      "NotSqlite",
      [](const std::string& path) {
        Write_File(path, "EIC_ID,Peak_ID\n1,2\nthis is a CSV file, not SQLite\n");
      },
      "file is not a database"));
  cases.push_back({"NotSqliteWithPercentAndQuotesInName",
                   [](Case_Env& env) {
                     const std::string odd = "bad %s%n%d, \"x\" it's.db";
                     fs::rename(env.Db(1), Join_Path(env.data, odd));
                     env.names[1] = odd;
                     Write_File(env.Db(1), std::string(5000, '%'));
                     env.bad_file = env.Db(1);
                   },
                   "file is not a database"});
  cases.push_back(Spoil_File(
      "TruncatedSqlite",
      [](const std::string& path) { fs::resize_file(path, fs::file_size(path) / 3); },
      "malformed"));
  cases.push_back(Spoil_File(
      "CorruptedSqlite",
      [](const std::string& path) {
        std::string bytes = Read_File(path);
        for (std::size_t i = 4096 + 100; i < bytes.size() && i < 4096 + 3000; ++i) {
          bytes[i] = static_cast<char>(0xA5);
        }
        Write_File(path, bytes);
      },
      "malformed"));
  cases.push_back(Spoil_File(
      "MissingFile", [](const std::string& path) { fs::remove(path); },
      "unable to open database file"));
  cases.push_back(Spoil_File(
      "MissingColumn",
      [](const std::string& path) {
        Exec_Sql(path, "alter table Annotate_Peaklist drop column Apex_MZ;");
      },
      "column Apex_MZ: Invalid field name requested"));
  cases.push_back(Spoil("NullInInteger", "Group_ID = NULL", "column Group_ID"));
  cases.push_back(Spoil("NullInReal", "Apex_Intensity = NULL", "column Apex_Intensity"));
  cases.push_back(Spoil("NullShape", "Peak_shape = NULL", "column Peak_shape"));
  cases.push_back(Spoil("NullAnnotation", "Adduct_Annotation = NULL", "column Adduct_Annotation"));
  cases.push_back(Spoil("TextAbcInInteger", "Group_ID = 'abc'", "invalid stoi argument"));
  cases.push_back(
      Spoil("HugeTextInInteger", "Group_ID = '99999999999'", "stoi argument out of range"));
  cases.push_back(
      Spoil("HugeTextNotAffine", "Group_ID = '99999999999 '", "stoi argument out of range"));
  cases.push_back(Spoil("ShapeWithBrokenEscape", "Peak_shape = cast(x'012F2B0104302B' as text)",
                        "Cannot decode binary"));
  cases.push_back(Spoil("ShapeEmptyText", "Peak_shape = ''", "column Peak_shape"));
  // The stored form never holds a NUL or a single quote: it fits in a literal.
  cases.push_back(Spoil("ShapeScanNotNumber",
                        "Peak_shape = '" + Encode_Peak_Shape("10.5,301.1,33.0,abc") + "'",
                        "invalid stoi argument"));
  cases.push_back(Spoil_File(
      "InterruptedWriterLeftAJournal",
      [](const std::string& path) {
        // Another program died in the middle of a write: its
        // journal is hot. The reader may not roll it back in
        // place; it reads the committed rows from a private
        // copy, and the run works.
        const pid_t writer = fork();
        if (writer == 0) {
          sqlite3* db = nullptr;
          sqlite3_open(path.c_str(), &db);
          sqlite3_exec(db,
                       "pragma cache_size=1; begin; update Annotate_Peaklist set "
                       "Group_ID = Group_ID + 1; create table Spill(x); insert into "
                       "Spill select randomblob(1000) from Annotate_Peaklist;",
                       nullptr, nullptr, nullptr);
          _exit(0);  // no commit, no close
        }
        int status = 0;
        waitpid(writer, &status, 0);
        ASSERT_TRUE(fs::exists(path + "-journal"));
      },
      ""));
  cases.push_back(Spoil_File(
      "InputIsAFolder",
      [](const std::string& path) {
        fs::remove(path);
        fs::create_directory(path);
      },
      "is a folder, not a database"));
  cases.push_back({"EmptyFileName",
                   [](Case_Env& env) {
                     env.names.insert(env.names.begin() + 1, "");
                     env.bad_file = "";
                   },
                   "empty file name"});
  cases.push_back({"ResultParentIsAFile",
                   [](Case_Env& env) {
                     const std::string plain = Join_Path(env.root, "plain.txt");
                     Write_File(plain, "not a folder\n");
                     env.result = Join_Path(plain, "Result");
                     env.result_dir_option = true;
                     env.bad_file = env.result;
                   },
                   "cannot create the result folder", "Not a directory"});
  cases.push_back({"ResultNameTakenByAFolder",
                   [](Case_Env& env) {
                     const std::string csv = Join_Path(env.result, kAlignedCsvName);
                     fs::remove(csv);
                     fs::create_directory(csv);
                     env.bad_file = csv;
                   },
                   "cannot replace the result file"});
  cases.push_back({"ResultFolderReadOnly",
                   [](Case_Env& env) {
                     fs::permissions(env.result, fs::perms(0555));
                     env.limits.drop_privileges = true;  // root writes anywhere
                     // The run's first write there, its temporary file, fails.
                     env.bad_file = env.result;
                   },
                   "Permission denied"});
  cases.push_back({"DiskFullFileSizeLimit",
                   [](Case_Env& env) {
                     // Room for nothing: the run's temporary file, written first, fails.
                     env.limits.max_file_bytes = 16 * 1024;
                     env.bad_file = env.result;
                   },
                   "File too large"});
  cases.push_back({"DiskFullDatabaseOnly",
                   [](Case_Env& env) {
                     // The CSV and the run's temporary file fit; the database, the
                     // largest file, does not, and neither old result is replaced.
                     const auto db_size = fs::file_size(Join_Path(env.result, kAlignedDbName));
                     env.limits.max_file_bytes = static_cast<long long>(db_size) - 1;
                     env.bad_file = Join_Path(env.result, kAlignedDbName);
                   },
                   "disk", nullptr, kAlignedCsvName});
  cases.push_back({"DiskFullSmallFileSystem",
                   [](Case_Env& env) {
                     const std::string small = Join_Path(env.root, "small");
                     fs::create_directory(small);
                     if (geteuid() != 0 ||
                         mount("tmpfs", small.c_str(), "tmpfs", 0, "size=4m") != 0) {
                       GTEST_SKIP() << "cannot mount a small file system here";
                     }
                     env.cleanup.push_back([small] { umount2(small.c_str(), MNT_DETACH); });
                     const std::string result = Join_Path(small, "Result");
                     fs::create_directory(result);
                     for (const char* name : {kAlignedCsvName, kAlignedDbName}) {
                       Copy_File(Join_Path(env.result, name), Join_Path(result, name));
                     }
                     // Fill what is left.
                     Fill_Up(Join_Path(small, "filler"));
                     env.result = result;
                     env.result_dir_option = true;
                     env.bad_file = result;  // the run's temporary file, written first
                   },
                   "No space left on device"});
  cases.push_back({"LockedInputReleasedInTime",
                   [](Case_Env& env) { env.lock_briefly.push_back(env.Db(1)); }, ""});
  cases.push_back({"QuotesCommasSpacesNonAsciiNames",
                   [](Case_Env& env) {
                     const std::string odd_data =
                         Join_Path(env.root, "my data, \"v2\" it's \xC3\xA9t\xC3\xA9");
                     fs::create_directory(odd_data);
                     const std::vector<std::string> odd_names = {
                         std::string("QC 1, \"first\" it's") + kAnnotatedSuffix,
                         std::string("\xC3\xA9"
                                     "chantillon \xE6\xA0\xB7\xE5\x93\x81") +
                             kAnnotatedSuffix,
                         std::string("100%s%n%%'name.db"),
                     };
                     for (std::size_t i = 0; i < env.names.size(); ++i) {
                       fs::rename(env.Db(i), Join_Path(odd_data, odd_names[i]));
                     }
                     fs::rename(env.result, Join_Path(odd_data, "Result"));
                     env.data = odd_data;
                     env.result = Join_Path(odd_data, "Result");
                     env.names = odd_names;
                   },
                   ""});
  return cases;
}

// The study and the earlier results every case starts from.
class Template {
 public:
  static const Template& Get() {
    static const Template instance;
    return instance;
  }
  const std::string& data() const { return data_; }
  const std::vector<std::string>& names() const { return names_; }
  const std::string& new_result() const { return new_result_; }

 private:
  Template() {
    data_ = Join_Path(folder_.path(), "data");
    fs::create_directory(data_);
    names_ = Make_Study(data_, kSamples, kCompounds, 7).database_names;
    // The earlier results: the same study aligned in deep mode, so that
    // they differ from what the fast runs of the cases would write.
    const std::string result = Join_Path(data_, "Result");
    fs::create_directory(result);
    Run_Quietly(Two_Phase_Align, 0.05, result);
    // What the cases' fast runs write when they succeed.
    new_result_ = Join_Path(folder_.path(), "new");
    fs::create_directory(new_result_);
    Run_Quietly(One_Phase_Align, 0.1, new_result_);
  }

  void Run_Quietly(Compound_Align_Mode mode, double mass_tol, const std::string& result) {
    std::vector<Annotated_File> files;
    for (const std::string& name : names_) files.push_back({data_, name});
    std::ostream no_lines(nullptr);
    Alignment_Run_Observer observer;
    observer.align_lines = &no_lines;
    Run_Alignment(Request_For(mode, mass_tol, 20, 10, files, result), observer);
  }

  Temp_Folder folder_;
  std::string data_;
  std::vector<std::string> names_;
  std::string new_result_;
};

// The message the window would show for a failure of the run.
std::string Window_Run_Message(const Case_Env& env) {
  return Failure_Of([&] {
    Compound_Align_For_Annotation_Files(0, 0.1, 20, 10, env.data, env.result, env.names);
  });
}

class BadInputTest : public ::testing::TestWithParam<Bad_Case> {
 protected:
  void SetUp() override {
    const Template& t = Template::Get();
    env_.root = folder_.path();
    env_.data = Join_Path(env_.root, "data");
    env_.result = Join_Path(env_.data, "Result");
    fs::create_directory(env_.data);
    fs::create_directory(env_.result);
    env_.names = t.names();
    for (const std::string& name : t.names()) {
      Copy_File(Join_Path(t.data(), name), Join_Path(env_.data, name));
    }
    for (const char* name : {kAlignedCsvName, kAlignedDbName}) {
      Copy_File(Join_Path(Join_Path(t.data(), "Result"), name), Join_Path(env_.result, name));
    }
  }
  void TearDown() override {
    for (auto& undo : env_.cleanup) undo();
  }

  std::vector<std::string> Program_Args() const {
    std::vector<std::string> args{"--quiet"};
    if (env_.result_dir_option) {
      args.push_back("--result-dir");
      args.push_back(env_.result);
    }
    for (const std::string& name : env_.names) {
      args.push_back(name.empty() ? std::string() : Join_Path(env_.data, name));
    }
    return args;
  }

  // Runs body while the case's databases are held locked by others.
  void With_Locks(const std::function<void()>& body) const {
    std::vector<std::unique_ptr<Brief_Lock>> locks;
    for (const std::string& path : env_.lock_briefly) {
      locks.push_back(std::make_unique<Brief_Lock>(path, kLockHeld));
    }
    body();
  }

  // "" when every earlier result file is as it was, or (for may_be_new) is
  // the complete new result; otherwise what differs.
  std::string Lost(const Snapshot& before, const char* may_be_new) const {
    Snapshot after = Take_Snapshot(env_.result);
    if (may_be_new != nullptr && after.count(may_be_new) != 0 &&
        after[may_be_new] == Read_File(Join_Path(Template::Get().new_result(), may_be_new))) {
      after[may_be_new] = before.at(may_be_new);
    }
    return Snapshot_Difference(before, after);
  }

  Temp_Folder folder_;
  Case_Env env_;
};

TEST_P(BadInputTest, ClearMessageAndNothingLost) {
  const Bad_Case& c = GetParam();
  c.prepare(env_);
  if (IsSkipped() || HasFatalFailure()) return;
  env_.limits.working_folder = env_.root;
  const bool must_work = std::string(c.problem).empty();
  const bool result_existed = fs::is_directory(env_.result);
  const Snapshot before = result_existed ? Take_Snapshot(env_.result) : Snapshot{};

  // The batch program.
  Program_Result program;
  const Clock::time_point start = Clock::now();
  With_Locks([&] { program = Run_Program(VARNEL_ALIGN_PROGRAM, Program_Args(), env_.limits); });
  const auto waited = Clock::now() - start;
  EXPECT_EQ(program.signal, 0) << program.err;
  if (must_work) {
    EXPECT_EQ(program.exit_code, 0) << program.err;
    EXPECT_EQ(program.err, "");
    if (!env_.lock_briefly.empty()) {
      EXPECT_GE(waited, kLockHeld - std::chrono::milliseconds(100));
    }
  } else {
    EXPECT_EQ(program.exit_code, 1) << program.out << program.err;
    EXPECT_TRUE(Is_One_Line(program.err)) << program.err;
    EXPECT_NE(program.err.find("varnel-align: "), std::string::npos) << program.err;
    EXPECT_NE(program.err.find(env_.bad_file), std::string::npos)
        << "names not " << env_.bad_file << ": " << program.err;
    EXPECT_NE(program.err.find(c.problem), std::string::npos) << program.err;
    if (result_existed) {
      EXPECT_EQ(Lost(before, c.may_be_new), "");
    }
  }
  EXPECT_EQ(Hidden_Entries(env_.result), std::vector<std::string>{});

  // The run the window calls, in a child so that it can run under the limits.
  std::string message;
  With_Locks(
      [&] { message = Run_In_Child([&] { return Window_Run_Message(env_); }, env_.limits); });
  EXPECT_EQ(message.find("<child"), std::string::npos) << message;
  if (must_work) {
    EXPECT_EQ(message, "");
  } else {
    const char* problem = c.window_problem != nullptr ? c.window_problem : c.problem;
    EXPECT_NE(message.find(problem), std::string::npos) << message;
    const std::string named = env_.bad_file.empty() ? env_.data : env_.bad_file;
    EXPECT_NE(message.find(named), std::string::npos) << "names not " << named << ": " << message;
    if (result_existed) {
      EXPECT_EQ(Lost(before, c.may_be_new), "");
    }
  }
  EXPECT_EQ(Hidden_Entries(env_.result), std::vector<std::string>{});

  if (must_work) {
    const Aligned_Table table = Aligned_Table::Load(env_.result, kAlignedDbName);
    EXPECT_GT(table.Row_Count(), 0u);
    std::set<std::string> samples;
    for (std::size_t r = 0; r < table.Row_Count(); ++r) {
      samples.emplace(table.Text(r, kCol_SAMPLE_NAME));
    }
    std::set<std::string> expected;
    for (const std::string& name : env_.names) expected.insert(Sample_Name_Of(name));
    EXPECT_EQ(samples, expected);
    // A name holding a comma or a double quote is quoted in the CSV file.
    const std::string csv = Read_File(Join_Path(env_.result, kAlignedCsvName));
    for (const std::string& name : expected) {
      if (name.find_first_of(",\"") == std::string::npos) continue;
      std::string quoted = "\"";
      for (char ch : name) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      quoted += "\"";
      EXPECT_NE(csv.find("," + quoted + ","), std::string::npos) << quoted;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInputTest, ::testing::ValuesIn(All_Cases()),
                         [](const ::testing::TestParamInfo<Bad_Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace badinput
