// A progress bar inside one pane of the main window's status bar, after an
// optional message. Pane 0 is the message area; pane 1 onwards are the status
// bar's widgets from left to right. Clear gives the pane its earlier text back.
#pragma once

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QRect>
#include <QStatusBar>
#include <QString>

namespace quorrel {

class CProgressBar : public QObject {
    Q_OBJECT
public:
    // frame: the window whose status bar holds the bar; null takes the
    // application's main window when the bar is created.
    explicit CProgressBar(QMainWindow* frame = nullptr);
    ~CProgressBar() override;
    CProgressBar(const CProgressBar&) = delete;
    CProgressBar& operator=(const CProgressBar&) = delete;

    // size: the percentage of the pane's width after the message that the bar takes.
    bool Create(const QString& message, int size, int maximum, bool smooth, int pane);
    bool SetRange(int lower, int upper, int step);
    // Returns the previous position, 0 when there is no bar.
    int SetPos(int pos);
    // Returns the previous step, 0 when there is no bar.
    int SetStep(int step);
    bool Clear();
    bool Resize();

    // Null before Create, or once the status bar is gone.
    QProgressBar* Bar() const { return m_bar.data(); }
    bool IsSmooth() const { return m_bSmooth; }
    int Step() const { return m_nStep; }
    // The pane's rectangle in the status bar; empty when there is no such pane.
    static QRect PaneRect(QStatusBar* bar, int pane);
    // Where the bar goes in its pane: after the message and four blanks (when
    // there is a message), size % of the width left, and a tenth of the
    // pane's height shorter at the top and at the bottom.
    static QRect Layout(const QRect& pane, bool hasMessage, int messageWidth, int blankWidth,
                        int size);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QStatusBar* GetStatusBar() const;
    QString PaneText() const;
    void SetPaneText(const QString& text);

    QPointer<QMainWindow> m_frame;
    QPointer<QStatusBar> m_statusBar;
    QPointer<QProgressBar> m_bar;
    int m_nSize = 100;
    int m_nPane = 0;
    int m_nStep = 1;
    bool m_bSmooth = false;
    bool m_bResizing = false;
    QString m_strMessage;
    QString m_strPrevText;
    QRect m_rectLast;
};

}  // namespace quorrel
