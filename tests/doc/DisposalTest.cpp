// The disposal thread: one for the program's life, freeing in the order
// handed, and a wait that returns once all handed before it is freed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "doc/core/Disposal.h"

using namespace quorrel;

namespace {

std::size_t ThreadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

struct FreedLog {
    std::mutex mutex;
    std::vector<int> order;
};

// Slow to free, so that a wait that returns early or a second thread at
// work shows.
struct Slow : Disposable {
    Slow(FreedLog& log, int index) : log(log), index(index) {}
    ~Slow() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::lock_guard lock(log.mutex);
        log.order.push_back(index);
    }
    FreedLog& log;
    int index;
};

}  // namespace

TEST(DisposalTest, OneThreadFreesInTheOrderHandedAndTheWaitSeesAllOfIt) {
    FreedLog log;
    DisposeOf(std::make_unique<Slow>(log, 0));
    WaitForDisposal();
    const std::size_t threads = ThreadCount();

    std::vector<int> expected{0};
    for (int i = 1; i <= 30; ++i) {
        DisposeOf(std::make_unique<Slow>(log, i));
        expected.push_back(i);
    }
    WaitForDisposal();
    {
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.order, expected);
    }
    EXPECT_EQ(ThreadCount(), threads);

    // A wait with nothing handed returns; values go the same way.
    WaitForDisposal();
    DisposeOfValue(std::string(2 << 20, 'x'));
    WaitForDisposal();
    EXPECT_EQ(ThreadCount(), threads);
}
