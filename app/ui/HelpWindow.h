#pragma once

#include <QTextBrowser>

namespace quorrel {

// The help: HTML pages shipped with the editor, in a window of their own.
class HelpWindow : public QTextBrowser {
    Q_OBJECT
public:
    // Shows the help's index page; one help window at a time.
    static HelpWindow* Show(const QString& indexFile, QWidget* owner);

private:
    explicit HelpWindow(QWidget* owner);
};

}  // namespace quorrel
