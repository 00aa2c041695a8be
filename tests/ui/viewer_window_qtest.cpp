// The viewer window in the real window, offscreen: opened from the grid's
// menu and the tab's button, its columns, its charts drawn as the tab draws
// them, and its geometry kept in (test-only) settings.
#include <qcustomplot.h>

#include <QAction>
#include <QHeaderView>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QtTest>

#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "tests/ui/support/viz_study.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/result_viewer_window.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;
using Varnel::Test::Make_Peak;
using Varnel::Test::Peak_Spec;

namespace {

Peak_Spec Spec(std::uint32_t sample, std::uint32_t eic, std::uint32_t align_id, double rt) {
  Peak_Spec s;
  s.sample_id = sample;
  s.sample_name = "Sample " + std::to_string(sample);
  s.eic_id = eic;
  s.group_id = eic;
  s.compound_id = eic;
  s.align_id = align_id;
  s.apex_rt = rt;
  s.align_rt = align_id == 0 ? 0.0 : rt;
  return s;
}

}  // namespace

class ViewerWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<Temp_Folder> dir_;
  std::unique_ptr<Varnel_Form> form_;
  Varnel::Test::Form_Controls ui_;
  Varnel::Test::Scripted_Dialogs* dialogs_ = nullptr;

  std::string Settings_File() const { return Join_Path(dir_->path(), "viewer.ini"); }
  void Open_From_Menu() {
    for (QAction* action : ui_.dataGridView_Align_Peaklist_Table->actions()) {
      if (action->text() == QString::fromUtf8(kOpenViewerCaption)) return action->trigger();
    }
    QFAIL("no viewer entry");
  }
  Result_Viewer_Window* Viewer() const { return form_->findChild<Result_Viewer_Window*>(); }

 private slots:
  void init() {
    dir_ = std::make_unique<Temp_Folder>();
    Varnel::Test::Write_Aligned_Result(
        {Make_Peak(Spec(0, 10, 3, 98.0)), Make_Peak(Spec(1, 11, 3, 102.0)),
         Make_Peak(Spec(2, 20, 7, 60.0)), Make_Peak(Spec(5, 50, 7, 62.0)),
         Make_Peak(Spec(4, 60, 7, 61.0)), Make_Peak(Spec(1, 30, 0, 140.0))},
        dir_->path(), "study.aligndb");
    auto dialogs = std::make_unique<Varnel::Test::Scripted_Dialogs>();
    dialogs_ = dialogs.get();
    form_ = std::make_unique<Varnel_Form>(std::move(dialogs));
    form_->Set_Viewer_Settings([this] {
      return std::make_unique<QSettings>(QString::fromStdString(Settings_File()),
                                         QSettings::IniFormat);
    });
    ui_ = Varnel::Test::Form_Controls(*form_);
    ui_.tabControl1->setCurrentWidget(ui_.Tab_Align_Visualization);
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }
  void cleanup() {
    form_.reset();
    dir_.reset();
  }

  void opensWithTheKeyColumnsFirstAndDrawsTheSelectedRow() {
    auto* button = form_->findChild<QPushButton*>("button_Open_Viewer");
    QVERIFY(!button->isVisible());  // no result yet
    QVERIFY(form_->Open_Viewer() == nullptr);
    dialogs_->answers.push_back(
        QStringList{QString::fromStdString(Join_Path(dir_->path(), "study.aligndb"))});
    ui_.button_Align_File_Browse->click();
    QVERIFY(button->isVisible());
    Open_From_Menu();
    Result_Viewer_Window* viewer = Viewer();
    QVERIFY(viewer != nullptr && viewer->isVisible());
    QVERIFY(viewer->windowTitle().startsWith("study.aligndb"));
    QVERIFY(viewer->minimumSize() != viewer->maximumSize());  // resizable

    const QHeaderView* header = viewer->Grid()->horizontalHeader();
    QCOMPARE(header->count(), 20);
    const int first[] = {kCol_Align_ID, kCol_SAMPLE_NAME, kCol_Compound_MolecularMass,
                         kCol_Compound_Retention_Time, kCol_Align_RT};
    for (int i = 0; i < 5; ++i) QCOMPARE(header->logicalIndex(i), first[i]);
    for (int i = 0; i < 20; ++i) QVERIFY(!header->isSectionHidden(i));
    // The specified grid keeps its own order.
    QCOMPARE(ui_.dataGridView_Align_Peaklist_Table->horizontalHeader()->logicalIndex(0),
             kCol_EIC_ID);

    // A row selected in the viewer: its alignment's three peaks above, the
    // rows of Align_ID 7 highlighted, as the tab does.
    const Align_Table_Model& model = form_->Visualization_Tab()->Grid_Model();
    int row = 0;
    while (model.Int_Cell(row, kCol_EIC_ID) != 50) ++row;
    QSignalSpy redraws(viewer, &Result_Viewer_Window::Redrawn);
    viewer->Grid()->setCurrentIndex(model.index(row, 0));
    QCOMPARE(redraws.count(), 1);
    QCOMPARE(viewer->Aligned_Chart()->plottableCount(), 3);
    QCOMPARE(viewer->Detail_Chart()->plottableCount(), 1);
    QCOMPARE(model.Highlight(), std::optional<std::int64_t>(7));
    QVERIFY(dialogs_->messages.isEmpty());

    // The button raises the same window; no second one.
    button->click();
    QCOMPARE(form_->findChildren<Result_Viewer_Window*>().size(), 1);
  }

  void keepsItsGeometryInTheSettingsGiven() {
    dialogs_->answers.push_back(
        QStringList{QString::fromStdString(Join_Path(dir_->path(), "study.aligndb"))});
    ui_.button_Align_File_Browse->click();
    Result_Viewer_Window* viewer = form_->Open_Viewer();
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    viewer->resize(1000, 700);
    auto* split = viewer->findChild<QSplitter*>("splitter_Viewer");
    split->setSizes({300, 700});
    const QList<int> sizes = split->sizes();
    viewer->close();  // deletes it
    QTRY_VERIFY(Viewer() == nullptr);
    QVERIFY(QSettings(QString::fromStdString(Settings_File()), QSettings::IniFormat)
                .contains("Result_Viewer/geometry"));

    viewer = form_->Open_Viewer();
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    QCOMPARE(viewer->size(), QSize(1000, 700));
    QCOMPARE(viewer->findChild<QSplitter*>("splitter_Viewer")->sizes(), sizes);
  }
};

QTEST_MAIN(ViewerWindowTest)
#include "viewer_window_qtest.moc"
