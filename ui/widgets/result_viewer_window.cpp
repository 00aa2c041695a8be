#include "ui/widgets/result_viewer_window.h"

#include <qcustomplot.h>

#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include "storage/result_columns.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/viz_plot.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/form_dialogs.h"
#include "ui/widgets/viz_chart.h"

namespace Varnel {

namespace {

constexpr int kGridRowHeight = 22;     // pixels, as the tab's grid
constexpr int kWidthSampleRows = 100;  // rows measured when fitting the column widths
constexpr int kFirstColumns[kViewerLeadingColumns] = {kCol_Align_ID, kCol_SAMPLE_NAME,
                                                      kCol_Compound_MolecularMass,
                                                      kCol_Compound_Retention_Time, kCol_Align_RT};
const QString kGeometryKey = QStringLiteral("Result_Viewer/geometry");
const QString kSplitKey = QStringLiteral("Result_Viewer/grid_charts");
const QString kChartSplitKey = QStringLiteral("Result_Viewer/charts");

// A row of radio buttons in a frame; the first is checked.
QGroupBox* Radio_Row(QWidget* parent, std::initializer_list<QRadioButton**> buttons,
                     std::initializer_list<const char*> captions) {
  auto* box = new QGroupBox(parent);
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(8, 2, 8, 2);
  auto caption = captions.begin();
  bool first = true;
  for (QRadioButton** button : buttons) {
    auto* radio = new QRadioButton(QString::fromUtf8(*caption++), box);
    radio->setChecked(first);
    first = false;
    layout->addWidget(radio);
    if (button != nullptr) *button = radio;
  }
  return box;
}

}  // namespace

std::unique_ptr<QSettings> Make_User_Settings() {
  return std::make_unique<QSettings>(QStringLiteral("Varnel"), QStringLiteral("Varnel"));
}

Result_Viewer_Window::Result_Viewer_Window(Align_Visualization_Tab& tab, const Failure_Guard& guard,
                                           Settings_Factory settings, QWidget* parent)
    : QWidget(parent, Qt::Window),
      tab_(tab),
      guard_(guard),
      settings_(settings ? std::move(settings) : Settings_Factory(Make_User_Settings)) {
  setObjectName(QStringLiteral("Result_Viewer_Window"));
  setAttribute(Qt::WA_DeleteOnClose);

  QRadioButton* unused = nullptr;
  auto* options = new QHBoxLayout;
  options->addWidget(Radio_Row(this, {&unused, &normalized_}, {"Standard", "Normalized"}));
  options->addWidget(
      Radio_Row(this, {&scan_, &rt_original_, &rt_corrected_, &rt_drift_corrected_},
                {"Scan Number", "RT_Original", "RT_Corrected", kRT_Drift_Corrected_Caption}));
  rt_corrected_->setToolTip(QString::fromUtf8(kRT_Corrected_Tip));
  rt_drift_corrected_->setToolTip(QString::fromUtf8(kRT_Drift_Corrected_Tip));
  rt_drift_corrected_->setObjectName(QStringLiteral("radioButton_Viewer_RT_Drift_Corrected"));
  options->addWidget(Radio_Row(this, {&unused, &group_plot_, &compound_plot_},
                               {"Peak Plot", "Group Plot", "Compound Plot"}));
  options->addStretch(1);
  for (QRadioButton* radio : findChildren<QRadioButton*>()) {
    connect(radio, &QRadioButton::toggled, this, [this](bool checked) {
      if (checked) Redraw();  // one redraw per change: the button now checked
    });
  }

  grid_ = new QTableView;
  grid_->setObjectName(QStringLiteral("dataGridView_Viewer"));
  grid_->setModel(&tab_.Shared_Grid_Model());
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setWordWrap(false);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
  QHeaderView* header = grid_->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setSectionsMovable(true);
  for (int i = 0; i < kViewerLeadingColumns; ++i)
    header->moveSection(header->visualIndex(kFirstColumns[i]), i);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  grid_->setSortingEnabled(true);
  connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) Redraw();
          });
  connect(&tab_.Shared_Grid_Model(), &QAbstractItemModel::modelReset, this,
          [this] { grid_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder); });
  connect(&tab_, &Align_Visualization_Tab::Result_Opened, this, [this] { Follow_Result(); });

  aligned_ = new QCustomPlot;
  aligned_->setObjectName(QStringLiteral("chart_Viewer_Aligned"));
  detail_ = new QCustomPlot;
  detail_->setObjectName(QStringLiteral("chart_Viewer_Detail"));
  for (QCustomPlot* plot : {aligned_, detail_}) {
    Setup_Chart(plot);
    plot->setMinimumSize(200, 150);
    plot->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(plot, &QWidget::customContextMenuRequested, this,
            [this, plot](const QPoint& pos) { tab_.Show_Chart_Menu(plot, pos); });
  }

  chart_split_ = new QSplitter(Qt::Vertical);
  chart_split_->setObjectName(QStringLiteral("splitter_Viewer_Charts"));
  chart_split_->addWidget(aligned_);
  chart_split_->addWidget(detail_);
  chart_split_->setChildrenCollapsible(false);
  split_ = new QSplitter(Qt::Horizontal);
  split_->setObjectName(QStringLiteral("splitter_Viewer"));
  split_->addWidget(grid_);
  split_->addWidget(chart_split_);
  split_->setChildrenCollapsible(false);
  split_->setStretchFactor(0, 1);
  split_->setStretchFactor(1, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(options);
  layout->addWidget(split_, 1);

  Restore_Layout();
  Follow_Result();
  // Opens on the row the tab shows.
  if (const int row = tab_.Current_Row(); row >= 0) {
    // The cell in the first column shown, so that the view stays at its left.
    const QModelIndex index =
        tab_.Shared_Grid_Model().index(row, grid_->horizontalHeader()->logicalIndex(0));
    grid_->setCurrentIndex(index);  // draws it
    grid_->scrollTo(index, QAbstractItemView::PositionAtCenter);
  }
}

Result_Viewer_Window::~Result_Viewer_Window() {
  // The shared model and the tab outlive this window's own part.
  disconnect(grid_->selectionModel(), nullptr, this, nullptr);
  disconnect(&tab_.Shared_Grid_Model(), nullptr, this, nullptr);
  disconnect(&tab_, nullptr, this, nullptr);
}

void Result_Viewer_Window::Follow_Result() {
  setWindowTitle(tab_.alignFileName().isEmpty()
                     ? QStringLiteral("Varnel viewer")
                     : QStringLiteral("%1 - Varnel viewer").arg(tab_.alignFileName()));
  Fit_Columns();
  grid_->scrollToTop();
  grid_->horizontalScrollBar()->setValue(grid_->horizontalScrollBar()->minimum());
  if (tab_.Drift_Curves() == nullptr && rt_drift_corrected_->isChecked())
    rt_original_->setChecked(true);
  rt_drift_corrected_->setVisible(tab_.Drift_Curves() != nullptr);
  for (QCustomPlot* plot : {aligned_, detail_})
    Show_Chart_Hint(plot, QString::fromUtf8(kChooseRowHint));
}

void Result_Viewer_Window::Fit_Columns() {
  grid_->horizontalHeader()->setResizeContentsPrecision(kWidthSampleRows);
  grid_->resizeColumnsToContents();
  // The rows measured may hold only small numbers (unaligned rows come
  // first): every real column has room for a time or mass of six decimals.
  const int real_width =
      grid_->fontMetrics().horizontalAdvance(QStringLiteral("00000.000000")) + 12;
  int column = 0;
  for (const Peak_Column& column_info : kAlignColumns) {
    if (column_info.kind == Column_Kind::kShape) continue;
    if (column_info.kind == Column_Kind::kReal && grid_->columnWidth(column) < real_width)
      grid_->setColumnWidth(column, real_width);
    ++column;
  }
}

void Result_Viewer_Window::Redraw() {
  bool drawn = false;
  // A failure is shown over this window, where the row was chosen.
  guard_.Run(
      [this, &drawn] {
        const int row = grid_->currentIndex().row();
        if (row < 0) {
          for (QCustomPlot* plot : {aligned_, detail_})
            Show_Chart_Hint(plot, QString::fromUtf8(kChooseRowHint));
          drawn = true;
          return;
        }
        Plot_Options options;
        options.x_axis = scan_->isChecked()                 ? X_Axis::kScan
                         : rt_corrected_->isChecked()       ? X_Axis::kRT_Corrected
                         : rt_drift_corrected_->isChecked() ? X_Axis::kRT_Drift_Corrected
                                                            : X_Axis::kRT_Original;
        options.y_scale = normalized_->isChecked() ? Y_Scale::kNormalized : Y_Scale::kStandard;
        options.detail = group_plot_->isChecked()      ? Detail_Mode::kGroup
                         : compound_plot_->isChecked() ? Detail_Mode::kCompound
                                                       : Detail_Mode::kPeak;
        Draw_Row_Charts(aligned_, detail_, tab_.Shared_Grid_Model(), row, tab_.alignFolderName(),
                        tab_.alignFileName(), options, tab_.Drift_Curves());
        drawn = true;
      },
      this);
  if (!drawn) {
    Clear_Chart(aligned_);
    Clear_Chart(detail_);
    aligned_->replot();
    detail_->replot();
  }
  emit Redrawn();
}

void Result_Viewer_Window::Restore_Layout() {
  const std::unique_ptr<QSettings> settings = settings_();
  if (!settings || !restoreGeometry(settings->value(kGeometryKey).toByteArray())) {
    QSize size(1400, 900);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      size = size.boundedTo(screen->availableSize() * 0.9);
    resize(size);
    split_->setSizes({size.width() * 11 / 20, size.width() * 9 / 20});
    chart_split_->setSizes({size.height() / 2, size.height() / 2});
    return;
  }
  split_->restoreState(settings->value(kSplitKey).toByteArray());
  chart_split_->restoreState(settings->value(kChartSplitKey).toByteArray());
}

void Result_Viewer_Window::Save_Layout() const {
  const std::unique_ptr<QSettings> settings = settings_();
  if (!settings) return;
  settings->setValue(kGeometryKey, saveGeometry());
  settings->setValue(kSplitKey, split_->saveState());
  settings->setValue(kChartSplitKey, chart_split_->saveState());
}

void Result_Viewer_Window::closeEvent(QCloseEvent* event) {
  Save_Layout();
  QWidget::closeEvent(event);
}

}  // namespace Varnel
