// The real window, driven offscreen.
#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include "app/ui/HelpWindow.h"
#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "framework/ui/Commands.h"
#include "tests/gui/TestWindow.h"
#include "views/source/core/Colorize.h"
#include "views/source/ui/DView.h"
#include "views/source/ui/XmlLexer.h"
#include "views/tree/ui/ClassView.h"

using namespace quorrel;

namespace {

const std::string kHints =
    "\nHint:\n Turn the DTD/Schema validation button - V - on the toolbar off.\n Then click on the "
    "Parse button - P - "
    "to retry this operation.";

// One application with a scripted user, started on an optional file.
struct Session : TestWindow {
    explicit Session(const QString& file = {}) { Start(file); }
};

int CountItems(const CTreeItems& items) {
    return int(items.Count());
}

// The styles the control holds, as format runs, once the part not yet styled
// is styled too (what is styled already is not redone).
std::vector<FormatRun> StyledRuns(CDView& view) {
    long styled = view.SendScintilla(QsciScintilla::SCI_GETENDSTYLED);
    view.SendScintilla(QsciScintilla::SCI_COLOURISE, styled, -1L);
    std::string text = view.Text();
    std::vector<FormatRun> runs;
    for (std::size_t i = 0; i < text.size(); ++i) {
        int style =
            int(view.SendScintilla(QsciScintilla::SCI_GETSTYLEAT, static_cast<unsigned long>(i)));
        TextFormat format = style == XmlLexer::Tag       ? TextFormat::Tag
                            : style == XmlLexer::String  ? TextFormat::String
                            : style == XmlLexer::Keyword ? TextFormat::Keyword
                                                         : TextFormat::Plain;
        if (!runs.empty() && runs.back().format == format && runs.back().end == i) {
            runs.back().end = i + 1;
        } else {
            runs.push_back({i, i + 1, format});
        }
    }
    return runs;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:
    void initTestCase() {
        // Settings go to a folder of the test's own.
        qputenv("QUORREL_HELP_DIR", QByteArray());
    }

    void startUpStateAndEnabling() {
        Session s;
        QVERIFY(s.started);
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("Quorrel - Quorrel"));
        QCOMPARE(CMainFrame::InitialGeometry(QSize(1024, 768)), QRect(73, 54, 877, 658));
        QCOMPARE(s.frame().ActiveView(), static_cast<QWidget*>(&s.source()));
        QVERIFY(!s.enabled(ID_SWITCH_TO_SOURCE));
        QVERIFY(s.enabled(ID_SWITCH_TO_TREE));
        QVERIFY(!s.enabled(ID_VALIDATE_YES));
        QVERIFY(s.enabled(ID_VALIDATE_NO));
        QVERIFY(s.enabled(ID_PARSE));
        QVERIFY(s.enabled(ID_EDIT_SELECT_ALL));
        QVERIFY(s.enabled(ID_FILE_PRINT));
        QVERIFY(s.enabled(ID_GET_XML_DATA));
        for (int id : {ID_ADD_ATTRIBUTE, ID_CHANGE_TEXT_VALUE, ID_DELETE_ATTRIBUTE}) {
            QVERIFY2(!s.enabled(id), qPrintable(QString::number(id)));
        }
        QCOMPARE(s.frame().statusBar()->currentMessage(), QStringLiteral("Ready"));
        QCOMPARE(s.frame().ProgressPane()->text(), QString(46, QLatin1Char(' ')));
        QCOMPARE(s.frame().findChildren<QShortcut*>().size(), 19);  // Find by XPath's too
        QVERIFY(s.frame().Action(ID_FILE_SAVE)->statusTip() ==
                QStringLiteral("Save the active document"));
        QVERIFY(s.frame().Action(ID_FILE_SAVE)->toolTip() == QStringLiteral("Save"));

        s.frame().OnCommand(ID_SWITCH_TO_TREE);
        QCOMPARE(s.frame().ActiveView(), static_cast<QWidget*>(&s.tree()));
        QVERIFY(s.enabled(ID_SWITCH_TO_SOURCE));
        QVERIFY(!s.enabled(ID_SWITCH_TO_TREE));
        // The source view's commands are off while the tree is the active pane.
        for (int id : {ID_EDIT_SELECT_ALL, ID_EDIT_FIND, ID_FILE_PRINT, ID_EDIT_PASTE}) {
            QVERIFY2(!s.enabled(id), qPrintable(QString::number(id)));
        }
        s.frame().OnCommand(ID_NEXT_PANE);
        QCOMPARE(s.frame().ActiveView(), static_cast<QWidget*>(&s.source()));

        s.frame().OnCommand(ID_VALIDATE_NO);
        QVERIFY(s.enabled(ID_VALIDATE_YES));
        QVERIFY(!s.enabled(ID_VALIDATE_NO));
        s.frame().OnCommand(ID_FILE_NEW);
        QVERIFY(!s.enabled(ID_VALIDATE_YES));
        QCOMPARE(s.doc().LastUrl(), std::string("http://"));
        QVERIFY(s.ui->messages.empty());
    }

    void openEditActivateAndSaveByteForByte() {
        QTemporaryDir dir;
        const QByteArray bytes = "<?xml version=\"1.0\"?>\r\n<r>\r\n\t<a x=\"1\">t</a>\r\n</r>\r\n";
        QString path = Write(dir, QStringLiteral("doc.xml"), bytes);
        Session s(path);
        QVERIFY(s.started);
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("doc.xml - Quorrel"));
        QCOMPARE(QByteArray::fromStdString(s.source().Text()), bytes);
        QVERIFY(!s.doc().IsModified());
        QCOMPARE(CountItems(s.tree().Items()), 4);  // r, a, x, t
        QVERIFY(s.tree().isExpanded(s.tree().model()->index(0, 0)));

        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(ReadAll(path), bytes);

        // Typing marks the document and the tree parses the text again when it is activated.
        s.source().setCursorPosition(3, 0);
        s.source().insert(QStringLiteral("<b/>"));
        QVERIFY(s.doc().IsModified());
        QVERIFY(s.doc().IsTextChanged());
        s.frame().SetActivePane(&s.tree());
        QVERIFY(!s.doc().IsTextChanged());
        QCOMPARE(CountItems(s.tree().Items()), 5);
        QVERIFY(s.ui->messages.empty());

        s.frame().SetActivePane(&s.source());
        s.frame().OnCommand(ID_FILE_SAVE);
        QVERIFY(!s.doc().IsModified());
        QCOMPARE(
            ReadAll(path),
            QByteArray("<?xml version=\"1.0\"?>\r\n<r>\r\n\t<a x=\"1\">t</a>\r\n<b/></r>\r\n"));
    }

    void validationSwitchAndParseErrorCaret() {
        QTemporaryDir dir;
        QString invalid =
            Write(dir, QStringLiteral("invalid.xml"),
                  "<!DOCTYPE r [<!ELEMENT r (n)><!ELEMENT n (#PCDATA)>]>\n<r><n>1</n><x/></r>\n");
        QString broken = Write(dir, QStringLiteral("broken.xml"), "<r>\n  <a>\n  </b>\n</r>\n");

        Session s;
        s.frame().OnCommand(ID_VALIDATE_NO);
        s.ui->openNames.push_back(invalid);
        s.frame().OnCommand(ID_FILE_OPEN);
        QTRY_VERIFY(!s.app->IsOpening());
        QVERIFY(s.ui->messages.empty());
        QVERIFY(!s.source().HasErrorMark());

        s.frame().OnCommand(ID_VALIDATE_YES);
        s.frame().OnCommand(ID_PARSE);
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QVERIFY(s.ui->messages[0].starts_with("XML DOM Parse Error:\n"));
        QVERIFY(s.ui->messages[0].ends_with(kHints));
        QVERIFY(s.tree().Items().IsEmpty());
        QVERIFY(s.source().HasErrorMark());

        s.ui->messages.clear();
        s.ui->openNames.push_back(broken);
        s.frame().OnCommand(ID_FILE_OPEN);
        QTRY_VERIFY(!s.app->IsOpening());
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QVERIFY(!s.doc().IsModified());
        int line = -1, index = -1;
        s.source().getCursorPosition(&line, &index);
        QCOMPARE(line, 2);  // "</b>" on the third line
        QVERIFY(index > 0);
        QVERIFY(s.source().HasErrorMark());

        // Mended text parses and the mark goes.
        s.source().setText(QStringLiteral("<r>\n  <a>\n  </a>\n</r>\n"));
        s.ui->messages.clear();
        s.frame().OnCommand(ID_PARSE);
        QVERIFY(s.ui->messages.empty());
        QVERIFY(!s.source().HasErrorMark());
        QCOMPARE(CountItems(s.tree().Items()), 2);
    }

    void colouringAgreesWithFullColouringAfterEdits() {
        Session s;
        CDView& view = s.source();
        view.setText(QStringLiteral(
            "<a href=\"x\">text</a>\n<!DOCTYPE note SYSTEM \"note.dtd\">\n<p\n  x=\"1\"\n  "
            "y=\"2\">EMPTY</p>\n"));
        auto agrees = [&] { return StyledRuns(view) == ColorizeAll(view.Text()); };
        QVERIFY(agrees());
        // Opening a tag at the start of a line colours the lines after it up to its end.
        view.setCursorPosition(3, 0);
        view.insert(QStringLiteral("<"));
        QVERIFY(agrees());
        // Editing inside a tag that spans lines.
        view.setCursorPosition(2, 1);
        view.insert(QStringLiteral("q"));
        QVERIFY(agrees());
        view.setSelection(2, 0, 2, 1);
        view.removeSelectedText();
        QVERIFY(agrees());
        view.setSelection(0, 0, 1, 5);
        view.cut();
        QVERIFY(agrees());
        view.setCursorPosition(3, 2);
        view.paste();
        QVERIFY(agrees());
        view.undo();
        QVERIFY(agrees());
        view.undo();
        QVERIFY(agrees());
        view.redo();
        QVERIFY(agrees());
        // A '<' at a line's end depends on the next line's first characters.
        view.setText(QStringLiteral("x <\n!a b>\n"));
        QVERIFY(agrees());
        view.setCursorPosition(1, 0);
        view.SendScintilla(QsciScintilla::SCI_DELETEBACKNOTLINE);
        view.SendScintilla(QsciScintilla::SCI_CLEAR);
        QVERIFY(agrees());
    }

    void unsavedChangesPromptAndNulWarning() {
        QTemporaryDir dir;
        QString nul = Write(dir, QStringLiteral("nul.xml"), QByteArray("<a>x</a>\0<b/>", 13));
        Session s;
        s.source().setText(QStringLiteral("<r/>"));
        QVERIFY(s.doc().IsModified());
        s.ui->saveAnswer = SaveAnswer::Cancel;
        s.frame().OnCommand(ID_FILE_NEW);
        QCOMPARE(s.ui->savePrompts, QStringList{QStringLiteral("Quorrel")});
        QCOMPARE(s.source().Text(), std::string("<r/>"));

        s.ui->saveAnswer = SaveAnswer::Discard;
        QVERIFY(s.app->OpenDocumentFile(nul));
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QVERIFY(s.ui->messages[0].find("byte 8") != std::string::npos);
        QCOMPARE(s.source().Text(), std::string("<a>x</a>"));

        // A file that cannot be read changes nothing.
        s.ui->messages.clear();
        QVERIFY(!s.app->OpenDocumentFile(dir.filePath(QStringLiteral("missing.xml"))));
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QCOMPARE(s.source().Text(), std::string("<a>x</a>"));
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("nul.xml - Quorrel"));
    }

    void recentFilesKeepFour() {
        QTemporaryDir dir;
        Session s;
        for (int i = 0; i < 6; ++i) {
            QVERIFY(s.app->OpenDocumentFile(Write(dir, QStringLiteral("f%1.xml").arg(i), "<r/>")));
        }
        QCOMPARE(s.app->RecentFiles().size(), 4);
        QVERIFY(s.app->RecentFiles().front().endsWith(QStringLiteral("f5.xml")));
        QVERIFY(s.frame().Action(ID_FILE_MRU_FILE1 + 3)->text().endsWith(QStringLiteral("f2.xml")));
        s.frame().OnCommand(ID_FILE_MRU_FILE1 + 3);
        QTRY_VERIFY(!s.app->IsOpening());
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("f2.xml - Quorrel"));

        // A recent file that is gone: the reason, and it leaves the list.
        QFile::remove(dir.filePath(QStringLiteral("f3.xml")));
        s.ui->messages.clear();
        s.frame().OnCommand(ID_FILE_MRU_FILE1 + 3);  // f2 moved to the front
        QTRY_VERIFY(!s.app->IsOpening());
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QCOMPARE(s.app->RecentFiles().size(), 3);
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("f2.xml - Quorrel"));
    }

    // File > Open reads and parses on another thread: until it ends the text
    // cannot be edited and every command waits; then the document, both panes
    // and the recent list are as a synchronous open leaves them.
    void openInBackground() {
        QTemporaryDir dir;
        QByteArray body = "<r a=\"1\">\n";
        for (int i = 0; i < 2000; ++i) {
            body += "  <e n=\"" + QByteArray::number(i) + "\"><f>t</f><!-- c --></e>\n";
        }
        body += "</r>\n";
        QString big = Write(dir, QStringLiteral("big.xml"), body);

        Session reference(big);
        Session s;
        s.source().setText(QStringLiteral("<old/>"));
        s.ui->saveAnswer = SaveAnswer::Discard;
        s.ui->openNames.push_back(big);
        s.frame().OnCommand(ID_FILE_OPEN);
        QVERIFY(s.app->IsOpening());
        QVERIFY(s.frame().IsBusy());
        QVERIFY(!s.enabled(ID_FILE_SAVE));
        QVERIFY(!s.enabled(ID_FILE_NEW));
        QVERIFY(s.source().isReadOnly());
        s.frame().OnCommand(ID_FILE_NEW);  // ignored while opening
        QTRY_VERIFY(!s.app->IsOpening());

        QVERIFY(s.ui->messages.empty());
        QVERIFY(!s.source().isReadOnly());
        QVERIFY(s.enabled(ID_FILE_SAVE));
        QCOMPARE(s.source().Text(), body.toStdString());
        QCOMPARE(s.doc().Text(), body.toStdString());
        QVERIFY(!s.doc().IsModified());
        QVERIFY(!s.source().isUndoAvailable());
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("big.xml - Quorrel"));
        QCOMPARE(CountItems(s.tree().Items()), CountItems(reference.tree().Items()));
        QVERIFY(s.tree().Items().GetRootItem()->expanded());
        QVERIFY(s.tree().isExpanded(s.tree().model()->index(0, 0)));
        QCOMPARE(s.app->RecentFiles().front(), QFileInfo(big).absoluteFilePath());

        // A parse error still opens the file, with the message and the mark.
        QString broken = Write(dir, QStringLiteral("broken.xml"), "<r>\n<a></b>\n</r>\n");
        s.ui->openNames.push_back(broken);
        s.frame().OnCommand(ID_FILE_OPEN);
        QTRY_VERIFY(!s.app->IsOpening());
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QVERIFY(s.source().HasErrorMark());
        QVERIFY(s.tree().Items().IsEmpty());

        // A file that cannot be read changes nothing.
        s.ui->messages.clear();
        s.ui->openNames.push_back(dir.filePath(QStringLiteral("missing.xml")));
        s.frame().OnCommand(ID_FILE_OPEN);
        QTRY_VERIFY(!s.app->IsOpening());
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("broken.xml - Quorrel"));
        QCOMPARE(s.source().Text(), std::string("<r>\n<a></b>\n</r>\n"));

        // Closing the window while a file is opened waits for the open, then closes.
        s.ui->openNames.push_back(big);
        s.frame().OnCommand(ID_FILE_OPEN);
        QVERIFY(!s.frame().close());
        QVERIFY(s.frame().isVisible());
        QTRY_VERIFY(!s.frame().isVisible());
        QCOMPARE(s.doc().GetPathName(), QFileInfo(big).absoluteFilePath().toStdString());
    }

    void helpTopics() {
        Session s;
        qputenv("QUORREL_HELP_DIR", "/nonexistent/help");
        s.frame().OnCommand(ID_HELP_TOPICS);
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QCOMPARE(s.ui->messages[0], std::string("If you have IE 4.0 and upper,\nplease restart "
                                                "Quorrel and try this operation again."));
        qputenv("QUORREL_HELP_DIR", QByteArray(QUORREL_SOURCE_HELP_DIR));
        s.frame().OnCommand(ID_HELP_TOPICS);
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        auto* help = s.frame().findChild<HelpWindow*>(QStringLiteral("helpWindow"));
        QVERIFY(help != nullptr);
        QVERIFY(help->toPlainText().contains(QStringLiteral("Tree commands")));
        // Inside the screen, centred on the main window.
        QVERIFY(QTest::qWaitForWindowExposed(help));
        const QRect screen = s.frame().screen()->availableGeometry();
        const QRect shown = help->frameGeometry();
        QVERIFY2(screen.contains(shown), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                        .arg(shown.x())
                                                        .arg(shown.y())
                                                        .arg(shown.width())
                                                        .arg(shown.height())));
        const QPoint off = shown.center() - s.frame().frameGeometry().center();
        QVERIFY2(off.manhattanLength() <= 2,
                 qPrintable(QStringLiteral("off by %1,%2").arg(off.x()).arg(off.y())));
        qputenv("QUORREL_HELP_DIR", QByteArray());
    }

    void screenshot() {
        QByteArray target = qgetenv("QUORREL_SCREENSHOT");
        if (target.isEmpty()) {
            QSKIP("set QUORREL_SCREENSHOT to a PNG path to take one");
        }
        Session s(QStringLiteral(QUORREL_SAMPLE));
        s.frame().resize(1100, 640);
        s.frame().Splitter()->setSizes({600, 500});
        s.frame().SetActivePane(&s.tree());
        QTest::qWait(100);
        QVERIFY(s.frame().grab().save(QString::fromUtf8(target)));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
