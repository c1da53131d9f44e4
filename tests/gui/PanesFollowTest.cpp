// The two panes follow each other in the real window: choosing a tree item
// puts the source caret on its node, moving the caret selects the innermost
// item there and shows its path; an edit stops both until the next parse.
#include <QFile>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <QLineEdit>
#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "edit/ui/TreeCommandDlg.h"
#include "framework/ui/Commands.h"
#include "tests/gui/TestWindow.h"
#include "views/source/ui/DView.h"
#include "views/tree/core/ItemPath.h"
#include "views/tree/ui/ClassView.h"
#include "views/tree/ui/TreeModel.h"

using namespace quorrel;

namespace {

// r holds e (attribute x, text t, comment c, CDATA d), an empty f and a
// text-only g; the root item shows no attributes.
const char kDocument[] =
    "<?xml version=\"1.0\"?>\n"
    "<r a=\"1\">\n"
    "  <e x=\"2\">t&amp;u<!--c--><![CDATA[d]]></e>\n"
    "  <f/>\n"
    "  <g>h</g>\n"
    "</r>\n";

struct Window : TestWindow {
    QTemporaryDir dir;
    std::string text;

    // On a document of that text, or on the file named.
    explicit Window(const std::string& document = kDocument, const QString& named = {})
        : text(document) {
        QString path = named;
        if (path.isEmpty()) {
            path = Write(dir, QStringLiteral("doc.xml"), QByteArray::fromStdString(text));
        } else {
            text = ReadAll(path).toStdString();
        }
        Start(path);
    }
    long at(const char* what, long plus = 0) { return long(text.find(what)) + plus; }

    long xOffset() { return source().SendScintilla(QsciScintillaBase::SCI_GETXOFFSET); }
    QString selectedLabel() {
        return selected() ? QString::fromStdString(std::string(selected()->label())) : QString();
    }
    void answerDialogsWith(const QString& name) {
        tree().m_execDialog = [name](QDialog& dialog) {
            auto& d = static_cast<CTreeCommandDlg&>(dialog);
            if (d.NameField() != nullptr) {
                d.NameField()->setText(name);
            }
            return int(QDialog::Accepted);
        };
    }
    void caretTo(long offset) {
        frame().SetActivePane(&source());
        source().SendScintilla(QsciScintillaBase::SCI_GOTOPOS, static_cast<unsigned long>(offset));
        QCoreApplication::processEvents();
    }
};

}  // namespace

class PanesFollowTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:

    void choosingAnItemPutsTheCaretOnItsNode() {
        Window w;
        struct Case {
            const char* position;
            long offset;
            const char* path;  // in the message pane
        } cases[] = {{"0.0", w.at("<e"), "/r[0]/e[0]"},
                     {"0", w.at("<r"), "/r[0]"},
                     {"0.0.0", w.at("x="), "/r[0]/e[0]/@x"},
                     {"0.0.1", w.at(">t", 1), "/r[0]/e[0]/text()[1]"},
                     {"0.0.2", w.at("<!--"), "/r[0]/e[0]/comment()[1]"},
                     {"0.0.3", w.at("<![CDATA"), "/r[0]/e[0]/text()[2]"},
                     {"0.1", w.at("<f"), "/r[0]/f[0]"}};
        for (const Case& c : cases) {
            w.select(c.position);
            QCOMPARE(w.source().CaretOffset(), c.offset);
            QVERIFY(!w.source().hasFocus());
            // The pane draws no caret without the focus; its line stands out instead.
            QVERIFY(w.source().SendScintilla(QsciScintillaBase::SCI_GETCARETLINEVISIBLE) != 0);
            QCOMPARE(w.frame().statusBar()->currentMessage(), QString::fromLatin1(c.path));
        }
        // The caret's own move does not choose anything in return.
        QCOMPARE(w.selected(), w.item("0.1"));
        QCOMPARE(w.tree().Current().hSelItem, w.item("0.1"));
        w.frame().SetActivePane(&w.source());
        QVERIFY(w.source().SendScintilla(QsciScintillaBase::SCI_GETCARETLINEVISIBLE) == 0);
    }

    void movingTheCaretSelectsTheInnermostItemAndShowsItsPath() {
        Window w;
        w.select("0.1");  // the tree commands' current item
        struct Case {
            long offset;
            const char* position;
            const char* path;  // in the message pane
        } cases[] = {
            {w.at("<r", 1), "0", "/r[0]"},
            {w.at("\"1\""), "0", "/r[0]"},
            {w.at("<e"), "0.0", "/r[0]/e[0]"},
            {w.at("x=", 1), "0.0.0", "/r[0]/e[0]/@x"},
            {w.at("&amp;"), "0.0.1", "/r[0]/e[0]/text()[1]"},
            {w.at("<!--", 5), "0.0.2", "/r[0]/e[0]/comment()[1]"},
            {w.at("d]]"), "0.0.3", "/r[0]/e[0]/text()[2]"},
            {w.at("</e", 2), "0.0", "/r[0]/e[0]"},
            {w.at("<f/>", 3), "0.1", "/r[0]/f[0]"},
            {w.at("</r"), "0", "/r[0]"},
        };
        for (const Case& c : cases) {
            w.caretTo(c.offset);
            QCOMPARE(w.selected(), w.item(c.position));
            QCOMPARE(w.frame().statusBar()->currentMessage(), QString::fromLatin1(c.path));
            QVERIFY(w.source().hasFocus() || !w.tree().hasFocus());
            // What a tree command would act on stays the item the user chose there.
            QCOMPARE(w.tree().Current().hSelItem, w.item("0.1"));
        }
        // Outside the root element nothing is selected anew, and no path shows.
        w.caretTo(w.at("<?xml", 2));
        QCOMPARE(w.selected(), w.item("0"));
        QCOMPARE(w.frame().statusBar()->currentMessage(), QStringLiteral("Ready"));
        w.caretTo(w.at("<f"));
        QCOMPARE(w.frame().statusBar()->currentMessage(), QStringLiteral("/r[0]/f[0]"));
        w.caretTo(long(w.text.size()));
        QCOMPARE(w.frame().statusBar()->currentMessage(), QStringLiteral("Ready"));
    }

    void theCaretSelectsOnlyItemsTheTextHolds() {
        Window w(std::string(), QStringLiteral(QUORREL_SAMPLE));
        // Line 40, "\t\t\t<price>12,90 €</price>": the DTD gives price a vat.
        const long line40 = w.source().SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, 39UL);
        QCOMPARE(w.text.substr(std::size_t(line40), 10), std::string("\t\t\t<price>"));
        for (long plus : {3L, 5L, 9L}) {
            w.caretTo(line40 + plus);
            QCOMPARE(w.selectedLabel(), QStringLiteral("price"));
            QCOMPARE(w.message(), QStringLiteral("/catalog[0]/section[0]/book[0]/price[0]"));
        }
        // After a command the places are the new text's; the first book has
        // two attributes the text does not hold. (Its DTD knows no child n.)
        const char* book = "<book isbn=\"978-2-07-036024-5\"";
        w.frame().OnCommand(ID_VALIDATE_NO);
        w.answerDialogsWith(QStringLiteral("n"));
        w.select("0.2.2");
        QCOMPARE(w.selectedLabel(), QStringLiteral("book"));
        w.frame().UpdateCommandUI();
        w.frame().Action(ID_ADD_CHILD_ELEMENT)->trigger();
        const std::string now = w.source().Text();
        QVERIFY(now.find("<n") != std::string::npos);
        QVERIFY(w.ui->messages.empty());
        const long at = long(now.find(book));
        for (long plus : {0L, 3L}) {
            w.caretTo(0);
            w.caretTo(at + plus);
            QCOMPARE(w.selectedLabel(), QStringLiteral("book"));
            QCOMPARE(w.message(), QStringLiteral("/catalog[0]/section[0]/book[0]"));
        }
        w.caretTo(at + 7);
        QCOMPARE(w.message(), QStringLiteral("/catalog[0]/section[0]/book[0]/@isbn"));
    }

    void aJumpShowsColumnOneWhenThePlaceFits() {
        const std::string wide(400, 'a');
        const std::string indent(16, ' ');
        Window w("<r>\n<e x=\"" + wide + "\"/>\n" + indent + "<f/>\n<g y=\"" + wide +
                 "\"><h/></g>\n</r>\n");
        const long endOfLine2 = w.at("\"/>", 3);
        // Choosing an item at the start of a line, from the end of a long line.
        w.caretTo(endOfLine2);
        QVERIFY(w.xOffset() > 0);
        w.select("0.1");
        QCOMPARE(w.source().CaretOffset(), w.at("<f"));
        QCOMPARE(w.xOffset(), 0L);
        // A place too far right for the pane is scrolled to, not past.
        w.select("0.2.1");
        QCOMPARE(w.source().CaretOffset(), w.at("<h"));
        QVERIFY(w.xOffset() > 0);
        // After a command, at the node it changed.
        w.select("0.1");
        w.caretTo(endOfLine2);
        QVERIFY(w.xOffset() > 0);
        w.answerDialogsWith(QStringLiteral("q"));
        w.frame().SetActivePane(&w.tree());
        w.frame().UpdateCommandUI();
        w.frame().Action(ID_RENAME_ELEMENT)->trigger();
        QCOMPARE(w.source().CaretOffset(), long(w.source().Text().find("<q")));
        QCOMPARE(w.xOffset(), 0L);
    }

    void anEditStopsBothUntilTheNextParse() {
        Window w;
        w.caretTo(w.at("<f"));
        QCOMPARE(w.selected(), w.item("0.1"));
        QTest::keyClicks(&w.source(), QStringLiteral(" "));
        const long typedAt = w.source().CaretOffset();

        w.caretTo(w.at("<e"));
        QCOMPARE(w.selected(), w.item("0.1"));  // nothing follows a changed text
        w.frame().SetActivePane(&w.tree());     // activating the tree parses the text again
        w.select("0.0.0");
        QVERIFY(w.source().CaretOffset() != typedAt);
        std::string now = w.source().Text();
        QCOMPARE(w.source().CaretOffset(), long(now.find("x=")));

        // Undo in the source pane is an edit too.
        w.frame().SetActivePane(&w.source());
        w.frame().UpdateCommandUI();
        w.frame().Action(ID_EDIT_UNDO)->trigger();
        const long caret = w.source().CaretOffset();
        w.tree().setCurrentIndex(w.tree().Model()->Reveal(w.item("0.0")));
        QCOMPARE(w.source().CaretOffset(), caret);
    }

    void afterEachTreeCommandAndItsUndoTheCaretIsAtTheChangedNode() {
        Window w;
        QString name, value;
        w.tree().m_execDialog = [&](QDialog& dialog) {
            auto& d = static_cast<CTreeCommandDlg&>(dialog);
            if (d.NameField() != nullptr) {
                d.NameField()->setText(name);
            }
            if (d.ValueField() != nullptr) {
                d.ValueField()->setText(value);
            }
            return int(QDialog::Accepted);
        };
        // Each command on the same text: Undo brings it back, and choosing in
        // the tree parses it again. The changed node is the item itself, or
        // the element that held what was removed or moved.
        struct Case {
            const char* position;
            int command;
            const char* name;
            const char* value;
            const char* caretAt;   // in the new text
            const char* undoneAt;  // in the text before
        } cases[] = {
            {"0.0", ID_ADD_ATTRIBUTE, "k", "v", "<e", "<e"},
            {"0.0", ID_ADD_CHILD_ELEMENT, "n", "", "<e", "<e"},
            {"0.0", ID_ADD_TEXT_NODE, "", "w", "<e", "<e"},
            {"0.1", ID_RENAME_ELEMENT, "q", "", "<q", "<f"},
            {"0.1", ID_DELETE_ELEMENT_AND_CHILDREN, "", "", "<r", "<r"},
            {"0.0", ID_DELETE_ELEMENT_ONLY, "", "", "<r", "<r"},
            {"0.2", ID_ELEMENT_TO_ATTRIBUTE, "", "", "<r", "<r"},
            {"0.1", ID_DUPLICATE_ELEMENT_SUBTREE, "", "", "<f", "<f"},
            {"0.0.0", ID_CHANGE_ATTRIBUTE_NAME, "y", "", "<e", "<e"},
            {"0.0.0", ID_CHANGE_ATTRIBUTE_VALUE, "", "3", "x=\"3\"", "x=\"2\""},
            {"0.0.0", ID_ATTRIBUTE_TO_ELEMENT, "", "", "<e", "<e"},
            {"0.0.0", ID_DELETE_ATTRIBUTE, "", "", "<e", "<e"},
            {"0.0.1", ID_DELETE_TEXT_NODE, "", "", "<e", "<e"},
            {"0.0.1", ID_CHANGE_TEXT_VALUE, "", "s", "s<!--", "t&amp;u"},
        };
        for (const Case& c : cases) {
            name = QString::fromLatin1(c.name);
            value = QString::fromLatin1(c.value);
            w.select(c.position);
            QCOMPARE(w.source().Text(), w.text);
            w.frame().UpdateCommandUI();
            QVERIFY2(w.frame().Action(c.command)->isEnabled(), c.caretAt);
            w.frame().Action(c.command)->trigger();
            const std::string now = w.source().Text();
            QVERIFY2(now != w.text, QByteArray::number(c.command).constData());
            QVERIFY2(now.find(c.caretAt) != std::string::npos, now.c_str());
            QVERIFY2(w.source().CaretOffset() == long(now.find(c.caretAt)), now.c_str());

            // One Undo: the text before, the caret back on the node.
            w.frame().SetActivePane(&w.source());
            w.frame().UpdateCommandUI();
            w.frame().Action(ID_EDIT_UNDO)->trigger();
            QCOMPARE(w.source().Text(), w.text);
            QVERIFY2(w.source().CaretOffset() == w.at(c.undoneAt), c.undoneAt);
        }
        // An undo of typing after a command leaves the caret with the typing.
        w.select("0.1");
        w.frame().Action(ID_RENAME_ELEMENT)->trigger();
        w.frame().SetActivePane(&w.source());
        const long typedAt = w.at("<r");
        w.caretTo(typedAt);
        QTest::keyClicks(&w.source(), QStringLiteral("z"));
        w.frame().Action(ID_EDIT_UNDO)->trigger();
        QCOMPARE(w.source().CaretOffset(), typedAt);
    }
};

QTEST_MAIN(PanesFollowTest)
#include "PanesFollowTest.moc"
