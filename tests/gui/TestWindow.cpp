#include "tests/gui/TestWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QStatusBar>
#include <QTest>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "framework/ui/BackgroundWork.h"
#include "views/source/ui/DView.h"
#include "views/tree/core/TreeItems.h"
#include "views/tree/ui/ClassView.h"
#include "views/tree/ui/TreeModel.h"

namespace quorrel {

TestWindow::TestWindow(std::unique_ptr<ScriptedUi> scripted)
    : ui(scripted.get()), app(std::make_unique<CXmlEditApp>(std::move(scripted))) {}

TestWindow::~TestWindow() = default;

void TestWindow::Start(const QString& file, Until until) {
    started = app->InitInstance(file);
    if (!started || until == Until::Started) {
        return;
    }
    if (until == Until::Active) {
        QVERIFY(QTest::qWaitForWindowActive(&frame()));
        return;
    }
    QVERIFY(QTest::qWaitForWindowExposed(&frame()));
    if (until == Until::Opened || until == Until::Idle) {
        waitWhileOpening();
    }
    if (until == Until::Idle) {
        waitForWork();
    }
}

CMainFrame& TestWindow::frame() {
    return app->Frame();
}

CDoc& TestWindow::doc() {
    return app->Document();
}

CDView& TestWindow::source() {
    return *frame().SourceView();
}

CClassView& TestWindow::tree() {
    return *frame().TreeView();
}

QWindow* TestWindow::window() {
    return frame().windowHandle();
}

std::string TestWindow::text() {
    return source().Text();
}

QString TestWindow::message() {
    return frame().statusBar()->currentMessage();
}

bool TestWindow::enabled(int id) {
    frame().UpdateCommandUI();
    return frame().Action(id)->isEnabled();
}

void TestWindow::run(int id) {
    QVERIFY2(enabled(id), qPrintable(QString::number(id)));
    frame().Action(id)->trigger();
}

void TestWindow::key(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(window(), key, modifiers);
}

const CTreeItem* TestWindow::item(const QString& position) {
    return FindItemAt(tree().Items(), position.toStdString());
}

QModelIndex TestWindow::index(const QString& position) {
    return tree().Model()->Reveal(item(position));
}

void TestWindow::select(const QString& position) {
    frame().SetActivePane(&tree());
    tree().setCurrentIndex(index(position));
}

const CTreeItem* TestWindow::selected() {
    return TreeModel::ItemOf(tree().currentIndex());
}

void TestWindow::waitForWork(int timeoutMs) {
    QTRY_VERIFY_WITH_TIMEOUT(!frame().Work().IsRunning(), timeoutMs);
}

bool TestWindow::isOpening() const {
    return app->IsOpening();
}

void TestWindow::processEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

TestSettings::TestSettings() {
    qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

QString Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
    }
    return path;
}

QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    return Write(dir.filePath(name), bytes);
}

}  // namespace quorrel
