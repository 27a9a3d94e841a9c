// The image tools' thread pool, as the collision table loader uses it.
#include "BaseLibrary.h"
#include "ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(ZoCThreadPool, RunsTasksInSubmissionOrderOnItsOneThread) {
    std::vector<int> done;
    std::vector<std::thread::id> threads;
    std::vector<std::future<void>> futures;
    {
        ZoCThreadPool pool(1);
        EXPECT_EQ(pool.GetNumThreads(), 1);
        for (int i = 0; i < 50; ++i)
            futures.push_back(pool.Submit([i, &done, &threads] {
                done.push_back(i);
                threads.push_back(std::this_thread::get_id());
            }));
        for (auto& f : futures)
            f.get();
    }
    ASSERT_EQ(done.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(done[static_cast<size_t>(i)], i);
    for (const auto& id : threads)
        EXPECT_EQ(id, threads[0]);
    EXPECT_NE(threads[0], std::this_thread::get_id());
}

TEST(ZoCThreadPool, DeliversResultsAndExceptionsThroughTheFuture) {
    ZoCThreadPool pool;
    auto answer = pool.Submit([] { return 42; });
    auto failure = pool.Submit([]() -> int { throw std::runtime_error("no table"); });
    auto after = pool.Submit([] { return 7; });  // the worker survives the exception
    EXPECT_EQ(answer.get(), 42);
    EXPECT_THROW(failure.get(), std::runtime_error);
    EXPECT_EQ(after.get(), 7);
}

TEST(ZoCThreadPool, RunsTheStartAndStopHooksOnEveryWorker) {
    std::atomic<int> started{0}, stopped{0};
    {
        ZoCThreadPool pool(
            3, [&] { ++started; }, [&] { ++stopped; });
        EXPECT_EQ(pool.GetNumThreads(), 3);
        pool.Submit([] {}).get();
    }
    EXPECT_EQ(started.load(), 3);
    EXPECT_EQ(stopped.load(), 3);
    EXPECT_EQ(ZoCThreadPool(0).GetNumThreads(), 1);
}

TEST(ZoCThreadPool, DestructionDropsWaitingTasksAndWaitsForTheRunningOne) {
    CbEvent started(true, false), release(true, false);
    auto pool = std::make_unique<ZoCThreadPool>(1);
    auto running = pool->Submit([&] {
        started.Set();
        release.Wait();
        return 1;
    });
    auto waiting = pool->Submit([] { return 2; });
    ASSERT_TRUE(started.Wait(120000));
    EXPECT_EQ(pool->GetPendingCount(), 1u);
    std::thread destroyer([&pool] { pool.reset(); });
    // The destructor drops the waiting task first: its promise breaks, which makes its future ready.
    waiting.wait();
    release.Set();
    destroyer.join();
    EXPECT_EQ(running.get(), 1);
    try {
        waiting.get();
        ADD_FAILURE() << "a dropped task ran";
    } catch (const std::future_error& e) {
        EXPECT_EQ(e.code(), std::future_errc::broken_promise);
    }
}
