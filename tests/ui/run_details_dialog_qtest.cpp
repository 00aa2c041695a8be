// The run details window: the record shown read-only, beside the main window
// rather than blocking it.
#include <QPlainTextEdit>
#include <QPointer>
#include <QtTest>

#include "storage/run_record.h"
#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/support/test_files.h"
#include "tests/support/test_result.h"
#include "ui/widgets/run_details_dialog.h"

class RunDetailsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void showsTheRecordReadOnlyWithoutBlocking() {
    Temp_Folder dir;
    const std::string result = Write_Result(dir.path(), {{1, 0, "S0"}});
    Run_Record record;
    record.inputs = {{0, "S0", "/data", "S0.db", 1, "00112233445566778899aabbccddeeff", 1}};
    {
      CppSQLite3DB db;
      db.open(result.c_str(), CppSQLite3OpenMode::kReadWrite);
      Write_Run_Record(db, record);
    }
    QPointer<Varnel::Run_Details_Dialog> dialog = Varnel::Show_Run_Details(result, nullptr);
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    QVERIFY(dialog->text().contains(QStringLiteral("00112233445566778899aabbccddeeff")));
    auto* text = dialog->findChild<QPlainTextEdit*>(QStringLiteral("textBox_Run_Details"));
    QVERIFY(text != nullptr);
    QVERIFY(text->isReadOnly());
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog.isNull());
  }
};

QTEST_MAIN(RunDetailsDialogTest)
#include "run_details_dialog_qtest.moc"
