// The visualization tab of the real window, driven offscreen.
#include <qcustomplot.h>

#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>
#include <algorithm>

#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "tests/ui/support/viz_study.h"
#include "tests/ui/support/window_test.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/varnel_form.h"
#include "ui/widgets/viz_chart.h"

using namespace Varnel;
using Varnel::Test::Lone_Peak;
using Varnel::Test::Make_Peak;

namespace {

QString Title(QCustomPlot* plot) { return Chart_Title(plot)->text(); }

// The chart's curve i (every curve is a QCPCurve, drawn in stored order).
QCPCurve* Line(QCustomPlot* plot, int i) {
  auto* line = qobject_cast<QCPCurve*>(plot->plottable(i));
  if (line == nullptr) qFatal("plottable %d is no QCPCurve", i);
  return line;
}

// The x values of a curve in drawing order.
QList<double> Keys(QCPCurve* line) {
  QList<double> keys;
  for (auto it = line->data()->constBegin(); it != line->data()->constEnd(); ++it)
    keys.push_back(it->key);
  return keys;
}

}  // namespace

class VizWindowTest : public Varnel::Test::Study_Window_Test {
  Q_OBJECT

 private:
  Align_Table_Model* model_ = nullptr;

  int Row_With(int align_id, int sample_id) const {
    for (int r = 0; r < model_->rowCount(); ++r)
      if (model_->Int_Cell(r, kCol_Align_ID) == align_id &&
          model_->Int_Cell(r, kCol_SAMPLE_ID) == sample_id)
        return r;
    return -1;
  }

  void Click_Row(int row) {
    QTableView* grid = ui_.dataGridView_Align_Peaklist_Table;
    const QModelIndex index = model_->index(row, 0);
    grid->scrollTo(index);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
  }

  // Opens the chart's context menu and triggers its entry `text`.
  void Chart_Menu_Action(QCustomPlot* plot, const char* text) {
    emit plot->customContextMenuRequested(QPoint(20, 20));
    auto* menu = plot->findChild<QMenu*>();
    QVERIFY(menu != nullptr);
    bool found = false;
    for (QAction* action : menu->actions()) {
      if (action->text() == QLatin1String(text)) {
        action->trigger();
        found = true;
      }
    }
    menu->close();
    delete menu;
    QVERIFY2(found, text);
  }

  // Every shown choice of the chart panel's option frames is drawn whole: at
  // least as wide and tall as its caption needs, inside its frame, the frames
  // inside the panel and clear of the charts, of each other and of the
  // viewer button.
  void Expect_Option_Frames_Fit() {
    QWidget* panel = ui_.panel_align_peak_visualization;
    panel->show();
    QApplication::processEvents();
    const QRect inside(QPoint(0, 0), panel->size());
    const char* frames[] = {"groupBox_Standard_Normalize", "groupBox_Scan_RT",
                            "groupBox_SelectedPeak_Mode"};
    std::vector<QRect> taken = {ui_.zedGraphControl_AlignedPeaks->geometry(),
                                ui_.zedGraphControl_SlectedPeaks->geometry()};
    auto* viewer = form_->findChild<QWidget*>("button_Open_Viewer");
    QVERIFY(viewer != nullptr);
    taken.push_back(QRect(panel->mapFrom(viewer->parentWidget(), viewer->pos()), viewer->size()));
    for (const char* name : frames) {
      auto* frame = panel->findChild<QGroupBox*>(name);
      QVERIFY2(frame != nullptr, name);
      QVERIFY2(inside.contains(frame->geometry()), name);
      for (const QRect& other : taken) QVERIFY2(!other.intersects(frame->geometry()), name);
      taken.push_back(frame->geometry());
      for (auto* radio : frame->findChildren<QRadioButton*>()) {
        if (radio->isHidden()) continue;
        const QString what = radio->objectName() + " in " + name;
        QVERIFY2(radio->width() >= radio->sizeHint().width(), qPrintable(what));
        QVERIFY2(radio->height() >= radio->sizeHint().height(), qPrintable(what));
        QVERIFY2(frame->contentsRect().contains(radio->geometry()), qPrintable(what));
      }
    }
  }

  std::vector<int> Highlighted_Rows() const {
    std::vector<int> rows;
    for (int r = 0; r < model_->rowCount(); ++r)
      if (model_->data(model_->index(r, kCol_Apex_MZ), Qt::BackgroundRole)
              .value<QBrush>()
              .color() == kHighlightColor)
        rows.push_back(r);
    return rows;
  }

 private slots:
  void init() {
    Make_Study_Window();
    QVERIFY(Show_Window());
    model_ = qobject_cast<Align_Table_Model*>(ui_.dataGridView_Align_Peaklist_Table->model());
    QVERIFY(model_ != nullptr);
  }

  void cleanup() { Close_Study_Window(); }

  void browseOpensTheResultAndShowsTheGrid() {
    // A refused Align request on the other tab still names its result
    // folder, where the result dialog then opens.
    dialogs_->answers.push_back(
        QStringList{QString::fromStdString(Join_Path(dir_->path(), "a.db"))});
    ui_.button_Annotation_File_Browse->click();
    ui_.button_Annotation_Load->click();
    ui_.textBox_Align_Mass_Tol->setText("x");
    ui_.button_Align_Process->click();
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages[0].startsWith("You must configure a valid Align Mass Tolerance!\n"));
    dialogs_->messages.clear();
    QVERIFY(!ui_.panel_Align_Peaklist_Table->isVisible());
    Open("study.aligndb");
    QCOMPARE(dialogs_->open_calls.size(), std::size_t{2});
    const auto& call = dialogs_->open_calls[1];
    QCOMPARE(call.title, QString("Select a Aligned Result File"));
    QCOMPARE(call.filter, QString("aligndb Files (*.aligndb)"));
    QCOMPARE(call.folder, QString::fromStdString(Join_Path(dir_->path(), "Result")));
    QVERIFY(!call.multi_select);
    QVERIFY(dialogs_->messages.isEmpty());
    QCOMPARE(form_->Visualization_Tab()->alignFolderName(), QString::fromStdString(dir_->path()));
    QCOMPARE(form_->Visualization_Tab()->alignFileName(), QString("study.aligndb"));
    QCOMPARE(ui_.textBox_Align_Result_File->text(),
             QString::fromStdString(Join_Path(dir_->path(), "study.aligndb")));
    QVERIFY(ui_.panel_Align_Peaklist_Table->isVisible());
    QVERIFY(!ui_.panel_align_peak_visualization->isVisible());
    QCOMPARE(model_->rowCount(), 6);
    QCOMPARE(model_->columnCount(), 20);
    QCOMPARE(model_->headerData(9, Qt::Horizontal).toString(), QString("Right_Boundary"));
    QCOMPARE(model_->Int_Cell(0, kCol_Align_ID), 0);  // ordered by Align_ID
    QCOMPARE(model_->Int_Cell(5, kCol_Align_ID), 7);
  }

  void cancelAndEmptyPicksChangeNothing() {
    Open("study.aligndb");
    dialogs_->answers.push_back(std::nullopt);
    QTest::mouseClick(ui_.button_Align_File_Browse, Qt::LeftButton);
    QVERIFY(dialogs_->messages.isEmpty());
    QCOMPARE(form_->Visualization_Tab()->alignFileName(), QString("study.aligndb"));
    QVERIFY(!ui_.textBox_Align_Result_File->text().isEmpty());

    dialogs_->answers.push_back(QStringList{});
    QTest::mouseClick(ui_.button_Align_File_Browse, Qt::LeftButton);
    QCOMPARE(dialogs_->messages, QStringList{"Please select the aligndb(.aligndb) file(s)!"});
    QVERIFY(ui_.textBox_Align_Result_File->text().isEmpty());
    QCOMPARE(form_->Visualization_Tab()->alignFileName(), QString("study.aligndb"));
    QCOMPARE(model_->rowCount(), 6);
  }

  // With a result shown before: BadInputWindowTest.
  void unreadableFirstResultShowsNoGrid() {
    Write_File(Join_Path(dir_->path(), "bad.aligndb"), std::string(4096, 'x'));
    Open("bad.aligndb");
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY2(dialogs_->messages[0].contains("bad.aligndb"), qPrintable(dialogs_->messages[0]));
    QVERIFY(!ui_.panel_Align_Peaklist_Table->isVisible());
    QVERIFY(form_->Visualization_Tab()->alignFileName().isEmpty());
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void dataRowClickShowsTheChartsAndDraws() {
    Open("study.aligndb");
    QSignalSpy redrawn(form_.get(), &Varnel_Form::Redrawn);
    Click_Row(Row_With(7, 5));
    QCOMPARE(redrawn.count(), 1);
    QVERIFY(dialogs_->messages.isEmpty());
    QVERIFY(ui_.panel_align_peak_visualization->isVisible());
    QCustomPlot* upper = ui_.zedGraphControl_AlignedPeaks;
    QCOMPARE(Title(upper), QString("Aligned Plot  for Align_ID: 7"));
    QCOMPARE(upper->xAxis->label(), QString("Scan Number"));
    QCOMPARE(upper->yAxis->label(), QString("Intensity"));
    // Samples 2, 2 and 5: three curves, two legend entries.
    QCOMPARE(upper->plottableCount(), 3);
    QCOMPARE(upper->legend->itemCount(), 2);
    QCOMPARE(Line(upper, 0)->pen().color(), QColor(0, 0, 255));
    QCOMPARE(Line(upper, 1)->pen().color(), QColor(0, 0, 255));
    QCOMPARE(Line(upper, 2)->pen().color(), QColor(255, 255, 0));
    QCOMPARE(Line(upper, 0)->name(), QString("Sample 2"));
    QCOMPARE(Line(upper, 2)->name(), QString("Sample 5"));
    QVERIFY(Line(upper, 0)->scatterStyle().isNone());
    QVERIFY(upper->xAxis->range().contains(120.0));  // fitted to scans around 60 s / 0.5 s
    QCustomPlot* lower = ui_.zedGraphControl_SlectedPeaks;
    QCOMPARE(Title(lower), QString("Peak Plot for Sample: Sample 5"));
    QCOMPARE(lower->plottableCount(), 1);
    QCOMPARE(Line(lower, 0)->pen().color(), QColor(0, 0, 255));
    QCOMPARE(Line(lower, 0)->name(), QString("200"));
    QCOMPARE(ui_.dataGridView_Align_Peaklist_Table->selectionModel()->selectedRows().size(), 1);

    // Compound Plot on the same row adds the adduct to the label.
    ui_.radioButton_CompoundPlot->click();
    QCOMPARE(redrawn.count(), 2);
    QCOMPARE(Title(lower), QString("Compound Plot for Sample: Sample 5"));
    QCOMPARE(Line(lower, 0)->name(), QString("200 [M+H]+"));
  }

  void everyWayOntoARowDrawsItOnce_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("end");
    // Rows by Align_ID: 0 (row 0), 3 (rows 1, 2), 7 (rows 3 to 5).
    QTest::newRow("arrow down") << 2 << "Down" << 3;
    QTest::newRow("arrow up") << 1 << "Up" << 0;
    QTest::newRow("page down") << 0 << "PgDown" << 5;
    QTest::newRow("ctrl+home") << 4 << "Ctrl+Home" << 0;
    QTest::newRow("ctrl+end") << 0 << "Ctrl+End" << 5;
    QTest::newRow("row number") << 0 << "RowHeader" << 4;
    QTest::newRow("right button") << 4 << "RightButton" << 1;
    QTest::newRow("middle button") << 0 << "MiddleButton" << 3;
    QTest::newRow("left button") << 0 << "LeftButton" << 4;
    QTest::newRow("left button on the current row") << 4 << "LeftButton" << 4;
  }

  void everyWayOntoARowDrawsItOnce() {
    QFETCH(int, start);
    QFETCH(QString, how);
    QFETCH(int, end);
    Open("study.aligndb");
    QTableView* grid = ui_.dataGridView_Align_Peaklist_Table;
    Click_Row(start);
    QSignalSpy redrawn(form_.get(), &Varnel_Form::Redrawn);
    const QPoint cell = grid->visualRect(model_->index(end, kCol_Apex_Pos)).center();
    if (how == "RowHeader") {
      QHeaderView* rows = grid->verticalHeader();
      QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                        QPoint(rows->width() / 2, rows->sectionViewportPosition(end) + 5));
    } else if (how.endsWith("Button")) {
      const Qt::MouseButton button = how == "RightButton"    ? Qt::RightButton
                                     : how == "MiddleButton" ? Qt::MiddleButton
                                                             : Qt::LeftButton;
      QTest::mouseClick(grid->viewport(), button, {}, cell);
    } else {
      const QKeySequence key(how);
      QTest::keyClick(grid, Qt::Key(key[0].key()), key[0].keyboardModifiers());
    }
    QCOMPARE(grid->currentIndex().row(), end);
    QCOMPARE(redrawn.count(), 1);
    QCOMPARE(grid->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(grid->selectionModel()->selectedRows().front().row(), end);
    QCOMPARE(Title(ui_.zedGraphControl_AlignedPeaks),
             "Aligned Plot  for Align_ID: " + model_->Text_Cell(end, kCol_Align_ID));
    QCOMPARE(Title(ui_.zedGraphControl_SlectedPeaks),
             "Peak Plot for Sample: " + model_->Text_Cell(end, kCol_SAMPLE_NAME));
    QVERIFY(dialogs_->messages.isEmpty());
  }

  void sortingMovesTheCurrentRowWithoutARedraw() {
    Open("study.aligndb");
    Click_Row(Row_With(7, 5));
    QSignalSpy redrawn(form_.get(), &Varnel_Form::Redrawn);
    ui_.dataGridView_Align_Peaklist_Table->sortByColumn(kCol_SAMPLE_ID, Qt::DescendingOrder);
    QCOMPARE(redrawn.count(), 0);
    const int current = ui_.dataGridView_Align_Peaklist_Table->currentIndex().row();
    QCOMPARE(model_->Int_Cell(current, kCol_SAMPLE_ID), 5);
  }

  void shapesAreDrawnInStoredOrder() {
    // A shape stored out of x order (rotated, two points swapped): the curves
    // run through the points as stored, not re-sorted by x.
    Varnel::Test::Align_Peak peak = Make_Peak(Lone_Peak(0, 10, 4, 80.0));
    auto& shape = peak.Peak_shape;
    std::rotate(shape.begin(), shape.begin() + 4, shape.end());
    std::swap(shape[0], shape[2]);
    QList<double> scans;
    for (const Data_Point& p : shape) scans.push_back(static_cast<double>(p.Scan));
    QVERIFY(!std::is_sorted(scans.begin(), scans.end()));
    Varnel::Test::Write_Aligned_Result({peak}, dir_->path(), "unsorted.aligndb");
    Open("unsorted.aligndb");
    Click_Row(0);
    QCOMPARE(Keys(Line(ui_.zedGraphControl_AlignedPeaks, 0)), scans);
    QCOMPARE(Keys(Line(ui_.zedGraphControl_SlectedPeaks, 0)), scans);
    QCOMPARE(ui_.zedGraphControl_AlignedPeaks->legend->itemCount(), 1);
    QVERIFY(ui_.zedGraphControl_AlignedPeaks->xAxis->range().contains(scans.front()));
  }

  void openingAnotherResultClearsTheCharts() {
    Open("study.aligndb");
    Click_Row(Row_With(7, 2));
    QCOMPARE(ui_.zedGraphControl_AlignedPeaks->plottableCount(), 3);
    Varnel::Test::Write_Aligned_Result({Make_Peak(Lone_Peak(0, 10, 1, 50.0))}, dir_->path(),
                                       "other.aligndb");
    Open("other.aligndb");
    QVERIFY(dialogs_->messages.isEmpty());
    for (QCustomPlot* plot : {ui_.zedGraphControl_AlignedPeaks, ui_.zedGraphControl_SlectedPeaks}) {
      QCOMPARE(plot->plottableCount(), 0);
      QCOMPARE(plot->legend->itemCount(), 0);
      QVERIFY(Title(plot).isEmpty());
      QVERIFY(plot->xAxis->label().isEmpty() && plot->yAxis->label().isEmpty());
    }
    QVERIFY(Highlighted_Rows().empty());
    // A result that cannot be read leaves the charts of the open one.
    Click_Row(0);
    Write_File(Join_Path(dir_->path(), "bad.aligndb"), std::string(4096, 'x'));
    Open("bad.aligndb");
    QCOMPARE(dialogs_->messages.size(), 1);
    QCOMPARE(ui_.zedGraphControl_AlignedPeaks->plottableCount(), 1);
  }

  void gridMenuShowsTheAddedEntries() {
    QTableView* grid = ui_.dataGridView_Align_Peaklist_Table;
    Align_Visualization_Tab* tab = form_->Visualization_Tab();
    const auto request_menu = [](QTableView* on, int row) {
      const QPoint pos = on->visualRect(on->model()->index(row, 0)).center();
      QContextMenuEvent event(QContextMenuEvent::Mouse, pos, on->viewport()->mapToGlobal(pos));
      QApplication::sendEvent(on->viewport(), &event);
      return on->findChild<QMenu*>();
    };
    {  // A tab without entries shows no menu.
      Varnel::Test::Scripted_Dialogs bare_dialogs;
      Failure_Guard bare_guard(bare_dialogs, nullptr);
      Align_Visualization_Tab bare(bare_dialogs, bare_guard, {});
      QVERIFY(request_menu(bare.findChild<QTableView*>("dataGridView_Align_Peaklist_Table"), 0) ==
              nullptr);
    }
    Open("study.aligndb");

    std::vector<int> rows_seen;
    tab->Add_Grid_Action("Go", QKeySequence("Ctrl+G"),
                         [&] { rows_seen.push_back(tab->Current_Row()); });
    tab->Add_Grid_Action("Fails", {}, [] { throw std::runtime_error("no such thing"); });
    Click_Row(2);
    QMenu* menu = request_menu(grid, 2);
    QVERIFY(menu != nullptr);
    // The window's own five entries come first, then those added here.
    QCOMPARE(menu->actions().size(), 7);
    QCOMPARE(menu->actions()[5]->text(), QString("Go"));
    QCOMPARE(menu->actions()[5]->shortcut(), QKeySequence("Ctrl+G"));
    QVERIFY(menu->actions()[5]->isEnabled());
    menu->actions()[5]->trigger();
    menu->actions()[6]->trigger();
    delete menu;
    QCOMPARE(rows_seen, std::vector<int>{2});
    QCOMPARE(dialogs_->messages, QStringList{"no such thing"});  // through the guard
    // The shortcut, while the grid has the focus.
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(rows_seen, (std::vector<int>{2, 2}));
  }

  void gridEntriesWaitForAResult() {
    Align_Visualization_Tab* tab = form_->Visualization_Tab();
    int runs = 0;
    tab->Add_Grid_Action("Count", {}, [&] { ++runs; });
    tab->Add_Grid_Action(
        "About", {}, [&] { runs += 10; }, /*needs_result=*/false);
    const QList<QAction*> entries = ui_.dataGridView_Align_Peaklist_Table->actions();
    QCOMPARE(entries.size(), 7);  // the window's five, then these two
    for (int i = 0; i < 5; ++i) QVERIFY(!entries[i]->isEnabled());
    QVERIFY(!entries[5]->isEnabled());
    QVERIFY(entries[6]->isEnabled());
    entries[5]->activate(QAction::Trigger);
    QCOMPARE(runs, 0);
    Open("study.aligndb");
    for (int i = 0; i < 5; ++i) QVERIFY(entries[i]->isEnabled());
    QVERIFY(entries[5]->isEnabled());
    entries[5]->trigger();
    QCOMPARE(runs, 1);
  }

  void headerClickDoesNothing() {
    Open("study.aligndb");
    QSignalSpy redrawn(form_.get(), &Varnel_Form::Redrawn);
    QHeaderView* header = ui_.dataGridView_Align_Peaklist_Table->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
    form_->Visualization_Tab()->DataGridView_CellMouseClick(-1);
    QCOMPARE(redrawn.count(), 0);
    QVERIFY(!ui_.panel_align_peak_visualization->isVisible());
  }

  void highlightFollowsTheAlignIdAfterSorting() {
    Open("study.aligndb");
    Click_Row(Row_With(7, 2));
    std::vector<int> rows = Highlighted_Rows();
    QCOMPARE(rows.size(), std::size_t{3});
    // Sort by SAMPLE_NAME descending with two header clicks: rows move, the
    // highlight and the selection move with them.
    QTableView* grid = ui_.dataGridView_Align_Peaklist_Table;
    grid->sortByColumn(kCol_SAMPLE_NAME, Qt::DescendingOrder);
    rows = Highlighted_Rows();
    QCOMPARE(rows.size(), std::size_t{3});
    QCOMPARE(rows.front(), 0);  // Sample 5 sorts first
    for (int r : rows) QCOMPARE(model_->Int_Cell(r, kCol_Align_ID), 7);
    const int selected = grid->selectionModel()->selectedRows().front().row();
    QCOMPARE(model_->Int_Cell(selected, kCol_Align_ID), 7);
    // A row of another alignment turns them white again.
    Click_Row(Row_With(3, 0));
    rows = Highlighted_Rows();
    QCOMPARE(rows.size(), std::size_t{2});
    for (int r : rows) QCOMPARE(model_->Int_Cell(r, kCol_Align_ID), 3);
  }

  void alignIdZeroShowsTheRowsOwnPeak() {
    Open("study.aligndb");
    Click_Row(Row_With(0, 1));
    QVERIFY(Highlighted_Rows().empty());
    QCOMPARE(ui_.zedGraphControl_AlignedPeaks->plottableCount(), 1);
    QCOMPARE(Title(ui_.zedGraphControl_AlignedPeaks), QString("Aligned Plot  for Align_ID: 0"));
  }

  void everyRadioChangeRedrawsOnce_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    const QStringList x = {"radioButton_Scan", "radioButton_RT_Original",
                           "radioButton_RT_Corrected"};
    const QStringList mode = {"radioButton_PeakPlot", "radioButton_GroupPlot",
                              "radioButton_CompoundPlot"};
    for (const QStringList& group : {x, mode})
      for (const QString& a : group)
        for (const QString& b : group)
          if (a != b) QTest::newRow(qPrintable(a + " -> " + b)) << a << b;
    QTest::newRow("Standard -> Normalized") << "radioButton_Standard"
                                            << "radioButton_Normalized";
    QTest::newRow("Normalized -> Standard") << "radioButton_Normalized"
                                            << "radioButton_Standard";
  }

  void everyRadioChangeRedrawsOnce() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    Open("study.aligndb");
    Click_Row(Row_With(3, 1));
    auto* a = form_->findChild<QRadioButton*>(from);
    auto* b = form_->findChild<QRadioButton*>(to);
    QVERIFY(a && b);
    QTest::mouseClick(a, Qt::LeftButton);
    QVERIFY(a->isChecked());
    QSignalSpy redrawn(form_.get(), &Varnel_Form::Redrawn);
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(b->isChecked());
    QCOMPARE(redrawn.count(), 1);
    QVERIFY(dialogs_->messages.isEmpty());
    // The redraw saw the new selection.
    QCustomPlot* upper = ui_.zedGraphControl_AlignedPeaks;
    const bool scan = ui_.radioButton_Scan->isChecked();
    QCOMPARE(upper->xAxis->label(), QString(scan ? "Scan Number" : "Retention Time (seconds)"));
    if (to == "radioButton_RT_Corrected") {
      // Both peaks of Align_ID 3 are moved onto Align_RT 100 s.
      for (int g = 0; g < 2; ++g) {
        const auto* data = Line(upper, g)->data().data();
        double best_key = 0, best = -1;
        for (auto it = data->constBegin(); it != data->constEnd(); ++it)
          if (it->value > best) best = it->value, best_key = it->key;
        QCOMPARE(best_key, 100.0);
      }
    }
  }

  // Until a row is chosen the charts say what to do instead of empty 0-1
  // axes; a new result starts at its first row and column.
  void chartsHintUntilARowIsChosenAndANewResultScrollsHome() {
    const auto hint = [](QCustomPlot* plot) {
      for (int i = 0; i < plot->itemCount(); ++i)
        if (auto* text = qobject_cast<QCPItemText*>(plot->item(i))) return text->text();
      return QString();
    };
    Open("study.aligndb");
    Click_Row(Row_With(7, 2));
    QVERIFY(hint(ui_.zedGraphControl_AlignedPeaks).isEmpty());
    QVERIFY(ui_.zedGraphControl_AlignedPeaks->xAxis->tickLabels());
    QTableView* grid = ui_.dataGridView_Align_Peaklist_Table;
    grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
    QVERIFY(grid->horizontalScrollBar()->value() > 0);
    Open("study.aligndb");
    QCOMPARE(grid->horizontalScrollBar()->value(), 0);
    QCOMPARE(grid->verticalScrollBar()->value(), 0);
    for (QCustomPlot* plot : {ui_.zedGraphControl_AlignedPeaks, ui_.zedGraphControl_SlectedPeaks}) {
      QCOMPARE(hint(plot), QString(kChooseRowHint));
      QVERIFY(!plot->xAxis->tickLabels() && !plot->yAxis->tickLabels());
    }
    ui_.radioButton_Normalized->click();  // a redraw without a row keeps the hint
    QCOMPARE(hint(ui_.zedGraphControl_SlectedPeaks), QString(kChooseRowHint));
    Click_Row(0);
    QVERIFY(hint(ui_.zedGraphControl_AlignedPeaks).isEmpty());
  }

  // RT_Corrected says what it does; a result with a stored drift correction
  // gets RT_Drift_Corrected, which moves each peak by its sample's curve.
  void driftCorrectedAxisMovesPeaksByTheirSamplesCurve() {
    QVERIFY(ui_.radioButton_RT_Corrected->toolTip().contains("Align_RT"));
    auto* drift = form_->findChild<QRadioButton*>("radioButton_RT_Drift_Corrected");
    QVERIFY(drift != nullptr);
    Open("study.aligndb");
    QVERIFY(drift->isHidden());
    QVERIFY(model_->headerData(kCol_Align_RT, Qt::Horizontal, Qt::ToolTipRole)
                .toString()
                .startsWith("seconds"));
    const std::string corrected = Join_Path(dir_->path(), "corrected.aligndb");
    Write_File(corrected, Read_File(Join_Path(dir_->path(), "study.aligndb")));
    // Sample 2 moves by +5 s everywhere, sample 5 by -3 s; the others not at all.
    Exec_Sql(corrected,
             "create table Align_RT_Correction (SAMPLE_ID integer, RT real, Shift real);"
             "insert into Align_RT_Correction values (2, 0, 5), (2, 5000, 5),"
             " (5, 0, -3), (5, 5000, -3);");
    Open("corrected.aligndb");
    QVERIFY(dialogs_->messages.isEmpty());
    QVERIFY(!drift->isHidden());
    Expect_Option_Frames_Fit();
    QVERIFY(model_->headerData(kCol_Align_RT, Qt::Horizontal, Qt::ToolTipRole)
                .toString()
                .contains("drift-corrected"));
    ui_.radioButton_RT_Original->click();
    Click_Row(Row_With(7, 2));
    QCustomPlot* aligned = ui_.zedGraphControl_AlignedPeaks;
    QCOMPARE(aligned->plottableCount(), 3);
    std::vector<QList<double>> original;
    for (int i = 0; i < 3; ++i) original.push_back(Keys(Line(aligned, i)));
    QSignalSpy redrawn(form_.get(), &Varnel_Form::Redrawn);
    drift->click();
    QCOMPARE(redrawn.count(), 1);
    QCOMPARE(aligned->xAxis->label(), QString("Retention Time, drift-corrected (seconds)"));
    const double shift[] = {5.0, 5.0, -3.0};  // samples 2, 2 and 5, by SAMPLE_ID
    for (int i = 0; i < 3; ++i) {
      const QList<double> moved = Keys(Line(aligned, i));
      QCOMPARE(moved.size(), original[i].size());
      for (qsizetype k = 0; k < moved.size(); ++k) QCOMPARE(moved[k], original[i][k] + shift[i]);
    }
    ui_.radioButton_Scan->click();
    QCOMPARE(redrawn.count(), 2);
    drift->click();
    // A result without a correction hides the choice and falls back.
    Open("study.aligndb");
    QVERIFY(drift->isHidden());
    QVERIFY(!drift->isChecked());
    QVERIFY(ui_.radioButton_RT_Original->isChecked());
    Expect_Option_Frames_Fit();
    // Three choices take one row again, and the upper chart its first place.
    QCOMPARE(ui_.zedGraphControl_AlignedPeaks->pos(), QPoint(4, 48));
  }

  void redrawWithoutSelectionClearsTheCharts() {
    Open("study.aligndb");
    Click_Row(Row_With(7, 2));
    QCOMPARE(ui_.zedGraphControl_AlignedPeaks->plottableCount(), 3);
    Open("study.aligndb");  // a fresh table: no row selected
    QSignalSpy redrawn(form_.get(), &Varnel_Form::Redrawn);
    ui_.radioButton_Normalized->click();
    QCOMPARE(redrawn.count(), 1);
    QVERIFY(dialogs_->messages.isEmpty());
    QCOMPARE(ui_.zedGraphControl_AlignedPeaks->plottableCount(), 0);
    QCOMPARE(ui_.zedGraphControl_SlectedPeaks->plottableCount(), 0);
    QVERIFY(Highlighted_Rows().empty());
  }

  void chartSavesPrintablePngAndVectorPdfThroughTheDialogs() {
    Open("study.aligndb");
    Click_Row(Row_With(7, 2));
    const auto path = [this](const char* name) {
      return QString::fromStdString(Join_Path(dir_->path(), name));
    };
    // A path without suffix takes the kind of the menu entry.
    dialogs_->save_answers = {path("upper"), path("lower.pdf"), std::nullopt,
                              path("no/such/dir/x.png")};
    Chart_Menu_Action(ui_.zedGraphControl_AlignedPeaks, "Save as PNG...");
    Chart_Menu_Action(ui_.zedGraphControl_SlectedPeaks, "Save as PDF...");
    QVERIFY(dialogs_->messages.isEmpty());
    QCOMPARE(dialogs_->save_calls.size(), std::size_t{2});
    QCOMPARE(dialogs_->save_calls[0].title, QString("Save Chart"));
    QCOMPARE(dialogs_->save_calls[0].folder, QString::fromStdString(dir_->path()));
    QCOMPARE(dialogs_->save_calls[1].selected_filter, QString("PDF document (*.pdf)"));
    const QImage png(path("upper.png"));
    QVERIFY(png.width() >= 1600);
    QCOMPARE(png.height() * 474 / png.width(), 213);  // the chart's proportions
    QFile pdf(path("lower.pdf"));
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.read(5) == "%PDF-");

    Chart_Menu_Action(ui_.zedGraphControl_AlignedPeaks, "Save as PNG...");  // cancelled
    QVERIFY(dialogs_->messages.isEmpty());
    Chart_Menu_Action(ui_.zedGraphControl_AlignedPeaks, "Save as PNG...");
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY2(dialogs_->messages[0].contains(path("no/such/dir/x.png")),
             qPrintable(dialogs_->messages[0]));
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }
};

QTEST_MAIN(VizWindowTest)
#include "viz_window_qtest.moc"
