#include "ui/widgets/varnel_form.h"

#include <QCloseEvent>
#include <QTabWidget>

#include "ui/viz_palette.h"
#include "ui/widgets/align_process_tab.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/control_factory.h"
#include "ui/widgets/result_grid_actions.h"

namespace Varnel {

namespace {

// Client area of the window, pixels.
constexpr int kWindowWidth = 846;
constexpr int kWindowHeight = 699;

}  // namespace

Varnel_Form::Varnel_Form(std::unique_ptr<Form_Dialogs> dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      dialogs_(dialogs ? std::move(dialogs) : Make_Standard_Dialogs()),
      guard_(std::make_unique<Failure_Guard>(*dialogs_, this)) {
  setObjectName(QStringLiteral("Varnel_Form"));
  setWindowTitle(QStringLiteral("Varnel"));
  setFixedSize(kWindowWidth, kWindowHeight);

  tabControl1 =
      Controls::Make<QTabWidget>(this, "tabControl1", QRect(0, 0, kWindowWidth, kWindowHeight));
  align_tab_ = new Align_Process_Tab(*dialogs_, *guard_);
  tabControl1->addTab(align_tab_, QStringLiteral("Align_Process"));
  visualization_tab_ = new Align_Visualization_Tab(
      *dialogs_, *guard_, [tab = align_tab_] { return tab->FilePathOut(); });
  tabControl1->addTab(visualization_tab_, QStringLiteral("Align_Visualization"));
  Install_Result_Grid_Actions(*visualization_tab_, *dialogs_);
  visualization_tab_->Add_Grid_Action(QString::fromUtf8(kOpenViewerCaption), QKeySequence(),
                                      [this] { Open_Viewer(); });
  connect(visualization_tab_, &Align_Visualization_Tab::Viewer_Requested, this,
          [this] { guard_->Run([this] { Open_Viewer(); }); });
  align_tab_->Set_Result_Opener([this](const QString& path) {
    tabControl1->setCurrentWidget(visualization_tab_);
    visualization_tab_->Open_Result(path);
  });
  tabControl1->setCurrentIndex(0);
  connect(visualization_tab_, &Align_Visualization_Tab::Redrawn, this, &Varnel_Form::Redrawn);
}

Varnel_Form::~Varnel_Form() {
  // The viewer shows the tab's rows, and the tabs run handlers through
  // dialogs_ and guard_: release them first.
  delete viewer_;
  delete tabControl1;
  tabControl1 = nullptr;
}

QStandardItemModel* Varnel_Form::ArrayToTable(const std::vector<Picked_File>& x, QString& col1,
                                              QString& col2, QObject* parent) {
  return Align_Process_Tab::ArrayToTable(x, col1, col2, parent);
}

void Varnel_Form::Generate_Color_Vect(int Color_NUM, QColor* Color_Array) {
  Fill_Color_Vect(Color_NUM, Color_Array);
}

void Varnel_Form::Set_Align_Run(Align_Run_Function run) {
  align_tab_->Set_Align_Run(std::move(run));
}

void Varnel_Form::Set_Estimator(Estimate_Function estimator) {
  align_tab_->Set_Estimator(std::move(estimator));
}

Result_Viewer_Window* Varnel_Form::Open_Viewer() {
  if (!visualization_tab_->Has_Result()) return nullptr;
  if (viewer_ == nullptr)
    viewer_ = new Result_Viewer_Window(*visualization_tab_, *guard_, viewer_settings_, this);
  viewer_->show();
  viewer_->raise();
  viewer_->activateWindow();
  return viewer_;
}

void Varnel_Form::closeEvent(QCloseEvent* event) {
  if (align_tab_->Run_Active()) {
    // The run waits while the question is open, so that it cannot replace
    // the results between the question and a Yes.
    align_tab_->Hold_Run(true);
    bool stop = false;
    guard_->Run([this, &stop] {
      stop = dialogs_->Ask_Yes_No(this, QString::fromUtf8(kStopRunAndCloseQuestion));
    });
    if (!stop) {
      align_tab_->Hold_Run(false);
      event->ignore();
      return;
    }
    align_tab_->Stop_Run_For_Close();
  }
  if (viewer_ != nullptr) viewer_->close();  // keeps its geometry
  QWidget::closeEvent(event);
}

}  // namespace Varnel
