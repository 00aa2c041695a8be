#include "ui/widgets/run_details_dialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "ui/result_export_ui.h"
#include "ui/text_codec.h"

namespace Varnel {

Run_Details_Dialog::Run_Details_Dialog(const QString& result_file_name, const QString& text,
                                       QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("dialog_Run_Details"));
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setWindowTitle(QStringLiteral("Run details - %1").arg(result_file_name));
  text_ = new QPlainTextEdit(this);
  text_->setObjectName(QStringLiteral("textBox_Run_Details"));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  text_->setPlainText(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(buttons);
  resize(720, 480);
}

QString Run_Details_Dialog::text() const { return text_->toPlainText(); }

Run_Details_Dialog* Show_Run_Details(const std::string& result_path, QWidget* parent) {
  const QString text = From_Engine_String(Run_Details_Text(result_path));
  const QString name = QFileInfo(From_Engine_String(result_path)).fileName();
  auto* dialog = new Run_Details_Dialog(name, text, parent);
  dialog->show();
  return dialog;
}

}  // namespace Varnel
