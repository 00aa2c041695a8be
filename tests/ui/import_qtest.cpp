// "Import feature lists..." on the alignment tab, with the dialogs replaced
// by a script: an import loads the written databases into the file list, and
// a cancelled, refused or failing one leaves the tab as it was.
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QTableView>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <string>

#include "run/alignment_request.h"
#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "ui/text_codec.h"
#include "ui/widgets/align_process_tab.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;
using Varnel::Test::Scripted_Dialogs;

class ImportWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<Varnel_Form> form_;
  Varnel::Test::Form_Controls ui_;
  Scripted_Dialogs* dialogs_ = nullptr;  // owned by form_
  std::unique_ptr<Temp_Folder> dir_;

  QString Data(const char* name) const {
    return From_Engine_String(Join_Path(VARNEL_IMPORT_DATA, name));
  }
  QString Out() const { return From_Engine_String(Join_Path(dir_->path(), "out")); }

  // Answers the import dialog with values and chooses the menu entry.
  void Import(const std::optional<Import_Form_Values>& values) {
    dialogs_->import_answers.push_back(values);
    auto* action =
        ui_.Tab_Align_Process->findChild<QAction*>(QStringLiteral("action_Import_Feature_Lists"));
    QVERIFY(action != nullptr);
    QVERIFY(ui_.Tab_Align_Process->actions().contains(action));  // the tab's context menu
    action->trigger();
  }
  int Grid_Rows() const {
    const QAbstractItemModel* model = ui_.dataGridView_Annotation_Filelist->model();
    return model == nullptr ? 0 : model->rowCount();
  }

 private slots:
  void init() {
    dir_ = std::make_unique<Temp_Folder>();
    auto dialogs = std::make_unique<Scripted_Dialogs>();
    dialogs_ = dialogs.get();
    form_ = std::make_unique<Varnel_Form>(std::move(dialogs));
    ui_ = Varnel::Test::Form_Controls(*form_);
  }
  void cleanup() {
    form_.reset();
    dir_.reset();
  }

  void importLoadsTheWrittenDatabases() {
    Import(Import_Form_Values{QStringLiteral("featurexml"),
                              {Data("s1.featureXML"), Data("s2.featureXML")},
                              Out(),
                              QString()});
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY2(dialogs_->messages.front().startsWith(
                 QStringLiteral("Imported 2 samples (6 features) into ") + Out()),
             qPrintable(dialogs_->messages.front()));
    QVERIFY(!ui_.panel_Align_Process->isHidden());
    QCOMPARE(Grid_Rows(), 2);
    const auto& picked = form_->findChild<Align_Process_Tab*>()->Result_Data_Load();
    QVERIFY(picked.has_value());
    QCOMPARE(picked->at(0).name, QStringLiteral("s1") + QString::fromUtf8(kAnnotatedSuffix));
    QCOMPARE(picked->at(1).folder, Out());
    QCOMPARE(ui_.textBox_Align_FilePath->text(),
             Out() + "/s1" + kAnnotatedSuffix + ";" + Out() + "/s2" + kAnnotatedSuffix + ";");
  }

  // A right click in the tab's free space and on the file grid opens a menu
  // with the import (the popup is read and closed from inside its loop).
  void contextMenusHoldTheImport() {
    Import(Import_Form_Values{QStringLiteral("xcms"), {Data("xcms.csv")}, Out(), QString()});
    QVERIFY(!ui_.panel_Align_Process->isHidden());
    form_->show();
    for (QWidget* target : {static_cast<QWidget*>(ui_.Tab_Align_Process),
                            ui_.dataGridView_Annotation_Filelist->viewport()}) {
      QStringList entries;
      QTimer::singleShot(0, [&entries] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
          for (const QAction* action : popup->actions()) entries.push_back(action->text());
          popup->close();
        }
      });
      const QPoint at(5, 5);
      QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
      QApplication::sendEvent(target, &event);
      QCOMPARE(entries, QStringList{QString::fromUtf8(kImportActionText)});
    }
  }

  void cancelledRefusedOrFailedImportChangesNothing_data() {
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("message");
    QTest::newRow("cancelled") << true << ""
                               << ""
                               << ""
                               << "";
    QTest::newRow("no folder") << false << "xcms"
                               << "xcms.csv"
                               << ""
                               << "Please choose the folder to write the databases into!";
    QTest::newRow("no input") << false << "xcms"
                              << ""
                              << "out"
                              << "Please choose the feature lists to import!";
    QTest::newRow("bad input") << false << "mzmine"
                               << "xcms.csv"
                               << "out"
                               << ":1: no per-sample columns";
  }
  void cancelledRefusedOrFailedImportChangesNothing() {
    QFETCH(bool, cancelled);
    QFETCH(QString, format);
    QFETCH(QString, input);
    QFETCH(QString, folder);
    QFETCH(QString, message);
    Import_Form_Values values{format, {}, folder.isEmpty() ? QString() : Out(), QString()};
    if (!input.isEmpty()) values.inputs.push_back(Data(input.toUtf8().constData()));
    Import(cancelled ? std::nullopt : std::optional<Import_Form_Values>(values));
    QCOMPARE(dialogs_->import_calls, 1);
    if (cancelled) {
      QVERIFY(dialogs_->messages.isEmpty());
    } else {
      QCOMPARE(dialogs_->messages.size(), 1);
      QVERIFY2(dialogs_->messages.front().contains(message),
               qPrintable(dialogs_->messages.front()));
    }
    QVERIFY(ui_.panel_Align_Process->isHidden());
    QVERIFY(ui_.textBox_Align_FilePath->text().isEmpty());
    QVERIFY(List_Folder(dir_->path()).empty() ||
            List_Folder(Join_Path(dir_->path(), "out")).empty());
  }
};

QTEST_MAIN(ImportWindowTest)
#include "import_qtest.moc"
