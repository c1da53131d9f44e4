// Tree editing in the real window: current item, context menus, enabling,
// the dialogs and the commands end to end.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "doc/ui/FormatDlg.h"
#include "edit/ui/TreeCommandDlg.h"
#include "framework/ui/Commands.h"
#include "tests/gui/TestWindow.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"
#include "views/tree/ui/TreeModel.h"

using namespace quorrel;

namespace {

const int kElementCommands[] = {
    ID_ADD_ATTRIBUTE,        ID_ADD_CHILD_ELEMENT,           ID_ADD_TEXT_NODE,
    ID_RENAME_ELEMENT,       ID_DELETE_ELEMENT_AND_CHILDREN, ID_DELETE_ELEMENT_ONLY,
    ID_ELEMENT_TO_ATTRIBUTE, ID_DUPLICATE_ELEMENT_SUBTREE};
const int kAttributeCommands[] = {ID_CHANGE_ATTRIBUTE_NAME, ID_CHANGE_ATTRIBUTE_VALUE,
                                  ID_ATTRIBUTE_TO_ELEMENT, ID_DELETE_ATTRIBUTE};
const int kTextCommands[] = {ID_DELETE_TEXT_NODE, ID_CHANGE_TEXT_VALUE};

// r holds e (attribute x, text t, comment c, CDATA d) and p (holding q).
const char* kDocument = "<r><e x=\"1\">t<!--c--><![CDATA[d]]></e><p><q/></p></r>";

struct MenuShown {
    QString title;
    QStringList actions;
    QPoint at;
};

// A window on kDocument (or another text) with scripted dialogs and menus.
struct Editing : TestWindow {
    QTemporaryDir dir;
    std::vector<MenuShown> menus;
    // Fills the dialog; return Rejected to press Cancel.
    std::function<int(CTreeCommandDlg&)> fill = [](CTreeCommandDlg&) {
        return int(QDialog::Accepted);
    };
    QStringList dialogTitles;

    explicit Editing(const char* text = kDocument) {
        Start(Write(dir, QStringLiteral("doc.xml"), text));
        if (!started) {
            return;
        }
        tree().m_execMenu = [this](QMenu& menu, const QPoint& at) -> QAction* {
            MenuShown shown{menu.title(), {}, at};
            for (QAction* a : menu.actions()) {
                shown.actions << a->text();
            }
            menus.push_back(shown);
            return nullptr;
        };
        tree().m_execDialog = [this](QDialog& dialog) {
            dialogTitles << dialog.windowTitle();
            return fill(static_cast<CTreeCommandDlg&>(dialog));
        };
    }

    // A real right click through the window, as the platform delivers it.
    void rightClick(const QString& position) {
        frame().SetActivePane(&tree());
        QRect rect = tree().visualRect(index(position));
        QPoint inWindow = tree().viewport()->mapTo(&frame(), rect.center());
        QTest::mouseClick(frame().windowHandle(), Qt::RightButton, {}, inWindow);
        QCoreApplication::processEvents();
    }
};

}  // namespace

class TreeEditingTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:

    void rightClickRecordsTheItemAndOpensItsMenu() {
        Editing e;
        e.select(QStringLiteral("0.0.1"));  // the text t is highlighted
        QModelIndex highlighted = e.tree().currentIndex();

        e.rightClick(QStringLiteral("0.0.0"));  // attribute x
        QCOMPARE(e.menus.size(), std::size_t(1));
        QCOMPARE(e.menus[0].title, QStringLiteral("Attribute Node"));
        QCOMPARE(
            e.menus[0].actions,
            (QStringList{QStringLiteral("Change Attribute Name"),
                         QStringLiteral("Change Attribute Value"),
                         QStringLiteral("Attribute To Element"), QStringLiteral("Delete Attribute"),
                         QString(),  // the separator
                         QStringLiteral("Copy XPath"), QStringLiteral("Copy Item Path")}));
        QRect rect = e.tree().visualRect(e.index(QStringLiteral("0.0.0")));
        QCOMPARE(e.menus[0].at, e.tree().viewport()->mapToGlobal(rect.center()) + QPoint(0, 10));
        QCOMPARE(e.tree().currentIndex(), highlighted);
        QCOMPARE(e.tree().Current().hSelItem, e.item(QStringLiteral("0.0.0")));
        QCOMPARE(e.tree().Current().strSelItem, std::string("x = \" 1 \""));
        QVERIFY(e.enabled(ID_CHANGE_ATTRIBUTE_VALUE));
        QVERIFY(!e.enabled(ID_CHANGE_TEXT_VALUE));

        e.rightClick(QStringLiteral("0.0"));
        QCOMPARE(e.menus.back().title, QStringLiteral("Element Node"));
        QCOMPARE(e.menus.back().actions.size(), 8 + 3);  // the commands, then the copies
        QCOMPARE(e.menus.back().actions[5], QStringLiteral("Delete Element  Only"));
        e.rightClick(QStringLiteral("0.0.1"));
        QCOMPARE(e.menus.back().title, QStringLiteral("Text Node"));
        QCOMPARE(e.menus.size(), std::size_t(3));

        // Root, comment and CDATA items become current and open nothing.
        for (const char* position : {"0", "0.0.2", "0.0.3"}) {
            e.rightClick(QString::fromLatin1(position));
            QCOMPARE(e.menus.size(), std::size_t(3));
            QCOMPARE(e.tree().Current().hSelItem, e.item(QString::fromLatin1(position)));
            for (int id : kElementCommands) {
                QVERIFY(!e.enabled(id));
            }
        }
        // Empty space changes nothing.
        const CTreeItem* before = e.tree().Current().hSelItem;
        QPoint below =
            e.tree().viewport()->mapTo(&e.frame(), QPoint(5, e.tree().viewport()->height() - 3));
        QTest::mouseClick(e.frame().windowHandle(), Qt::RightButton, {}, below);
        QCOMPARE(e.menus.size(), std::size_t(3));
        QCOMPARE(e.tree().Current().hSelItem, before);
    }

    void enablingFollowsTheKindOfTheCurrentItem() {
        Editing e;
        struct Case {
            const char* position;
            int kind;  // 2 element, 3 attribute, 4 text, 0 none
        } cases[] = {{"0", 0},     {"0.0", 2},   {"0.1", 2},   {"0.1.0", 2},
                     {"0.0.0", 3}, {"0.0.1", 4}, {"0.0.2", 0}, {"0.0.3", 0}};
        for (const Case& c : cases) {
            e.select(QString::fromLatin1(c.position));
            for (int id : kElementCommands) {
                QCOMPARE(e.enabled(id), c.kind == 2);
            }
            for (int id : kAttributeCommands) {
                QCOMPARE(e.enabled(id), c.kind == 3);
            }
            for (int id : kTextCommands) {
                QCOMPARE(e.enabled(id), c.kind == 4);
            }
        }
        // With the source pane active the tree's commands are off.
        e.frame().SetActivePane(&e.source());
        QVERIFY(!e.enabled(ID_ADD_ATTRIBUTE));
    }

    void dialogsCarryTheirTextsAndLimits() {
        struct Expect {
            TreeCommand command;
            const char* title;
            bool name, value, box;
            int limit;
        } expects[] = {
            {TreeCommand::AddAttribute, "Add Attribute", true, true, true, 35},
            {TreeCommand::AddTextNode, "Add Text Node", false, true, true, 250},
            {TreeCommand::RenameElement, "Change Element Name (Rename Element)", true, false, true,
             35},
            {TreeCommand::DeleteElementAndChildren, "Delete Element & All Children", false, false,
             false, 0},
            {TreeCommand::DuplicateElementSubTree, "Duplicate Sub Tree", false, false, false, 0},
            {TreeCommand::ChangeAttributeValue, "Change Attribute Value", false, true, true, 35},
            {TreeCommand::ChangeTextValue, "Change Text Value", false, true, true, 35},
            {TreeCommand::DeleteTextNode, "Remove Text Node From Element", false, false, true, 0},
        };
        for (const Expect& x : expects) {
            auto dialog = CreateTreeCommandDialog(x.command, nullptr);
            QCOMPARE(dialog->windowTitle(), QString::fromUtf8(x.title));
            QCOMPARE(dialog->NameField() != nullptr, x.name);
            QCOMPARE(dialog->ValueField() != nullptr, x.value);
            QCOMPARE(dialog->AllOccurrences() != nullptr, x.box);
            if (x.box) {
                QVERIFY(!dialog->AllOccurrences()->isChecked());
                QVERIFY(dialog->AllOccurrences()->text().isEmpty());
            }
            QLineEdit* field = x.name ? dialog->NameField() : dialog->ValueField();
            if (field != nullptr) {
                QVERIFY(field->text().isEmpty());
                QTest::keyClicks(field, QString(x.limit + 1, QLatin1Char('n')));
                QCOMPARE(field->text().size(), x.limit);
            }
        }
        auto rename = CreateTreeCommandDialog(TreeCommand::ChangeAttributeName, nullptr);
        QCOMPARE(rename->findChild<QLabel*>(QStringLiteral("description"))->text(),
                 QStringLiteral(
                     "Change name of selected Attribute\n     ( Does not change it's value )"));
        QCOMPARE(rename->findChild<QLabel*>(QStringLiteral("checkLabel1009"))->text(),
                 QStringLiteral("For all occurrences of this attribute in tree :"));
        auto add = CreateTreeCommandDialog(TreeCommand::AddAttribute, nullptr);
        QCOMPARE(add->findChild<QLabel*>(QStringLiteral("checkLabel1009"))->text(),
                 QStringLiteral("For all occurences of this element in tree :"));
        QCOMPARE(add->objectName(), QStringLiteral("CAddAttributeDlg"));
    }

    void cancelChangesNothing() {
        Editing e;
        std::string before = e.text();
        e.fill = [](CTreeCommandDlg& d) {
            QTest::keyClicks(d.NameField(), QStringLiteral("k"));
            return int(QDialog::Rejected);
        };
        e.select(QStringLiteral("0.0"));
        e.run(ID_ADD_ATTRIBUTE);
        QCOMPARE(e.dialogTitles, QStringList{QStringLiteral("Add Attribute")});
        QCOMPARE(e.text(), before);
        QVERIFY(!e.doc().IsModified());
        QVERIFY(e.ui->messages.empty());
    }

    void commandsRunEndToEndThroughTheirDialogs() {
        Editing e("<r><p a=\"1\">t</p><q><p a=\"2\"/></q></r>");
        // Add Attribute on all p elements.
        e.fill = [](CTreeCommandDlg& d) {
            QTest::keyClicks(d.NameField(), QStringLiteral("k"));
            QTest::keyClicks(d.ValueField(), QStringLiteral("v"));
            d.AllOccurrences()->setChecked(true);
            return int(QDialog::Accepted);
        };
        e.select(QStringLiteral("0.0"));
        e.run(ID_ADD_ATTRIBUTE);
        QCOMPARE(e.text(),
                 std::string("<r><p a=\"1\" k=\"v\">t</p><q><p a=\"2\" k=\"v\"/></q></r>"));
        QVERIFY(e.doc().IsModified());
        QVERIFY(e.tree().isExpanded(e.index(QStringLiteral("0"))));
        QVERIFY(e.tree().isExpanded(e.index(QStringLiteral("0.1"))));
        // The same item is current again, so commands can follow one another.
        QCOMPARE(e.tree().Current().hSelItem, e.item(QStringLiteral("0.0")));
        QCOMPARE(e.tree().currentIndex(), e.index(QStringLiteral("0.0")));
        e.fill = [](CTreeCommandDlg& d) {
            QTest::keyClicks(d.NameField(), QStringLiteral("m"));
            return int(QDialog::Accepted);
        };
        e.run(ID_ADD_ATTRIBUTE);
        QCOMPARE(e.tree().Current().hSelItem, e.item(QStringLiteral("0.0")));

        e.fill = [](CTreeCommandDlg& d) {
            QTest::keyClicks(d.ValueField(), QStringLiteral("z"));
            return int(QDialog::Accepted);
        };
        e.select(QStringLiteral("0.0.3"));  // the text t, after the attributes a, k and m
        e.run(ID_CHANGE_TEXT_VALUE);
        e.select(QStringLiteral("0.0.0"));  // attribute a
        e.run(ID_CHANGE_ATTRIBUTE_VALUE);
        // The item at that place now has another label: no current item, nothing enabled.
        QCOMPARE(e.tree().Current().hSelItem, nullptr);
        QVERIFY(!e.enabled(ID_CHANGE_ATTRIBUTE_VALUE));
        e.select(QStringLiteral("0.0.0"));
        QCOMPARE(e.tree().Current().strSelItem, std::string("a = \" z \""));
        e.fill = [](CTreeCommandDlg&) { return int(QDialog::Accepted); };
        e.run(ID_ATTRIBUTE_TO_ELEMENT);
        QCOMPARE(e.tree().Current().hSelItem, nullptr);  // the attribute is gone
        QVERIFY(!e.enabled(ID_ATTRIBUTE_TO_ELEMENT));
        QCOMPARE(e.text(),
                 std::string("<r><p k=\"v\" m=\"\">z<a>z</a></p><q><p a=\"2\" k=\"v\"/></q></r>"));

        e.fill = [](CTreeCommandDlg& d) {
            QTest::keyClicks(d.NameField(), QStringLiteral("item"));
            d.AllOccurrences()->setChecked(true);
            return int(QDialog::Accepted);
        };
        e.select(QStringLiteral("0.1.0"));
        e.run(ID_RENAME_ELEMENT);
        QCOMPARE(e.text(), std::string("<r><item k=\"v\" m=\"\">z<a>z</a></item><q><item a=\"2\" "
                                       "k=\"v\"/></q></r>"));
        QVERIFY(e.ui->messages.empty());

        // Messages come through the sink.
        e.fill = [](CTreeCommandDlg& d) {
            QTest::keyClicks(d.NameField(), QStringLiteral("1a"));
            return int(QDialog::Accepted);
        };
        e.select(QStringLiteral("0.0"));
        e.run(ID_RENAME_ELEMENT);
        QCOMPARE(e.ui->messages, std::vector<std::string>{"\"1a\" is not a valid XML name."});
    }

    void undoAndRedoOfATreeCommand() {
        Editing e("<r><p a=\"1\"/></r>");
        std::string before = e.text();
        e.fill = [](CTreeCommandDlg& d) {
            QTest::keyClicks(d.NameField(), QStringLiteral("b"));
            return int(QDialog::Accepted);
        };
        e.select(QStringLiteral("0.0"));
        e.run(ID_RENAME_ELEMENT);
        std::string after = e.text();
        QCOMPARE(after, std::string("<r><b a=\"1\"/></r>"));

        e.frame().SetActivePane(&e.source());
        e.frame().OnCommand(ID_EDIT_UNDO);
        QCOMPARE(e.text(), before);
        e.frame().SetActivePane(&e.tree());
        QCOMPARE(e.item(QStringLiteral("0.0"))->label(), std::string_view("p"));

        e.frame().SetActivePane(&e.source());
        e.source().redo();
        QCOMPARE(e.text(), after);
        e.frame().SetActivePane(&e.tree());
        QCOMPARE(e.item(QStringLiteral("0.0"))->label(), std::string_view("b"));
        // Loading left nothing to undo before the command's own step.
        e.frame().SetActivePane(&e.source());
        e.source().undo();
        QVERIFY(!e.source().isUndoAvailable());
    }

    void formatDocumentIsOneCommand() {
        Editing e("<r><p a=\"1\"><q/></p><s>mixed <b>x</b> y</s></r>");
        const std::string before = e.text();
        QStringList offered;
        e.frame().Document().m_execFormatDialog = [&](CFormatDlg& d) {
            offered << d.OwnChoice()->text();
            d.BlanksField()->setValue(2);  // choosing a number chooses blanks
            return int(QDialog::Accepted);
        };
        // From the source pane as from the tree.
        e.frame().SetActivePane(&e.source());
        e.run(ID_FORMAT_DOCUMENT);
        QCOMPARE(offered, QStringList{QStringLiteral("As the document indents now (a tab)")});
        QCOMPARE(e.text(), std::string("<r>\n  <p a=\"1\">\n    <q/>\n  </p>\n  <s>mixed <b>x</b> "
                                       "y</s>\n</r>"));
        QVERIFY(e.doc().IsModified());
        QCOMPARE(e.item(QStringLiteral("0.0.1"))->label(), std::string_view("q"));
        // One step of Undo gives the text back.
        e.frame().SetActivePane(&e.source());
        e.frame().OnCommand(ID_EDIT_UNDO);
        QCOMPARE(e.text(), before);

        // Cancel changes nothing.
        e.frame().Document().m_execFormatDialog = [](CFormatDlg&) {
            return int(QDialog::Rejected);
        };
        e.run(ID_FORMAT_DOCUMENT);
        QCOMPARE(e.text(), before);
    }

    void screenshots() {
        QByteArray folder = qgetenv("QUORREL_SCREENSHOT_DIR");
        if (folder.isEmpty()) {
            QSKIP("set QUORREL_SCREENSHOT_DIR to a folder to take them");
        }
        QFile sample(QStringLiteral(QUORREL_SAMPLE));
        sample.open(QIODevice::ReadOnly);
        QByteArray text = sample.readAll();
        Editing e(text.constData());
        e.frame().resize(1100, 640);
        e.select(QStringLiteral("0.2.2"));
        QTest::qWait(50);
        QPixmap window = e.frame().grab();
        // The context menu, drawn where it opens.
        e.tree().m_execMenu = [&](QMenu& menu, const QPoint& at) -> QAction* {
            menu.adjustSize();
            QPainter painter(&window);
            painter.drawPixmap(e.frame().mapFromGlobal(at), menu.grab());
            return nullptr;
        };
        e.rightClick(QStringLiteral("0.2.2"));
        QVERIFY(window.save(
            QDir(QString::fromUtf8(folder)).filePath(QStringLiteral("context-menu.png"))));
        auto dialog = CreateTreeCommandDialog(TreeCommand::AddAttribute, &e.frame());
        dialog->show();
        QTest::keyClicks(dialog->NameField(), QStringLiteral("edition"));
        QTest::keyClicks(dialog->ValueField(), QStringLiteral("second"));
        QVERIFY(dialog->grab().save(
            QDir(QString::fromUtf8(folder)).filePath(QStringLiteral("dialog.png"))));
    }
};

QTEST_MAIN(TreeEditingTest)
#include "TreeEditingTest.moc"
