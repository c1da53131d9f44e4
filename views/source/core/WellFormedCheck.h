// The check of the source text as it is typed: is it well-formed, and if
// not, where is the first error. A parse with libxml2 that builds no tree,
// reads no DTD, expands no entity and loads nothing, on a thread of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

namespace quorrel {

struct WellFormedResult {
    enum class Status { WellFormed, Error, Stopped };
    Status status = Status::WellFormed;
    long line = 0;    // 1-based, of the first error; 0 when it has no place in the text
    long column = 0;  // 1-based in characters, just after the offending token; 0 when unknown
    std::string reason;
};

// Texts longer than this are not checked as they are typed (see bench/RESULTS.md).
inline constexpr std::size_t kTypingCheckMaxBytes = 16u << 20;

// Parses utf8Text for well-formedness only (namespaces included); the
// declared encoding is ignored. stopRequested is polled as the parser goes;
// once it returns true the parse ends with Status::Stopped.
WellFormedResult CheckWellFormed(std::string_view utf8Text,
                                 const std::function<bool()>& stopRequested = {});

// Runs one check at a time on a worker thread. Starting a check stops the
// one under way, whose result is then never delivered. deliver is called on
// the worker thread, with the ticket the check was started with.
class WellFormedChecker {
public:
    using Check = std::function<WellFormedResult(std::string_view, const std::function<bool()>&)>;
    using Deliver = std::function<void(std::uint64_t ticket, const WellFormedResult&)>;

    explicit WellFormedChecker(Deliver deliver, Check check = CheckWellFormed);
    // Stops the check under way and waits for the worker.
    ~WellFormedChecker();
    WellFormedChecker(const WellFormedChecker&) = delete;
    WellFormedChecker& operator=(const WellFormedChecker&) = delete;

    void Start(std::string text, std::uint64_t ticket);
    // Stops the check under way and drops one not yet begun.
    void Cancel();
    // The text of the last finished check, emptied: filling it again for the
    // next check touches no fresh memory.
    std::string TakeBuffer();

private:
    struct Job {
        std::string text;
        std::uint64_t ticket = 0;
        std::shared_ptr<std::atomic<bool>> stop;
    };
    void Run(std::stop_token token);
    void StopCurrentLocked();

    Deliver m_deliver;
    Check m_check;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::optional<Job> m_pending;
    std::shared_ptr<std::atomic<bool>> m_running;  // the stop flag of the check under way
    std::string m_spare;
    std::jthread m_worker;  // last: starts once the rest is ready
};

}  // namespace quorrel
