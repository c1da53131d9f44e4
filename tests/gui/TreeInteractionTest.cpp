// The tree pane as a user meets it right after a load: real context menus
// and dialogs, opened by the mouse and by the keyboard, and the tooltips.
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolTip>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "edit/ui/TreeCommandDlg.h"
#include "framework/ui/Commands.h"
#include "tests/gui/PopupScript.h"
#include "tests/gui/TestWindow.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"
#include "views/tree/ui/TreeModel.h"

using namespace quorrel;

namespace {

const QString kLongText(400, QLatin1Char('w'));

// r holds e (attribute x, text t, element f) and s (a long text, element g).
QByteArray Document() {
    return "<r><e x=\"1\">t<f/></e><s>" + kLongText.toUtf8() + "<g/></s></r>";
}

// A window started on the document, with the real menus and dialogs.
struct Window : TestWindow {
    QTemporaryDir dir;
    QString path = Write(dir, QStringLiteral("doc.xml"), Document());

    explicit Window(bool openFromCommandLine = true) {
        Start(openFromCommandLine ? path : QString(), Until::Active);
    }

    QPoint inWindow(const QString& position) {
        QRect rect = tree().visualRect(index(position));
        return tree().viewport()->mapTo(&frame(), rect.center());
    }
    // Mouse buttons go to the window, as the platform delivers them.
    void click(const QString& position, Qt::MouseButton button) {
        QTest::mouseClick(window(), button, {}, inWindow(position));
    }
};

// Presses Cancel in a dialog, with the mouse.
void Cancel(QDialog* dialog) {
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Cancel")) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    }
    QFAIL("no Cancel button");
}

}  // namespace

class TreeInteractionTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:

    // Right after a load nothing in the tree is current. The first right
    // click's command must act on the clicked item: closing the menu gives
    // the tree its focus back, and that must not make another item current.
    void firstCommandAfterALoadActsOnTheRightClickedItem() {
        Window w;
        QVERIFY(!w.tree().currentIndex().isValid());

        // Down + Return in the element's menu: Add Attribute.
        PopupScript script;
        script.OnMenu([](QMenu* menu) {
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        script.OnDialog([&](QDialog* dialog) {
            QCOMPARE(w.tree().Current().hSelItem, w.item(QStringLiteral("0.0")));
            Cancel(dialog);
        });
        w.click(QStringLiteral("0.0"), Qt::RightButton);
        QTRY_VERIFY2(script.Done(), qPrintable(script.Seen()));
        QCOMPARE(script.menus, QStringList{QStringLiteral("Element Node")});
        QCOMPARE(script.dialogs, QStringList{QStringLiteral("Add Attribute")});
        // The focus rectangle did not move, and the right-clicked item is still current.
        QVERIFY(!w.tree().currentIndex().isValid());
        QCOMPARE(w.tree().Current().hSelItem, w.item(QStringLiteral("0.0")));
        QVERIFY(w.enabled(ID_ADD_ATTRIBUTE));

        // A mouse click in the attribute's menu, a value typed, OK: the command runs.
        script.OnMenu([](QMenu* menu) {
            PopupScript::Click(menu, QStringLiteral("Change Attribute Value"));
        });
        script.OnDialog([](QDialog* dialog) {
            auto* d = static_cast<CTreeCommandDlg*>(dialog);
            QTest::keyClicks(d->ValueField(), QStringLiteral("2"));
            QTest::keyClick(d->ValueField(), Qt::Key_Return);
        });
        w.click(QStringLiteral("0.0.0"), Qt::RightButton);
        QTRY_VERIFY2(script.Done(), qPrintable(script.Seen()));
        QCOMPARE(script.dialogs.back(), QStringLiteral("Change Attribute Value"));
        QVERIFY(script.unexpected.isEmpty());
        QVERIFY(w.source().Text().find("x=\"2\"") != std::string::npos);
        QVERIFY(w.ui->messages.empty());
    }

    // The same after File > Open, with an item highlighted: the highlight stays.
    void rightClickAfterOpenKeepsTheHighlight() {
        Window w(false);
        w.ui->openNames.push_back(w.path);
        w.frame().OnCommand(ID_FILE_OPEN);
        QTRY_VERIFY(!w.app->IsOpening());
        QVERIFY(!w.tree().currentIndex().isValid());

        PopupScript script;
        script.OnMenu(
            [](QMenu* menu) { PopupScript::Click(menu, QStringLiteral("Rename Element")); });
        script.OnDialog(Cancel);
        w.click(QStringLiteral("0.0.2"), Qt::RightButton);  // element f
        QTRY_VERIFY2(script.Done(), qPrintable(script.Seen()));
        QCOMPARE(script.dialogs,
                 QStringList{QStringLiteral("Change Element Name (Rename Element)")});
        QVERIFY(!w.tree().currentIndex().isValid());
        QCOMPARE(w.tree().Current().hSelItem, w.item(QStringLiteral("0.0.2")));

        w.click(QStringLiteral("0.0.1"), Qt::LeftButton);  // the text t is highlighted
        QCOMPARE(w.tree().Current().hSelItem, w.item(QStringLiteral("0.0.1")));
        script.OnMenu(
            [](QMenu* menu) { PopupScript::Click(menu, QStringLiteral("Delete Attribute")); });
        script.OnDialog(Cancel);
        w.click(QStringLiteral("0.0.0"), Qt::RightButton);
        QTRY_VERIFY2(script.Done(), qPrintable(script.Seen()));
        QCOMPARE(script.dialogs.back(), QStringLiteral("Remove Attribute From Element"));
        QCOMPARE(w.tree().currentIndex(), w.index(QStringLiteral("0.0.1")));
        QCOMPARE(w.tree().Current().hSelItem, w.item(QStringLiteral("0.0.0")));
        QVERIFY(w.enabled(ID_DELETE_ATTRIBUTE));
        QVERIFY(script.unexpected.isEmpty());
    }

    // Shift+F10 and the Menu key open the current item's menu at the item.
    void keyboardOpensTheCurrentItemsMenu() {
        Window w;
        w.key(Qt::Key_F6);  // to the tree
        QCOMPARE(w.frame().ActiveView(), static_cast<QWidget*>(&w.tree()));
        w.key(Qt::Key_Home);
        w.key(Qt::Key_Down);
        QCOMPARE(w.tree().currentIndex(), w.index(QStringLiteral("0.0")));
        QCOMPARE(w.tree().Current().hSelItem, w.item(QStringLiteral("0.0")));

        PopupScript script;
        QPoint at;
        script.OnMenu([&](QMenu* menu) {
            at = menu->pos();
            QTest::keyClick(menu, Qt::Key_Escape);
        });
        w.key(Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY2(script.Done(), qPrintable(script.Seen()));
        QCOMPARE(script.menus, QStringList{QStringLiteral("Element Node")});
        QRect item = w.tree().visualRect(w.index(QStringLiteral("0.0")));
        QVERIFY2(QRect(w.tree().viewport()->mapToGlobal(item.topLeft()), item.size() + QSize(0, 12))
                     .contains(at),
                 qPrintable(QStringLiteral("menu at %1,%2").arg(at.x()).arg(at.y())));

        // The Menu key on the attribute: its menu, and its first command.
        w.key(Qt::Key_Down);
        script.OnMenu([](QMenu* menu) {
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        script.OnDialog(Cancel);
        w.key(Qt::Key_Menu);
        QTRY_VERIFY2(script.Done(), qPrintable(script.Seen()));
        QCOMPARE(script.menus.back(), QStringLiteral("Attribute Node"));
        QCOMPARE(script.dialogs, QStringList{QStringLiteral("Change Attribute Name")});
        QCOMPARE(w.tree().currentIndex(), w.index(QStringLiteral("0.0.0")));

        // The root has no menu, as with a right click.
        w.key(Qt::Key_Home);
        w.key(Qt::Key_F10, Qt::ShiftModifier);
        QTest::qWait(50);
        QCOMPARE(script.menus.size(), 2);
        QVERIFY(script.unexpected.isEmpty());
    }

    // The tree shows no tooltips, not even for a text too long to read.
    void noTooltipsInTheTree() {
        Window w;
        // The toolbar's tooltips show where they are wanted...
        QWidget* save = w.frame().ToolBar()->widgetForAction(w.frame().Action(ID_FILE_SAVE));
        QTest::mouseMove(w.window(), save->mapTo(&w.frame(), save->rect().center()));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("Save"));
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());

        // ...but none over the tree's items.
        w.tree().setExpanded(w.index(QStringLiteral("0.1")), true);
        for (const char* position : {"0.1.0", "0.0"}) {
            QTest::mouseMove(w.window(), w.inWindow(QString::fromLatin1(position)));
            QTest::qWait(1200);
            QVERIFY2(!QToolTip::isVisible(), qPrintable(QToolTip::text().left(40)));
        }
    }
};

QTEST_MAIN(TreeInteractionTest)
#include "TreeInteractionTest.moc"
