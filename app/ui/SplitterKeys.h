#pragma once

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSplitter>
#include <QString>
#include <QWidget>

#include <functional>
#include <utility>

namespace quorrel {

// The Split command: arrow keys move the splitter bar until Enter places it
// or Esc puts it back. Any other key ends the mode as Esc does and nothing
// more: it is neither typed nor a shortcut. A mouse click ends the mode and
// then goes where it was meant to.
class SplitterKeys : public QObject {
public:
    static constexpr const char* kName = "splitterKeys";  // while the mode lasts

    SplitterKeys(QSplitter* splitter, QWidget* restoreFocus, std::function<void()> ended)
        : QObject(splitter),
          m_splitter(splitter),
          m_restore(restoreFocus),
          m_start(splitter->sizes()),
          m_ended(std::move(ended)) {
        setObjectName(kName);
        qApp->installEventFilter(this);
        m_splitter->setCursor(Qt::SplitHCursor);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
                return OnKey(static_cast<QKeyEvent*>(event));
            case QEvent::ShortcutOverride:
                // Taken, so that no shortcut runs: the key arrives as a key
                // press, which ends the mode.
                if (!IsModeKey(static_cast<QKeyEvent*>(event)->key())) {
                    event->accept();
                    return true;
                }
                return false;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:
                Cancel();
                return false;
            default:
                return false;
        }
    }

private:
    static bool IsModeKey(int key) {
        switch (key) {
            case Qt::Key_Left:
            case Qt::Key_Right:
            case Qt::Key_Escape:
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Shift:
            case Qt::Key_Control:
            case Qt::Key_Alt:
            case Qt::Key_AltGr:
            case Qt::Key_Meta:
                return true;
            default:
                return false;
        }
    }

    bool OnKey(QKeyEvent* key) {
        QList<int> sizes = m_splitter->sizes();
        int step = (key->modifiers() & Qt::ControlModifier) ? 1 : 10;
        switch (key->key()) {
            case Qt::Key_Left:
                m_splitter->setSizes({std::max(0, sizes[0] - step), sizes[1] + step});
                return true;
            case Qt::Key_Right:
                m_splitter->setSizes({sizes[0] + step, std::max(0, sizes[1] - step)});
                return true;
            case Qt::Key_Escape:
                Cancel();
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                Finish();
                return true;
            case Qt::Key_Shift:
            case Qt::Key_Control:
            case Qt::Key_Alt:
            case Qt::Key_AltGr:
            case Qt::Key_Meta:
                return false;  // held for a finer step, or on the way to another key
            default:
                Cancel();
                return true;
        }
    }

    void Cancel() {
        m_splitter->setSizes(m_start);
        Finish();
    }

    void Finish() {
        setObjectName(QString());
        qApp->removeEventFilter(this);
        m_splitter->unsetCursor();
        if (m_restore) {
            m_restore->setFocus();
        }
        m_ended();
        deleteLater();
    }

    QSplitter* m_splitter;
    QPointer<QWidget> m_restore;
    QList<int> m_start;
    std::function<void()> m_ended;
};

}  // namespace quorrel
