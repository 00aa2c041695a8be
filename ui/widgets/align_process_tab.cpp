#include "ui/widgets/align_process_tab.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScreen>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTableView>

#include "run/result_writers.h"
#include "storage/output_folder.h"
#include "storage/path.h"
#include "ui/import_ui.h"
#include "ui/text_codec.h"
#include "ui/widgets/control_factory.h"
#include "ui/widgets/form_dialogs.h"
#include "ui/widgets/run_progress_dialog.h"
#include "ui/widgets/wait_cursor.h"

namespace Varnel {

namespace {

using namespace Controls;

constexpr int kDialogGap = 12;  // pixels between the window and the progress dialog

// The estimate's stage line: the files as a run reads them, then the fit.
QString Estimate_Progress_Text(const Run_Progress& progress) {
  if (progress.stage.load() == static_cast<int>(Run_Stage::kAligning)) {
    return QStringLiteral("Estimating the spreads of mass and retention time");
  }
  return Run_Progress_Text(progress);
}

int Column_Named(const QStandardItemModel& table, const QString& name) {
  for (int column = 0; column < table.columnCount(); ++column) {
    if (table.headerData(column, Qt::Horizontal).toString() == name) return column;
  }
  return -1;
}

}  // namespace

Align_Process_Tab::Align_Process_Tab(Form_Dialogs& dialogs, const Failure_Guard& guard,
                                     QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), guard_(guard) {
  setObjectName(QStringLiteral("Tab_Align_Process"));
  QWidget* page = this;

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
  // One parameter row: caption, text box, unit. Returns the text box.
  const auto param_row = [&](int top, const char* label_name, const char* label_text,
                             const char* box_name, const char* box_text, const char* unit_name,
                             const char* unit_text) {
    Make_Label(panel, label_name, label_text, QRect(kParamLeft, top, kLabelWidth, 24));
    QLineEdit* box = Make_Text_Box(panel, box_name, box_text, QRect(kBoxLeft, top, kBoxWidth, 24));
    Make_Label(panel, unit_name, unit_text, QRect(kUnitLeft, top, 70, 24));
    return box;
  };
  textBox_Align_Window1 =
      param_row(110, "label_Align_Window1", "Fast_Align_RT_Window:", "textBox_Align_Window1",
                kDefaultWindow1Text, "label_Align_Window1_Unit", "Seconds");
  textBox_Align_Window2 =
      param_row(146, "label_Align_Window2", "Deep_Align_RT_Window:", "textBox_Align_Window2",
                kDefaultWindow2Text, "label_Align_Window2_Unit", "Seconds");
  textBox_Align_Mass_Tol =
      param_row(182, "label_Align_Mass_Tol", "Align_Mass_Tol:", "textBox_Align_Mass_Tol",
                kDefaultMassTolText, "label_Align_Mass_Tol_Unit", "Da");
  button_Align_Process =
      Make_Button(panel, "button_Align_Process", "Align", QRect(kParamLeft, 226, 100, 30));
  // Below the Align button: the estimate of the three numbers and the run's
  // options.
  button_Estimate =
      Make_Button(panel, "button_Estimate", "Estimate", QRect(kParamLeft, 270, 100, 30));
  button_Estimate->setToolTip(
      QStringLiteral("Suggest the three numbers from the spreads in the ticked files"));
  checkBox_RT_Drift_Correction =
      Make<QCheckBox>(panel, "checkBox_RT_Drift_Correction", QRect(kParamLeft, 314, 260, 24));
  checkBox_RT_Drift_Correction->setText(QStringLiteral("RT_Drift_Correction"));
  // Beside it, in the panel's free space: the member choice by score with
  // split groups joined.
  checkBox_Scored_Member_Choice = Make<QCheckBox>(panel, "checkBox_Scored_Member_Choice",
                                                  QRect(kParamLeft + 264, 314, 170, 24));
  checkBox_Scored_Member_Choice->setText(QStringLiteral("Scored_Member_Choice"));
  checkBox_Scored_Member_Choice->setToolTip(
      QStringLiteral("Choose each sample's member by time, mass and intensity, and join a compound "
                     "split over two groups (--pick scored --join-splits)"));
  checkBox_Record_Run =
      Make<QCheckBox>(panel, "checkBox_Record_Run", QRect(kParamLeft, 342, 260, 24));
  checkBox_Record_Run->setText(QStringLiteral("Record_Run_Details"));
  // Under the tick boxes, in the panel's free space: the last estimate.
  label_Estimate_Result =
      Make_Label(panel, "label_Estimate_Result", "", QRect(kParamLeft, 378, 430, 200));
  label_Estimate_Result->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label_Estimate_Result->setWordWrap(true);
  label_Estimate_Result->hide();
  panel_Align_Process->hide();

  connect(button_Annotation_File_Browse, &QPushButton::clicked, this,
          &Align_Process_Tab::Button_Click_Annotation_File_Browse);
  connect(button_Annotation_Load, &QPushButton::clicked, this,
          &Align_Process_Tab::Button_Click_Annotation_File_Load);
  connect(button_Align_Process, &QPushButton::clicked, this,
          &Align_Process_Tab::Button_Click_Align_Process);
  connect(button_Estimate, &QPushButton::clicked, this, &Align_Process_Tab::Button_Click_Estimate);
  // The estimate's words follow what they were computed for.
  connect(checkBox_RT_Drift_Correction, &QCheckBox::toggled, this,
          [this] { Refresh_Estimate_Words(); });
  connect(checkBox_Scored_Member_Choice, &QCheckBox::toggled, this,
          [this] { Refresh_Estimate_Words(); });
  for (QLineEdit* box : {textBox_Align_Window1, textBox_Align_Window2, textBox_Align_Mass_Tol}) {
    connect(box, &QLineEdit::textChanged, this, [this] { Refresh_Estimate_Words(); });
  }

  // The tab's context menu (free space and the file grid) holds the import.
  auto* import_action = new QAction(QString::fromUtf8(kImportActionText), this);
  import_action->setObjectName(QStringLiteral("action_Import_Feature_Lists"));
  addAction(import_action);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(import_action, &QAction::triggered, this, &Align_Process_Tab::Import_Feature_Lists);
}

Align_Process_Tab::~Align_Process_Tab() {
  Stop_Run_For_Close();
  // The children outlive this object's own part; nothing of theirs may call
  // back into it while they are torn down.
  QHeaderView* header = dataGridView_Annotation_Filelist->horizontalHeader();
  header->removeEventFilter(this);
  disconnect(header, nullptr, this, nullptr);
  disconnect(dataGridView_Annotation_Filelist->horizontalScrollBar(), nullptr, this, nullptr);
}

void Align_Process_Tab::Set_Align_Run(Align_Run_Function run) { align_run_ = std::move(run); }

void Align_Process_Tab::Set_Estimator(Estimate_Function estimator) {
  estimator_ = std::move(estimator);
}

void Align_Process_Tab::Stop_Run_For_Close() {
  if (running_ == nullptr) return;
  closing_ = true;
  running_->Stop_And_Wait();
}

void Align_Process_Tab::Hold_Run(bool held) {
  if (running_ != nullptr) running_->Hold(held);
}

bool Align_Process_Tab::Run_Under_Progress(const QString& title, std::size_t files,
                                           std::function<void(const Alignment_Run_Observer&)> work,
                                           std::function<QString(const Run_Progress&)> caption) {
  Run_Progress_Dialog dialog(title, files, window(), std::move(caption));
  // Beside the window when the screen has room, so that it covers nothing
  // of the tab the user turns to meanwhile.
  dialog.adjustSize();
  const QRect frame = window()->frameGeometry();
  if (const QScreen* screen = window()->screen()) {
    const QRect room = screen->availableGeometry();
    if (frame.right() + kDialogGap + dialog.frameGeometry().width() <= room.right())
      dialog.move(frame.right() + kDialogGap, frame.top() + kDialogGap);
  }
  closing_ = false;
  running_ = &dialog;
  setEnabled(false);
  struct Restore {
    Align_Process_Tab* tab;
    ~Restore() {
      tab->running_ = nullptr;
      tab->setEnabled(true);
    }
  } restore{this};
  dialog.Run(std::move(work));
  return dialog.Stop_Requested();
}

QStandardItemModel* Align_Process_Tab::ArrayToTable(const std::vector<Picked_File>& x,
                                                    QString& col1, QString& col2, QObject* parent) {
  col1 = QString::fromUtf8(kFileNameHeader);
  col2 = QString::fromUtf8(kFolderNameHeader);
  return Build_File_Table(x, parent);
}

void Align_Process_Tab::Button_Click_Annotation_File_Browse() {
  guard_.Run([this] {
    const std::optional<QStringList> paths =
        dialogs_.Open_Files(window(), QString::fromUtf8(kAnnotationDialogTitle), QString(),
                            QString::fromUtf8(kAnnotationDialogFilter), /*multi_select=*/true);
    if (!paths) return;
    Pick_Outcome outcome = Pick_Annotation_Files(*paths);
    textBox_Align_FilePath->setText(outcome.path_text);
    if (outcome.rows) result_data_load_ = std::move(*outcome.rows);
    if (outcome.message) dialogs_.Show_Message(window(), *outcome.message);
  });
}

void Align_Process_Tab::Button_Click_Annotation_File_Load() {
  guard_.Run([this] {
    if (const std::optional<QString> refusal =
            Check_Load(textBox_Align_FilePath->text(), result_data_load_)) {
      panel_Align_Process->hide();
      dialogs_.Show_Message(window(), *refusal);
      return;
    }
    QTableView* grid = dataGridView_Annotation_Filelist;
    QString col1;
    QString col2;
    QStandardItemModel* table = ArrayToTable(*result_data_load_, col1, col2, this);
    QItemSelectionModel* old_selection = grid->selectionModel();
    QStandardItemModel* old_table = annotation_table_;
    grid->setModel(table);
    annotation_table_ = table;
    delete old_selection;
    delete old_table;
    connect(table, &QStandardItemModel::itemChanged, this, [this] { Refresh_Estimate_Words(); });

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
            &Align_Process_Tab::checkboxHeader_Align_CheckedChanged);
    Place_Header_Check_Box();
    header_box->show();
    header_box->raise();
    Refresh_Estimate_Words();
  });
}

void Align_Process_Tab::Place_Header_Check_Box() {
  QTableView* grid = dataGridView_Annotation_Filelist;
  auto* box = grid->findChild<QCheckBox*>(QString::fromUtf8(kHeaderCheckBoxName));
  if (box == nullptr) return;
  const QHeaderView* header = grid->horizontalHeader();
  box->move(header->x() + header->sectionViewportPosition(kAlignColumn) + 2, header->y() + 4);
}

bool Align_Process_Tab::eventFilter(QObject* watched, QEvent* event) {
  if (watched == dataGridView_Annotation_Filelist->horizontalHeader() &&
      (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
    Place_Header_Check_Box();
  }
  return QWidget::eventFilter(watched, event);
}

void Align_Process_Tab::checkboxHeader_Align_CheckedChanged() {
  guard_.Run([this] {
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

Align_Form_Values Align_Process_Tab::Read_Form_Values() const {
  Align_Form_Values values;
  values.picked = result_data_load_;
  if (annotation_table_ != nullptr) values.ticked_files = Ticked_File_Names(*annotation_table_);
  values.two_phase = radioButton_Two_Phase_Align->isChecked();
  values.window1 = textBox_Align_Window1->text();
  values.window2 = textBox_Align_Window2->text();
  values.mass_tol = textBox_Align_Mass_Tol->text();
  values.rt_correction = checkBox_RT_Drift_Correction->isChecked();
  values.record_run = checkBox_Record_Run->isChecked();
  values.scored_member_choice = checkBox_Scored_Member_Choice->isChecked();
  return values;
}

void Align_Process_Tab::Refresh_Estimate_Words() {
  if (!estimate_record_) return;
  const Align_Form_Values values = Read_Form_Values();
  label_Estimate_Result->setText(Estimate_Words(*estimate_record_, values) +
                                 Member_Choice_Words(values.scored_member_choice));
}

void Align_Process_Tab::Button_Click_Align_Process() {
  if (Run_Active()) return;  // one run at a time
  guard_.Run([this] {
    const Align_Plan plan = Plan_Align(Read_Form_Values());

    // The result folder exists before any parameter is checked; one made
    // here for a run that then fails or is cancelled goes again when empty.
    std::optional<Output_Folder> made;
    if (!plan.result_folder.isEmpty()) {
      file_path_out_ = plan.result_folder;
      made.emplace(To_Engine_String(plan.result_folder));
      if (!made->ok()) {
        dialogs_.Show_Message(
            window(), QStringLiteral("Cannot create the result folder %1").arg(plan.result_folder));
        return;
      }
    }
    if (plan.refusal) {
      dialogs_.Show_Message(window(), *plan.refusal);
      return;
    }
    bool cancelled = false;
    bool late_cancel = false;  // a Cancel the run no longer heeded
    Alignment_Run_Summary summary;
    {
      Wait_Cursor wait;
      const Align_Run_Function run = align_run_ ? align_run_ : Align_Run_Function(Run_Alignment);
      try {
        // summary is written on the work's thread and read here after it ended.
        late_cancel = Run_Under_Progress(
            QStringLiteral("Aligning"), plan.request.files.size(),
            [run, &summary, request = plan.request](const Alignment_Run_Observer& observer) {
              summary = run(request, observer);
            });
      } catch (const Run_Cancelled&) {
        cancelled = true;
        if (made) made->Discard_If_Empty();
      } catch (...) {
        if (made) made->Discard_If_Empty();
        throw;
      }
    }
    if (closing_) return;
    if (cancelled) {
      dialogs_.Show_Message(window(), QString::fromUtf8(kAlignCancelledMessage));
      return;
    }
    const QString details = Align_Finished_Details(plan.result_folder, late_cancel);
    if (dialogs_.Show_Notice(window(), QString::fromUtf8(kAlignFinishedMessage), details,
                             result_opener_ ? QString::fromUtf8(kOpenResultAction) : QString())) {
      result_opener_(
          From_Engine_String(Join_Path(To_Engine_String(plan.result_folder), kAlignedDbName)));
    }
    if (!summary.inputs_without_table.empty()) {
      dialogs_.Show_Message(window(), Inputs_Without_Table_Text(summary.inputs_without_table));
    }
  });
}

void Align_Process_Tab::Import_Feature_Lists() {
  if (Run_Active()) return;
  guard_.Run([this] {
    const std::optional<Import_Form_Values> values = dialogs_.Ask_Import(window());
    if (!values) return;
    if (const std::optional<QString> refusal = Check_Import(*values)) {
      dialogs_.Show_Message(window(), *refusal);
      return;
    }
    Import_Summary summary;
    {
      Wait_Cursor wait;
      summary = Run_Import(*values);
    }
    Pick_Outcome outcome = Pick_Annotation_Files(summary.databases);
    textBox_Align_FilePath->setText(outcome.path_text);
    if (outcome.rows) result_data_load_ = std::move(*outcome.rows);
    Button_Click_Annotation_File_Load();
    dialogs_.Show_Message(window(), summary.message);
  });
}

void Align_Process_Tab::Button_Click_Estimate() {
  if (Run_Active()) return;
  guard_.Run([this] {
    if (!estimator_) {
      dialogs_.Show_Message(window(), QString::fromUtf8(kEstimateUnavailableMessage));
      return;
    }
    const Align_Form_Values values = Read_Form_Values();
    const Estimate_Plan plan = Plan_Estimate(values);
    if (plan.refusal) {
      dialogs_.Show_Message(window(), *plan.refusal);
      return;
    }
    Tolerance_Suggestion suggestion;
    bool cancelled = false;
    {
      Wait_Cursor wait;
      const Estimate_Function estimate = estimator_;
      try {
        // suggestion is written on the work's thread and read here after it ended.
        Run_Under_Progress(
            QStringLiteral("Estimating tolerances"), plan.files.size(),
            [&suggestion, estimate, files = plan.files,
             rt_correction = values.rt_correction](const Alignment_Run_Observer& observer) {
              suggestion = estimate(files, rt_correction, observer);
            },
            Estimate_Progress_Text);
      } catch (const Run_Cancelled&) {
        cancelled = true;
      }
    }
    if (closing_) return;
    if (cancelled) {
      dialogs_.Show_Message(window(), QString::fromUtf8(kEstimateCancelledMessage));
      return;
    }
    const auto fill = [](QLineEdit* box, double value) {
      if (const std::optional<QString> text = Format_Suggested_Number(value)) box->setText(*text);
    };
    fill(textBox_Align_Mass_Tol, suggestion.Mass_Tol.value);
    fill(textBox_Align_Window1, suggestion.Align_Window1);
    fill(textBox_Align_Window2, suggestion.Align_Window2);
    Estimate_Record record;
    record.suggestion = suggestion;
    record.folder = values.picked->front().folder;
    record.files = values.ticked_files;
    record.rt_correction = values.rt_correction;
    record.mass_tol = textBox_Align_Mass_Tol->text();
    record.window1 = textBox_Align_Window1->text();
    record.window2 = textBox_Align_Window2->text();
    estimate_record_ = std::move(record);
    label_Estimate_Result->setToolTip(Estimate_Details_Text(suggestion));
    Refresh_Estimate_Words();
    label_Estimate_Result->show();
  });
}

}  // namespace Varnel
