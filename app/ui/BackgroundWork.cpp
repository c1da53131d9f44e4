#include "app/ui/BackgroundWork.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

#include "app/ui/MainFrame.h"
#include "app/ui/ProgressBar.h"
#include "views/source/ui/DView.h"

namespace quorrel {

namespace {

std::string Guarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

}  // namespace

std::string CBackgroundWork::Run(const std::function<void()>& work, bool busy) {
    if (m_running) {
        return Guarded(work);
    }
    m_running = true;
    CProgressBar progress(&m_frame);
    if (busy) {
        // Busy, without a measure of how far: a bar that runs to and fro.
        progress.Create(QString(), 100, 100, false, 1);
        progress.SetRange(0, 0, 1);
    }
    CDView* source = m_frame.SourceView();
    const bool readOnly = source->isReadOnly();
    source->setReadOnly(true);
    m_frame.UpdateCommandUI();

    std::string error;
    std::atomic<bool> ended{false};
    QEventLoop loop;
    try {
        std::jthread worker([&] {
            error = Guarded(work);
            ended = true;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        // The loop ends when the work has; earlier only when the application
        // quits, and then the worker is waited for as the thread is joined.
        loop.exec();
    } catch (const std::system_error&) {
        error = Guarded(work);  // no thread to be had: the work is done here
    }
    progress.Clear();
    source->setReadOnly(readOnly);
    m_running = false;
    m_frame.UpdateCommandUI();
    if (std::exchange(m_closeWhenDone, false)) {
        QTimer::singleShot(0, &m_frame, [frame = &m_frame] { frame->close(); });
    }
    return error;
}

}  // namespace quorrel
