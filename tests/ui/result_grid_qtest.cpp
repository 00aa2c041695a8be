// The result grid's row tooltip and its context menu entries (Find, Export,
// Alignment quality, Run details) in the real window, offscreen.
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QTableView>
#include <QToolTip>
#include <QtTest>

#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "tests/ui/support/viz_study.h"
#include "tests/ui/support/window_test.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/result_export_ui.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/quality_window.h"
#include "ui/widgets/run_details_dialog.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;
using Varnel::Test::Make_Peak;
using Varnel::Test::Peak_Recipe;

namespace {

// A lone peak at (mz, rt); an aligned one has its own time as Align_RT.
Peak_Recipe Recipe(std::uint32_t sample, std::uint32_t eic, std::uint32_t align_id, double mz,
                   double rt) {
  Peak_Recipe s = Varnel::Test::Lone_Peak(sample, eic, align_id, rt);
  s.apex_mz = mz;  // Compound_MolecularMass is apex_mz - 1.007276
  s.align_rt = align_id == 0 ? 0.0 : rt;
  return s;
}

}  // namespace

class ResultGridTest : public Varnel::Test::Window_Test {
  Q_OBJECT

 private:
  std::unique_ptr<Temp_Folder> dir_;
  const Align_Table_Model* model_ = nullptr;

  QString Path(const char* name) const {
    return QString::fromStdString(Join_Path(dir_->path(), name));
  }
  // Triggers the grid's context entry `text`.
  void Entry(const char* text) {
    for (QAction* action : ui_.dataGridView_Align_Peaklist_Table->actions()) {
      if (action->text() == QLatin1String(text)) {
        action->trigger();
        return;
      }
    }
    QFAIL(text);
  }
  int Current_Cell(int column) const {
    return model_->Int_Cell(form_->Visualization_Tab()->Current_Row(), column).value_or(-1);
  }

 private slots:
  void init() {
    dir_ = std::make_unique<Temp_Folder>();
    // Align_ID 3 in samples 0 and 1, Align_ID 7 in samples 2 and 5, one
    // unaligned peak of sample 1.
    Varnel::Test::Write_Aligned_Result(
        {Make_Peak(Recipe(1, 30, 0, 611.3, 140.0)), Make_Peak(Recipe(0, 10, 3, 302.1, 98.0)),
         Make_Peak(Recipe(1, 11, 3, 302.1, 102.0)), Make_Peak(Recipe(2, 20, 7, 456.2, 60.0)),
         Make_Peak(Recipe(5, 50, 7, 456.2, 62.0))},
        dir_->path(), "study.aligndb");
    Make_Window();
    ui_.tabControl1->setCurrentWidget(ui_.Tab_Align_Visualization);
    QVERIFY(Show_Window());
    dialogs_->answers.push_back(QStringList{Path("study.aligndb")});
    ui_.button_Align_File_Browse->click();
    model_ = &form_->Visualization_Tab()->Grid_Model();
    QCOMPARE(model_->rowCount(), 5);
  }
  void cleanup() {
    form_.reset();
    dir_.reset();
  }

  void tooltipNamesTheRowsCompound() {
    QTableView* grid = ui_.dataGridView_Align_Peaklist_Table;
    int row = 0;
    while (model_->Int_Cell(row, kCol_EIC_ID) != 50) ++row;
    const QRect cell = grid->visualRect(model_->index(row, 0));
    QHelpEvent event(QEvent::ToolTip, cell.center(), grid->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(grid->viewport(), &event);
    const QStringList lines = QToolTip::text().split('\n');
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QString("Align_ID: 7"));
    QVERIFY2(lines[1].startsWith("Compound_MolecularMass: 455.19"), qPrintable(lines[1]));
    QCOMPARE(lines[2], QString("Compound_Retention_Time: 62"));
    QCOMPARE(lines[3], QString("Adduct_Annotation: [M+H]+"));
    QCOMPARE(lines[4], QString("SAMPLE_NAME: Sample 5"));
  }

  void findGoesToTheRowAndRedrawsIt_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("eic");       // EIC_ID of the row found
    QTest::addColumn<QString>("said");  // how far it is; empty: nothing said
    const int id = static_cast<int>(Find_Key::kAlign_ID);
    const int mass = static_cast<int>(Find_Key::kCompound_MolecularMass);
    const int rt = static_cast<int>(Find_Key::kAlign_RT);
    QTest::newRow("Align_ID, its first row") << id << "7" << 20 << "";
    QTest::newRow("Align_ID 0") << id << " 0 " << 30 << "";
    QTest::newRow("mass between two, nearer the upper")
        << mass << "400" << 20 << "Nearest mass 455.193, 55.193 Da away";
    QTest::newRow("mass beyond every row")
        << mass << "9999" << 30 << "Nearest mass 610.293, 9388.707 Da away";
    QTest::newRow("mass exactly") << mass << "301.092724" << 10 << "Nearest mass 301.093, exactly";
    QTest::newRow("RT nearest") << rt << "61.2" << 50 << "Nearest time 62 s (Align_RT), 0.8 s away";
    QTest::newRow("RT tie: the first shown")
        << rt << "100" << 10 << "Nearest time 98 s (Align_RT), 2 s away";
    // The unaligned row (Compound_Retention_Time 140, no Align_RT) is passed over.
    QTest::newRow("RT of no alignment")
        << rt << "139" << 11 << "Nearest time 102 s (Align_RT), 37 s away";
  }
  void findGoesToTheRowAndRedrawsIt() {
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(int, eic);
    QFETCH(QString, said);
    QSignalSpy redraws(form_.get(), &Varnel_Form::Redrawn);
    dialogs_->find_answers.push_back(Find_Request{static_cast<Find_Key>(key), text});
    Entry("Find...");
    QCOMPARE(Current_Cell(kCol_EIC_ID), eic);
    QCOMPARE(redraws.count(), 1);
    QVERIFY(ui_.panel_align_peak_visualization->isVisible());
    QCOMPARE(dialogs_->messages, said.isEmpty() ? QStringList() : QStringList{said});
    // Finding the current row again draws it again.
    dialogs_->find_answers.push_back(Find_Request{static_cast<Find_Key>(key), text});
    Entry("Find...");
    QCOMPARE(redraws.count(), 2);
  }

  void findSearchesTimesOnTheCorrectedScale() {
    // Align_RT on the corrected scale, far from the times as measured.
    Varnel::Test::Write_Aligned_Result(
        {Make_Peak(Recipe(0, 10, 1, 302.1, 98.0)), Make_Peak(Recipe(1, 11, 2, 402.1, 150.0))},
        dir_->path(), "corrected.aligndb");
    Exec_Sql(Join_Path(dir_->path(), "corrected.aligndb"),
             "update Align_Peaklist set Align_RT = Compound_Retention_Time + 100");
    dialogs_->answers.push_back(QStringList{Path("corrected.aligndb")});
    ui_.button_Align_File_Browse->click();
    dialogs_->find_answers.push_back(Find_Request{Find_Key::kAlign_RT, "199"});
    Entry("Find...");
    QCOMPARE(Current_Cell(kCol_EIC_ID), 10);
    QCOMPARE(dialogs_->messages, QStringList{"Nearest time 198 s (Align_RT), 1 s away"});
  }

  void findRefusesWhatItCannotFind() {
    ui_.dataGridView_Align_Peaklist_Table->selectRow(1);
    const int before = form_->Visualization_Tab()->Current_Row();
    dialogs_->find_answers = {Find_Request{Find_Key::kAlign_ID, "4"},
                              Find_Request{Find_Key::kAlign_ID, "3.5"},
                              Find_Request{Find_Key::kCompound_MolecularMass, "x"}, std::nullopt};
    for (int i = 0; i < 4; ++i) Entry("Find...");
    QCOMPARE(dialogs_->messages,
             (QStringList{"No row has Align_ID 4.", "Please enter a number to find in Align_ID.",
                          "Please enter a number to find in Compound_MolecularMass."}));
    QCOMPARE(form_->Visualization_Tab()->Current_Row(), before);
  }

  void ctrlFOnTheGridAsksWhatToFind() {
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    ui_.dataGridView_Align_Peaklist_Table->setFocus();
    dialogs_->find_answers.push_back(Find_Request{Find_Key::kAlign_ID, "3"});
    QTest::keyClick(ui_.dataGridView_Align_Peaklist_Table, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(dialogs_->find_calls, 1);
    QCOMPARE(Current_Cell(kCol_Align_ID), 3);
  }

  void exportCorrectsWithTheQcsWhenAsked() {
    Write_File(Path("sheet.csv").toStdString(),
               "sample,class\nSample 0,QC\nSample 1,A\nSample 2,QC\nSample 5,A\n");
    dialogs_->save_answers.push_back(Path("corrected.csv"));
    dialogs_->signal_answer.method = Signal_Method::kQcMedian;
    dialogs_->answers.push_back(QStringList{Path("sheet.csv")});
    Entry("Export...");
    QVERIFY(QFileInfo::exists(Path("corrected.csv.signal.tsv")));
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY2(dialogs_->messages[0].contains(QStringLiteral("signal: qc-median over 1 batch")),
             qPrintable(dialogs_->messages[0]));
  }

  void exportWritesTheChosenFormat() {
    // Cancelled: nothing written.
    Entry("Export...");
    QCOMPARE(dialogs_->save_calls.size(), std::size_t{1});
    QCOMPARE(dialogs_->save_calls[0].filter, Export_Dialog_Filter());
    QCOMPARE(dialogs_->save_calls[0].folder, Path("study_features.csv"));
    // The feature table of the quantity chosen, and a message naming it.
    dialogs_->save_answers.push_back(Path("features.csv"));
    dialogs_->quantity_answers.push_back(Export_Quantity::kArea);
    Entry("Export...");
    Export_Options area;
    area.quantity = Export_Quantity::kArea;
    Export_Result(Path("study.aligndb").toStdString(), area, Path("area.csv").toStdString());
    QCOMPARE(Read_File(Path("features.csv").toStdString()),
             Read_File(Path("area.csv").toStdString()));
    QCOMPARE(dialogs_->messages, QStringList{Export_Written_Message(Path("features.csv"))});
    dialogs_->messages.clear();
    // Cancelling the quantity writes nothing.
    dialogs_->save_answers.push_back(Path("none.csv"));
    dialogs_->quantity_answers.push_back(std::nullopt);
    Entry("Export...");
    QVERIFY(!QFileInfo::exists(Path("none.csv")));
    // The file name follows the type chosen: mzTab-M over the name offered
    // for the feature table, and over a name without an extension.
    dialogs_->save_filter_answer = Export_Filter_Of(Export_Format::kMzTab);
    dialogs_->save_answers.push_back(Path("study_features.csv"));
    dialogs_->save_answers.push_back(Path("plain"));
    Entry("Export...");
    Entry("Export...");
    QVERIFY(Read_File(Path("study.mzTab").toStdString()).starts_with("MTD"));
    QVERIFY(Read_File(Path("plain.mzTab").toStdString()).starts_with("MTD"));
    QVERIFY(!QFileInfo::exists(Path("study_features.csv")));
    QCOMPARE(dialogs_->messages.size(), 2);
    QCOMPARE(dialogs_->messages[0], Export_Written_Message(Path("study.mzTab")));
    // A fitted name that exists is replaced only when the user says so.
    dialogs_->save_answers.push_back(Path("study_features.csv"));
    Entry("Export...");
    // The two mzTab exports above were each offered a sample sheet (No).
    QCOMPARE(dialogs_->questions.size(), 3);
    QVERIFY(dialogs_->questions[0].startsWith("mzTab-M 2.0 takes each sample's study variable"));
    QVERIFY(dialogs_->questions[2].contains(Path("study.mzTab")));
    QCOMPARE(dialogs_->messages.size(), 2);
    dialogs_->messages.clear();
    // MetaboAnalyst asks for the sample sheet.
    Write_File(Path("sheet.csv").toStdString(),
               "sample,group\nSample 0,A\nSample 1,B\nSample 2,A\nSample 5,B\n");
    dialogs_->save_filter_answer = Export_Filter_Of(Export_Format::kMetaboAnalyst);
    dialogs_->save_answers.push_back(Path("metabo.csv"));
    dialogs_->answers.push_back(QStringList{Path("sheet.csv")});
    Entry("Export...");
    QCOMPARE(dialogs_->open_calls.back().filter, Sample_Sheet_Dialog_Filter());
    QVERIFY(dialogs_->open_calls.back().title.contains("sample,group"));
    QVERIFY(Read_File(Path("metabo.csv").toStdString()).find("Label") != std::string::npos);
    // The sheet's need is said in a message's body before the sheet is asked for.
    QCOMPARE(dialogs_->messages.size(), 2);
    QVERIFY(dialogs_->messages[0].startsWith("A MetaboAnalyst"));
    QVERIFY(dialogs_->messages[0].contains("SAMPLE_NAME"));
    QCOMPARE(dialogs_->messages[1], Export_Written_Message(Path("metabo.csv")));
    dialogs_->messages.clear();
    // A failure of the export is one message naming the file.
    dialogs_->save_answers.push_back(Path("study.aligndb"));
    dialogs_->save_filter_answer.clear();
    Entry("Export...");
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages[0].contains("study.aligndb"));
  }

  void qualityAndRunDetailsOpenTheirWindows() {
    Entry("Run details...");
    auto* details = form_->findChild<Run_Details_Dialog*>();
    QVERIFY(details != nullptr);
    QVERIFY(details->text().contains("holds no record of its run"));
    Entry("Alignment quality...");
    Quality_Window* quality = form_->findChild<Quality_Window*>();
    QVERIFY(quality != nullptr);
    QCOMPARE(quality->windowTitle(), Quality_Window_Title("study.aligndb"));
    QVERIFY(dialogs_->messages.isEmpty());
  }
};

QTEST_MAIN(ResultGridTest)
#include "result_grid_qtest.moc"
