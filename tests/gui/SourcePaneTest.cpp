// The source pane's keyboard and its line numbers, driven through the window.
#include <QApplication>
#include <QClipboard>
#include <QTemporaryDir>
#include <QTest>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "doc/ui/UrlDlg.h"
#include "framework/ui/Commands.h"
#include "tests/gui/TestWindow.h"
#include "views/source/ui/DView.h"

using namespace quorrel;

namespace {

struct Window : TestWindow {
    Window() { Start({}, Until::Active); }
    void type(const QString& text) {
        for (QChar c : text) {
            QTest::keyClick(frame().windowHandle(), c.toLatin1());
        }
    }
};

// What a line number needs: its digits in the margin's font, and the gap
// Scintilla keeps on the margin's right.
long NeededWidth(CDView& view, long lines) {
    constexpr long kNumberPadding = 3;
    QByteArray digits = QByteArray::number(qlonglong(lines));
    return view.SendScintilla(QsciScintilla::SCI_TEXTWIDTH, QsciScintilla::STYLE_LINENUMBER,
                              digits.constData()) +
           kNumberPadding;
}

long MarginWidth(CDView& view) {
    return view.SendScintilla(QsciScintilla::SCI_GETMARGINWIDTHN, 0UL);
}

}  // namespace

class SourcePaneTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:

    // The editor component's own key bindings beyond those of a plain edit
    // control change nothing: no case changes, line cuts, duplicates, swaps, redo or zoom.
    void builtInKeysLeaveTheTextAlone() {
        Window w;
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&w.source()));
        // Ctrl+U is the window's Open (URL): its dialog is cancelled.
        int urlAsked = 0;
        w.frame().Document().m_execUrlDialog = [&](CUrlDlg&) {
            ++urlAsked;
            return int(QDialog::Rejected);
        };
        const QString original = QStringLiteral("<a>Mixed Case</a>\n\t<b>second line</b>\n");
        struct Press {
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
        };
        const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
        const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
        // Each of these changes the text or the zoom in the component's default map.
        const Press presses[] = {
            {Qt::Key_U, ctrl},
            {Qt::Key_U, ctrlShift},
            {Qt::Key_L, ctrl},
            {Qt::Key_L, ctrlShift},
            {Qt::Key_D, ctrl},
            {Qt::Key_T, ctrl},
            {Qt::Key_Backspace, ctrl},
            {Qt::Key_Delete, ctrl},
            {Qt::Key_Backspace, ctrlShift},
            {Qt::Key_Delete, ctrlShift},
            {Qt::Key_Tab, Qt::ShiftModifier},
            {Qt::Key_Plus, ctrl},
            {Qt::Key_Minus, ctrl},
        };
        for (const Press& p : presses) {
            w.source().setText(original);
            w.source().setSelection(0, 3, 1, 4);  // "Mixed Case</a>\n\t<b>"
            w.key(p.key, p.modifiers);
            QString name = QKeySequence(p.key | p.modifiers).toString();
            QVERIFY2(w.text() == original.toStdString(), qPrintable(name));
            QVERIFY2(w.source().SendScintilla(QsciScintilla::SCI_GETZOOM) == 0, qPrintable(name));
        }
        QCOMPARE(urlAsked, 1);
        // Held with Ctrl, a character key types nothing (Ctrl++ is "+" to the platform).
        for (char c : {'+', '=', '-', '1', '/'}) {
            for (Qt::KeyboardModifiers modifiers : {ctrl, ctrlShift}) {
                w.source().setText(original);
                w.source().setCursorPosition(0, 5);
                QTest::keyClick(w.frame().windowHandle(), c, modifiers);
                QVERIFY2(w.text() == original.toStdString(),
                         qPrintable(QKeySequence(modifiers | Qt::Key(c)).toString()));
            }
        }
        // Nothing is redone with Ctrl+Y after an undo.
        w.source().setText(original);
        w.source().setCursorPosition(1, 0);
        w.type(QStringLiteral("q"));
        w.key(Qt::Key_Z, ctrl);
        QCOMPARE(w.text(), original.toStdString());
        w.key(Qt::Key_Y, ctrl);
        QCOMPARE(w.text(), original.toStdString());
        // Insert does not switch to overtyping.
        w.source().setCursorPosition(1, 0);
        w.key(Qt::Key_Insert);
        w.type(QStringLiteral("z"));
        QCOMPARE(w.text(), std::string("<a>Mixed Case</a>\nz\t<b>second line</b>\n"));
        QVERIFY(w.ui->messages.empty());
    }

    // The keys of a plain edit control, and the accelerators, still work.
    void standardEditingKeysWork() {
        Window w;
        const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
        const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
        w.source().setText(QStringLiteral("abc def\nghi\n"));
        w.source().setCursorPosition(0, 0);
        w.key(Qt::Key_End);
        w.type(QStringLiteral("X"));
        w.key(Qt::Key_Home);
        w.key(Qt::Key_Right, ctrl);  // to "def"
        w.key(Qt::Key_Right, shift);
        w.key(Qt::Key_Backspace);
        QCOMPARE(w.text(), std::string("abc efX\nghi\n"));
        w.key(Qt::Key_Down);
        w.key(Qt::Key_Home);
        w.key(Qt::Key_End, shift);
        w.key(Qt::Key_C, ctrl);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("ghi"));
        w.key(Qt::Key_End, ctrl);
        w.key(Qt::Key_V, ctrl);
        w.key(Qt::Key_Return);
        w.key(Qt::Key_Tab);
        w.key(Qt::Key_Insert, shift);  // paste
        QCOMPARE(w.text(), std::string("abc efX\nghi\nghi\n\tghi"));
        w.key(Qt::Key_Home, ctrl);
        w.key(Qt::Key_Delete);
        w.key(Qt::Key_PageDown);
        w.key(Qt::Key_End);
        w.key(Qt::Key_Left, ctrl | shift);
        w.key(Qt::Key_X, ctrl);
        QCOMPARE(w.text(), std::string("bc efX\nghi\nghi\n\t"));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("ghi"));
        w.key(Qt::Key_Backspace, Qt::AltModifier);  // undo
        QCOMPARE(w.text(), std::string("bc efX\nghi\nghi\n\tghi"));
        w.key(Qt::Key_A, ctrl);
        w.key(Qt::Key_Delete, shift);  // cut
        QCOMPARE(w.text(), std::string());
        w.key(Qt::Key_Z, ctrl);
        QCOMPARE(w.text(), std::string("bc efX\nghi\nghi\n\tghi"));
        w.key(Qt::Key_Home, ctrl);
        w.key(Qt::Key_Down, shift);
        w.key(Qt::Key_Insert, ctrl);  // copy
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("bc efX\n"));
        // The window's own accelerators: Ctrl+N starts a new document.
        w.key(Qt::Key_N, ctrl);
        QCOMPARE(w.ui->savePrompts.size(), 1);
        QCOMPARE(w.text(), std::string());
    }

    // The line-number margin grows with the number of lines, and shrinks again.
    void lineNumberMarginFitsTheLastLine() {
        Window w;
        CDView& view = w.source();
        for (long lines : {282879L, 1000000L}) {
            view.SetDocumentText(std::string(std::size_t(lines - 1), '\n'));
            QCOMPARE(long(view.lines()), lines);
            QVERIFY2(MarginWidth(view) >= NeededWidth(view, lines),
                     qPrintable(QStringLiteral("%1 lines: margin %2, needs %3")
                                    .arg(lines)
                                    .arg(MarginWidth(view))
                                    .arg(NeededWidth(view, lines))));
        }
        // Typing the line that makes the count one digit longer widens it.
        view.setText(QString(99998, QLatin1Char('\n')));
        QCOMPARE(view.lines(), 99999);
        long before = MarginWidth(view);
        view.setCursorPosition(0, 0);
        w.key(Qt::Key_Return);
        QCOMPARE(view.lines(), 100000);
        QVERIFY(MarginWidth(view) > before);
        QVERIFY(MarginWidth(view) >= NeededWidth(view, 100000));
        // A short document does not keep the wide margin.
        long wide = MarginWidth(view);
        w.frame().OnCommand(ID_FILE_NEW);
        QVERIFY(MarginWidth(view) < wide);
        QVERIFY(MarginWidth(view) >= NeededWidth(view, 9999));
    }
};

QTEST_MAIN(SourcePaneTest)
#include "SourcePaneTest.moc"
