// The main frame as a user meets it: printing set up once, toolbar tooltips,
// the order of an open's messages, the recent-file list after Save As,
// moving the splitter bar with the keyboard, and the tree commands' dialogs.
#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolTip>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "doc/ui/UrlDlg.h"
#include "edit/ui/TreeCommandDlg.h"
#include "framework/ui/Commands.h"
#include "tests/gui/PopupScript.h"
#include "tests/gui/TestWindow.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"

using namespace quorrel;

namespace {

// Also notes what the window showed when each message came, and whether it
// came while another message was still on screen.
class WatchingUi : public ScriptedUi {
public:
    void ShowMessage(const std::string& text) override {
        ScriptedUi::ShowMessage(text);
        nested.push_back(m_showing);
        if (textShown) {
            shownText.push_back(textShown());
        }
        // A message box runs the event loop until it is closed.
        m_showing = true;
        QTest::qWait(100);
        m_showing = false;
    }
    std::function<std::string()> textShown;
    std::vector<std::string> shownText;
    std::vector<bool> nested;

private:
    bool m_showing = false;
};

struct Window : TestWindow {
    WatchingUi* watching;

    explicit Window(const QString& file = {})
        : TestWindow(std::make_unique<WatchingUi>()), watching(static_cast<WatchingUi*>(ui)) {
        watching->textShown = [this] { return text(); };
        Start(file, Until::Active);
    }
};

void PressOk(QDialog* dialog) {
    auto* box = dialog->findChild<QDialogButtonBox*>();
    QVERIFY(box != nullptr);
    QTest::mouseClick(box->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

}  // namespace

class FrameTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:

    // Print Setup sets up the printer that Print and Print Preview then use.
    void printSetupIsUsedByPrintAndPreview() {
        Window w;
        w.source().setText(QStringLiteral("<r>\n  <a/>\n</r>\n"));
        QPrinter* setUp = nullptr;
        PopupScript script;
        script.OnDialog([&](QDialog* dialog) {
            auto* d = qobject_cast<QPageSetupDialog*>(dialog);
            QVERIFY(d != nullptr);
            setUp = d->printer();
            QVERIFY(QTest::qWaitForWindowExposed(d));
            auto* landscape = d->findChild<QRadioButton*>(QStringLiteral("landscape"));
            QVERIFY(landscape != nullptr);
            QTest::mouseClick(landscape, Qt::LeftButton, {}, QPoint(6, landscape->height() / 2));
            auto* size = d->findChild<QComboBox*>(QStringLiteral("pageSizeCombo"));
            QVERIFY(size != nullptr);
            int a5 = size->findText(QStringLiteral("A5"), Qt::MatchStartsWith);
            QVERIFY(a5 >= 0);
            size->setCurrentIndex(a5);
            PressOk(d);
        });
        w.frame().Action(ID_FILE_PRINT_SETUP)->trigger();
        QVERIFY2(script.Done(), qPrintable(script.Seen()));
        QVERIFY(setUp != nullptr);
        // Offscreen, closing a dialog activates no other window; a window manager would.
        w.frame().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.frame()));
        QCOMPARE(setUp->pageLayout().orientation(), QPageLayout::Landscape);
        QCOMPARE(setUp->pageLayout().pageSize().id(), QPageSize::A5);

        QPrinter* printed = nullptr;
        QPrinter* previewed = nullptr;
        script.OnDialog([&](QDialog* dialog) {
            auto* d = qobject_cast<QPrintDialog*>(dialog);
            QVERIFY(d != nullptr);
            printed = d->printer();
            d->reject();
        });
        w.key(Qt::Key_P, Qt::ControlModifier);
        QVERIFY2(script.Done(), qPrintable(script.Seen()));
        QCOMPARE(printed, setUp);
        QCOMPARE(printed->pageLayout().orientation(), QPageLayout::Landscape);
        QCOMPARE(printed->pageLayout().pageSize().id(), QPageSize::A5);

        script.OnDialog([&](QDialog* dialog) {
            auto* d = qobject_cast<QPrintPreviewDialog*>(dialog);
            QVERIFY(d != nullptr);
            previewed = d->printer();
            d->reject();
        });
        w.frame().Action(ID_FILE_PRINT_PREVIEW)->trigger();
        QVERIFY2(script.Done(), qPrintable(script.Seen()));
        QCOMPARE(previewed, setUp);
        // The source pane's margins of half an inch stay.
        QCOMPARE(previewed->pageLayout().margins(QPageLayout::Inch), QMarginsF(0.5, 0.5, 0.5, 0.5));
        QVERIFY(script.unexpected.isEmpty());
    }

    // A toolbar button whose command has a tooltip shows it; the others show
    // none (not their menu text).
    void toolbarTooltipsOnlyFromThePrompt() {
        Window w;
        auto hover = [&](int id) {
            QWidget* button = w.frame().ToolBar()->widgetForAction(w.frame().Action(id));
            QTest::mouseMove(w.window(), button->mapTo(&w.frame(), button->rect().center()));
        };
        hover(ID_FILE_OPEN);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("Open"));
        hover(ID_FILE_SAVE);
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("Save"));
        for (int id : {ID_VALIDATE_NO, ID_OPEN_URL, ID_PARSE, ID_SWITCH_TO_TREE, ID_GET_XML_DATA,
                       ID_HELP_TOPICS}) {
            hover(id);
            QTest::qWait(800);
            QVERIFY2(!QToolTip::isVisible(), qPrintable(QToolTip::text()));
        }
    }

    // The warning that the text was cut at a NUL byte comes before the text is
    // shown and before the parse error, for every way of opening a file.
    void nulWarningBeforeTheText() {
        QTemporaryDir dir;
        QString cut = Write(dir, QStringLiteral("cut.xml"), QByteArray("<a>x</b>\0<b/>", 13));
        QString other = Write(dir, QStringLiteral("other.xml"), "<o/>");
        auto check = [](Window& w, const char* how) {
            QCOMPARE(w.ui->messages.size(), std::size_t(2));
            QVERIFY2(w.ui->messages[0].find("NUL character at byte 8") != std::string::npos, how);
            QVERIFY2(w.ui->messages[1].starts_with("XML DOM Parse Error:\n"), how);
            // The cut text was not shown yet.
            QVERIFY2(w.watching->shownText[0] != "<a>x</b>", how);
            QCOMPARE(w.watching->nested, (std::vector<bool>{false, false}));
            QCOMPARE(w.source().Text(), std::string("<a>x</b>"));
            QVERIFY(!w.doc().IsModified());
        };
        {
            Window w(cut);  // the command line
            QVERIFY(w.started);
            check(w, "command line");
        }
        Window w(other);
        w.ui->openNames.push_back(cut);
        w.frame().OnCommand(ID_FILE_OPEN);
        QTRY_VERIFY(!w.app->IsOpening());
        check(w, "File > Open");

        QVERIFY(w.app->OpenDocumentFile(other));
        QCOMPARE(w.app->RecentFiles().at(1), QFileInfo(cut).absoluteFilePath());
        w.ui->messages.clear();
        w.watching->shownText.clear();
        w.watching->nested.clear();
        w.frame().OnCommand(ID_FILE_MRU_FILE1 + 1);
        QTRY_VERIFY(!w.app->IsOpening());
        check(w, "recent file");
    }

    // Save As puts the file at the top of the recent-file list.
    void saveAsAddsToTheRecentFiles() {
        QTemporaryDir dir;
        Window w;
        w.source().setText(QStringLiteral("<r/>"));
        QString path = dir.filePath(QStringLiteral("saved.xml"));
        w.ui->saveNames.push_back(path);
        w.frame().OnCommand(ID_FILE_SAVE_AS);
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(w.app->RecentFiles().value(0), path);
        QCOMPARE(w.frame().Action(ID_FILE_MRU_FILE1)->text(), QStringLiteral("&1 ") + path);
        QVERIFY(w.frame().Action(ID_FILE_MRU_FILE1)->isVisible());
    }

    // View > Split: arrows move the bar until Enter or Esc; any other key ends
    // the mode as Esc does and nothing else, a mouse click ends it and is not
    // lost; afterwards the status says "Ready".
    void splitModeEndsAndGivesTheKeyboardBack() {
        Window w;
        QSplitter* splitter = w.frame().Splitter();
        const QList<int> start = splitter->sizes();
        QCOMPARE(w.message(), QStringLiteral("Ready"));

        w.frame().Action(ID_WINDOW_SPLIT)->trigger();
        QVERIFY(w.message() != QStringLiteral("Ready"));
        w.key(Qt::Key_Right);
        QCOMPARE(splitter->sizes()[0], start[0] + 10);
        w.key(Qt::Key_Return);
        QCOMPARE(splitter->sizes()[0], start[0] + 10);
        QCOMPARE(w.message(), QStringLiteral("Ready"));
        w.key(Qt::Key_Right);  // the bar stays; the key is the text's again
        QCOMPARE(splitter->sizes()[0], start[0] + 10);

        // Another key ends the mode as Esc does, and is not typed.
        QCOMPARE(w.source().Text(), std::string());
        for (Qt::Key ending : {Qt::Key_A, Qt::Key_Space, Qt::Key_Down}) {
            w.frame().Action(ID_WINDOW_SPLIT)->trigger();
            w.key(Qt::Key_Left);
            QCOMPARE(splitter->sizes()[0], start[0]);
            w.key(ending);
            QCOMPARE(splitter->sizes()[0], start[0] + 10);
            QCOMPARE(w.message(), QStringLiteral("Ready"));
            QCOMPARE(w.source().Text(), std::string());
            QVERIFY(!w.source().isModified());
        }
        w.key(Qt::Key_A);
        w.key(Qt::Key_B);
        QCOMPARE(w.source().Text(), std::string("ab"));

        // So does a mouse click.
        w.frame().Action(ID_WINDOW_SPLIT)->trigger();
        w.key(Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(splitter->sizes()[0], start[0] + 11);
        QPoint inSource = w.source().viewport()->mapTo(&w.frame(), QPoint(40, 40));
        QTest::mouseClick(w.window(), Qt::LeftButton, {}, inSource);
        QCOMPARE(splitter->sizes()[0], start[0] + 10);
        QCOMPARE(w.message(), QStringLiteral("Ready"));
        w.key(Qt::Key_Left);
        QCOMPARE(splitter->sizes()[0], start[0] + 10);
        QCOMPARE(w.source().Text(), std::string("ab"));

        // And a key that would run a shortcut runs none: F6 stays in the text.
        w.frame().Action(ID_WINDOW_SPLIT)->trigger();
        w.key(Qt::Key_Right);
        w.key(Qt::Key_F6);
        QCOMPARE(splitter->sizes()[0], start[0] + 10);
        QCOMPARE(w.message(), QStringLiteral("Ready"));
        QCOMPARE(w.frame().ActiveView(), static_cast<QWidget*>(w.frame().SourceView()));
        w.key(Qt::Key_F6);
        QCOMPARE(w.frame().ActiveView(), static_cast<QWidget*>(w.frame().TreeView()));

        // Esc puts the bar back and ends the mode.
        w.frame().Action(ID_WINDOW_SPLIT)->trigger();
        w.key(Qt::Key_Left);
        w.key(Qt::Key_Escape);
        QCOMPARE(splitter->sizes()[0], start[0] + 10);
        QCOMPARE(w.message(), QStringLiteral("Ready"));
    }

    // The keys the menus show run their commands, while those are enabled.
    void menuKeysRunTheirCommands() {
        QTemporaryDir dir;
        Window w(Write(dir, QStringLiteral("keys.xml"), "<r><a>x</a><a>x</a></r>"));
        QVERIFY(w.started);
        auto* find = w.source().findChild<QDialog*>(QStringLiteral("findDialog"));
        QVERIFY(find == nullptr);
        auto backToTheWindow = [&] {
            find->hide();
            w.frame().activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w.frame()));
            w.frame().SetActivePane(&w.source());
            QTRY_COMPARE(QGuiApplication::focusWindow(), w.window());
        };
        auto selectionStart = [&] {
            return w.source().SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART);
        };
        const std::string text = w.source().Text();

        w.key(Qt::Key_F, Qt::ControlModifier);
        find = w.source().findChild<QDialog*>(QStringLiteral("findDialog"));
        QVERIFY(find != nullptr && find->isVisible());
        QCOMPARE(find->windowTitle(), QStringLiteral("Find"));
        find->findChild<QLineEdit*>(QStringLiteral("findWhat"))->setText(QStringLiteral("x"));
        backToTheWindow();
        w.key(Qt::Key_F3);
        QCOMPARE(selectionStart(), long(text.find('x')));
        w.key(Qt::Key_F3);
        QCOMPARE(selectionStart(), long(text.rfind('x')));
        w.key(Qt::Key_H, Qt::ControlModifier);
        QVERIFY(find->isVisible());
        QCOMPARE(find->windowTitle(), QStringLiteral("Replace"));
        backToTheWindow();

        // With the tree the active pane the source pane's commands are off.
        w.frame().SetActivePane(w.frame().TreeView());
        w.key(Qt::Key_F, Qt::ControlModifier);
        w.key(Qt::Key_H, Qt::ControlModifier);
        QVERIFY(!find->isVisible());
        w.key(Qt::Key_F3);
        QCOMPARE(selectionStart(), long(text.rfind('x')));

        int asked = 0;
        w.frame().Document().m_execUrlDialog = [&](CUrlDlg&) {
            ++asked;
            return int(QDialog::Rejected);
        };
        w.key(Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(asked, 1);
        QCOMPARE(w.source().Text(), text);
    }

    // Each tree command's dialog is wide enough for a window manager to show
    // its whole title: the title in a bold title font, and room for the
    // title bar's icon and three buttons.
    void treeCommandDialogsShowTheirTitles() {
        Window w;
        QFont titleFont = QApplication::font();
        titleFont.setBold(true);
        QFontMetrics metrics(titleFont);
        for (int c : {32788, 32789, 32790, 32791, 32792, 32793, 32794, 32795, 32796, 32797, 32798,
                      32806, 32807, 32808}) {
            auto command = TreeCommand(c);
            auto dialog = CreateTreeCommandDialog(command, &w.frame());
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
            QString title = dialog->windowTitle();
            int needed = metrics.horizontalAdvance(title) + 4 * metrics.height();
            QVERIFY2(
                dialog->width() >= needed,
                qPrintable(
                    QStringLiteral("%1: %2 < %3").arg(title).arg(dialog->width()).arg(needed)));
            QVERIFY2(dialog->width() < needed + 400, qPrintable(title));
        }
    }
};

QTEST_MAIN(FrameTest)
#include "FrameTest.moc"
