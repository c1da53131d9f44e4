#include "doc/core/Disposal.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
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

// One thread for the program's life, started with the first hand-over,
// freeing in the order handed.
class Disposer {
public:
    void Hand(std::unique_ptr<Disposable> thing) {
        std::lock_guard lock(m_mutex);
        if (!m_started) {
            std::thread([this] { Run(); }).detach();  // the program may end while it works
            m_started = true;
        }
        m_pending.push_back(std::move(thing));
        ++m_handed;
        m_wake.notify_one();
    }

    void Wait() {
        std::unique_lock lock(m_mutex);
        const std::uint64_t handed = m_handed;
        m_freedChanged.wait(lock, [this, handed] { return m_freed >= handed; });
    }

private:
    void Run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_pending.empty(); });
            std::unique_ptr<Disposable> next = std::move(m_pending.front());
            m_pending.pop_front();
            lock.unlock();
            next.reset();
            lock.lock();
            ++m_freed;
            m_freedChanged.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake, m_freedChanged;
    std::deque<std::unique_ptr<Disposable>> m_pending;
    std::uint64_t m_handed = 0;  // counts, so a wait knows what was handed before it
    std::uint64_t m_freed = 0;
    bool m_started = false;
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
