#include "app/ui/HelpWindow.h"

#include <QPointer>
#include <QScreen>
#include <QUrl>

#include <algorithm>

namespace quorrel {

namespace {

// Centred on the owner's window and inside the screen that shows it,
// decorations included: the window manager adds about what the owner's has.
void PlaceOver(QWidget* window, QWidget* owner) {
    QScreen* screen = owner != nullptr ? owner->screen() : window->screen();
    if (screen == nullptr) {
        return;
    }
    const QRect available = screen->availableGeometry();
    const QSize decorations =
        owner != nullptr ? owner->frameGeometry().size() - owner->size() : QSize();
    const QSize size = window->size().boundedTo(available.size() - decorations);
    QRect frame(QPoint(), size + decorations);
    frame.moveCenter(owner != nullptr ? owner->frameGeometry().center() : available.center());
    frame.moveLeft(std::clamp(frame.left(), available.left(),
                              std::max(available.left(), available.right() + 1 - frame.width())));
    frame.moveTop(std::clamp(frame.top(), available.top(),
                             std::max(available.top(), available.bottom() + 1 - frame.height())));
    window->resize(size);
    window->move(frame.topLeft());
}

}  // namespace

HelpWindow::HelpWindow(QWidget* owner) : QTextBrowser(owner) {
    setObjectName(QStringLiteral("helpWindow"));
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("Quorrel Help"));
    setAttribute(Qt::WA_DeleteOnClose);
    setOpenExternalLinks(true);
    resize(640, 560);
}

HelpWindow* HelpWindow::Show(const QString& indexFile, QWidget* owner) {
    static QPointer<HelpWindow> current;
    if (!current) {
        current = new HelpWindow(owner);
        PlaceOver(current, owner);  // once: later the user's place holds
    }
    current->setSource(QUrl::fromLocalFile(indexFile));
    current->show();
    current->raise();
    current->activateWindow();
    return current;
}

}  // namespace quorrel
