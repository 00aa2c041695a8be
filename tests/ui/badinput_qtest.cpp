// Bad aligned databases opened in the real window, driven offscreen: every
// failure is one message box naming the file and the problem; the grid keeps
// the result it showed; nothing crashes.
#include <QCheckBox>
#include <QPushButton>
#include <QTableView>
#include <QtTest>
#include <filesystem>
#include <string>

#include "run/alignment_run.h"
#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "tests/ui/support/viz_study.h"
#include "tests/ui/support/window_test.h"
#include "ui/align_table_model.h"
#include "ui/widgets/align_process_tab.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

namespace {

namespace fs = std::filesystem;

// How a case spoils its copy of a good result: SQL, or bytes for the whole file.
enum class Spoil { kSql, kBytes };

}  // namespace

Q_DECLARE_METATYPE(Spoil)

class BadInputWindowTest : public Varnel::Test::Window_Test {
  Q_OBJECT

 private:
  std::unique_ptr<Temp_Folder> dir_;
  std::string good_;
  int good_rows_ = 0;

  void Open(const std::string& path) {
    dialogs_->answers.push_back(QStringList{QString::fromStdString(path)});
    form_->Visualization_Tab()->Button_Click_Align_File_Browse();
  }

  void Click(int row) {
    QTableView* grid = ui_.dataGridView_Align_Peaklist_Table;
    const QModelIndex index = grid->model()->index(row, 0);
    grid->scrollTo(index);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
  }

  // Simulates a small study into folder under the given database names and
  // returns their full paths.
  QStringList Study(const std::string& folder, const std::vector<std::string>& names) {
    const Simulation_Result study =
        Make_Study(folder, static_cast<std::uint32_t>(names.size()), 25, 3);
    QStringList paths;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string path = Join_Path(folder, names[i]);
      fs::rename(Join_Path(folder, study.database_names[i]), path);
      paths << QString::fromUtf8(path.c_str());
    }
    return paths;
  }

  // Picks, loads and ticks the files, then clicks Align.
  void Align(const QStringList& paths) {
    ui_.tabControl1->setCurrentWidget(ui_.Tab_Align_Process);
    dialogs_->answers.push_back(paths);
    form_->Align_Tab()->Button_Click_Annotation_File_Browse();
    form_->Align_Tab()->Button_Click_Annotation_File_Load();
    auto* header = ui_.dataGridView_Annotation_Filelist->findChild<QCheckBox*>(
        QStringLiteral("checkboxHeader_Align"));
    QVERIFY(header != nullptr);
    header->setChecked(true);
    ui_.button_Align_Process->click();
  }

 private slots:
  void init() {
    dir_ = std::make_unique<Temp_Folder>();
    Varnel::Test::Write_Aligned_Result(Varnel::Test::Make_Demo_Study(3, 6, 5, 12), dir_->path(),
                                       "good.aligndb");
    good_ = Join_Path(dir_->path(), "good.aligndb");
    Make_Window();
    ui_.tabControl1->setCurrentWidget(ui_.Tab_Align_Visualization);
    QVERIFY(Show_Window());
    Open(good_);
    QCOMPARE(dialogs_->messages, QStringList());
    good_rows_ = ui_.dataGridView_Align_Peaklist_Table->model()->rowCount();
    QVERIFY(good_rows_ > 0);
  }

  void cleanup() {
    form_.reset();
    dir_.reset();
  }

  void unreadableResultKeepsThePreviousGrid_data() {
    QTest::addColumn<Spoil>("spoil");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("problem");
    // Every kind of bad file and its message: ViewerBadInputTest. Here the
    // window's part: one box, the grid kept, the file untouched.
    QTest::newRow("not SQLite") << Spoil::kBytes << "just some text, not a database\n"
                                << "file is not a database";
    QTest::newRow("no table") << Spoil::kSql << "drop table Align_Peaklist;"
                              << "not an aligned result (it has no table Align_Peaklist)";
    // A peak list opened as a result is named as what it is.
    QTest::newRow("a peak list") << Spoil::kSql
                                 << "drop table Align_Peaklist; create table Annotate_Peaklist(x);"
                                 << "not an aligned result: it is an annotated peak list";
    QTest::newRow("column renamed")
        << Spoil::kSql << "alter table Align_Peaklist rename column SAMPLE_ID to Sample;"
        << "no such column: SAMPLE_ID";
  }

  void unreadableResultKeepsThePreviousGrid() {
    QFETCH(Spoil, spoil);
    QFETCH(QString, text);
    QFETCH(QString, problem);
    const std::string bad = Join_Path(dir_->path(), "it's a bad, \xC3\xA9trange result.aligndb");
    fs::copy_file(good_, bad);
    if (spoil == Spoil::kSql) {
      Exec_Sql(bad, text.toStdString());
    } else {
      Write_File(bad, text.toStdString());
    }
    const std::string bytes = Read_File(bad);
    Open(bad);
    QCOMPARE(dialogs_->messages.size(), 1);
    const QString message = dialogs_->messages.front();
    QVERIFY2(message.contains(QString::fromStdString(bad)), qPrintable(message));
    QVERIFY2(message.contains(problem), qPrintable(message));
    QVERIFY2(!message.contains('\n'), qPrintable(message));
    // The grid still shows the good result and the window still names it.
    QCOMPARE(ui_.dataGridView_Align_Peaklist_Table->model()->rowCount(), good_rows_);
    QCOMPARE(form_->Visualization_Tab()->alignFileName(), QStringLiteral("good.aligndb"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(Read_File(bad) == bytes);
    // And a click on it still draws from the good file.
    Click(0);
    QCOMPARE(dialogs_->messages.size(), 1);
  }

  void badRowFailsOnClick_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("problem");
    // The queries' failures: ViewerBadInputTest. Here two of them reaching
    // the box, and the window's own check of the clicked row's key cells.
    QTest::newRow("NULL shape") << "update Align_Peaklist set Peak_shape = NULL;"
                                << "column Peak_shape";
    QTest::newRow("text in an integer column") << "update Align_Peaklist set Left_Boundary = 'abc';"
                                               << "invalid stoi argument";
    QTest::newRow("NULL in a key column") << "update Align_Peaklist set Compound_ID = NULL;"
                                          << "Compound_ID";
  }

  void badRowFailsOnClick() {
    QFETCH(QString, sql);
    QFETCH(QString, problem);
    const std::string bad = Join_Path(dir_->path(), "bad rows.aligndb");
    fs::copy_file(good_, bad);
    Exec_Sql(bad, sql.toStdString());
    Open(bad);
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(form_->Visualization_Tab()->alignFileName(), QStringLiteral("bad rows.aligndb"));
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

  void resultDeletedBeforeTheClick() {
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

  void resultEmptiedBeforeTheClick() {
    const std::string copy = Join_Path(dir_->path(), "emptied.aligndb");
    fs::copy_file(good_, copy);
    Open(copy);
    Exec_Sql(copy, "delete from Align_Peaklist;");
    Click(0);  // the row's peaks are gone: empty charts, no failure
    QCOMPARE(dialogs_->messages, QStringList());
  }

  void alignFailureNamesTheFileAndKeepsTheOldResults() {
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

  void alignWorksWithQuotesCommasAndNonAsciiNames() {
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
    QVERIFY(ui_.dataGridView_Align_Peaklist_Table->model()->rowCount() > 0);
    const std::string csv = Read_File(Join_Path(result, kAlignedCsvName));
    QVERIFY(csv.find(",\"QC 1, \"\"first\"\" it's\",") != std::string::npos);
    QVERIFY(csv.find(",\xE6\xA0\xB7\xE5\x93\x81 \xC3\xA9,") != std::string::npos);
  }
};

QTEST_MAIN(BadInputWindowTest)
#include "badinput_qtest.moc"
