// Long document work off the window's thread: parsing, a tree command's
// change and refresh, saving, building a document from a database. While it
// runs the window keeps painting (its events are processed), the status
// bar's progress pane shows that something is under way, every command waits
// and the source text is read-only. The caller waits for the result as if it
// had done the work itself, so results and messages come as they would.
#pragma once

#include <functional>
#include <string>

namespace quorrel {

class CMainFrame;

class CBackgroundWork {
public:
    explicit CBackgroundWork(CMainFrame& frame) : m_frame(frame) {}

    // Documents whose text is at least this long are worked on apart;
    // smaller ones on the window's thread, where it takes no noticeable time.
    static constexpr std::size_t kApartFrom = 1 << 20;

    bool IsRunning() const { return m_running; }
    // Runs work on another thread (or on this one when a thread cannot be
    // had or work is under way already) and returns when it has ended. An
    // exception out of work is returned as its message, else an empty string.
    // busy: the progress pane shows a busy bar (not when the caller shows its own progress).
    std::string Run(const std::function<void()>& work, bool busy = true);
    // The window closes (asking as usual) once the work has ended.
    void CloseWhenDone() { m_closeWhenDone = true; }
    bool ClosesWhenDone() const { return m_closeWhenDone; }

private:
    CMainFrame& m_frame;
    bool m_running = false;
    bool m_closeWhenDone = false;
};

}  // namespace quorrel
