// The real window on the offscreen platform: what is visible when, the file
// table and its header tick box, and every path through Align, with the file
// dialog and the message boxes replaced by a script.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <deque>
#include <stdexcept>

#include "align/alignment_run.h"
#include "storage/cppsqlite3.h"
#include "tests/ui/support/align_study.h"
#include "tools/simulate.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

namespace {

// Answers file dialogs from a queue and records every message instead of
// blocking on it.
class Scripted_Dialogs : public Form_Dialogs {
 public:
  struct Open_Call {
    QString title, folder, filter;
    bool multi_select;
  };
  std::deque<std::optional<QStringList>> answers;
  std::vector<Open_Call> open_calls;
  QStringList messages;

  std::optional<QStringList> Open_Files(QWidget*, const QString& title, const QString& folder,
                                        const QString& filter, bool multi_select) override {
    open_calls.push_back({title, folder, filter, multi_select});
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Show_Message(QWidget*, const QString& text) override { messages.push_back(text); }
};

}  // namespace

class AlignWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<Varnel_Form> form_;
  Scripted_Dialogs* dialogs_ = nullptr;  // owned by form_
  std::unique_ptr<QTemporaryDir> dir_;
  std::vector<Align_Request> runs_;  // requests that reached the (fake) run

  QString Path(const QString& name) const { return Test::Join(dir_->path(), name); }
  QString Result_File(const char* name) const { return Test::Join(Path("Result"), name); }

  // Picks `paths` through the Browse button.
  void Pick(const QStringList& paths) {
    dialogs_->answers.push_back(paths);
    QTest::mouseClick(form_->button_Annotation_File_Browse, Qt::LeftButton);
  }
  // Picks the files `names` of the test folder and loads them.
  void Pick_And_Load(const QStringList& names) {
    QStringList paths;
    for (const QString& name : names) paths.push_back(Path(name));
    Pick(paths);
    QTest::mouseClick(form_->button_Annotation_Load, Qt::LeftButton);
  }
  QStandardItemModel* Table() const {
    return qobject_cast<QStandardItemModel*>(form_->dataGridView_Annotation_Filelist->model());
  }
  QCheckBox* Header_Box() const {
    return form_->dataGridView_Annotation_Filelist->findChild<QCheckBox*>("checkboxHeader_Align");
  }
  void Tick(int row, bool ticked) {
    Table()->item(row, 2)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  }
  QStringList Ticks() const {
    QStringList ticks;
    for (int row = 0; row < Table()->rowCount(); ++row) {
      ticks.push_back(Table()->item(row, 2)->checkState() == Qt::Checked ? "x" : "-");
    }
    return ticks;
  }
  void Click_Align() { QTest::mouseClick(form_->button_Align_Process, Qt::LeftButton); }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    auto dialogs = std::make_unique<Scripted_Dialogs>();
    dialogs_ = dialogs.get();
    form_ = std::make_unique<Varnel_Form>(std::move(dialogs));
    runs_.clear();
    form_->Set_Align_Run([this](const Align_Request& request) {
      QVERIFY(QApplication::overrideCursor() != nullptr);
      QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
      runs_.push_back(request);
    });
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }
  void cleanup() {
    form_.reset();
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void windowFrameAndTabs() {
    QCOMPARE(form_->objectName(), QString("Varnel_Form"));
    QCOMPARE(form_->windowTitle(), QString("Varnel"));
    QCOMPARE(form_->size(), QSize(846, 699));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QVERIFY(!(form_->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(form_->tabControl1->count(), 2);
    QCOMPARE(form_->tabControl1->tabText(0), QString("Align_Process"));
    QCOMPARE(form_->tabControl1->tabText(1), QString("Align_Visualization"));
    QCOMPARE(form_->tabControl1->currentIndex(), 0);
    QCOMPARE(form_->tabControl1->widget(0), form_->Tab_Align_Process);
  }

  void everyControlHasItsName_data() {
    QTest::addColumn<QString>("name");
    for (const char* name : {"tabControl1",
                             "Tab_Align_Process",
                             "label_Input_Annotation",
                             "textBox_Align_FilePath",
                             "button_Annotation_File_Browse",
                             "button_Annotation_Load",
                             "panel_Align_Process",
                             "dataGridView_Annotation_Filelist",
                             "groupBox_Align_Mode",
                             "radioButton_One_Phase_Align",
                             "radioButton_Two_Phase_Align",
                             "label_Align_Window1",
                             "textBox_Align_Window1",
                             "label_Align_Window1_Unit",
                             "label_Align_Window2",
                             "textBox_Align_Window2",
                             "label_Align_Window2_Unit",
                             "label_Align_Mass_Tol",
                             "textBox_Align_Mass_Tol",
                             "label_Align_Mass_Tol_Unit",
                             "button_Align_Process",
                             "Tab_Align_Visualization",
                             "label_Select_Align_Result",
                             "textBox_Align_Result_File",
                             "button_Align_File_Browse",
                             "panel_Align_Peaklist_Table",
                             "dataGridView_Align_Peaklist_Table",
                             "panel_align_peak_visualization",
                             "groupBox_Standard_Normalize",
                             "radioButton_Standard",
                             "radioButton_Normalized",
                             "groupBox_Scan_RT",
                             "radioButton_Scan",
                             "radioButton_RT_Original",
                             "radioButton_RT_Corrected",
                             "zedGraphControl_AlignedPeaks",
                             "groupBox_SelectedPeak_Mode",
                             "radioButton_PeakPlot",
                             "radioButton_GroupPlot",
                             "radioButton_CompoundPlot",
                             "zedGraphControl_SlectedPeaks"}) {
      QTest::newRow(name) << QString(name);
    }
  }
  void everyControlHasItsName() {
    QFETCH(QString, name);
    QCOMPARE(form_->findChildren<QWidget*>(name).size(), 1);
  }

  void onlyTheFileRowsAreVisibleAtStart() {
    QVERIFY(form_->label_Input_Annotation->isVisible());
    QVERIFY(form_->textBox_Align_FilePath->isVisible());
    QVERIFY(form_->textBox_Align_FilePath->text().isEmpty());
    QCOMPARE(form_->button_Annotation_File_Browse->text(), QString("Browse"));
    QCOMPARE(form_->button_Annotation_Load->text(), QString("Annotation_File_Load"));
    QVERIFY(form_->button_Annotation_Load->isVisible());
    QVERIFY(!form_->panel_Align_Process->isVisible());
    QVERIFY(!form_->Result_Data_Load);
    QVERIFY(form_->FilePathOut.isEmpty());
    // The visualization page: only its file row, even when the page is shown.
    form_->tabControl1->setCurrentIndex(1);
    QVERIFY(form_->textBox_Align_Result_File->isVisible());
    QVERIFY(form_->button_Align_File_Browse->isVisible());
    QVERIFY(!form_->panel_Align_Peaklist_Table->isVisible());
    QVERIFY(!form_->panel_align_peak_visualization->isVisible());
    QVERIFY(form_->radioButton_Standard->isChecked());
    QVERIFY(form_->radioButton_Scan->isChecked());
    QVERIFY(form_->radioButton_PeakPlot->isChecked());
  }

  void loadShowsTheListAndTheParameterPanel() {
    Pick({Path("a.db"), Path("b.DB")});
    QCOMPARE(form_->textBox_Align_FilePath->text(), Path("a.db") + ";" + Path("b.DB") + ";");
    QCOMPARE(dialogs_->open_calls.size(), std::size_t{1});
    QCOMPARE(dialogs_->open_calls[0].title, QString("Select Annotation Database Files"));
    QCOMPARE(dialogs_->open_calls[0].filter, QString(".db Files (*.db *.DB)"));
    QVERIFY(dialogs_->open_calls[0].multi_select);
    QVERIFY(!form_->panel_Align_Process->isVisible());  // the grid changes only at a load

    QTest::mouseClick(form_->button_Annotation_Load, Qt::LeftButton);
    QVERIFY(dialogs_->messages.isEmpty());
    QVERIFY(form_->panel_Align_Process->isVisible());
    QCOMPARE(form_->textBox_Align_Window1->text(), QString("20"));
    QCOMPARE(form_->textBox_Align_Window2->text(), QString("10"));
    QCOMPARE(form_->textBox_Align_Mass_Tol->text(), QString("0.1"));
    QVERIFY(form_->radioButton_One_Phase_Align->isChecked());
    QCOMPARE(form_->radioButton_One_Phase_Align->text(), QString("Fast_Align"));
    QCOMPARE(form_->groupBox_Align_Mode->title(), QString("Align Mode"));
    QCOMPARE(form_->button_Align_Process->text(), QString("Align"));

    QTableView* grid = form_->dataGridView_Annotation_Filelist;
    QCOMPARE(grid->size(), QSize(367, 579));
    QCOMPARE(Table()->rowCount(), 2);
    QCOMPARE(Table()->item(0, 0)->text(), QString("a.db"));
    QCOMPARE(Table()->item(1, 0)->text(), QString("b.DB"));
    QCOMPARE(Table()->item(1, 1)->text(), dir_->path());
    QVERIFY(grid->isColumnHidden(1));
    QVERIFY(!grid->isColumnHidden(0));
    QVERIFY(!grid->isSortingEnabled());
    QCOMPARE(grid->columnWidth(2), 70);
    QCOMPARE(grid->columnWidth(0), 180);
    QCOMPARE(Ticks(), (QStringList{"-", "-"}));
  }

  void headerTickBoxSitsOnItsCellAndTicksEveryRow() {
    Pick_And_Load({"a.db", "b.db", "c.db"});
    QCheckBox* box = Header_Box();
    QVERIFY(box != nullptr);
    QCOMPARE(box->parentWidget(), form_->dataGridView_Annotation_Filelist);
    QCOMPARE(box->size(), QSize(15, 15));
    QVERIFY(!box->isChecked());
    QHeaderView* header = form_->dataGridView_Annotation_Filelist->horizontalHeader();
    QTRY_COMPARE(box->pos(), header->pos() + QPoint(header->sectionViewportPosition(2) + 2, 4));

    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(Ticks(), (QStringList{"x", "x", "x"}));
    Tick(1, false);
    QCOMPARE(Ticks(), (QStringList{"x", "-", "x"}));
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(Ticks(), (QStringList{"-", "-", "-"}));
    Tick(2, true);
    QCOMPARE(Ticks(), (QStringList{"-", "-", "x"}));

    // A user's click on a tick cell's box ticks that row alone.
    QTableView* grid = form_->dataGridView_Annotation_Filelist;
    const QRect cell = grid->visualRect(Table()->index(0, 2));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      QPoint(cell.left() + 10, cell.center().y()));
    QCOMPARE(Ticks(), (QStringList{"x", "-", "x"}));
  }

  void secondLoadShowsOnlyTheNewFilesWithAFreshTickBox() {
    Pick_And_Load({"a.db", "b.db"});
    QTest::mouseClick(Header_Box(), Qt::LeftButton);
    Pick_And_Load({"c.db"});
    QCOMPARE(Table()->rowCount(), 1);
    QCOMPARE(Table()->item(0, 0)->text(), QString("c.db"));
    QCOMPARE(Ticks(), QStringList{"-"});
    QCOMPARE(form_->dataGridView_Annotation_Filelist->findChildren<QCheckBox*>().size(), 1);
    QVERIFY(!Header_Box()->isChecked());
  }

  void cancelledPickChangesNothingAndAnEmptyPickAsksAgain() {
    Pick({Path("a.db")});
    dialogs_->answers.push_back(std::nullopt);
    QTest::mouseClick(form_->button_Annotation_File_Browse, Qt::LeftButton);
    QCOMPARE(form_->textBox_Align_FilePath->text(), Path("a.db") + ";");
    QVERIFY(dialogs_->messages.isEmpty());

    Pick({});
    QVERIFY(form_->textBox_Align_FilePath->text().isEmpty());
    QCOMPARE(
        dialogs_->messages,
        QStringList{"Please select the Annotation result Files(.db) that outputed from Ostrand!"});
    QVERIFY(form_->Result_Data_Load);
    QCOMPARE(form_->Result_Data_Load->size(), std::size_t{1});
  }

  void refusedLoadHidesThePanel() {
    Pick_And_Load({"a.db"});
    QVERIFY(form_->panel_Align_Process->isVisible());
    form_->textBox_Align_FilePath->clear();
    QTest::mouseClick(form_->button_Annotation_Load, Qt::LeftButton);
    QVERIFY(!form_->panel_Align_Process->isVisible());
    QCOMPARE(
        dialogs_->messages,
        QStringList{"Please load the Annotation result Files(.db) that outputed from Ostrand!"});
    QCOMPARE(Table()->rowCount(), 1);  // the grid keeps its list
  }

  void typedTextWithoutAPickIsRefused() {
    QTest::keyClicks(form_->textBox_Align_FilePath, "/somewhere/x.db;");
    QTest::mouseClick(form_->button_Annotation_Load, Qt::LeftButton);
    QVERIFY(!form_->panel_Align_Process->isVisible());
    QCOMPARE(
        dialogs_->messages,
        QStringList{"Please load the Annotation result Files(.db) that outputed from Ostrand!"});
  }

  void refusalsComeInOrderAndStillCreateTheResultFolder_data() {
    QTest::addColumn<bool>("deep");
    QTest::addColumn<QString>("window1");
    QTest::addColumn<QString>("window2");
    QTest::addColumn<QString>("mass_tol");
    QTest::addColumn<QString>("expected");
    const QString w2 = "You must configure a valid Align Window2!";
    const QString tol = "You must configure a valid Align Mass Tolerance!";
    const QString w1 = "You must configure a valid Align Window1!";
    QTest::newRow("deep, window2 and mass tol empty") << true << "20"
                                                      << ""
                                                      << "" << w2;
    QTest::newRow("deep, window2 letters") << true << "20"
                                           << "ten"
                                           << "0.1" << w2;
    QTest::newRow("fast, window2 empty, mass tol empty") << false << "20"
                                                         << ""
                                                         << "" << tol;
    QTest::newRow("mass tol and window1 bad") << false << "x"
                                              << "10"
                                              << "0.1.2" << tol;
    QTest::newRow("window1 empty") << false << ""
                                   << "10"
                                   << "0.1" << w1;
    QTest::newRow("deep, window1 blank") << true << " "
                                         << "10"
                                         << "0.1" << w1;
  }
  void refusalsComeInOrderAndStillCreateTheResultFolder() {
    QFETCH(bool, deep);
    QFETCH(QString, window1);
    QFETCH(QString, window2);
    QFETCH(QString, mass_tol);
    QFETCH(QString, expected);
    Pick_And_Load({"a.db"});
    (deep ? form_->radioButton_Two_Phase_Align : form_->radioButton_One_Phase_Align)
        ->setChecked(true);
    form_->textBox_Align_Window1->setText(window1);
    form_->textBox_Align_Window2->setText(window2);
    form_->textBox_Align_Mass_Tol->setText(mass_tol);
    QVERIFY(!QFileInfo::exists(Path("Result")));
    Click_Align();
    QCOMPARE(dialogs_->messages, QStringList{expected});
    QVERIFY(runs_.empty());
    QVERIFY(QFileInfo(Path("Result")).isDir());
    QCOMPARE(form_->FilePathOut, Path("Result"));
  }

  void twoOfThreeTickedFilesPassInGridOrder() {
    Pick_And_Load({"c.db", "a.db", "b.db"});
    Tick(2, true);
    Tick(0, true);
    Click_Align();
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
    QCOMPARE(runs_.size(), std::size_t{1});
    const Align_Request& run = runs_[0];
    QCOMPARE(run.Annotation_File_Vec, (std::vector<std::string>{"c.db", "b.db"}));
    QCOMPARE(run.One_Two_Phase_Align, 0);
    QCOMPARE(run.Mass_Tol, 0.1);
    QCOMPARE(run.Align_Window1, 20.0);
    QCOMPARE(run.Align_Window2, 10.0);
    QCOMPARE(QString::fromStdString(run.Data_Folder), dir_->path());
    QCOMPARE(QString::fromStdString(run.Result_folder), Path("Result"));
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void deepModeWithoutTicksStillRuns() {
    Pick_And_Load({"a.db"});
    form_->radioButton_Two_Phase_Align->setChecked(true);
    form_->textBox_Align_Window2->setText("4");
    Click_Align();
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
    QCOMPARE(runs_.size(), std::size_t{1});
    QCOMPARE(runs_[0].One_Two_Phase_Align, 1);
    QCOMPARE(runs_[0].Align_Window2, 4.0);
    QVERIFY(runs_[0].Annotation_File_Vec.empty());
  }

  void failedRunIsShownAndTheCursorRestored() {
    // A real run on a file that is no database: the failure names the file.
    QFile garbage(Path("a.db"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    form_->Set_Align_Run({});
    Pick_And_Load({"a.db"});
    Tick(0, true);
    Click_Align();
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY2(dialogs_->messages[0].contains("a.db"), qPrintable(dialogs_->messages[0]));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!QFileInfo::exists(Result_File(kAlignedCsvName)));
    QVERIFY(!QFileInfo::exists(Result_File(kAlignedDbName)));

    // The storage layer's exception, which has no standard base, is caught too.
    form_->Set_Align_Run(
        [](const Align_Request&) { throw CppSQLite3Exception(1000, "Database not open"); });
    Click_Align();
    QCOMPARE(dialogs_->messages.size(), 2);
    QCOMPARE(dialogs_->messages[1], QString("CPPSQLITE_ERROR[1000]: Database not open"));
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void resultFolderThatCannotBeMadeIsReported() {
    QFile blocker(Path("Result"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Pick_And_Load({"a.db"});
    Click_Align();
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages[0].contains(Path("Result")));
    QVERIFY(runs_.empty());
  }

  void realAlignmentOfASimulatedStudyWritesBothResultFiles() {
    Simulation_Options options;
    options.samples = 3;
    options.compounds = 25;
    const Simulation_Result study = Simulate_Study(options, Test::To_Std(dir_->path()));
    QStringList names;
    for (const std::string& name : study.database_names)
      names.push_back(QString::fromStdString(name));
    form_->Set_Align_Run({});
    Pick_And_Load(names);
    Tick(2, true);
    Tick(0, true);
    Click_Align();
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
    QVERIFY(QFileInfo(Result_File(kAlignedDbName)).size() > 0);
    const QString csv = Result_File(kAlignedCsvName);
    const auto sample_names = Test::Read_Csv_Column(csv, "SAMPLE_NAME");
    const auto sample_ids = Test::Read_Csv_Column(csv, "SAMPLE_ID");
    QVERIFY(sample_names && sample_ids);
    QVERIFY(!sample_names->isEmpty());
    // Only the two ticked samples, numbered in grid order.
    const QString first = QString::fromStdString(study.sample_names[0]);
    const QString third = QString::fromStdString(study.sample_names[2]);
    QVERIFY(sample_names->contains(first));
    QVERIFY(sample_names->contains(third));
    for (qsizetype i = 0; i < sample_names->size(); ++i) {
      QVERIFY2((*sample_names)[i] == first || (*sample_names)[i] == third,
               qPrintable((*sample_names)[i]));
      QCOMPARE((*sample_ids)[i], QString((*sample_names)[i] == first ? "0" : "1"));
    }
  }
};

QTEST_MAIN(AlignWindowTest)
#include "align_window_qtest.moc"
