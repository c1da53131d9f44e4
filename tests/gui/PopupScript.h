// Answers the popup menus and modal dialogs the window opens, in order, as a
// user would: each step gets the real popup or dialog once it is on screen
// (their exec() blocks, so the steps run from a timer inside it).
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

namespace quorrel {

class PopupScript : public QObject {
public:
    using MenuStep = std::function<void(QMenu*)>;
    using DialogStep = std::function<void(QDialog*)>;

    PopupScript() {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, &PopupScript::Poll);
        m_timer.start();
    }
    ~PopupScript() override {
        // Nothing the script did not expect may stay open for the next test.
        if (auto* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
    }

    void OnMenu(MenuStep step) { m_steps.push_back(Step{std::move(step), {}}); }
    void OnDialog(DialogStep step) { m_steps.push_back(Step{{}, std::move(step)}); }
    bool Done() const { return m_steps.empty(); }
    // What opened so far, for a failure's message.
    QString Seen() const {
        return QStringLiteral("menus [%1], dialogs [%2], unexpected [%3], %4 steps left")
            .arg(menus.join(QLatin1Char('|')), dialogs.join(QLatin1Char('|')),
                 unexpected.join(QLatin1Char('|')))
            .arg(m_steps.size());
    }

    QStringList menus;       // titles of the menus that opened, in order
    QStringList dialogs;     // titles of the dialogs that opened, in order
    QStringList unexpected;  // what opened with no step left for it (closed at once)

    // A menu item by its text, and a click on it.
    static QAction* ActionOf(QMenu* menu, const QString& text) {
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        return nullptr;
    }
    static void Click(QMenu* menu, const QString& text) {
        QAction* action = ActionOf(menu, text);
        QVERIFY2(action != nullptr, qPrintable(text));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    }

private:
    struct Step {
        MenuStep menu;
        DialogStep dialog;
    };

    void Poll() {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            menu != nullptr && menu->isVisible() && menu != m_lastMenu) {
            m_lastMenu = menu;
            menus << menu->title();
            Run(menu, nullptr);
            return;
        }
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->isVisible() && dialog != m_lastDialog &&
            QApplication::activePopupWidget() == nullptr) {
            m_lastDialog = dialog;
            dialogs << dialog->windowTitle();
            Run(nullptr, dialog);
        }
    }

    void Run(QMenu* menu, QDialog* dialog) {
        if (m_steps.empty() || (menu && !m_steps.front().menu) ||
            (dialog && !m_steps.front().dialog)) {
            unexpected << (menu ? menu->title() : dialog->windowTitle());
            if (menu) {
                menu->close();
            } else {
                dialog->reject();
            }
            return;
        }
        auto step = std::make_shared<Step>(std::move(m_steps.front()));
        m_steps.pop_front();
        // Run from a timer of its own: a step that opens the next popup or
        // dialog blocks, and the polling timer must go on inside it.
        QPointer<QMenu> openMenu = menu;
        QPointer<QDialog> openDialog = dialog;
        QTimer::singleShot(0, this, [step, openMenu, openDialog] {
            if (step->menu && openMenu) {
                step->menu(openMenu);
            } else if (step->dialog && openDialog) {
                step->dialog(openDialog);
            }
        });
    }

    QTimer m_timer;
    std::deque<Step> m_steps;
    QPointer<QMenu> m_lastMenu;
    QPointer<QDialog> m_lastDialog;
};

}  // namespace quorrel
