#include "app/ui/HelpWindow.h"

#include <QPointer>
#include <QUrl>

namespace quorrel {

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
    }
    current->setSource(QUrl::fromLocalFile(indexFile));
    current->show();
    current->raise();
    current->activateWindow();
    return current;
}

}  // namespace quorrel
