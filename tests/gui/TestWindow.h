// The window the GUI tests drive: one application whose questions a script
// answers, started on a file (or on a new document), and the parts of it the
// tests reach. Each test file adds what only it needs.
#pragma once

#include <QByteArray>
#include <QModelIndex>
#include <QPoint>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "tests/gui/ScriptedUi.h"

class QWindow;

namespace quorrel {

class CClassView;
class CDView;
class CDoc;
class CMainFrame;
class CTreeItem;
class CXmlEditApp;

class TestWindow {
public:
    // How far Start waits before it returns.
    enum class Until { Started, Exposed, Active, Opened, Idle };

    // The application with a scripted user (or one of its kind); Start
    // creates the window. Whatever must be in place before it starts (the
    // user's answers, files) is set between the two.
    explicit TestWindow(std::unique_ptr<ScriptedUi> scripted = std::make_unique<ScriptedUi>());
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    // Starts on a file, or on a new document when none is named; `started`
    // says whether it could. Started returns at once; Exposed and Active
    // wait for the window to be shown (and to have the focus); Opened also
    // until a file opened apart is in place, Idle until no work runs either.
    void Start(const QString& file = {}, Until until = Until::Exposed);

    CMainFrame& frame();
    CDoc& doc();
    CDView& source();
    CClassView& tree();
    QWindow* window();

    std::string text();
    // The status bar's message.
    QString message();
    bool enabled(int id);
    // Triggers a command that must be enabled, as its menu item does.
    void run(int id);
    // Keys go to the window, through its shortcuts, as the platform delivers them.
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {});

    // The tree item at a dot path of rows, e.g. "0.0.1", and its row.
    const CTreeItem* item(const QString& position);
    QModelIndex index(const QString& position);
    // The item made current in the tree, the tree the active pane.
    void select(const QString& position);
    const CTreeItem* selected();

    // Runs the event loop while a file opens apart, calling each() meanwhile.
    template <class Each>
    void waitWhileOpening(Each each) {
        while (isOpening()) {
            each();
            processEvents();
        }
    }
    void waitWhileOpening() {
        waitWhileOpening([] {});
    }
    // Runs the event loop until the window's work has ended (or fails the test).
    void waitForWork(int timeoutMs = 60000);

    ScriptedUi* ui;
    std::unique_ptr<CXmlEditApp> app;
    bool started = false;

private:
    bool isOpening() const;
    static void processEvents();
};

// The settings of the test run in a folder of its own, gone with it.
class TestSettings {
public:
    TestSettings();

private:
    QTemporaryDir m_home;
};

QByteArray ReadAll(const QString& path);
QString Write(const QString& path, const QByteArray& bytes);
QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);

}  // namespace quorrel
