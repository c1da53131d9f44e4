// The source pane's folding and its well-formedness check as the user types,
// in the real window, offscreen.
#include <Qsci/qsciprinter.h>

#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "framework/ui/Commands.h"
#include "tests/gui/TestWindow.h"
#include "views/source/core/Fold.h"
#include "views/source/core/WellFormedCheck.h"
#include "views/source/ui/DView.h"
#include "views/source/ui/FindDialog.h"
#include "views/tree/ui/ClassView.h"

using namespace quorrel;

namespace {

constexpr int kCheckTimeoutMs = 5000;

struct Session : TestWindow {
    explicit Session(const QString& file = {}) { Start(file); }
};

long Send(CDView& view, unsigned int message, unsigned long w = 0, long l = 0) {
    return view.SendScintilla(message, w, l);
}

int FoldLevelOf(CDView& view, int line) {
    return int(Send(view, QsciScintilla::SCI_GETFOLDLEVEL, static_cast<unsigned long>(line)));
}

bool IsHeader(CDView& view, int line) {
    return FoldLevelOf(view, line) & kFoldLevelHeaderFlag;
}

bool IsVisible(CDView& view, int line) {
    return Send(view, QsciScintilla::SCI_GETLINEVISIBLE, static_cast<unsigned long>(line)) != 0;
}

// Every line's fold level in the control, once all of it is styled.
std::vector<int> ControlLevels(CDView& view) {
    long styled = Send(view, QsciScintilla::SCI_GETENDSTYLED);
    view.SendScintilla(QsciScintilla::SCI_COLOURISE, styled, -1L);
    std::vector<int> levels;
    for (int line = 0; line < view.lines(); ++line) {
        levels.push_back(FoldLevelOf(view, line));
    }
    return levels;
}

// A click in the fold margin beside a line, as the user makes it.
void ClickFoldMargin(CDView& view, int line, Qt::KeyboardModifiers modifiers = {}) {
    view.ensureLineVisible(line);
    int x = 0;
    for (int margin = 0; margin < 2; ++margin) {
        x += view.marginWidth(margin);
    }
    x += view.marginWidth(2) / 2;
    long pos = Send(view, QsciScintilla::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    int y =
        int(Send(view, QsciScintilla::SCI_POINTYFROMPOSITION, 0, pos)) + view.textHeight(line) / 2;
    QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, QPoint(x, y));
}

// Pages a print of the whole text takes, from the PDF the printer writes.
int PrintedPages(CDView& view, const QString& pdf) {
    QsciPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.printRange(&view);
    QByteArray bytes = ReadAll(pdf);
    int pages = 0;
    for (qsizetype at = 0; (at = bytes.indexOf("/Type /Page", at)) >= 0; ++at) {
        pages += bytes.mid(at + 11, 1) != "s";
    }
    return pages;
}

// Everything the check must leave alone.
struct DocumentState {
    std::string text;
    const void* dom;
    bool modified, changed, pending;
    int topItems;
    bool operator==(const DocumentState&) const = default;
};

DocumentState StateOf(Session& s) {
    return {s.doc().Text(),          (s.doc().HasDom() ? &s.doc().Dom() : nullptr),
            s.doc().IsModified(),    s.doc().IsTextChanged(),
            s.doc().IsTextPending(), int(s.frame().TreeView()->Items().TopItems().size())};
}

// Where the check's squiggle lies: the positions carrying any indicator.
std::string Squiggled(CDView& view) {
    std::string text = view.Text(), out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (Send(view, QsciScintilla::SCI_INDICATORALLONFOR, static_cast<unsigned long>(i)) != 0) {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

class SourceFoldingAndCheckTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:
    void initTestCase() { qputenv("QUORREL_HELP_DIR", QByteArray()); }

    void foldingIsDisplayOnly() {
        QTemporaryDir dir;
        QByteArray bytes =
            "<?xml version=\"1.0\"?>\r\n<!DOCTYPE r [\r\n  <!ELEMENT r ANY>\r\n]>\r\n<r>\r\n"
            "  <a x=\"1\">\r\n    <b>needle</b>\r\n  </a>\r\n  <!--\r\n   note\r\n  -->\r\n"
            "  <![CDATA[\r\n   <raw>\r\n  ]]>\r\n";
        for (int i = 0; i < 150; ++i) {
            bytes += "  <c n=\"" + QByteArray::number(i) + "\">\r\n   t\r\n  </c>\r\n";
        }
        bytes += "</r>\r\n";
        const QString path = Write(dir, QStringLiteral("fold.xml"), bytes);
        Session s;
        QVERIFY(s.started);
        s.frame().OnCommand(ID_VALIDATE_NO);  // the DTD declares little
        QVERIFY(s.app->OpenDocumentFile(path));
        CDView& view = s.source();
        QVERIFY(view.FoldingEnabled());
        QVERIFY(view.marginWidth(2) > 0);
        const std::vector<int> levels = ControlLevels(view);
        QCOMPARE(levels, FoldLevels(view.Text()));
        for (int header : {1, 4, 5, 8, 11}) {  // DOCTYPE, r, a, comment, CDATA
            QVERIFY2(IsHeader(view, header), qPrintable(QString::number(header)));
        }
        QVERIFY(!IsHeader(view, 0) && !IsHeader(view, 6) && !IsHeader(view, 7));

        // Clicks in the margin fold and unfold; the text stays as it was.
        const QString pdf = dir.filePath(QStringLiteral("print.pdf"));
        const int pages = PrintedPages(view, pdf);
        QVERIFY(pages > 1);
        ClickFoldMargin(view, 5);
        QVERIFY(!IsVisible(view, 6));
        QVERIFY(IsVisible(view, 7));
        for (int header : {1, 8, 11}) {
            ClickFoldMargin(view, header);
        }
        QVERIFY(!IsVisible(view, 2) && !IsVisible(view, 9) && !IsVisible(view, 12));
        QVERIFY(IsVisible(view, 10) && IsVisible(view, 13));
        ClickFoldMargin(view, 4);
        QVERIFY(!IsVisible(view, 5) && !IsVisible(view, 20) && !IsVisible(view, 462));
        QVERIFY(IsVisible(view, 4) && IsVisible(view, 464));
        QCOMPARE(QByteArray::fromStdString(view.Text()), bytes);
        QVERIFY(!s.doc().IsModified());
        QVERIFY(!view.isUndoAvailable());
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(ReadAll(path), bytes);
        // Printing still sees every line.
        QCOMPARE(PrintedPages(view, pdf), pages);

        // Find reaches into folded lines and shows the match.
        view.setCursorPosition(0, 0);
        s.frame().OnCommand(ID_EDIT_FIND);
        auto* find = s.frame().findChild<QDialog*>(QStringLiteral("findDialog"));
        QVERIFY(find != nullptr);
        find->findChild<QLineEdit*>(QStringLiteral("findWhat"))->setText(QStringLiteral("needle"));
        find->hide();
        s.frame().OnCommand(ID_EDIT_REPEAT);
        QCOMPARE(view.selectedText(), QStringLiteral("needle"));
        QVERIFY(IsVisible(view, 6));
        // So does Replace All, folded again.
        ClickFoldMargin(view, 5);
        QVERIFY(!IsVisible(view, 6));
        find->findChild<QLineEdit*>(QStringLiteral("replaceWith"))->setText(QStringLiteral("pin"));
        QCOMPARE(static_cast<FindDialog*>(find)->replaceAll(), 1);
        QVERIFY(view.Text().find("<b>pin</b>") != std::string::npos);
        view.undo();
        QCOMPARE(QByteArray::fromStdString(view.Text()), bytes);
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(ReadAll(path), bytes);
        QVERIFY2(s.ui->messages.empty(), s.ui->messages.empty() ? "" : s.ui->messages[0].c_str());

        // Unfolded again, nothing has changed either.
        QVERIFY(view.SendScintilla(QsciScintilla::SCI_GETFOLDEXPANDED, 4UL) != 0);
        for (int header : {1, 5, 8, 11}) {
            if (view.SendScintilla(QsciScintilla::SCI_GETFOLDEXPANDED,
                                   static_cast<unsigned long>(header)) == 0) {
                ClickFoldMargin(view, header);
            }
        }
        for (int line = 0; line < view.lines(); ++line) {
            QVERIFY2(IsVisible(view, line), qPrintable(QString::number(line)));
        }
        QCOMPARE(QByteArray::fromStdString(view.Text()), bytes);
        QVERIFY(!s.doc().IsModified());
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(ReadAll(path), bytes);

        // Folding off leaves nothing hidden; on again, the levels are back.
        ClickFoldMargin(view, 4);
        view.EnableFolding(false);
        QCOMPARE(view.marginWidth(2), 0);
        QVERIFY(IsVisible(view, 5));
        view.EnableFolding(true);
        QVERIFY(view.contractedFolds().isEmpty());
        QCOMPARE(ControlLevels(view), levels);
    }

    void foldLevelsFollowEdits() {
        Session s;
        CDView& view = s.source();
        view.setText(QStringLiteral("<r>\n  <a\n    x=\"1\">\n  <!-- c -->\n  </a>\n</r>\n"));
        auto agrees = [&] { return ControlLevels(view) == FoldLevels(view.Text()); };
        QVERIFY(agrees());
        s.frame().SetActivePane(&view);
        view.setCursorPosition(3, 2);
        QTest::keyClicks(&view, "<b>");
        QTest::keyClick(&view, Qt::Key_Return);
        QTest::keyClicks(&view, "<!--");
        QTest::keyClick(&view, Qt::Key_Return);
        QVERIFY(agrees());
        view.setCursorPosition(1, 0);
        QTest::keyClicks(&view, "<![CDATA[");
        QVERIFY(agrees());
        view.setSelection(1, 0, 2, 3);
        view.cut();
        QVERIFY(agrees());
        view.setCursorPosition(5, 0);
        view.paste();
        QVERIFY(agrees());
        view.undo();
        QVERIFY(agrees());
        view.undo();
        QVERIFY(agrees());
        view.redo();
        QVERIFY(agrees());
        QTest::keyClick(&view, Qt::Key_Backspace);
        QTest::keyClick(&view, Qt::Key_Delete);
        QVERIFY(agrees());
    }

    void aJumpToTheEndIsShownAtOnceAndColouredBetweenEvents() {
        Session s;
        CDView& view = s.source();
        QByteArray text = "<r>\n";
        for (int i = 0; i < 150000; ++i) {
            text += "  <l n=\"" + QByteArray::number(i) + "\">x</l>\n";
        }
        text += "</r>\n";
        view.setText(QString::fromUtf8(text));
        s.frame().SetActivePane(&view);
        view.repaint();
        const long length = Send(view, QsciScintilla::SCI_GETLENGTH);
        const long lastTag = long(text.lastIndexOf("<l"));
        const int lastLine = view.lines() - 3;  // the last <l>, before "</r>" and the empty line

        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
        view.repaint();
        QCOMPARE(Send(view, QsciScintilla::SCI_GETCURRENTPOS), length);
        // Not all of the text before it was coloured in one go ...
        QVERIFY(Send(view, QsciScintilla::SCI_GETENDSTYLED) < lastTag);
        // ... the rest comes while events are handled: colours and fold levels.
        QTRY_VERIFY_WITH_TIMEOUT(Send(view, QsciScintilla::SCI_GETENDSTYLED) > lastTag, 10000);
        const auto at = [&](long pos) {
            return Send(view, QsciScintilla::SCI_GETSTYLEAT, static_cast<unsigned long>(pos));
        };
        QCOMPARE(at(lastTag), at(long(text.indexOf("<l"))));
        QVERIFY(at(lastTag) != at(lastTag + long(qstrlen("<l n=\"149999\">"))));  // tag, then text
        const std::vector<int> expected = FoldLevels(view.Text());
        QCOMPARE(FoldLevelOf(view, lastLine), expected[std::size_t(lastLine)]);
    }

    void typingErrorIsMarkedAndClearedWithoutMessage() {
        QTemporaryDir dir;
        const QString path = Write(dir, QStringLiteral("typed.xml"), "<r>\n  <a>x</a>\n</r>\n");
        Session s(path);
        CDView& view = s.source();
        QVERIFY(view.TypingCheckEnabled());
        QCOMPARE(CDView::kTypingCheckDelayMs, 500);
        QVERIFY(!view.TypingCheckPending());  // nothing typed yet
        s.frame().SetActivePane(&view);
        view.setCursorPosition(1, 2);
        QTest::keyClicks(&view, "<b>");
        QCOMPARE(view.Text(), std::string("<r>\n  <b><a>x</a>\n</r>\n"));
        QVERIFY(view.TypingCheckPending());
        const DocumentState before = StateOf(s);

        QTRY_VERIFY_WITH_TIMEOUT(view.HasTypingErrorMark(), kCheckTimeoutMs);
        QVERIFY(!view.TypingCheckPending());
        QCOMPARE(view.TypingErrorLine(), 2);
        QCOMPARE(Squiggled(view), std::string("</r>"));
        QCOMPARE(
            s.message(),
            QStringLiteral("Line 3, column 5: Opening and ending tag mismatch: b line 2 and r"));
        int line = -1, index = -1;
        view.getCursorPosition(&line, &index);
        QCOMPARE(line, 1);  // the caret stays where the user typed
        QCOMPARE(index, 5);
        QVERIFY(s.ui->messages.empty());
        QVERIFY(StateOf(s) == before);
        QVERIFY(!view.HasErrorMark());  // Parse's mark is Parse's

        // A menu's prompt passes; the finding comes back after it.
        s.frame().statusBar()->showMessage(QStringLiteral("Save the active document"));
        s.frame().statusBar()->clearMessage();
        QVERIFY(s.message().startsWith(QStringLiteral("Line 3, column 5: ")));

        // Mended: the mark, the squiggle and the reason go.
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(&view, Qt::Key_Backspace);
        }
        QCOMPARE(view.Text(), std::string("<r>\n  <a>x</a>\n</r>\n"));
        QVERIFY(view.HasTypingErrorMark());  // until the next check, not at every key
        QTRY_VERIFY_WITH_TIMEOUT(!view.HasTypingErrorMark(), kCheckTimeoutMs);
        QCOMPARE(Squiggled(view), std::string());
        QCOMPARE(s.message(), QStringLiteral("Ready"));
        QVERIFY(s.ui->messages.empty());

        // Parse marks as it always has; the two marks are independent.
        view.setCursorPosition(1, 6);
        QTest::keyClicks(&view, "&u;");
        QTRY_VERIFY_WITH_TIMEOUT(view.HasTypingErrorMark(), kCheckTimeoutMs);
        QCOMPARE(s.message(), QStringLiteral("Line 2, column 10: Entity 'u' not defined"));
        QCOMPARE(Squiggled(view), std::string("&u;"));
        s.frame().OnCommand(ID_PARSE);
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QVERIFY(view.HasErrorMark());
        QVERIFY(view.HasTypingErrorMark());
        s.ui->messages.clear();
        s.frame().SetActivePane(&view);
        view.setCursorPosition(1, 9);
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(&view, Qt::Key_Backspace);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!view.HasTypingErrorMark(), kCheckTimeoutMs);
        QVERIFY(view.HasErrorMark());
        QVERIFY(s.ui->messages.empty());

        // A new document replaces the text: the finding about the old one goes.
        QTest::keyClicks(&view, "<");
        QTRY_VERIFY_WITH_TIMEOUT(view.HasTypingErrorMark(), kCheckTimeoutMs);
        s.ui->saveAnswer = SaveAnswer::Discard;
        s.frame().OnCommand(ID_FILE_NEW);
        QVERIFY(!view.HasTypingErrorMark());
        QVERIFY(!view.TypingCheckPending());
        QCOMPARE(s.message(), QStringLiteral("Ready"));
    }

    void typingCheckIsOffForLongTexts() {
        Session s;
        CDView& view = s.source();
        s.frame().SetActivePane(&view);
        QTest::keyClicks(&view, "<r>");
        QTRY_VERIFY_WITH_TIMEOUT(view.HasTypingErrorMark(), kCheckTimeoutMs);
        // Past the limit the finding goes and typing starts no check.
        std::string longText = "\n";
        while (longText.size() <= kTypingCheckMaxBytes) {
            longText += "  <e>t</e>\n";
        }
        view.SendScintilla(QsciScintilla::SCI_APPENDTEXT,
                           static_cast<unsigned long>(longText.size()), longText.c_str());
        QVERIFY(!view.HasTypingErrorMark());
        QVERIFY(!view.TypingCheckPending());
        QCOMPARE(s.message(), QStringLiteral("Ready"));
        view.SendScintilla(QsciScintilla::SCI_DOCUMENTEND);
        QTest::keyClicks(&view, "</q>");
        QVERIFY(!view.TypingCheckPending());
        QTest::qWait(CDView::kTypingCheckDelayMs + 200);
        QVERIFY(!view.HasTypingErrorMark());
        QVERIFY(s.ui->messages.empty());
    }
};

QTEST_MAIN(SourceFoldingAndCheckTest)
#include "SourceFoldingAndCheckTest.moc"
