#pragma once

#include <QDialog>

namespace quorrel {

// "About Quorrel": the icon, the version and an OK button.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent);
};

}  // namespace quorrel
