// Chunks done on several threads and finished in order; thread counts from the option, the
// environment and the affinity mask.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "OrderedChunks.h"
#include "ThreadCount.h"

namespace {

TEST(OrderedChunks, EveryChunkIsDoneOnceAndFinishedInOrder) {
    for (const int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(threads);
        constexpr size_t kChunks = 200;
        std::vector<std::atomic<int>> doneCount(kChunks);
        std::vector<size_t> finishedOrder;
        std::atomic<int> inFlight{0};
        std::atomic<int> mostInFlight{0};
        const bool completed = OrderedChunks::Run(
            threads, kChunks, 4,
            [&](size_t chunk, int worker) {
                EXPECT_GE(worker, 0);
                EXPECT_LT(worker, threads);
                const int now = ++inFlight;
                int seen = mostInFlight.load();
                while (now > seen && !mostInFlight.compare_exchange_weak(seen, now)) {
                }
                // Later chunks finish first now and then, so the order must be restored.
                if (chunk % 7 == 0) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                ++doneCount[chunk];
                --inFlight;
            },
            [&](size_t chunk) {
                EXPECT_EQ(doneCount[chunk].load(), 1);
                finishedOrder.push_back(chunk);
                return true;
            });
        EXPECT_TRUE(completed);
        ASSERT_EQ(finishedOrder.size(), kChunks);
        for (size_t i = 0; i < kChunks; ++i) {
            EXPECT_EQ(finishedOrder[i], i);
            EXPECT_EQ(doneCount[i].load(), 1);
        }
        EXPECT_LE(mostInFlight.load(), threads);
    }
}

TEST(OrderedChunks, WorkStaysWithinTheWindowAheadOfTheLastFinishedChunk) {
    std::mutex mutex;
    size_t finished = 0;
    size_t farthest = 0;
    OrderedChunks::Run(
        4, 100, 3,
        [&](size_t chunk, int) {
            std::lock_guard<std::mutex> lock(mutex);
            // A chunk may start once fewer than the window's chunks are unfinished before it.
            EXPECT_LT(chunk, finished + 3) << chunk;
            farthest = std::max(farthest, chunk);
        },
        [&](size_t chunk) {
            std::lock_guard<std::mutex> lock(mutex);
            finished = chunk + 1;
            return true;
        });
    EXPECT_EQ(farthest, 99U);
}

TEST(OrderedChunks, FinishedReturningFalseStopsTheRun) {
    for (const int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        std::atomic<size_t> started{0};
        std::vector<size_t> finishedOrder;
        const bool completed = OrderedChunks::Run(
            threads, 1000, 8, [&](size_t, int) { ++started; },
            [&](size_t chunk) {
                finishedOrder.push_back(chunk);
                return chunk < 10;
            });
        EXPECT_FALSE(completed);
        EXPECT_EQ(finishedOrder.size(), 11U);
        // Nothing far past the stop was started.
        EXPECT_LE(started.load(), 11U + 8U);
    }
}

TEST(OrderedChunks, AnExceptionInAWorkerReachesTheCaller) {
    for (const int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        EXPECT_THROW(OrderedChunks::Run(
                         threads, 50, 4,
                         [](size_t chunk, int) {
                             if (chunk == 17) {
                                 throw std::runtime_error("chunk 17");
                             }
                         },
                         [](size_t) { return true; }),
                     std::runtime_error);
    }
}

TEST(ThreadCount, ParsesWholeNumbersOfAtLeastOne) {
    int threads = 0;
    EXPECT_TRUE(ThreadCount::Parse("8", &threads));
    EXPECT_EQ(threads, 8);
    EXPECT_TRUE(ThreadCount::Parse(" 3 ", &threads));
    EXPECT_EQ(threads, 3);
    for (const char* bad : {"0", "-2", "", "two", "2x", "1.5", "99999999999"}) {
        EXPECT_FALSE(ThreadCount::Parse(bad, &threads)) << bad;
    }
}

TEST(ThreadCount, OptionThenEnvironmentThenAffinity) {
    int threads = 0;
    std::string reason;
    unsetenv(ThreadCount::kVariable);
    ASSERT_TRUE(ThreadCount::Choose("", &threads, &reason));
    EXPECT_EQ(threads, ThreadCount::Available());
    EXPECT_GE(threads, 1);

    setenv(ThreadCount::kVariable, "5", 1);
    ASSERT_TRUE(ThreadCount::Choose("", &threads, &reason));
    EXPECT_EQ(threads, 5);
    ASSERT_TRUE(ThreadCount::Choose("2", &threads, &reason));
    EXPECT_EQ(threads, 2);

    setenv(ThreadCount::kVariable, "none", 1);
    EXPECT_FALSE(ThreadCount::Choose("", &threads, &reason));
    EXPECT_EQ(reason, "DTI_NTHREADS must be a whole number of at least 1, not 'none'.");
    // The option wins even over a variable that would be refused.
    EXPECT_TRUE(ThreadCount::Choose("3", &threads, &reason));
    EXPECT_EQ(threads, 3);
    EXPECT_FALSE(ThreadCount::Choose("0", &threads, &reason));
    EXPECT_EQ(reason, "-nthreads must be a whole number of at least 1, not '0'.");
    unsetenv(ThreadCount::kVariable);
}

}  // namespace
