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
#include <QtTest>
#include <set>
#include <string>

#include "run/alignment_run.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "tests/ui/support/window_test.h"
#include "ui/text_codec.h"
#include "ui/widgets/align_process_tab.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;
using Varnel::Test::Scripted_Dialogs;

class AlignWindowTest : public Varnel::Test::Window_Test {
  Q_OBJECT

 private:
  std::unique_ptr<Temp_Folder> dir_;
  std::vector<Alignment_Request> runs_;        // requests that reached the (fake) run
  std::vector<Qt::CursorShape> cursors_seen_;  // the override cursor during each of them

  QString Folder() const { return From_Engine_String(dir_->path()); }
  QString Path(const QString& name) const {
    return From_Engine_String(Join_Path(dir_->path(), To_Engine_String(name)));
  }
  std::string Result_File(const char* name) const {
    return Join_Path(Join_Path(dir_->path(), "Result"), name);
  }

  // Picks `paths` through the Browse button.
  void Pick(const QStringList& paths) {
    dialogs_->answers.push_back(paths);
    QTest::mouseClick(ui_.button_Annotation_File_Browse, Qt::LeftButton);
  }
  // Picks the files `names` of the test folder and loads them.
  void Pick_And_Load(const QStringList& names) {
    QStringList paths;
    for (const QString& name : names) paths.push_back(Path(name));
    Pick(paths);
    QTest::mouseClick(ui_.button_Annotation_Load, Qt::LeftButton);
  }
  QStandardItemModel* Table() const {
    return qobject_cast<QStandardItemModel*>(ui_.dataGridView_Annotation_Filelist->model());
  }
  QCheckBox* Header_Box() const {
    return ui_.dataGridView_Annotation_Filelist->findChild<QCheckBox*>("checkboxHeader_Align");
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
  void Click_Align() { QTest::mouseClick(ui_.button_Align_Process, Qt::LeftButton); }

 private slots:
  void init() {
    dir_ = std::make_unique<Temp_Folder>();
    Make_Window();
    runs_.clear();
    cursors_seen_.clear();
    form_->Set_Align_Run([this](const Alignment_Request& request, const Alignment_Run_Observer&) {
      // The run works on a thread of its own: note the cursor, check it on the
      // test's thread.
      const QCursor* cursor = QApplication::overrideCursor();
      cursors_seen_.push_back(cursor ? cursor->shape() : Qt::ArrowCursor);
      runs_.push_back(request);
      return Alignment_Run_Summary{};
    });
    QVERIFY(Show_Window());
  }
  void cleanup() {
    for (const Qt::CursorShape shape : cursors_seen_) QCOMPARE(shape, Qt::WaitCursor);
    form_.reset();
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void windowFrameAndTabs() {
    QCOMPARE(form_->objectName(), QString("Varnel_Form"));
    QCOMPARE(form_->windowTitle(), QString("Varnel"));
    QCOMPARE(form_->size(), QSize(846, 699));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QVERIFY(!(form_->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(ui_.tabControl1->count(), 2);
    QCOMPARE(ui_.tabControl1->tabText(0), QString("Align_Process"));
    QCOMPARE(ui_.tabControl1->tabText(1), QString("Align_Visualization"));
    QCOMPARE(ui_.tabControl1->currentIndex(), 0);
    QCOMPARE(ui_.tabControl1->widget(0), ui_.Tab_Align_Process);
  }

  void everyControlHasItsName_data() {
    QTest::addColumn<QString>("name");
    const QString names =
        "tabControl1 Tab_Align_Process label_Input_Annotation textBox_Align_FilePath "
        "button_Annotation_File_Browse button_Annotation_Load panel_Align_Process "
        "dataGridView_Annotation_Filelist groupBox_Align_Mode radioButton_One_Phase_Align "
        "radioButton_Two_Phase_Align label_Align_Window1 textBox_Align_Window1 "
        "label_Align_Window1_Unit label_Align_Window2 textBox_Align_Window2 "
        "label_Align_Window2_Unit label_Align_Mass_Tol textBox_Align_Mass_Tol "
        "label_Align_Mass_Tol_Unit button_Align_Process button_Estimate "
        "checkBox_RT_Drift_Correction checkBox_Scored_Member_Choice checkBox_Record_Run "
        "Tab_Align_Visualization "
        "label_Select_Align_Result textBox_Align_Result_File button_Align_File_Browse "
        "panel_Align_Peaklist_Table dataGridView_Align_Peaklist_Table "
        "panel_align_peak_visualization groupBox_Standard_Normalize radioButton_Standard "
        "radioButton_Normalized groupBox_Scan_RT radioButton_Scan radioButton_RT_Original "
        "radioButton_RT_Corrected zedGraphControl_AlignedPeaks groupBox_SelectedPeak_Mode "
        "radioButton_PeakPlot radioButton_GroupPlot radioButton_CompoundPlot "
        "zedGraphControl_SlectedPeaks";
    for (const QString& name : names.split(' ')) {
      QTest::newRow(qPrintable(name)) << name;
    }
  }
  void everyControlHasItsName() {
    QFETCH(QString, name);
    QCOMPARE(form_->findChildren<QWidget*>(name).size(), 1);
  }

  void onlyTheFileRowsAreVisibleAtStart() {
    QVERIFY(form_->findChild<QLabel*>("label_Input_Annotation")->isVisible());
    QVERIFY(ui_.textBox_Align_FilePath->isVisible());
    QVERIFY(ui_.textBox_Align_FilePath->text().isEmpty());
    QCOMPARE(ui_.button_Annotation_File_Browse->text(), QString("Browse"));
    QCOMPARE(ui_.button_Annotation_Load->text(), QString("Annotation_File_Load"));
    QVERIFY(ui_.button_Annotation_Load->isVisible());
    QVERIFY(!ui_.panel_Align_Process->isVisible());
    QVERIFY(!form_->Align_Tab()->Result_Data_Load());
    QVERIFY(form_->Align_Tab()->FilePathOut().isEmpty());
    // The visualization page: only its file row, even when the page is shown.
    ui_.tabControl1->setCurrentIndex(1);
    QVERIFY(ui_.textBox_Align_Result_File->isVisible());
    QVERIFY(ui_.button_Align_File_Browse->isVisible());
    QVERIFY(!ui_.panel_Align_Peaklist_Table->isVisible());
    QVERIFY(!ui_.panel_align_peak_visualization->isVisible());
    QVERIFY(ui_.radioButton_Standard->isChecked());
    QVERIFY(ui_.radioButton_Scan->isChecked());
    QVERIFY(ui_.radioButton_PeakPlot->isChecked());
  }

  void loadShowsTheListAndTheParameterPanel() {
    Pick({Path("a.db"), Path("b.DB")});
    QCOMPARE(ui_.textBox_Align_FilePath->text(), Path("a.db") + ";" + Path("b.DB") + ";");
    QCOMPARE(dialogs_->open_calls.size(), std::size_t{1});
    QCOMPARE(dialogs_->open_calls[0].title, QString("Select Annotation Database Files"));
    QCOMPARE(dialogs_->open_calls[0].filter, QString(".db Files (*.db *.DB)"));
    QVERIFY(dialogs_->open_calls[0].multi_select);
    QVERIFY(!ui_.panel_Align_Process->isVisible());  // the grid changes only at a load

    QTest::mouseClick(ui_.button_Annotation_Load, Qt::LeftButton);
    QVERIFY(dialogs_->messages.isEmpty());
    QVERIFY(ui_.panel_Align_Process->isVisible());
    QCOMPARE(ui_.textBox_Align_Window1->text(), QString("20"));
    QCOMPARE(ui_.textBox_Align_Window2->text(), QString("10"));
    QCOMPARE(ui_.textBox_Align_Mass_Tol->text(), QString("0.1"));
    QVERIFY(ui_.radioButton_One_Phase_Align->isChecked());
    QCOMPARE(ui_.radioButton_One_Phase_Align->text(), QString("Fast_Align"));
    QCOMPARE(ui_.groupBox_Align_Mode->title(), QString("Align Mode"));
    QCOMPARE(ui_.button_Align_Process->text(), QString("Align"));

    QTableView* grid = ui_.dataGridView_Annotation_Filelist;
    QCOMPARE(grid->size(), QSize(367, 579));
    QCOMPARE(Table()->rowCount(), 2);
    QCOMPARE(Table()->item(0, 0)->text(), QString("a.db"));
    QCOMPARE(Table()->item(1, 0)->text(), QString("b.DB"));
    QCOMPARE(Table()->item(1, 1)->text(), Folder());
    QVERIFY(grid->isColumnHidden(1));
    QVERIFY(!grid->isColumnHidden(0));
    QVERIFY(!grid->isSortingEnabled());
    QCOMPARE(grid->columnWidth(2), 70);
    QCOMPARE(grid->columnWidth(0), 180);
    QCOMPARE(Table()->headerData(0, Qt::Horizontal).toString(), QString("File Name"));
    QCOMPARE(Table()->headerData(1, Qt::Horizontal).toString(), QString("Folder Name"));
    QCOMPARE(Table()->headerData(2, Qt::Horizontal).toString(), QString("     Align"));
    QVERIFY(!Table()->item(0, 0)->isEditable());
    QVERIFY(Table()->item(0, 2)->isCheckable());
    QCOMPARE(Ticks(), (QStringList{"-", "-"}));
  }

  void runOptionsStartUntickedInFreeSpace() {
    Pick_And_Load({"a.db"});
    QCOMPARE(ui_.checkBox_RT_Drift_Correction->text(), QString("RT_Drift_Correction"));
    QCOMPARE(ui_.checkBox_Record_Run->text(), QString("Record_Run_Details"));
    QCOMPARE(ui_.button_Estimate->text(), QString("Estimate"));
    QCOMPARE(ui_.checkBox_Scored_Member_Choice->text(), QString("Scored_Member_Choice"));
    QVERIFY(!ui_.checkBox_RT_Drift_Correction->isChecked());
    QVERIFY(!ui_.checkBox_Scored_Member_Choice->isChecked());
    QVERIFY(!ui_.checkBox_Record_Run->isChecked());
    // Beside RT_Drift_Correction, on its row.
    QCOMPARE(ui_.checkBox_Scored_Member_Choice->y(), ui_.checkBox_RT_Drift_Correction->y());
    // Inside the panel and clear of every other control of the fixed layout.
    const QRect panel(QPoint(0, 0), ui_.panel_Align_Process->size());
    for (QWidget* added : std::initializer_list<QWidget*>{
             ui_.button_Estimate, ui_.checkBox_RT_Drift_Correction,
             ui_.checkBox_Scored_Member_Choice, ui_.checkBox_Record_Run}) {
      QVERIFY(added->isVisible());
      QVERIFY(panel.contains(added->geometry()));
      for (QObject* child : ui_.panel_Align_Process->children()) {
        auto* other = qobject_cast<QWidget*>(child);
        if (other == nullptr || other == added) continue;
        QVERIFY2(!other->geometry().intersects(added->geometry()),
                 qPrintable(added->objectName() + " over " + other->objectName()));
      }
    }
  }

  void headerTickBoxSitsOnItsCellAndTicksEveryRow() {
    Pick_And_Load({"a.db", "b.db", "c.db"});
    QCheckBox* box = Header_Box();
    QVERIFY(box != nullptr);
    QCOMPARE(box->parentWidget(), ui_.dataGridView_Annotation_Filelist);
    QCOMPARE(box->size(), QSize(15, 15));
    QVERIFY(!box->isChecked());
    QHeaderView* header = ui_.dataGridView_Annotation_Filelist->horizontalHeader();
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
    QTableView* grid = ui_.dataGridView_Annotation_Filelist;
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
    QCOMPARE(ui_.dataGridView_Annotation_Filelist->findChildren<QCheckBox*>().size(), 1);
    QVERIFY(!Header_Box()->isChecked());
  }

  void cancelledPickChangesNothingAndAnEmptyPickAsksAgain() {
    Pick({Path("a.db")});
    dialogs_->answers.push_back(std::nullopt);
    QTest::mouseClick(ui_.button_Annotation_File_Browse, Qt::LeftButton);
    QCOMPARE(ui_.textBox_Align_FilePath->text(), Path("a.db") + ";");
    QVERIFY(dialogs_->messages.isEmpty());

    Pick({});
    QVERIFY(ui_.textBox_Align_FilePath->text().isEmpty());
    QCOMPARE(
        dialogs_->messages,
        QStringList{"Please select the Annotation result Files(.db) that outputed from Ostrand!"});
    QVERIFY(form_->Align_Tab()->Result_Data_Load());
    QCOMPARE(form_->Align_Tab()->Result_Data_Load()->size(), std::size_t{1});
  }

  void refusedLoadHidesThePanelAndKeepsTheGrid() {
    const QString refusal =
        "Please load the Annotation result Files(.db) that outputed from Ostrand!";
    // Typed text without a pick is refused like an empty box.
    QTest::keyClicks(ui_.textBox_Align_FilePath, "/somewhere/x.db;");
    QTest::mouseClick(ui_.button_Annotation_Load, Qt::LeftButton);
    QVERIFY(!ui_.panel_Align_Process->isVisible());
    QCOMPARE(dialogs_->messages, QStringList{refusal});

    Pick_And_Load({"a.db"});
    QVERIFY(ui_.panel_Align_Process->isVisible());
    ui_.textBox_Align_FilePath->clear();
    QTest::mouseClick(ui_.button_Annotation_Load, Qt::LeftButton);
    QVERIFY(!ui_.panel_Align_Process->isVisible());
    QCOMPARE(dialogs_->messages, (QStringList{refusal, refusal}));
    QCOMPARE(Table()->rowCount(), 1);  // the grid keeps its list
  }

  void refusalsComeInOrderAndStillCreateTheResultFolder_data() {
    QTest::addColumn<bool>("deep");
    QTest::addColumn<QString>("window1");
    QTest::addColumn<QString>("window2");
    QTest::addColumn<QString>("mass_tol");
    QTest::addColumn<QString>("expected");
    // Which texts are refused and in which order: PlanAlignTest. Here one row
    // per message, so that each box is read into its own check.
    QTest::newRow("deep, window2 and mass tol empty")
        << true << "20"
        << ""
        << ""
        << "You must configure a valid Align Window2!";
    QTest::newRow("mass tol and window1 bad") << false << "x"
                                              << "10"
                                              << "0.1.2"
                                              << "You must configure a valid Align Mass Tolerance!";
    QTest::newRow("deep, window1 blank") << true << " "
                                         << "10"
                                         << "0.1"
                                         << "You must configure a valid Align Window1!";
  }
  void refusalsComeInOrderAndStillCreateTheResultFolder() {
    QFETCH(bool, deep);
    QFETCH(QString, window1);
    QFETCH(QString, window2);
    QFETCH(QString, mass_tol);
    QFETCH(QString, expected);
    Pick_And_Load({"a.db"});
    (deep ? ui_.radioButton_Two_Phase_Align : ui_.radioButton_One_Phase_Align)->setChecked(true);
    ui_.textBox_Align_Window1->setText(window1);
    ui_.textBox_Align_Window2->setText(window2);
    ui_.textBox_Align_Mass_Tol->setText(mass_tol);
    QVERIFY(!QFileInfo::exists(Path("Result")));
    Click_Align();
    // The specified message first; a line saying what is valid may follow.
    QCOMPARE(dialogs_->messages.size(), 1);
    QCOMPARE(dialogs_->messages.first().section('\n', 0, 0), expected);
    QVERIFY(runs_.empty());
    QVERIFY(QFileInfo(Path("Result")).isDir());
    QCOMPARE(form_->Align_Tab()->FilePathOut(), Path("Result"));
  }

  void twoOfThreeTickedFilesPassInGridOrder() {
    Pick_And_Load({"c.db", "a.db", "b.db"});
    Tick(2, true);
    Tick(0, true);
    Click_Align();
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
    QCOMPARE(runs_.size(), std::size_t{1});
    const Alignment_Request& run = runs_[0];
    QCOMPARE(run.files,
             (std::vector<Annotated_File>{{dir_->path(), "c.db"}, {dir_->path(), "b.db"}}));
    QCOMPARE(run.mode, One_Phase_Align);
    QCOMPARE(run.Mass_Tol.value, 0.1);
    QCOMPARE(run.Align_Window1, 20.0);
    QCOMPARE(run.Align_Window2, 10.0);
    QCOMPARE(QString::fromStdString(run.result_folder), Path("Result"));
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void deepModePassesItsWindow() {
    Pick_And_Load({"a.db"});
    Tick(0, true);
    ui_.radioButton_Two_Phase_Align->setChecked(true);
    ui_.textBox_Align_Window2->setText("4");
    Click_Align();
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
    QCOMPARE(runs_.size(), std::size_t{1});
    QCOMPARE(runs_[0].mode, Two_Phase_Align);
    QCOMPARE(runs_[0].Align_Window2, 4.0);
  }

  // One stray click must not replace the last result with empty files.
  void noTickedFileRefusesAndWritesNothing() {
    Pick_And_Load({"a.db"});
    Click_Align();
    QCOMPARE(dialogs_->messages, QStringList{kNoFileMessage});
    QVERIFY(runs_.empty());
  }

  // In a decimal-comma locale the untouched defaults still pass, and the
  // locale's own "0,05" is read too.
  void defaultsPassInAGermanLocale() {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Pick_And_Load({"a.db"});
    Tick(0, true);
    Click_Align();
    ui_.textBox_Align_Mass_Tol->setText("0,05");
    Click_Align();
    QLocale::setDefault(saved);
    QCOMPARE(dialogs_->messages,
             (QStringList{"Align Process Finished!", "Align Process Finished!"}));
    QCOMPARE(runs_.size(), std::size_t{2});
    QCOMPARE(runs_[0].Mass_Tol.value, 0.1);
    QCOMPARE(runs_[1].Mass_Tol.value, 0.05);
  }

  // A real run on a file that is no database: BadInputWindowTest.
  void storageFailureIsShownAndTheCursorRestored() {
    // The storage layer's exception, which has no standard base, is caught too.
    form_->Set_Align_Run(
        [](const Alignment_Request&, const Alignment_Run_Observer&) -> Alignment_Run_Summary {
          throw CppSQLite3Exception(1000, "Database not open");
        });
    Pick_And_Load({"a.db"});
    Tick(0, true);
    Click_Align();
    // Its detail, without the layer's code name.
    QCOMPARE(dialogs_->messages, QStringList{"Database not open"});
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
    const Simulation_Result study = Make_Study(dir_->path(), 3, 25);
    QStringList names;
    for (const std::string& name : study.database_names) names.push_back(From_Engine_String(name));
    form_->Set_Align_Run({});
    Pick_And_Load(names);
    Tick(2, true);
    Tick(0, true);
    Click_Align();
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
    QVERIFY(QFileInfo(From_Engine_String(Result_File(kAlignedDbName))).size() > 0);
    // Only the two ticked samples, numbered in grid order.
    std::set<std::pair<std::string, std::string>> samples;
    for (const Csv_Row& row : Read_Csv(Result_File(kAlignedCsvName))) {
      samples.insert({row.at("SAMPLE_ID"), row.at("SAMPLE_NAME")});
    }
    const std::set<std::pair<std::string, std::string>> expected = {{"0", study.sample_names[0]},
                                                                    {"1", study.sample_names[2]}};
    QVERIFY(samples == expected);
  }
};

QTEST_MAIN(AlignWindowTest)
#include "align_window_qtest.moc"
