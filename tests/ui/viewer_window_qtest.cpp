// The viewer window in the real window, offscreen: opened from the grid's
// menu and the tab's button, its columns, its charts drawn as the tab draws
// them, and its geometry kept in (test-only) settings.
#include <qcustomplot.h>

#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QtTest>

#include "tests/ui/support/window_test.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/result_viewer_window.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

class ViewerWindowTest : public Varnel::Test::Study_Window_Test {
  Q_OBJECT

 private:
  std::string Settings_File() const { return Path_Of("viewer.ini"); }
  void Open_From_Menu() {
    for (QAction* action : ui_.dataGridView_Align_Peaklist_Table->actions()) {
      if (action->text() == QString::fromUtf8(kOpenViewerCaption)) return action->trigger();
    }
    QFAIL("no viewer entry");
  }
  Result_Viewer_Window* Viewer() const { return form_->findChild<Result_Viewer_Window*>(); }

 private slots:
  void init() {
    Make_Study_Window();
    form_->Set_Viewer_Settings([this] {
      return std::make_unique<QSettings>(QString::fromStdString(Settings_File()),
                                         QSettings::IniFormat);
    });
    QVERIFY(Show_Window());
  }
  void cleanup() { Close_Study_Window(); }

  void opensWithTheKeyColumnsFirstAndDrawsTheSelectedRow() {
    auto* button = form_->findChild<QPushButton*>("button_Open_Viewer");
    QVERIFY(!button->isVisible());  // no result yet
    QVERIFY(form_->Open_Viewer() == nullptr);
    Open("study.aligndb");
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

  // What the viewer window asks and every failure of its own opens over it,
  // not over the main window behind it; the tab's chart asks over the main
  // window.
  void dialogsOpenOverTheWindowThatAsked() {
    Open("study.aligndb");
    Result_Viewer_Window* viewer = form_->Open_Viewer();
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    dialogs_->parents.clear();  // the pick of the result, over the main window
    const QString unwritable = QString::fromStdString(Path_Of("no/such/dir/chart.png"));
    const auto save_from = [this, &unwritable](QCustomPlot* plot) {
      dialogs_->save_answers.push_back(unwritable);
      emit plot->customContextMenuRequested(QPoint(10, 10));
      auto* menu = plot->findChild<QMenu*>();
      QVERIFY(menu != nullptr);
      menu->actions().front()->trigger();  // "Save as PNG..."
      delete menu;
    };
    save_from(viewer->Aligned_Chart());
    QCOMPARE(dialogs_->messages.size(), 1);  // cannot write
    QCOMPARE(dialogs_->parents, (std::vector<QWidget*>{viewer, viewer}));
    dialogs_->parents.clear();
    save_from(ui_.zedGraphControl_AlignedPeaks);
    QCOMPARE(dialogs_->parents, (std::vector<QWidget*>{form_.get(), form_.get()}));
    dialogs_->parents.clear();
    dialogs_->messages.clear();

    // A row whose peaks cannot be read any more: the failure over the viewer.
    QVERIFY(QFile::remove(QString::fromStdString(Path_Of("study.aligndb"))));
    viewer->Grid()->setCurrentIndex(form_->Visualization_Tab()->Grid_Model().index(3, 0));
    QCOMPARE(dialogs_->messages.size(), 1);
    QCOMPARE(dialogs_->parents, std::vector<QWidget*>{viewer});
  }

  void keepsItsGeometryInTheSettingsGiven() {
    Open("study.aligndb");
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
