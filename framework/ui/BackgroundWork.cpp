#include "framework/ui/BackgroundWork.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QMainWindow>
#include <QTimer>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <system_error>
#include <utility>

#include "framework/ui/ProgressBar.h"
#include "framework/ui/WorkHost.h"

namespace quorrel {

namespace {

// The worker's word that a job has ended: an event counter the window's
// event loop watches. Nothing is posted across the threads; what the job
// left is handed over under the mutex.
int EndedSignal() {
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    return fd;
}

}  // namespace

CBackgroundWork::CBackgroundWork(WorkHost& host)
    : m_host(host),
      m_endedFd(EndedSignal()),
      m_endedNotifier(m_endedFd, QSocketNotifier::Read),
      m_worker([this](std::stop_token stop) { Serve(stop); }) {
    connect(&m_endedNotifier, &QSocketNotifier::activated, this, [this] {
        std::uint64_t count = 0;
        if (::read(m_endedFd, &count, sizeof count) == sizeof count) {
            RunPosted();
            Finish();
        }
    });
}

CBackgroundWork::~CBackgroundWork() {
    m_worker.request_stop();
    m_worker.join();
    m_endedNotifier.setEnabled(false);
    ::close(m_endedFd);
}

void CBackgroundWork::Serve(std::stop_token stop) {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [this] { return m_job != nullptr; })) {
                return;
            }
            job = std::move(m_job);
            m_job = nullptr;
        }
        auto ended = std::make_unique<Ended>();
        try {
            ended->continuation = job();
        } catch (const std::exception& e) {
            ended->error = e.what();
            ended->failed = true;
        }
        job = nullptr;  // what it held goes here, not on the window's thread
        {
            std::lock_guard lock(m_mutex);
            m_ended = std::move(ended);
        }
        const std::uint64_t one = 1;
        (void)!::write(m_endedFd, &one, sizeof one);  // a counter's write cannot fail here
    }
}

void CBackgroundWork::Post(Continuation fn) {
    {
        std::lock_guard lock(m_mutex);
        m_posted.push_back(std::move(fn));
    }
    const std::uint64_t one = 1;
    (void)!::write(m_endedFd, &one, sizeof one);
}

void CBackgroundWork::RunPosted() {
    std::vector<Continuation> posted;
    {
        std::lock_guard lock(m_mutex);
        posted.swap(m_posted);
    }
    for (Continuation& fn : posted) {
        fn();
    }
}

bool CBackgroundWork::Start(const QString& what, Job job, Failure failed, bool busy) {
    if (m_running) {
        return false;
    }
    m_running = true;
    m_failed = std::move(failed);
    if (busy) {
        // Busy, without a measure of how far: a bar that runs to and fro.
        m_progress = std::make_unique<CProgressBar>(&m_host.HostWindow());
        m_progress->Create(QString(), 100, 100, false, 1);
        m_progress->SetRange(0, 0, 1);
    }
    m_readOnlyBefore = m_host.SetTextReadOnly(true);
    m_host.ShowWorkUnderWay(what);
    m_host.UpdateCommandUI();
    {
        std::lock_guard lock(m_mutex);
        m_job = std::move(job);
    }
    m_wake.notify_one();
    return true;
}

void CBackgroundWork::Finish() {
    std::unique_ptr<Ended> ended;
    {
        std::lock_guard lock(m_mutex);
        ended = std::move(m_ended);
    }
    if (!ended) {
        return;
    }
    if (m_progress) {
        m_progress->Clear();
        m_progress.reset();
    }
    m_host.SetTextReadOnly(m_readOnlyBefore);
    m_running = false;
    m_host.EndWorkUnderWay();
    // The next job may start from here on: the continuation's own
    // broadcast may need one.
    Failure failed = std::move(m_failed);
    m_failed = nullptr;
    if (ended->failed) {
        if (failed) {
            failed(ended->error);
        }
    } else if (ended->continuation) {
        ended->continuation();
    }
    m_host.UpdateCommandUI();
    emit finished();
    if (std::exchange(m_closeWhenDone, false)) {
        QTimer::singleShot(0, &m_host.HostWindow(),
                           [window = &m_host.HostWindow()] { window->close(); });
    }
}

void CBackgroundWork::CloseWhenDone() {
    m_closeWhenDone = true;
    m_host.ShowWorkUnderWay(QStringLiteral("Closing when the command has finished…"));
}

}  // namespace quorrel
