// Long document work off the window's thread: parsing, a tree command's
// change and refresh, saving, building a document from a database. One
// worker thread, one job at a time: a job gets its inputs as values, runs on
// the worker, and what it returns is applied on the window's thread when it
// has ended. While it runs the window keeps painting, the message pane says
// what runs, the status bar's progress pane shows a busy bar, every command
// waits and the source text is read-only.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorrel {

class CProgressBar;
class WorkHost;

class CBackgroundWork : public QObject {
    Q_OBJECT
public:
    explicit CBackgroundWork(WorkHost& host);
    // Waits for the job under way; what it returned is dropped.
    ~CBackgroundWork() override;
    CBackgroundWork(const CBackgroundWork&) = delete;
    CBackgroundWork& operator=(const CBackgroundWork&) = delete;

    // Documents whose text is at least this long are worked on apart;
    // smaller ones on the window's thread, where it takes no noticeable time.
    static constexpr std::size_t kApartFrom = 1 << 20;

    // Applied on the window's thread once the job has ended.
    using Continuation = std::function<void()>;
    // Runs on the worker; reads only what it was given.
    using Job = std::function<Continuation()>;
    // An exception out of the job, as its message, on the window's thread.
    using Failure = std::function<void(const std::string& error)>;

    bool IsRunning() const { return m_running; }
    // Starts job on the worker and returns; refused (false, nothing run)
    // while another job runs. what: the message pane's text meanwhile.
    // busy: the progress pane shows a busy bar (not when the caller shows its own progress).
    bool Start(const QString& what, Job job, Failure failed, bool busy = true);
    // Any thread: fn runs on the window's thread soon after, handed over as
    // a job's result is (for work that runs apart on threads of its own).
    void Post(Continuation fn);
    // The window closes (asking as usual) once the work has ended.
    void CloseWhenDone();
    bool ClosesWhenDone() const { return m_closeWhenDone; }

signals:
    // A job has ended and what it returned has been applied.
    void finished();

private:
    struct Ended {
        Continuation continuation;
        std::string error;
        bool failed = false;
    };
    void Serve(std::stop_token stop);
    void Finish();
    void RunPosted();

    WorkHost& m_host;
    bool m_running = false;
    bool m_closeWhenDone = false;
    bool m_readOnlyBefore = false;
    Failure m_failed;
    std::unique_ptr<CProgressBar> m_progress;

    std::mutex m_mutex;  // the hand-over between the two threads
    std::condition_variable_any m_wake;
    Job m_job;                       // given, not yet begun
    std::unique_ptr<Ended> m_ended;  // ended, not yet applied
    std::vector<Continuation> m_posted;
    int m_endedFd;  // the worker counts ended jobs here
    QSocketNotifier m_endedNotifier;
    std::jthread m_worker;  // last: started once the rest is ready
};

}  // namespace quorrel
