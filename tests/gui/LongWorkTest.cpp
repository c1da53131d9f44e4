// Long work on a large document in the real window: while it runs the window
// processes its events, the text is read-only and the commands wait; what it
// leaves is what the same work done on the window's thread leaves; closing
// the window or starting a new document during or right after it loses
// nothing.
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "edit/core/TreeCommands.h"
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

// Large enough to be worked on apart, in the serialiser's own layout.
QByteArray LargeDocument(std::size_t size = 2 * CBackgroundWork::kApartFrom) {
    QByteArray text = "<?xml version=\"1.0\"?>\n<orders>\n";
    for (int i = 0; text.size() < qsizetype(size); ++i) {
        text += "\t<order id=\"" + QByteArray::number(i) + "\">\n\t\t<item>part " +
                QByteArray::number(i) + "</item>\n\t</order>\n";
    }
    return text + "</orders>\n";
}

// What Rename Element of every order to purchase leaves when done on this
// thread, without a window.
std::string RenamedOnThisThread(const QString& path) {
    CollectingSink sink;
    CDoc doc(sink);
    doc.OnOpenDocument(path.toStdString());
    CTreeItems items;
    BuildTreeFromDom(doc, items);
    RunTreeCommand(doc, items, CurrentItemOf(FindItemAt(items, "0.0")), TreeCommand::RenameElement,
                   CommandInputs{false, "purchase", "", true}, sink);
    std::string text = doc.Text();
    AbandonAtExit(doc.TakeDom());
    return text;
}

// What the window showed while long work ran, sampled whenever it was idle.
struct WhileRunning {
    int ticks = 0;
    bool textWritable = false;
    bool commandEnabled = false;
};

struct Window : TestWindow {
    QTemporaryDir dir;
    QString path;
    WhileRunning seen;
    bool busyWhileOpening = false;
    std::function<void()> duringWork = [] {};
    QTimer sampler;

    explicit Window(const QByteArray& text = LargeDocument())
        : path(Write(dir, QStringLiteral("orders.xml"), text)) {
        Start(path, Until::Started);
        if (!started) {
            return;
        }
        waitWhileOpening([this] { busyWhileOpening |= busyBarShown(); });
        tree().m_execDialog = [](QDialog& dialog) {
            auto& d = static_cast<CTreeCommandDlg&>(dialog);
            d.NameField()->setText(QStringLiteral("purchase"));
            d.AllOccurrences()->setChecked(true);
            return int(QDialog::Accepted);
        };
        // A zero timer fires whenever the event loop is idle: inside the
        // wait for the work too, if the window's events are processed there.
        sampler.setInterval(0);
        QObject::connect(&sampler, &QTimer::timeout, [this] {
            if (!frame().Work().IsRunning()) {
                return;
            }
            if (seen.ticks++ == 0) {
                duringWork();
            }
            seen.textWritable |= !source().isReadOnly();
            frame().UpdateCommandUI();
            for (int id : {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_PARSE, ID_RENAME_ELEMENT,
                           ID_GET_XML_DATA, ID_EDIT_UNDO, ID_EDIT_PASTE}) {
                seen.commandEnabled |= frame().Action(id)->isEnabled();
            }
        });
        sampler.start();
    }
    bool busyBarShown() {
        for (QProgressBar* bar : frame().statusBar()->findChildren<QProgressBar*>()) {
            if (bar->isVisible()) {
                return true;
            }
        }
        return false;
    }

    void renameEveryOrder() {
        select(QStringLiteral("0.0"));
        run(ID_RENAME_ELEMENT);
        // What a command starts apart is in place once the window has applied it.
        waitForWork();
    }
    QByteArray onDisk() { return ReadAll(path); }
};

}  // namespace

class LongWorkTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:

    void aLongCommandKeepsTheWindowLiveAndLeavesWhatTheShortPathLeaves() {
        Window w;
        QVERIFY(w.doc().Text().size() >= CBackgroundWork::kApartFrom);
        QVERIFY(w.busyWhileOpening);
        QVERIFY(!w.busyBarShown());
        const std::string expected = RenamedOnThisThread(w.path);
        QVERIFY(expected.find("<purchase id=\"0\">") != std::string::npos);

        // Keys typed and commands chosen while it runs do nothing.
        w.duringWork = [&w] {
            w.source().setFocus();
            QTest::keyClicks(&w.source(), QStringLiteral("typed"));
            w.frame().Action(ID_FILE_NEW)->trigger();
            w.frame().Action(ID_EDIT_UNDO)->trigger();
        };
        w.renameEveryOrder();
        QVERIFY(w.seen.ticks > 0);
        QVERIFY(!w.seen.textWritable);
        QVERIFY(!w.seen.commandEnabled);
        QVERIFY(!w.frame().Work().IsRunning());
        QVERIFY(!w.source().isReadOnly());
        QCOMPARE(w.doc().Text(), expected);
        QCOMPARE(w.source().Text(), expected);
        QVERIFY(w.doc().IsModified());
        QVERIFY(w.ui->messages.empty());
        QVERIFY(w.ui->savePrompts.isEmpty());  // File > New never ran
        QCOMPARE(std::string(FindItemAt(w.tree().Items(), "0.0")->label()),
                 std::string("purchase"));
        QCOMPARE(w.source().CaretOffset(), long(expected.find("<purchase")));

        // Parse and Save run apart as well and leave what they would.
        w.seen = {};
        w.frame().Action(ID_PARSE)->trigger();
        w.waitForWork();
        QVERIFY(w.seen.ticks > 0);
        QVERIFY(w.ui->messages.empty());
        QCOMPARE(std::string(FindItemAt(w.tree().Items(), "0.0")->label()),
                 std::string("purchase"));
        w.seen = {};
        w.frame().Action(ID_FILE_SAVE)->trigger();
        QVERIFY(w.frame().Work().IsRunning());  // under way, not waited for inside the command
        w.waitForWork();
        QVERIFY(!w.seen.commandEnabled);
        QCOMPARE(w.onDisk(), QByteArray::fromStdString(expected));
        QVERIFY(!w.doc().IsModified());

        // Undo of the long command brings the file's text back.
        w.frame().SetActivePane(&w.source());
        w.frame().UpdateCommandUI();
        w.frame().Action(ID_EDIT_UNDO)->trigger();
        QCOMPARE(QByteArray::fromStdString(w.source().Text()), LargeDocument());
        QCOMPARE(w.source().CaretOffset(), long(LargeDocument().indexOf("<order ")));
    }

    void undoOfACommandOnATextShownAsANewDocumentShowsTheOneBefore() {
        // From this size on the command's text becomes a document of its own.
        const QByteArray original = LargeDocument(CDView::kPrepareFrom + (1 << 20));
        Window w(original);
        w.renameEveryOrder();
        const std::string renamed = w.source().Text();
        QVERIFY(renamed.find("<purchase id=\"0\">") != std::string::npos);
        // Typing after the command is undone first, within the new document.
        w.frame().SetActivePane(&w.source());
        w.source().SendScintilla(QsciScintillaBase::SCI_GOTOPOS, 0UL);
        QTest::keyClicks(&w.source(), QStringLiteral(" "));
        w.frame().UpdateCommandUI();
        QVERIFY(w.frame().Action(ID_EDIT_UNDO)->isEnabled());
        w.frame().Action(ID_EDIT_UNDO)->trigger();
        QCOMPARE(w.source().Text(), renamed);

        // Then the command: the text before it, the caret on the order it renamed.
        w.frame().UpdateCommandUI();
        QVERIFY(w.frame().Action(ID_EDIT_UNDO)->isEnabled());
        w.frame().Action(ID_EDIT_UNDO)->trigger();
        QCOMPARE(QByteArray::fromStdString(w.source().Text()), original);
        QCOMPARE(w.source().CaretOffset(), long(original.indexOf("<order ")));
        QVERIFY(w.doc().IsModified());
        QVERIFY(!w.tree().InStepWithText());
        // The file's own text has no history before it; the tree follows it again.
        w.frame().UpdateCommandUI();
        QVERIFY(!w.frame().Action(ID_EDIT_UNDO)->isEnabled());
        w.frame().SetActivePane(&w.tree());
        QTRY_VERIFY_WITH_TIMEOUT(!w.frame().Work().IsRunning() && w.tree().InStepWithText(), 20000);
        QCOMPARE(std::string(FindItemAt(w.tree().Items(), "0.0")->label()), std::string("order"));
        // A new document starts without the one before the command.
        w.renameEveryOrder();
        w.frame().Action(ID_FILE_NEW)->trigger();  // changes discarded
        QCOMPARE(w.source().Text(), std::string());
        w.frame().SetActivePane(&w.source());
        w.frame().UpdateCommandUI();
        QVERIFY(!w.frame().Action(ID_EDIT_UNDO)->isEnabled());
    }

    void closingDuringLongWorkWaitsForItAndAsksAsUsual() {
        // Cancelled: the window stays, with the command's result.
        {
            Window w;
            w.ui->saveAnswer = SaveAnswer::Cancel;
            w.duringWork = [&w] { w.frame().close(); };
            w.renameEveryOrder();
            QTRY_VERIFY(!w.ui->savePrompts.isEmpty());
            QVERIFY(w.frame().isVisible());
            QVERIFY(w.source().Text().find("<purchase id=\"0\">") != std::string::npos);
            QVERIFY(w.doc().IsModified());
            QCOMPARE(w.onDisk(), LargeDocument());

            // File > New right after: asked, then a new document.
            w.ui->saveAnswer = SaveAnswer::Discard;
            w.frame().UpdateCommandUI();
            w.frame().Action(ID_FILE_NEW)->trigger();
            QCOMPARE(w.ui->savePrompts.size(), 2);
            QVERIFY(w.source().Text().empty());
            QVERIFY(w.tree().Items().IsEmpty());
            QCOMPARE(w.onDisk(), LargeDocument());
        }
        // Saved: the window closes once the work is done, the result on disk.
        {
            Window w;
            const std::string expected = RenamedOnThisThread(w.path);
            w.ui->saveAnswer = SaveAnswer::Save;
            w.duringWork = [&w] { w.frame().close(); };
            w.renameEveryOrder();
            QTRY_VERIFY(!w.frame().isVisible());
            QCOMPARE(w.ui->savePrompts.size(), 1);
            QCOMPARE(w.onDisk(), QByteArray::fromStdString(expected));
        }
    }
};

QTEST_MAIN(LongWorkTest)
#include "LongWorkTest.moc"
