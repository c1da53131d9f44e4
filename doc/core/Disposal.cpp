#include "doc/core/Disposal.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace quorrel {

namespace {

// Below this the free is quicker than handing it over.
constexpr std::size_t kFreeAtOnceBelow = 1 << 20;

std::atomic<bool> g_leaveToTheSystem{false};

struct HeldDocument : Disposable {
    explicit HeldDocument(std::unique_ptr<XmlDocument> d) : document(std::move(d)) {}
    std::unique_ptr<XmlDocument> document;
};

class Disposer {
public:
    void Hand(std::unique_ptr<Disposable> thing) {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) {
            m_thread = std::thread([this] { Run(); });
            m_thread.detach();  // never joined: the program may end while it works
        }
        m_pending.push_back(std::move(thing));
        m_wake.notify_one();
    }

    void Wait() {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_pending.empty() && !m_busy; });
    }

private:
    void Run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_pending.empty(); });
            std::unique_ptr<Disposable> next = std::move(m_pending.front());
            m_pending.pop_front();
            m_busy = true;
            lock.unlock();
            next.reset();
            lock.lock();
            m_busy = false;
            if (m_pending.empty()) {
                m_idle.notify_all();
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake, m_idle;
    std::deque<std::unique_ptr<Disposable>> m_pending;
    bool m_busy = false;
    std::thread m_thread;
};

// Made once and never destroyed: its thread may outlive main().
Disposer& TheDisposer() {
    static Disposer* disposer = new Disposer;
    return *disposer;
}

}  // namespace

void DisposeOf(std::unique_ptr<XmlDocument> document) {
    if (!document) {
        return;
    }
    if (g_leaveToTheSystem) {
        AbandonAtExit(std::move(document));
        return;
    }
    // A document built by the program (sourceSize 0) may be large too.
    if (document->sourceSize() > 0 && document->sourceSize() < kFreeAtOnceBelow) {
        document.reset();
        return;
    }
    TheDisposer().Hand(std::make_unique<HeldDocument>(std::move(document)));
}

void DisposeOf(std::unique_ptr<Disposable> thing) {
    if (!thing) {
        return;
    }
    if (g_leaveToTheSystem) {
        static auto* kept = new std::vector<std::unique_ptr<Disposable>>;
        static std::mutex mutex;
        std::lock_guard lock(mutex);
        kept->push_back(std::move(thing));
        return;
    }
    TheDisposer().Hand(std::move(thing));
}

void DisposeOfText(std::string text) {
    if (text.capacity() >= kFreeAtOnceBelow) {
        DisposeOfValue(std::move(text));
    }
}

void AbandonAtExit(std::unique_ptr<XmlDocument> document) {
    // Reachable from here to the end, so not a leak; never destroyed.
    static auto* kept = new std::vector<std::unique_ptr<XmlDocument>>;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    kept->push_back(std::move(document));
}

void LeaveDocumentsToTheSystem() {
    g_leaveToTheSystem = true;
}

void WaitForDisposal() {
    TheDisposer().Wait();
}

}  // namespace quorrel
