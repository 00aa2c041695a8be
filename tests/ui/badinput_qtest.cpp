// Bad aligned databases opened in the real window, driven offscreen: every
// failure is one message box naming the file and the problem; the grid keeps
// the result it showed; nothing crashes.
#include <sqlite3.h>

#include <QCheckBox>
#include <QPushButton>
#include <QTableView>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "align/alignment_run.h"
#include "storage/path.h"
#include "tests/ui/support/viz_study.h"
#include "tools/simulate.h"
#include "ui/align_table_model.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

namespace {

namespace fs = std::filesystem;

class Scripted_Dialogs final : public Form_Dialogs {
 public:
  std::optional<QStringList> Open_Files(QWidget*, const QString&, const QString&, const QString&,
                                        bool) override {
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Show_Message(QWidget*, const QString& text) override { messages << text; }

  std::deque<std::optional<QStringList>> answers;
  QStringList messages;
};

void Exec_Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) qFatal("cannot run %s", sql.c_str());
}

void Write_File(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Read_File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// How a case spoils its copy of a good result: one of these, and its text.
enum class Spoil { kSql, kBytes, kTruncate, kEmpty };

}  // namespace

Q_DECLARE_METATYPE(Spoil)

class BadInputWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void unreadableResultKeepsThePreviousGrid_data();
  void unreadableResultKeepsThePreviousGrid();
  void badRowFailsOnClick_data();
  void badRowFailsOnClick();
  void resultDeletedBeforeTheClick();
  void resultEmptiedBeforeTheClick();
  void alignFailureNamesTheFileAndKeepsTheOldResults();
  void alignWorksWithQuotesCommasAndNonAsciiNames();

 private:
  // Simulates a small study into folder under the given database names and
  // returns their full paths.
  QStringList Study(const std::string& folder, const std::vector<std::string>& names);
  // Picks, loads and ticks the files, then clicks Align.
  void Align(const QStringList& paths);
  void Open(const std::string& path);
  void Click(int row);

  std::unique_ptr<Varnel::Test::Viz_Temp_Dir> dir_;
  std::unique_ptr<Varnel_Form> form_;
  Scripted_Dialogs* dialogs_ = nullptr;
  std::string good_;
  int good_rows_ = 0;
};

void BadInputWindowTest::init() {
  dir_ = std::make_unique<Varnel::Test::Viz_Temp_Dir>();
  Varnel::Test::Write_Aligned_Result(Varnel::Test::Make_Demo_Study(3, 6, 5, 12), dir_->path(),
                                     "good.aligndb");
  good_ = Join_Path(dir_->path(), "good.aligndb");
  auto dialogs = std::make_unique<Scripted_Dialogs>();
  dialogs_ = dialogs.get();
  form_ = std::make_unique<Varnel_Form>(std::move(dialogs));
  form_->tabControl1->setCurrentWidget(form_->Tab_Align_Visualization);
  form_->show();
  QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  Open(good_);
  QCOMPARE(dialogs_->messages, QStringList());
  good_rows_ = form_->dataGridView_Align_Peaklist_Table->model()->rowCount();
  QVERIFY(good_rows_ > 0);
}

void BadInputWindowTest::cleanup() {
  form_.reset();
  dir_.reset();
}

void BadInputWindowTest::Open(const std::string& path) {
  dialogs_->answers.push_back(QStringList{QString::fromStdString(path)});
  form_->Button_Click_Align_File_Browse();
}

void BadInputWindowTest::Click(int row) {
  QTableView* grid = form_->dataGridView_Align_Peaklist_Table;
  const QModelIndex index = grid->model()->index(row, 0);
  grid->scrollTo(index);
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
}

void BadInputWindowTest::unreadableResultKeepsThePreviousGrid_data() {
  QTest::addColumn<Spoil>("spoil");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("problem");
  QTest::newRow("not SQLite") << Spoil::kBytes << "just some text, not a database\n"
                              << "file is not a database";
  QTest::newRow("truncated") << Spoil::kTruncate << ""
                             << "malformed";
  QTest::newRow("empty file") << Spoil::kEmpty << ""
                              << "no such table";
  QTest::newRow("no table") << Spoil::kSql << "drop table Align_Peaklist;"
                            << "no such table: Align_Peaklist";
  QTest::newRow("column missing") << Spoil::kSql
                                  << "alter table Align_Peaklist drop column Align_RT;"
                                  << "no such column: Align_RT";
  QTest::newRow("column renamed") << Spoil::kSql
                                  << "alter table Align_Peaklist rename column SAMPLE_ID to Sample;"
                                  << "no such column: SAMPLE_ID";
}

void BadInputWindowTest::unreadableResultKeepsThePreviousGrid() {
  QFETCH(Spoil, spoil);
  QFETCH(QString, text);
  QFETCH(QString, problem);
  const std::string bad = Join_Path(dir_->path(), "it's a bad, \xC3\xA9trange result.aligndb");
  fs::copy_file(good_, bad);
  switch (spoil) {
    case Spoil::kSql:
      Exec_Sql(bad, text.toStdString());
      break;
    case Spoil::kBytes:
      Write_File(bad, text.toStdString());
      break;
    case Spoil::kTruncate:
      fs::resize_file(bad, fs::file_size(bad) / 2);
      break;
    case Spoil::kEmpty:
      Write_File(bad, "");
      break;
  }
  const std::string bytes = Read_File(bad);
  Open(bad);
  QCOMPARE(dialogs_->messages.size(), 1);
  const QString message = dialogs_->messages.front();
  QVERIFY2(message.contains(QString::fromStdString(bad)), qPrintable(message));
  QVERIFY2(message.contains(problem), qPrintable(message));
  QVERIFY2(!message.contains('\n'), qPrintable(message));
  // The grid still shows the good result and the window still names it.
  QCOMPARE(form_->dataGridView_Align_Peaklist_Table->model()->rowCount(), good_rows_);
  QCOMPARE(form_->alignFileName, QStringLiteral("good.aligndb"));
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  QVERIFY(Read_File(bad) == bytes);
  // And a click on it still draws from the good file.
  Click(0);
  QCOMPARE(dialogs_->messages.size(), 1);
}

void BadInputWindowTest::badRowFailsOnClick_data() {
  QTest::addColumn<QString>("sql");
  QTest::addColumn<QString>("problem");
  QTest::newRow("NULL shape") << "update Align_Peaklist set Peak_shape = NULL;"
                              << "column Peak_shape";
  QTest::newRow("broken escape")
      << "update Align_Peaklist set Peak_shape = cast(x'01302B0104' as text);"
      << "Cannot decode binary";
  QTest::newRow("shape column missing") << "alter table Align_Peaklist drop column Peak_shape;"
                                        << "column Peak_shape: Invalid field name requested";
  QTest::newRow("text in an integer column") << "update Align_Peaklist set Left_Boundary = 'abc';"
                                             << "invalid stoi argument";
  QTest::newRow("integer beyond 32 bits") << "update Align_Peaklist set Apex_Pos = 99999999999;"
                                          << "stoi argument out of range";
  QTest::newRow("NULL in a key column") << "update Align_Peaklist set Compound_ID = NULL;"
                                        << "Compound_ID";
}

void BadInputWindowTest::badRowFailsOnClick() {
  QFETCH(QString, sql);
  QFETCH(QString, problem);
  const std::string bad = Join_Path(dir_->path(), "bad rows.aligndb");
  fs::copy_file(good_, bad);
  Exec_Sql(bad, sql.toStdString());
  Open(bad);
  QCOMPARE(dialogs_->messages, QStringList());
  QCOMPARE(form_->alignFileName, QStringLiteral("bad rows.aligndb"));
  Click(0);
  QCOMPARE(dialogs_->messages.size(), 1);
  const QString message = dialogs_->messages.front();
  QVERIFY2(message.contains(QString::fromStdString(bad)), qPrintable(message));
  QVERIFY2(message.contains(problem), qPrintable(message));
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  // The window keeps working: the good result opens and draws again.
  Open(good_);
  Click(0);
  QCOMPARE(dialogs_->messages.size(), 1);
}

void BadInputWindowTest::resultDeletedBeforeTheClick() {
  const std::string copy = Join_Path(dir_->path(), "deleted.aligndb");
  fs::copy_file(good_, copy);
  Open(copy);
  QCOMPARE(dialogs_->messages, QStringList());
  fs::remove(copy);
  Click(1);
  QCOMPARE(dialogs_->messages.size(), 1);
  const QString message = dialogs_->messages.front();
  QVERIFY2(message.contains(QString::fromStdString(copy)), qPrintable(message));
  QVERIFY2(message.contains("unable to open database file"), qPrintable(message));
  QVERIFY(!fs::exists(copy));  // the query did not create an empty database
}

void BadInputWindowTest::resultEmptiedBeforeTheClick() {
  const std::string copy = Join_Path(dir_->path(), "emptied.aligndb");
  fs::copy_file(good_, copy);
  Open(copy);
  Exec_Sql(copy, "delete from Align_Peaklist;");
  Click(0);  // the row's peaks are gone: empty charts, no failure
  QCOMPARE(dialogs_->messages, QStringList());
}

QStringList BadInputWindowTest::Study(const std::string& folder,
                                      const std::vector<std::string>& names) {
  fs::create_directories(folder);
  Simulation_Options options;
  options.samples = static_cast<std::uint32_t>(names.size());
  options.compounds = 25;
  options.seed = 3;
  const Simulation_Result study = Simulate_Study(options, folder);
  QStringList paths;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string path = Join_Path(folder, names[i]);
    fs::rename(Join_Path(folder, study.database_names[i]), path);
    paths << QString::fromUtf8(path.c_str());
  }
  return paths;
}

void BadInputWindowTest::Align(const QStringList& paths) {
  form_->tabControl1->setCurrentWidget(form_->Tab_Align_Process);
  dialogs_->answers.push_back(paths);
  form_->Button_Click_Annotation_File_Browse();
  form_->Button_Click_Annotation_File_Load();
  auto* header = form_->dataGridView_Annotation_Filelist->findChild<QCheckBox*>(
      QStringLiteral("checkboxHeader_Align"));
  QVERIFY(header != nullptr);
  header->setChecked(true);
  form_->button_Align_Process->click();
}

void BadInputWindowTest::alignFailureNamesTheFileAndKeepsTheOldResults() {
  const std::string data = Join_Path(dir_->path(), "study");
  const std::vector<std::string> names = {"a_annotated_grouped_chromatograph_peaklist.db",
                                          "b_annotated_grouped_chromatograph_peaklist.db"};
  const QStringList paths = Study(data, names);
  const std::string result = Join_Path(data, "Result");
  fs::create_directory(result);
  Compound_Align_For_Annotation_Files(1, 0.05, 20, 10, data, result, names);
  const std::string old_csv = Read_File(Join_Path(result, kAlignedCsvName));
  const std::string old_db = Read_File(Join_Path(result, kAlignedDbName));
  const std::string bad = Join_Path(data, names[1]);
  Write_File(bad, "not a database at all\n");

  Align(paths);
  QCOMPARE(dialogs_->messages.size(), 1);
  const QString message = dialogs_->messages.front();
  QVERIFY2(message.contains(QString::fromStdString(bad)), qPrintable(message));
  QVERIFY2(message.contains("file is not a database"), qPrintable(message));
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  QVERIFY(Read_File(Join_Path(result, kAlignedCsvName)) == old_csv);
  QVERIFY(Read_File(Join_Path(result, kAlignedDbName)) == old_db);
}

void BadInputWindowTest::alignWorksWithQuotesCommasAndNonAsciiNames() {
  const std::string data = Join_Path(dir_->path(), "d\xC3\xA9j\xC3\xA0 vu, \"it's\"");
  const std::vector<std::string> names = {
      std::string("QC 1, \"first\" it's") + kAnnotatedSuffix,
      std::string("\xE6\xA0\xB7\xE5\x93\x81 \xC3\xA9") + kAnnotatedSuffix};
  Align(Study(data, names));
  QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
  const std::string result = Join_Path(data, "Result");
  dialogs_->messages.clear();
  Open(Join_Path(result, kAlignedDbName));
  QCOMPARE(dialogs_->messages, QStringList());
  QVERIFY(form_->dataGridView_Align_Peaklist_Table->model()->rowCount() > 0);
  const std::string csv = Read_File(Join_Path(result, kAlignedCsvName));
  QVERIFY(csv.find(",\"QC 1, \"\"first\"\" it's\",") != std::string::npos);
  QVERIFY(csv.find(",\xE6\xA0\xB7\xE5\x93\x81 \xC3\xA9,") != std::string::npos);
}

QTEST_MAIN(BadInputWindowTest)
#include "badinput_qtest.moc"
