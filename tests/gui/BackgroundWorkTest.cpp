// Long work on a large document through the window's one runner: a second
// job is refused, the window stays the user's while a command runs (items
// expanded and collapsed, the caret moved, keys typed), the message pane
// says what runs, and twenty commands leave as many threads as one.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Disposal.h"
#include "doc/core/Doc.h"
#include "edit/ui/TreeCommandDlg.h"
#include "framework/ui/BackgroundWork.h"
#include "framework/ui/Commands.h"
#include "tests/gui/TestWindow.h"
#include "views/source/ui/DView.h"
#include "views/tree/core/TreeItems.h"
#include "views/tree/ui/ClassView.h"
#include "views/tree/ui/TreeModel.h"

using namespace quorrel;

namespace {

QByteArray LargeDocument() {
    QByteArray text = "<?xml version=\"1.0\"?>\n<orders>\n";
    for (int i = 0; text.size() < qsizetype(CBackgroundWork::kApartFrom + (1 << 18)); ++i) {
        text += "\t<order id=\"" + QByteArray::number(i) + "\">\n\t\t<item>part " +
                QByteArray::number(i) + "</item>\n\t</order>\n";
    }
    return text + "</orders>\n";
}

int ThreadCount() {
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

struct Window : TestWindow {
    QTemporaryDir dir;
    QString path = Write(dir, QStringLiteral("orders.xml"), LargeDocument());
    QStringList messagesWhileOpening;
    QString newName = QStringLiteral("purchase");

    Window() {
        Start(path, Until::Started);
        if (!started) {
            return;
        }
        waitWhileOpening([this] { messagesWhileOpening << message(); });
        tree().m_execDialog = [this](QDialog& dialog) {
            auto& d = static_cast<CTreeCommandDlg&>(dialog);
            d.NameField()->setText(newName);
            d.AllOccurrences()->setChecked(true);
            return int(QDialog::Accepted);
        };
    }

    // Starts Rename Element on every element of the first one's name.
    void startRename(const QString& name) {
        newName = name;
        select(QStringLiteral("0.0"));
        run(ID_RENAME_ELEMENT);
        QVERIFY(frame().Work().IsRunning());
    }
    void waitForWork() { TestWindow::waitForWork(120000); }
};

}  // namespace

class BackgroundWorkTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:

    void whileACommandRunsTheWindowIsTheUsersAndNoSecondJobStarts() {
        Window w;
        QVERIFY(w.messagesWhileOpening.contains(QStringLiteral("Opening orders.xml…")));
        QCOMPARE(w.message(), QStringLiteral("Ready"));
        const std::string before = w.doc().Text();

        w.startRename(QStringLiteral("purchase"));
        QCOMPARE(w.message(), QStringLiteral("Renaming elements…"));
        // A second job is refused, never run here or there.
        bool ran = false;
        QVERIFY(!w.frame().Work().Start(
            QStringLiteral("x"),
            [&ran]() -> CBackgroundWork::Continuation {
                ran = true;
                return nullptr;
            },
            nullptr));
        QVERIFY(!ran);

        // The user meanwhile: items collapsed and expanded, the caret moved, keys typed.
        const QModelIndex top = w.tree().Model()->Reveal(FindItemAt(w.tree().Items(), "0"));
        int rounds = 0;
        while (w.frame().Work().IsRunning()) {
            for (int row = 0; row < 8; ++row) {
                const QModelIndex order = w.tree().Model()->index(row, 0, top);
                w.tree().setExpanded(order, false);
                w.tree().setExpanded(order, true);
            }
            w.tree().setExpanded(top, false);
            w.tree().setExpanded(top, true);
            w.source().setFocus();
            w.source().SendScintilla(QsciScintillaBase::SCI_GOTOPOS,
                                     (unsigned long)(before.find("<item>", 40 * rounds)));
            QTest::keyClicks(&w.source(), QStringLiteral("typed"));
            QCOMPARE(w.message(), QStringLiteral("Renaming elements…"));
            ++rounds;
            QCoreApplication::processEvents();
        }
        QVERIFY(rounds > 0);
        QVERIFY(!ran);
        QVERIFY(w.message() != QStringLiteral("Renaming elements…"));
        QVERIFY(w.ui->messages.empty());
        QVERIFY(w.doc().Text().find("<purchase id=\"0\">") != std::string::npos);
        QVERIFY(w.doc().Text().find("typed") == std::string::npos);
        QCOMPARE(w.source().Text(), w.doc().Text());
        QCOMPARE(std::string(FindItemAt(w.tree().Items(), "0.0")->label()),
                 std::string("purchase"));

        // The runner takes the next job once this one is done.
        bool applied = false;
        QVERIFY(w.frame().Work().Start(
            QStringLiteral("x"),
            [&ran, &applied]() -> CBackgroundWork::Continuation {
                ran = true;
                return [&applied] { applied = true; };
            },
            nullptr));
        QVERIFY(!applied);  // the continuation comes through the window's event loop
        w.waitForWork();
        QVERIFY(ran && applied);

        // A close asked for while a command runs says so, then asks as usual.
        w.ui->saveAnswer = SaveAnswer::Cancel;
        w.startRename(QStringLiteral("sale"));
        w.frame().close();
        QCOMPARE(w.message(), QStringLiteral("Closing when the command has finished…"));
        QTRY_VERIFY_WITH_TIMEOUT(!w.ui->savePrompts.isEmpty(), 120000);
        QVERIFY(w.frame().isVisible());
        QVERIFY(w.message() != QStringLiteral("Closing when the command has finished…"));
        QVERIFY(w.doc().Text().find("<sale id=\"0\">") != std::string::npos);
    }

    void twentyCommandsLeaveAsManyThreadsAsOne() {
        Window w;
        w.startRename(QStringLiteral("n0"));
        w.waitForWork();
        WaitForDisposal();
        const int afterFirst = ThreadCount();
        for (int i = 1; i < 20; ++i) {
            w.startRename(QStringLiteral("n%1").arg(i));
            w.waitForWork();
        }
        WaitForDisposal();
        QCOMPARE(ThreadCount(), afterFirst);
        QVERIFY(w.doc().Text().find("<n19 id=\"0\">") != std::string::npos);
        QVERIFY(w.ui->messages.empty());
    }

    void opensAndSavesAreJobsOfTheOneRunner() {
        Window w;
        auto openAndSave = [&w] {
            w.ui->openNames.push_back(w.path);
            w.frame().OnCommand(ID_FILE_OPEN);
            QVERIFY(w.frame().Work().IsRunning());
            QVERIFY(!w.frame().Work().Start(
                QStringLiteral("x"), [] { return CBackgroundWork::Continuation(); }, nullptr));
            w.waitForWork();
            QVERIFY(!w.app->IsOpening());
            QCOMPARE(w.doc().Text(), LargeDocument().toStdString());
            w.frame().OnCommand(ID_FILE_SAVE);
            QVERIFY(w.frame().Work().IsRunning());
            w.waitForWork();
        };
        openAndSave();
        WaitForDisposal();
        const int afterFirst = ThreadCount();
        for (int i = 0; i < 5; ++i) {
            openAndSave();
        }
        WaitForDisposal();
        QCOMPARE(ThreadCount(), afterFirst);
        QVERIFY(w.ui->messages.empty());
        QVERIFY(!w.doc().IsModified());
    }
};

QTEST_MAIN(BackgroundWorkTest)
#include "BackgroundWorkTest.moc"
