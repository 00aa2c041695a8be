// The real "Import feature lists" dialog on the offscreen platform: it guesses
// the format of the chosen files from their content, keeps a format chosen
// by hand, keeps every field when OK is refused, and opens again with what
// was last asked after a failed import.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "storage/path.h"
#include "tests/support/test_files.h"
#include "ui/text_codec.h"
#include "ui/widgets/form_dialogs.h"
#include "ui/widgets/import_dialog.h"

using namespace Varnel;

class ImportDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<Temp_Folder> dir_;

  static QString Data(const char* name) {
    return From_Engine_String(Join_Path(VARNEL_IMPORT_DATA, name));
  }
  QString Write(const char* name, const std::string& text) const {
    const std::string path = Join_Path(dir_->path(), name);
    Write_File(path, text);
    return From_Engine_String(path);
  }

 private slots:
  void init() { dir_ = std::make_unique<Temp_Folder>(); }
  void cleanup() { dir_.reset(); }

  void formatIsGuessedFromTheFilesContent() {
    Import_Dialog dialog(nullptr, {});
    const struct {
      QString path;
      const char* format;
    } cases[] = {
        {Data("table.tsv"), "table"},
        {Data("s1.featureXML"), "featurexml"},
        {Data("mzmine.csv"), "mzmine"},
        {Data("xcms.csv"), "xcms"},
        // The name does not decide: a table named .featureXML, XML named .tsv.
        {Write("peaks.featureXML", "mz\trt\theight\n1\t2\t3\n"), "table"},
        {Write("map.tsv", "<?xml version=\"1.0\"?>\n<featureMap><featureList/></featureMap>"),
         "featurexml"},
        // Content that fits no format: the name wins over the last guess.
        {Write("broken.tsv", "one line of plain text\n"), "table"},
        {Data("s1.featureXML"), "featurexml"},
        {Write("empty.csv", ""), "table"},
    };
    for (const auto& c : cases) {
      dialog.Set_Inputs({c.path});
      QCOMPARE(dialog.Values().format, QString::fromUtf8(c.format));
    }
    // Typed by hand: guessed when the box is left.
    dialog.inputs_box()->setText(Data("mzmine.csv"));
    emit dialog.inputs_box()->editingFinished();
    QCOMPARE(dialog.Values().format, QStringLiteral("mzmine"));
    // A format chosen by hand stays for typed paths.
    dialog.format_box()->setCurrentIndex(dialog.format_box()->findData(QStringLiteral("table")));
    emit dialog.format_box()->activated(dialog.format_box()->currentIndex());
    dialog.inputs_box()->setText(Data("s1.featureXML"));
    emit dialog.inputs_box()->editingFinished();
    QCOMPARE(dialog.Values().format, QStringLiteral("table"));
  }

  void refusedOkKeepsTheDialogAndEveryField() {
    Import_Dialog dialog(nullptr, {});
    dialog.Set_Inputs({Data("xcms.csv")});
    dialog.rt_unit_box()->setCurrentIndex(2);
    dialog.show();
    QString refusal;
    QTimer::singleShot(0, [&refusal] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        refusal = box->text();
        box->accept();
      }
    });
    dialog.accept();  // no folder
    QCOMPARE(refusal, QStringLiteral("Please choose the folder to write the databases into!"));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), 0);
    const Import_Form_Values kept = dialog.Values();
    QCOMPARE(kept.format, QStringLiteral("xcms"));
    QCOMPARE(kept.inputs, QStringList{Data("xcms.csv")});
    QCOMPARE(kept.rt_unit, QStringLiteral("min"));
  }

  // The window's dialogs: an import that then fails opens the next dialog
  // with everything as it was typed.
  void nextDialogOpensWithTheLastValues() {
    const std::unique_ptr<Form_Dialogs> dialogs = Make_Standard_Dialogs();
    const QString out = From_Engine_String(Join_Path(dir_->path(), "out"));
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<Import_Dialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      dialog->Set_Inputs({Data("mzmine.csv"), Data("table.tsv")});
      dialog->folder_box()->setText(out);
      dialog->rt_unit_box()->setCurrentIndex(1);
      dialog->accept();
    });
    const std::optional<Import_Form_Values> first = dialogs->Ask_Import(nullptr);
    QVERIFY(first.has_value());
    QCOMPARE(first->format, QStringLiteral("mzmine"));
    std::optional<Import_Form_Values> shown;
    QTimer::singleShot(0, [&shown] {
      if (auto* dialog = qobject_cast<Import_Dialog*>(QApplication::activeModalWidget())) {
        shown = dialog->Values();
        dialog->reject();
      }
    });
    QVERIFY(!dialogs->Ask_Import(nullptr).has_value());
    QVERIFY(shown.has_value());
    QCOMPARE(shown->format, QStringLiteral("mzmine"));
    QCOMPARE(shown->inputs, (QStringList{Data("mzmine.csv"), Data("table.tsv")}));
    QCOMPARE(shown->out_dir, out);
    QCOMPARE(shown->rt_unit, QStringLiteral("s"));
  }
};

QTEST_MAIN(ImportDialogTest)
#include "import_dialog_qtest.moc"
