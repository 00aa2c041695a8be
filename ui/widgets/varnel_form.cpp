// Varnel_Form: the control tree of both tabs and the alignment tab's handlers.
#include "ui/widgets/varnel_form.h"
#include "ui/widgets/wait_cursor.h"

#include <qcustomplot.h>
#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <exception>

#include "storage/cppsqlite3.h"
#include "ui/align_tab.h"
#include "ui/text_codec.h"

namespace Varnel {
namespace {

// Client area of the window, pixels.
constexpr int kWindowWidth = 846;
constexpr int kWindowHeight = 699;

// Layout of both tabs, pixels. The file row sits along the top of each page;
// the panels start below it.
constexpr int kMargin = 8;
constexpr int kRowTop = 10;
constexpr int kRowHeight = 26;
constexpr int kPanelTop = 46;

class Standard_Dialogs final : public Form_Dialogs {
 public:
  std::optional<QStringList> Open_Files(QWidget* parent, const QString& title,
                                        const QString& folder, const QString& filter,
                                        bool multi_select) override {
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multi_select ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedFiles();
  }

  void Show_Message(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box.exec();
  }
};

template <typename W>
W* Make(QWidget* parent, const char* name, const QRect& geometry) {
  auto* widget = new W(parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(geometry);
  return widget;
}

QLabel* Make_Label(QWidget* parent, const char* name, const char* text, const QRect& geometry) {
  auto* label = Make<QLabel>(parent, name, geometry);
  label->setText(QString::fromUtf8(text));
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QLineEdit* Make_Text_Box(QWidget* parent, const char* name, const char* text,
                         const QRect& geometry) {
  auto* box = Make<QLineEdit>(parent, name, geometry);
  box->setText(QString::fromUtf8(text));
  return box;
}

QPushButton* Make_Button(QWidget* parent, const char* name, const char* text,
                         const QRect& geometry) {
  auto* button = Make<QPushButton>(parent, name, geometry);
  button->setText(QString::fromUtf8(text));
  return button;
}

// A frame holding one radio group; its buttons are laid out in a row or a
// column so that every caption keeps its natural width.
QGroupBox* Make_Radio_Group(QWidget* parent, const char* name, const QRect& geometry,
                            Qt::Orientation orientation) {
  auto* group = Make<QGroupBox>(parent, name, geometry);
  auto* layout = new QBoxLayout(
      orientation == Qt::Horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom, group);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->setSpacing(orientation == Qt::Horizontal ? 6 : 4);
  return group;
}

QRadioButton* Make_Radio(QGroupBox* group, const char* name, const char* text, bool checked) {
  auto* radio = new QRadioButton(QString::fromUtf8(text), group);
  radio->setObjectName(QString::fromLatin1(name));
  radio->setChecked(checked);
  group->layout()->addWidget(radio);
  return radio;
}

int Column_Named(const QStandardItemModel& table, const QString& name) {
  for (int column = 0; column < table.columnCount(); ++column) {
    if (table.headerData(column, Qt::Horizontal).toString() == name) return column;
  }
  return -1;
}

}  // namespace

std::unique_ptr<Form_Dialogs> Make_Standard_Dialogs() {
  return std::make_unique<Standard_Dialogs>();
}

Varnel_Form::Varnel_Form(std::unique_ptr<Form_Dialogs> dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      dialogs_(dialogs ? std::move(dialogs) : Make_Standard_Dialogs()) {
  setObjectName(QStringLiteral("Varnel_Form"));
  setWindowTitle(QStringLiteral("Varnel"));
  setFixedSize(kWindowWidth, kWindowHeight);

  tabControl1 = Make<QTabWidget>(this, "tabControl1", QRect(0, 0, kWindowWidth, kWindowHeight));

  // ---- Align_Process ----
  Tab_Align_Process = new QWidget();
  Tab_Align_Process->setObjectName(QStringLiteral("Tab_Align_Process"));
  tabControl1->addTab(Tab_Align_Process, QStringLiteral("Align_Process"));
  QWidget* page = Tab_Align_Process;

  label_Input_Annotation =
      Make_Label(page, "label_Input_Annotation",
                 "Input Annotation Result Files:", QRect(kMargin, kRowTop, 200, kRowHeight));
  textBox_Align_FilePath =
      Make_Text_Box(page, "textBox_Align_FilePath", "", QRect(212, kRowTop, 378, kRowHeight));
  button_Annotation_File_Browse = Make_Button(page, "button_Annotation_File_Browse", "Browse",
                                              QRect(596, kRowTop, 76, kRowHeight));
  button_Annotation_Load = Make_Button(page, "button_Annotation_Load", "Annotation_File_Load",
                                       QRect(678, kRowTop, 152, kRowHeight));

  panel_Align_Process = Make<QWidget>(page, "panel_Align_Process", QRect(0, kPanelTop, 838, 600));
  QWidget* panel = panel_Align_Process;
  dataGridView_Annotation_Filelist =
      Make<QTableView>(panel, "dataGridView_Annotation_Filelist", QRect(kMargin, 4, 367, 579));
  {
    QTableView* grid = dataGridView_Annotation_Filelist;
    grid->setFrameShape(QFrame::NoFrame);
    grid->setSortingEnabled(false);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    grid->horizontalHeader()->setHighlightSections(false);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setFixedWidth(41);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->horizontalHeader()->installEventFilter(this);
    connect(grid->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this] { Place_Header_Check_Box(); });
    connect(grid->horizontalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { Place_Header_Check_Box(); });
  }

  constexpr int kParamLeft = 400;
  groupBox_Align_Mode =
      Make_Radio_Group(panel, "groupBox_Align_Mode", QRect(kParamLeft, 4, 220, 84), Qt::Vertical);
  groupBox_Align_Mode->setTitle(QStringLiteral("Align Mode"));
  groupBox_Align_Mode->layout()->setContentsMargins(16, 8, 10, 8);
  radioButton_One_Phase_Align =
      Make_Radio(groupBox_Align_Mode, "radioButton_One_Phase_Align", "Fast_Align", true);
  radioButton_Two_Phase_Align =
      Make_Radio(groupBox_Align_Mode, "radioButton_Two_Phase_Align", "Deep_Align", false);

  constexpr int kLabelWidth = 180;
  constexpr int kBoxLeft = kParamLeft + kLabelWidth + 6;
  constexpr int kBoxWidth = 80;
  constexpr int kUnitLeft = kBoxLeft + kBoxWidth + 8;
  const auto param_row = [&](int top, QLabel*& label, const char* label_name,
                             const char* label_text, QLineEdit*& box, const char* box_name,
                             const char* box_text, QLabel*& unit, const char* unit_name,
                             const char* unit_text) {
    label = Make_Label(panel, label_name, label_text, QRect(kParamLeft, top, kLabelWidth, 24));
    box = Make_Text_Box(panel, box_name, box_text, QRect(kBoxLeft, top, kBoxWidth, 24));
    unit = Make_Label(panel, unit_name, unit_text, QRect(kUnitLeft, top, 70, 24));
  };
  param_row(110, label_Align_Window1, "label_Align_Window1",
            "Fast_Align_RT_Window:", textBox_Align_Window1, "textBox_Align_Window1", "20",
            label_Align_Window1_Unit, "label_Align_Window1_Unit", "Seconds");
  param_row(146, label_Align_Window2, "label_Align_Window2",
            "Deep_Align_RT_Window:", textBox_Align_Window2, "textBox_Align_Window2", "10",
            label_Align_Window2_Unit, "label_Align_Window2_Unit", "Seconds");
  param_row(182, label_Align_Mass_Tol, "label_Align_Mass_Tol",
            "Align_Mass_Tol:", textBox_Align_Mass_Tol, "textBox_Align_Mass_Tol", "0.1",
            label_Align_Mass_Tol_Unit, "label_Align_Mass_Tol_Unit", "Da");
  button_Align_Process =
      Make_Button(panel, "button_Align_Process", "Align", QRect(kParamLeft, 226, 100, 30));
  panel_Align_Process->hide();

  // ---- Align_Visualization ----
  Tab_Align_Visualization = new QWidget();
  Tab_Align_Visualization->setObjectName(QStringLiteral("Tab_Align_Visualization"));
  tabControl1->addTab(Tab_Align_Visualization, QStringLiteral("Align_Visualization"));
  page = Tab_Align_Visualization;

  label_Select_Align_Result =
      Make_Label(page, "label_Select_Align_Result", "Select Align Result File(*.aligndb)",
                 QRect(kMargin, kRowTop, 240, kRowHeight));
  textBox_Align_Result_File =
      Make_Text_Box(page, "textBox_Align_Result_File", "", QRect(252, kRowTop, 490, kRowHeight));
  button_Align_File_Browse =
      Make_Button(page, "button_Align_File_Browse", "Browse", QRect(750, kRowTop, 80, kRowHeight));

  panel_Align_Peaklist_Table =
      Make<QWidget>(page, "panel_Align_Peaklist_Table", QRect(0, kPanelTop, 295, 600));
  dataGridView_Align_Peaklist_Table = Make<QTableView>(
      panel_Align_Peaklist_Table, "dataGridView_Align_Peaklist_Table", QRect(kMargin, 4, 279, 583));
  panel_Align_Peaklist_Table->hide();

  panel_align_peak_visualization =
      Make<QWidget>(page, "panel_align_peak_visualization", QRect(290, kPanelTop, 548, 600));
  panel = panel_align_peak_visualization;
  groupBox_Standard_Normalize =
      Make_Radio_Group(panel, "groupBox_Standard_Normalize", QRect(4, 0, 206, 40), Qt::Horizontal);
  radioButton_Standard =
      Make_Radio(groupBox_Standard_Normalize, "radioButton_Standard", "Standard", true);
  radioButton_Normalized =
      Make_Radio(groupBox_Standard_Normalize, "radioButton_Normalized", "Normalized", false);
  groupBox_Scan_RT =
      Make_Radio_Group(panel, "groupBox_Scan_RT", QRect(216, 0, 316, 40), Qt::Horizontal);
  radioButton_Scan = Make_Radio(groupBox_Scan_RT, "radioButton_Scan", "Scan Number", true);
  radioButton_RT_Original =
      Make_Radio(groupBox_Scan_RT, "radioButton_RT_Original", "RT_Original", false);
  radioButton_RT_Corrected =
      Make_Radio(groupBox_Scan_RT, "radioButton_RT_Corrected", "RT_Corrected", false);
  // The two option frames sit side by side, each as wide as its captions.
  groupBox_Standard_Normalize->resize(groupBox_Standard_Normalize->sizeHint().width(), 40);
  groupBox_Scan_RT->setGeometry(groupBox_Standard_Normalize->geometry().right() + 6, 0,
                                groupBox_Scan_RT->sizeHint().width(), 40);
  zedGraphControl_AlignedPeaks =
      Make<QCustomPlot>(panel, "zedGraphControl_AlignedPeaks", QRect(4, 48, 474, 213));
  groupBox_SelectedPeak_Mode =
      Make_Radio_Group(panel, "groupBox_SelectedPeak_Mode", QRect(4, 270, 350, 40), Qt::Horizontal);
  radioButton_PeakPlot =
      Make_Radio(groupBox_SelectedPeak_Mode, "radioButton_PeakPlot", "Peak Plot", true);
  radioButton_GroupPlot =
      Make_Radio(groupBox_SelectedPeak_Mode, "radioButton_GroupPlot", "Group Plot", false);
  radioButton_CompoundPlot =
      Make_Radio(groupBox_SelectedPeak_Mode, "radioButton_CompoundPlot", "Compound Plot", false);
  groupBox_SelectedPeak_Mode->resize(groupBox_SelectedPeak_Mode->sizeHint().width(), 40);
  zedGraphControl_SlectedPeaks =
      Make<QCustomPlot>(panel, "zedGraphControl_SlectedPeaks", QRect(4, 318, 462, 237));
  panel_align_peak_visualization->hide();

  tabControl1->setCurrentIndex(0);

  // ---- Wiring ----
  connect(button_Annotation_File_Browse, &QPushButton::clicked, this,
          &Varnel_Form::Button_Click_Annotation_File_Browse);
  connect(button_Annotation_Load, &QPushButton::clicked, this,
          &Varnel_Form::Button_Click_Annotation_File_Load);
  connect(button_Align_Process, &QPushButton::clicked, this,
          &Varnel_Form::Button_Click_Align_Process);
  connect(button_Align_File_Browse, &QPushButton::clicked, this,
          &Varnel_Form::Button_Click_Align_File_Browse);
  // The result grid's click and the radio buttons are wired with the rest of
  // the visualization tab.
  Setup_Visualization();
}

Varnel_Form::~Varnel_Form() {
  // The children outlive this object's own part; nothing of theirs may call
  // back into it while they are torn down.
  QHeaderView* header = dataGridView_Annotation_Filelist->horizontalHeader();
  header->removeEventFilter(this);
  disconnect(header, nullptr, this, nullptr);
  disconnect(dataGridView_Annotation_Filelist->horizontalScrollBar(), nullptr, this, nullptr);
}

void Varnel_Form::Set_Align_Run(Align_Run_Function run) { align_run_ = std::move(run); }

void Varnel_Form::Guarded(const std::function<void()>& body) {
  QString failure;
  try {
    body();
    return;
  } catch (const CppSQLite3Exception& e) {
    failure = From_Engine_String(e.errorMessage());
  } catch (const std::exception& e) {
    failure = From_Engine_String(e.what());
  } catch (...) {
    failure = QStringLiteral("Unexpected failure.");
  }
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
  if (failure.isEmpty()) failure = QStringLiteral("Unexpected failure.");
  dialogs_->Show_Message(this, failure);
}

QStandardItemModel* Varnel_Form::ArrayToTable(const std::vector<Load_Row>& x, QString& col1,
                                              QString& col2, QObject* parent) {
  col1 = QString::fromUtf8(kFileNameHeader);
  col2 = QString::fromUtf8(kFolderNameHeader);
  return Build_File_Table(x, parent);
}

void Varnel_Form::Button_Click_Annotation_File_Browse() {
  Guarded([this] {
    const std::optional<QStringList> paths =
        dialogs_->Open_Files(this, QString::fromUtf8(kAnnotationDialogTitle), QString(),
                             QString::fromUtf8(kAnnotationDialogFilter), /*multi_select=*/true);
    if (!paths) return;
    Pick_Outcome outcome = Pick_Annotation_Files(*paths);
    textBox_Align_FilePath->setText(outcome.path_text);
    if (outcome.rows) Result_Data_Load = std::move(*outcome.rows);
    if (outcome.message) dialogs_->Show_Message(this, *outcome.message);
  });
}

void Varnel_Form::Button_Click_Annotation_File_Load() {
  Guarded([this] {
    if (const std::optional<QString> refusal =
            Check_Load(textBox_Align_FilePath->text(), Result_Data_Load)) {
      panel_Align_Process->hide();
      dialogs_->Show_Message(this, *refusal);
      return;
    }
    QTableView* grid = dataGridView_Annotation_Filelist;
    QString col1;
    QString col2;
    QStandardItemModel* table = ArrayToTable(*Result_Data_Load, col1, col2, this);
    QItemSelectionModel* old_selection = grid->selectionModel();
    QStandardItemModel* old_table = annotation_table_;
    grid->setModel(table);
    annotation_table_ = table;
    delete old_selection;
    delete old_table;

    grid->setColumnHidden(Column_Named(*table, col2), true);
    // Sorting stays off for the whole grid: the list keeps pick order, which
    // is the sample order of the run.
    grid->setSortingEnabled(false);
    panel_Align_Process->show();
    grid->setColumnWidth(kAlignColumn, kAlignColumnWidth);
    grid->setColumnWidth(kFileNameColumn, kFileColumnsWidth - grid->columnWidth(kAlignColumn));

    for (QCheckBox* old_box :
         grid->findChildren<QCheckBox*>(QString::fromUtf8(kHeaderCheckBoxName))) {
      delete old_box;
    }
    auto* header_box = new QCheckBox(grid);
    header_box->setObjectName(QString::fromUtf8(kHeaderCheckBoxName));
    header_box->setFixedSize(15, 15);
    header_box->setChecked(false);
    connect(header_box, &QCheckBox::toggled, this,
            &Varnel_Form::checkboxHeader_Align_CheckedChanged);
    Place_Header_Check_Box();
    header_box->show();
    header_box->raise();
  });
}

void Varnel_Form::Place_Header_Check_Box() {
  QTableView* grid = dataGridView_Annotation_Filelist;
  auto* box = grid->findChild<QCheckBox*>(QString::fromUtf8(kHeaderCheckBoxName));
  if (box == nullptr) return;
  const QHeaderView* header = grid->horizontalHeader();
  box->move(header->x() + header->sectionViewportPosition(kAlignColumn) + 2, header->y() + 4);
}

bool Varnel_Form::eventFilter(QObject* watched, QEvent* event) {
  if (watched == dataGridView_Annotation_Filelist->horizontalHeader() &&
      (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
    Place_Header_Check_Box();
  }
  return QWidget::eventFilter(watched, event);
}

void Varnel_Form::checkboxHeader_Align_CheckedChanged() {
  Guarded([this] {
    QTableView* grid = dataGridView_Annotation_Filelist;
    // Leave no cell in edit mode and nothing selected before every tick changes.
    grid->setCurrentIndex(QModelIndex());
    grid->clearSelection();
    grid->viewport()->update();
    const auto* box = grid->findChild<QCheckBox*>(QString::fromUtf8(kHeaderCheckBoxName));
    if (box == nullptr || annotation_table_ == nullptr) return;
    Set_All_Ticks(*annotation_table_, box->isChecked());
  });
}

void Varnel_Form::Button_Click_Align_Process() {
  Guarded([this] {
    Align_Form_Values values;
    values.picked = Result_Data_Load;
    if (annotation_table_ != nullptr) values.ticked_files = Ticked_File_Names(*annotation_table_);
    values.two_phase = radioButton_Two_Phase_Align->isChecked();
    values.window1 = textBox_Align_Window1->text();
    values.window2 = textBox_Align_Window2->text();
    values.mass_tol = textBox_Align_Mass_Tol->text();
    const Align_Plan plan = Plan_Align(values);

    // The result folder exists before any parameter is checked.
    if (!plan.result_folder.isEmpty()) {
      FilePathOut = plan.result_folder;
      if (!Make_Folder(plan.result_folder)) {
        dialogs_->Show_Message(
            this, QStringLiteral("Cannot create the result folder %1").arg(plan.result_folder));
        return;
      }
    }
    if (plan.refusal) {
      dialogs_->Show_Message(this, *plan.refusal);
      return;
    }
    {
      Wait_Cursor wait;
      const Alignment_Run_Observer observer;
      if (align_run_) {
        align_run_(plan.request, observer);
      } else {
        Run_Alignment(plan.request, observer);
      }
    }
    dialogs_->Show_Message(this, QString::fromUtf8(kAlignFinishedMessage));
  });
}

}  // namespace Varnel
