// Xml > Find by XPath in the real window: the panel opens by its key and
// closes with Esc, evaluates on the document as parsed (parsing first what
// was typed), lists the nodes, and choosing one shows it in both panes; the
// prefix table, errors in the panel, the command on every match as one
// undo step, the copied paths, and a large document evaluated apart.
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <QCheckBox>
#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"
#include "edit/core/MatchCommands.h"
#include "edit/ui/TreeCommandDlg.h"
#include "framework/ui/BackgroundWork.h"
#include "framework/ui/Commands.h"
#include "tests/gui/TestWindow.h"
#include "views/source/ui/DView.h"
#include "views/tree/core/TreeItems.h"
#include "views/tree/ui/ClassView.h"
#include "views/tree/ui/TreeModel.h"
#include "views/xpath/ui/XPathPanel.h"
#include "views/xpath/ui/XPathResultModel.h"

using namespace quorrel;

namespace {

const char kCatalog[] =
    "<?xml version=\"1.0\"?>\n"
    "<catalog xmlns:x=\"urn:x\">\n"
    "  <section>\n"
    "    <book lang=\"en\"><title>Alpha</title></book>\n"
    "    <book lang=\"fr\"><title>Beta</title></book>\n"
    "  </section>\n"
    "  <?note here?>\n"
    "  <!--c-->\n"
    "  <x:extra/>\n"
    "</catalog>\n";

struct Window : TestWindow {
    QTemporaryDir dir;
    std::string text;

    explicit Window(const std::string& document = kCatalog) : text(document) {
        Start(Write(dir, QStringLiteral("doc.xml"), QByteArray::fromStdString(text)), Until::Idle);
    }
    CXPathPanel& panel() { return *frame().XPathPanel(); }
    QTableView& results() { return *panel().ResultView(); }
    long at(const char* what, long plus = 0) { return long(text.find(what)) + plus; }
    QString cell(int row, int column) {
        return panel().ResultModel()->index(row, column).data().toString();
    }
    int rows() { return panel().ResultModel()->rowCount(); }
    int currentRow() { return results().currentIndex().row(); }

    void open() {
        QTest::keyClick(&frame(), Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(panel().isVisible());
    }
    // Types the expression into the field and presses Enter.
    void evaluate(const QString& expression) {
        if (!panel().isVisible()) {
            open();
        }
        QLineEdit* field = panel().ExpressionField()->lineEdit();
        field->setFocus();
        field->clear();
        QTest::keyClicks(field, expression);
        QSignalSpy done(&panel(), &CXPathPanel::evaluated);
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(done.count() > 0 || done.wait(60000));
        QCOMPARE(done.count(), 1);
    }
    void clickRow(int row) {
        const QRect rect = results().visualRect(panel().ResultModel()->index(row, 1));
        QTest::mouseClick(results().viewport(), Qt::LeftButton, {}, rect.center());
    }
    void setPrefix(int row, const QString& prefix) {
        QTableWidget* table = panel().PrefixTable();
        table->item(row, 0)->setText(prefix);
    }
};

// Orders enough for the window to work on them apart.
std::string LargeOrders() {
    std::string text = "<?xml version=\"1.0\"?>\n<orders>\n";
    for (int i = 0; text.size() < 2 * CBackgroundWork::kApartFrom; ++i) {
        text += "\t<order id=\"" + std::to_string(i) + "\">\n\t\t<item>part " + std::to_string(i) +
                "</item>\n\t</order>\n";
    }
    return text + "</orders>\n";
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The command on the same matches in the core, on a document of its own.
std::string InTheCore(const std::string& text, const XPathQuery& query, TreeCommand command,
                      const CommandInputs& inputs) {
    CollectingSink sink;
    CDoc doc(sink);
    doc.ReplaceText(text);
    if (!doc.ReparseDocument()) {
        return "(does not parse)";
    }
    CTreeItems items;
    BuildTreeFromDom(doc, items);
    if (RunMatchCommand(doc, items, query, command, inputs, sink) != CommandOutcome::Done) {
        return "(not done)";
    }
    return doc.Text();
}

}  // namespace

class XPathPanelTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:

    void theKeyOpensThePanelBelowThePanesAndEscHidesIt() {
        Window w;
        QVERIFY(!w.panel().isVisible());
        QAction* find = w.frame().Action(ID_FIND_XPATH);
        QVERIFY(find != nullptr);
        QVERIFY(w.frame().ToolBar()->actions().contains(find));
        QCOMPARE(w.frame().dockWidgetArea(&w.panel()), Qt::BottomDockWidgetArea);
        w.frame().SetActivePane(&w.tree());
        w.open();
        QVERIFY(w.panel().ExpressionField()->lineEdit()->hasFocus());
        // Below the two panes.
        QVERIFY(w.panel().geometry().top() >= w.frame().Splitter()->geometry().bottom());
        QTest::keyClick(w.panel().ExpressionField()->lineEdit(), Qt::Key_Escape);
        QVERIFY(!w.panel().isVisible());
        QVERIFY(w.tree().hasFocus());  // back to the pane that was active
        w.frame().OnCommand(ID_FIND_XPATH);
        QVERIFY(w.panel().isVisible());
    }

    void nodesAreListedAndChoosingOneShowsItInBothPanes() {
        Window w;
        w.evaluate(QStringLiteral("//book"));
        QCOMPARE(w.panel().CountLabel()->text(), QStringLiteral("2 nodes"));
        QCOMPARE(w.rows(), 2);
        QCOMPARE(w.cell(0, XPathResultModel::Kind), QStringLiteral("element"));
        QCOMPARE(w.cell(1, XPathResultModel::ItemPath),
                 QStringLiteral("/catalog[0]/section[0]/book[1]"));
        QCOMPARE(w.cell(1, XPathResultModel::Place), QStringLiteral("5:5"));
        QCOMPARE(w.cell(1, XPathResultModel::Text), QStringLiteral("Beta"));
        QVERIFY(w.ui->messages.empty());

        // A click: the tree selects the item (its section expanded), the caret is on the node.
        const QModelIndex section = w.tree().Model()->Reveal(w.item("0.0"));
        w.tree().setExpanded(section, false);
        QVERIFY(!w.tree().isExpanded(section));
        w.clickRow(1);
        QVERIFY(w.tree().isExpanded(section));
        QCOMPARE(w.selected(), w.item("0.0.1"));
        QCOMPARE(w.source().CaretOffset(), w.at("<book lang=\"fr\""));
        QVERIFY(w.results().hasFocus());
        // F3 goes round the list, Shift+F3 back; arrows and Enter choose too.
        QTest::keyClick(&w.results(), Qt::Key_F3);
        QCOMPARE(w.currentRow(), 0);
        QCOMPARE(w.selected(), w.item("0.0.0"));
        QCOMPARE(w.source().CaretOffset(), w.at("<book"));
        QTest::keyClick(&w.results(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(w.currentRow(), 1);
        QCOMPARE(w.source().CaretOffset(), w.at("<book lang=\"fr\""));
        QTest::keyClick(&w.results(), Qt::Key_Up);
        QCOMPARE(w.selected(), w.item("0.0.0"));
        // Enter on the current row puts the caret back after it was moved.
        w.source().ShowOffset(0);
        QTest::keyClick(&w.results(), Qt::Key_Return);
        QCOMPARE(w.source().CaretOffset(), w.at("<book"));

        // Attributes and texts have items; the caret goes to them.
        w.evaluate(QStringLiteral("//@lang"));
        QCOMPARE(w.cell(1, XPathResultModel::Kind), QStringLiteral("attribute"));
        QCOMPARE(w.cell(1, XPathResultModel::ItemPath),
                 QStringLiteral("/catalog[0]/section[0]/book[1]/@lang"));
        w.clickRow(1);
        QCOMPARE(w.source().CaretOffset(), w.at("lang=\"fr\""));
        QCOMPARE(w.selected(), w.item("0.0.1.0"));
        w.evaluate(QStringLiteral("//title/text()"));
        w.clickRow(0);
        QCOMPARE(w.source().CaretOffset(), w.at("Alpha"));
        QCOMPARE(w.selected()->label(), std::string_view("Alpha"));

        // A processing instruction has no item: the caret alone, the tree follows it.
        w.evaluate(QStringLiteral("//processing-instruction()"));
        QCOMPARE(w.rows(), 1);
        QCOMPARE(w.cell(0, XPathResultModel::ItemPath), QString());
        QCOMPARE(w.cell(0, XPathResultModel::Text), QStringLiteral("here"));
        w.clickRow(0);
        QCOMPARE(w.source().CaretOffset(), w.at("<?note"));
        QTRY_COMPARE(w.selected(), w.item("0"));  // as the caret is reported

        // The history, newest first, kept in the settings.
        const QStringList history{QStringLiteral("//processing-instruction()"),
                                  QStringLiteral("//title/text()"), QStringLiteral("//@lang"),
                                  QStringLiteral("//book")};
        QCOMPARE(w.panel().History(), history);
        QCOMPARE(w.panel().ExpressionField()->count(), 4);
        QSettings settings(QStringLiteral("Hollenby"), QStringLiteral("QUORREL"));
        QCOMPARE(settings.value(QStringLiteral("XPath History")).toStringList(), history);
        w.evaluate(QStringLiteral("//book"));  // again: moved to the top, not repeated
        QCOMPARE(w.panel().History().size(), 4);
        QCOMPARE(w.panel().History().front(), QStringLiteral("//book"));
    }

    void theHistoryKeepsTwentyAcrossWindows() {
        {
            Window w;
            for (int i = 0; i < 25; ++i) {
                w.evaluate(QStringLiteral("count(//book) + %1").arg(i));
            }
            QCOMPARE(w.panel().History().size(), CXPathPanel::kHistory);
        }
        Window again;
        QCOMPARE(again.panel().History().size(), CXPathPanel::kHistory);
        QCOMPARE(again.panel().History().front(), QStringLiteral("count(//book) + 24"));
        QCOMPARE(again.panel().ExpressionField()->itemText(19),
                 QStringLiteral("count(//book) + 5"));
    }

    void scalarsShowTheirValueAndErrorsStayInThePanel() {
        Window w;
        w.evaluate(QStringLiteral("count(//book)"));
        QCOMPARE(w.panel().CountLabel()->text(), QStringLiteral("Number: 2"));
        QCOMPARE(w.rows(), 0);
        w.evaluate(QStringLiteral("string(//book[2]/@lang)"));
        QCOMPARE(w.panel().CountLabel()->text(), QStringLiteral("String: \"fr\""));
        w.evaluate(QStringLiteral("//book = 'x'"));
        QCOMPARE(w.panel().CountLabel()->text(), QStringLiteral("Boolean: false"));
        w.evaluate(QStringLiteral("//nothing"));
        QCOMPARE(w.panel().CountLabel()->text(), QStringLiteral("No node matches."));

        w.evaluate(QStringLiteral("//book[@lang="));
        const QString error = w.panel().StatusLabel()->text();
        QVERIFY2(error.contains(QStringLiteral("at character")), qPrintable(error));
        QCOMPARE(w.rows(), 0);
        QCOMPARE(w.panel().CountLabel()->text(), QString());
        QVERIFY(w.ui->messages.empty());  // no message box
        w.evaluate(QStringLiteral("nosuch:book"));
        QVERIFY(!w.panel().StatusLabel()->text().isEmpty());
        QVERIFY(w.ui->messages.empty());
        w.evaluate(QStringLiteral("//book"));
        QCOMPARE(w.panel().StatusLabel()->text(), QString());
    }

    void typedTextIsParsedFirstAndAFaultIsSaidInThePanel() {
        Window w;
        w.open();
        const long at = w.at("  </section>");
        w.source().SendScintilla(QsciScintillaBase::SCI_INSERTTEXT, static_cast<unsigned long>(at),
                                 "    <book lang=\"de\"/>\n");
        QVERIFY(!w.tree().InStepWithText());
        w.evaluate(QStringLiteral("//book"));
        QCOMPARE(w.rows(), 3);
        QVERIFY(w.tree().InStepWithText());
        w.clickRow(2);
        QCOMPARE(w.selected(), w.item("0.0.2"));
        QCOMPARE(w.source().CaretOffset(), at + 4);

        // Broken: said in the panel (the parse shows its own message too).
        w.source().SendScintilla(QsciScintillaBase::SCI_INSERTTEXT, static_cast<unsigned long>(at),
                                 "<open>");
        w.evaluate(QStringLiteral("//book"));
        QVERIFY2(w.panel().StatusLabel()->text().contains(QStringLiteral("does not parse")),
                 qPrintable(w.panel().StatusLabel()->text()));
        QCOMPARE(w.rows(), 0);
    }

    void theRowsOfAnOlderTextAreNotFollowed() {
        Window w;
        w.evaluate(QStringLiteral("//book"));
        w.clickRow(0);
        w.source().SendScintilla(QsciScintillaBase::SCI_INSERTTEXT, 0UL, "<!-- x -->");
        const long caret = w.source().CaretOffset();
        w.clickRow(1);
        QCOMPARE(w.source().CaretOffset(), caret);
        QVERIFY(w.panel().StatusLabel()->text().contains(QStringLiteral("evaluate it again")));
    }

    void theDocumentsDeclarationsFillThePrefixTable() {
        Window w(
            "<r xmlns=\"urn:d\" xmlns:p=\"urn:p\">\n"
            "  <a/>\n"
            "  <p:a/>\n"
            "  <a/>\n"
            "</r>\n");
        w.open();
        QTableWidget* table = w.panel().PrefixTable();
        QCOMPARE(table->rowCount(), 3);  // two declarations and a row to add one
        QCOMPARE(table->item(0, 0)->text(), QString());
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("urn:d"));
        QCOMPARE(table->item(1, 0)->text(), QStringLiteral("p"));
        // Names without a prefix are in no namespace: the default one needs a prefix.
        w.evaluate(QStringLiteral("//a"));
        QCOMPARE(w.panel().CountLabel()->text(), QStringLiteral("No node matches."));
        w.evaluate(QStringLiteral("//p:a"));
        QCOMPARE(w.rows(), 1);
        w.setPrefix(0, QStringLiteral("d"));
        w.evaluate(QStringLiteral("//d:a"));
        QCOMPARE(w.rows(), 2);
        QCOMPARE(w.cell(1, XPathResultModel::ItemPath), QStringLiteral("/r[0]/a[1]"));
        // The prefix given stays when the document is parsed again.
        w.frame().OnCommand(ID_PARSE);
        w.open();
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("d"));
        // A row added: another prefix for a namespace.
        QCOMPARE(table->rowCount(), 3);
        table->setItem(2, 0, new QTableWidgetItem(QStringLiteral("q")));
        table->setItem(2, 1, new QTableWidgetItem(QStringLiteral("urn:p")));
        QCOMPARE(table->rowCount(), 4);  // a fresh empty row
        w.evaluate(QStringLiteral("//q:a | //d:a"));
        QCOMPARE(w.rows(), 3);
        // No prefix: said in the panel, nothing evaluated.
        w.setPrefix(2, QStringLiteral("1q"));
        w.evaluate(QStringLiteral("//q:a"));
        QVERIFY(w.panel().StatusLabel()->text().contains(QStringLiteral("not a prefix")));
        QCOMPARE(w.rows(), 3);  // the earlier result stays
        QVERIFY(w.ui->messages.empty());
    }

    void aCommandRunsOnEveryMatchAsOneUndoStep() {
        Window w;
        const std::string before = w.source().Text();
        w.evaluate(QStringLiteral("//book"));
        QStringList offered;
        w.panel().m_execMenu = [&](QMenu& menu, const QPoint&) -> QAction* {
            QAction* rename = nullptr;
            for (QAction* a : menu.actions()) {
                offered << a->text();
                if (a->data().toInt() == ID_RENAME_ELEMENT) {
                    rename = a;
                }
            }
            return rename;
        };
        bool allOccurrencesOffered = true;
        w.panel().m_execDialog = [&](QDialog& dialog) {
            auto& d = static_cast<CTreeCommandDlg&>(dialog);
            allOccurrencesOffered =
                d.AllOccurrences()->isEnabled() || d.AllOccurrences()->isChecked();
            d.NameField()->setText(QStringLiteral("volume"));
            return int(QDialog::Accepted);
        };
        QTest::mouseClick(w.panel().RunButton(), Qt::LeftButton);
        QCOMPARE(offered.size(), 8);  // the element commands
        QVERIFY(offered.contains(QStringLiteral("Rename Element")));
        QVERIFY(!allOccurrencesOffered);
        QCOMPARE(w.ui->questions, QStringList{QStringLiteral("Rename 2 elements?")});
        const std::string after = w.source().Text();
        std::string expected = before;
        for (std::size_t at; (at = expected.find("book")) != std::string::npos;) {
            expected.replace(at, 4, "volume");
        }
        QCOMPARE(after, expected);
        QVERIFY(w.ui->messages.empty());
        QCOMPARE(w.item("0.0.0")->label(), std::string_view("volume"));
        // The caret on the first changed node.
        QCOMPARE(w.source().CaretOffset(), long(after.find("<volume")));
        // The rows are the old text's now.
        QVERIFY(w.panel().StatusLabel()->text().contains(QStringLiteral("evaluate it again")));
        // One step of Undo gives the whole text back.
        w.frame().SetActivePane(&w.source());
        w.frame().OnCommand(ID_EDIT_UNDO);
        QCOMPARE(w.source().Text(), before);
        QVERIFY(!w.source().isUndoAvailable());

        // Declined at the question: nothing changes.
        w.ui->answers = {false};
        w.evaluate(QStringLiteral("//book"));
        QTest::mouseClick(w.panel().RunButton(), Qt::LeftButton);
        QCOMPARE(w.source().Text(), before);
    }

    void mixedKindsAndScalarsAreRefusedWithAMessage() {
        Window w;
        const std::string before = w.source().Text();
        bool menuShown = false;
        w.panel().m_execMenu = [&](QMenu&, const QPoint&) -> QAction* {
            menuShown = true;
            return nullptr;
        };
        w.evaluate(QStringLiteral("//book | //@lang"));
        QTest::mouseClick(w.panel().RunButton(), Qt::LeftButton);
        QCOMPARE(w.ui->messages.size(), std::size_t(1));
        QVERIFY2(QString::fromStdString(w.ui->messages[0])
                     .contains(QStringLiteral("more than one kind")),
                 w.ui->messages[0].c_str());
        w.evaluate(QStringLiteral("count(//book)"));
        QTest::mouseClick(w.panel().RunButton(), Qt::LeftButton);
        QCOMPARE(w.ui->messages.size(), std::size_t(2));
        w.evaluate(QStringLiteral("//comment()"));
        QTest::mouseClick(w.panel().RunButton(), Qt::LeftButton);
        QCOMPARE(w.ui->messages.size(), std::size_t(3));
        QVERIFY(!menuShown);
        QCOMPARE(w.source().Text(), before);
        QVERIFY(w.ui->questions.isEmpty());
    }

    void bothMenusCopyTheXPathAndTheItemPath() {
        Window w;
        QClipboard* clipboard = QGuiApplication::clipboard();
        auto pick = [](const char* name) {
            return [name](QMenu& menu, const QPoint&) -> QAction* {
                QAction* action = menu.findChild<QAction*>(QLatin1String(name));
                if (action != nullptr && action->isEnabled()) {
                    action->trigger();
                }
                return action;
            };
        };
        // The tree's context menu on the second book's attribute.
        w.frame().SetActivePane(&w.tree());
        const QModelIndex attribute = w.tree().Model()->Reveal(w.item("0.0.1.0"));
        const QPoint centre = w.tree().visualRect(attribute).center();
        w.tree().m_execMenu = pick("copyXPath");
        w.tree().OnContextMenu(w.tree().viewport()->mapToGlobal(centre));
        QCOMPARE(clipboard->text(), QStringLiteral("/catalog/section/book[2]/@lang"));
        w.tree().m_execMenu = pick("copyItemPath");
        w.tree().OnContextMenu(w.tree().viewport()->mapToGlobal(centre));
        QCOMPARE(clipboard->text(), QStringLiteral("/catalog[0]/section[0]/book[1]/@lang"));

        // The result list's, on a row.
        w.evaluate(QStringLiteral("//x:extra | //title"));
        QCOMPARE(w.rows(), 3);
        const QRect row = w.results().visualRect(w.panel().ResultModel()->index(2, 0));
        w.panel().m_execMenu = pick("copyXPath");
        emit w.results().customContextMenuRequested(row.center());
        QCOMPARE(clipboard->text(), QStringLiteral("/catalog/x:extra"));
        w.panel().m_execMenu = pick("copyItemPath");
        emit w.results().customContextMenuRequested(row.center());
        QCOMPARE(clipboard->text(), QStringLiteral("/catalog[0]/x:extra[0]"));
    }

    void aLargeDocumentIsEvaluatedApart() {
        Window w(LargeOrders());
        QVERIFY(w.doc().Text().size() >= CBackgroundWork::kApartFrom);
        QCOMPARE(w.doc().GetDomState(), CDoc::DomState::Hollow);  // the open kept no nodes
        w.open();
        QLineEdit* field = w.panel().ExpressionField()->lineEdit();
        QTest::keyClicks(field, QStringLiteral("//order[@id='1234']/item"));
        QSignalSpy done(&w.panel(), &CXPathPanel::evaluated);
        QTest::keyClick(field, Qt::Key_Return);
        // Under way: the busy bar and Cancel in the panel, the DOM the worker's.
        QVERIFY(w.panel().Evaluating());
        QVERIFY(w.frame().Work().IsRunning());
        QVERIFY(w.panel().BusyBar()->isVisible());
        QVERIFY(w.panel().CancelButton()->isVisible());
        QVERIFY(done.wait(60000));
        QVERIFY(!w.panel().BusyBar()->isVisible());
        QVERIFY(!w.panel().CancelButton()->isVisible());
        QCOMPARE(w.rows(), 1);
        QCOMPARE(w.cell(0, XPathResultModel::Text), QStringLiteral("part 1234"));
        // The DOM parsed for it is handed back and kept: the next Enter parses nothing.
        QCOMPARE(w.doc().GetDomState(), CDoc::DomState::Whole);
        const XmlDocument* kept = &w.doc().Dom();
        w.clickRow(0);
        QCOMPARE(w.source().CaretOffset(), long(w.text.find("<item>part 1234<")));
        QCOMPARE(w.selected()->label(), std::string_view("item"));
        // Cancelled, the evaluation shows nothing, however far the worker got.
        QTest::keyClicks(field, QStringLiteral("x"));
        field->setText(QStringLiteral("//item[contains(., '9')]"));
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(w.panel().Evaluating());
        QTest::mouseClick(w.panel().CancelButton(), Qt::LeftButton);
        QVERIFY(done.wait(60000));
        QCOMPARE(w.panel().StatusLabel()->text(), QStringLiteral("The evaluation was cancelled."));
        QCOMPARE(w.rows(), 0);
        QCOMPARE(&w.doc().Dom(), kept);
    }

    void aCommandOnTheMatchesOfALargeDocumentRunsApart() {
        Window w(LargeOrders());
        const std::string before = w.source().Text();
        QVERIFY(before.size() >= CBackgroundWork::kApartFrom);
        w.evaluate(QStringLiteral("//order[position() mod 3 = 1]/item"));
        const int matches = w.rows();
        QVERIFY(matches > 1000);
        w.panel().m_execMenu = [](QMenu& menu, const QPoint&) -> QAction* {
            for (QAction* a : menu.actions()) {
                if (a->data().toInt() == ID_RENAME_ELEMENT) {
                    return a;
                }
            }
            return nullptr;
        };
        w.panel().m_execDialog = [](QDialog& dialog) {
            static_cast<CTreeCommandDlg&>(dialog).NameField()->setText(QStringLiteral("line"));
            return int(QDialog::Accepted);
        };
        QTest::mouseClick(w.panel().RunButton(), Qt::LeftButton);
        QCOMPARE(w.ui->questions.size(), 1);
        QVERIFY(w.ui->questions[0].startsWith(QStringLiteral("Rename ")));
        // The window stays live: the runner has the change.
        QVERIFY(w.frame().Work().IsRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!w.frame().Work().IsRunning(), 120000);
        QCOMPARE(w.ui->messages, std::vector<std::string>());

        CommandInputs inputs;
        inputs.name = "line";
        const std::string expected =
            InTheCore(before, w.panel().Query(), TreeCommand::RenameElement, inputs);
        QVERIFY(expected != before);
        QCOMPARE(Occurrences(expected, "<line>"), std::size_t(matches));
        QVERIFY(w.source().Text() == expected);
        QVERIFY(w.doc().Text() == expected);
        // One step of Undo gives the whole text back.
        w.frame().SetActivePane(&w.source());
        w.frame().OnCommand(ID_EDIT_UNDO);
        QVERIFY(w.source().Text() == before);
        QVERIFY(!w.source().isUndoAvailable());
    }
};

QTEST_MAIN(XPathPanelTest)
#include "XPathPanelTest.moc"
