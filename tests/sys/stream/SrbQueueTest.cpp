#include "stream/SrbQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

// An SRB with its per-request extension, as the stream class would hand it over.
struct TestSrb {
    HW_STREAM_REQUEST_BLOCK srb{};
    tagSrbLink link{};
    int submitter = 0;
    int sequence = 0;
    std::atomic<int> handled{0};
    std::atomic<int> completed{0};

    TestSrb() { srb.SRBExtension = &link; }
};

TestSrb* owner(PHW_STREAM_REQUEST_BLOCK srb)
{
    return reinterpret_cast<TestSrb*>(reinterpret_cast<char*>(srb) - offsetof(TestSrb, srb));
}

struct Recorder {
    tagSrbQueueFields* queue = nullptr;
    std::mutex mutex;
    std::vector<TestSrb*> handledOrder;
    std::atomic<int> inHandler{0};
    std::atomic<int> overlaps{0};
    std::function<void(TestSrb*)> duringHandler;
};

VOID recordHandle(PHW_STREAM_REQUEST_BLOCK srb, PVOID context)
{
    auto* recorder = static_cast<Recorder*>(context);
    if (recorder->inHandler.fetch_add(1) != 0) {
        recorder->overlaps.fetch_add(1);
    }
    TestSrb* test = owner(srb);
    test->handled.fetch_add(1);
    {
        std::lock_guard lock(recorder->mutex);
        recorder->handledOrder.push_back(test);
    }
    if (recorder->duringHandler) {
        recorder->duringHandler(test);
    }
    srb->Status = STATUS_SUCCESS;
    recorder->inHandler.fetch_sub(1);
}

VOID recordComplete(PHW_STREAM_REQUEST_BLOCK srb, PVOID)
{
    owner(srb)->completed.fetch_add(1);
}

class SrbQueueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SrbQueueInitialize(&queue_);
        recorder_.queue = &queue_;
    }

    void submit(TestSrb& srb)
    {
        SrbQueueSubmitAndDrain(&queue_, &srb.srb, recordHandle, recordComplete, &recorder_);
    }

    tagSrbQueueFields queue_{};
    Recorder recorder_;
};

TEST_F(SrbQueueTest, IdleQueueMakesTheCallerOwnerWhoDrainsEverythingAppendedMeanwhile)
{
    TestSrb first, second, third;
    bool appendedWhileBusy = false;
    recorder_.duringHandler = [&](TestSrb* handled) {
        if (handled == &first) {
            // Requests arriving while the owner works are only appended.
            submit(second);
            submit(third);
            appendedWhileBusy = second.handled == 0 && third.handled == 0;
            EXPECT_TRUE(queue_.bBusy);
        }
    };
    submit(first);
    EXPECT_TRUE(appendedWhileBusy);
    ASSERT_EQ(recorder_.handledOrder.size(), 3u);
    EXPECT_EQ(recorder_.handledOrder[0], &first);
    EXPECT_EQ(recorder_.handledOrder[1], &second);
    EXPECT_EQ(recorder_.handledOrder[2], &third);
    EXPECT_FALSE(queue_.bBusy);
    EXPECT_EQ(queue_.List.Flink, &queue_.List);
}

// The drain takes the next SRB (or goes idle) before completing the current
// one, so a completion never races with the queue's next owner.
VOID checkQueueReleasedBeforeCompletion(PHW_STREAM_REQUEST_BLOCK srb, PVOID context)
{
    auto* recorder = static_cast<Recorder*>(context);
    EXPECT_EQ(recorder->queue->List.Flink, &recorder->queue->List)
        << "the next SRB must leave the list before the current one completes";
    recordComplete(srb, context);
}

TEST_F(SrbQueueTest, CompletionComesAfterTheQueueHasMovedOn)
{
    TestSrb first, second;
    recorder_.duringHandler = [&](TestSrb* handled) {
        if (handled == &first) {
            ASSERT_FALSE(SrbQueueSubmit(&queue_, &second.srb));
        }
    };
    ASSERT_TRUE(SrbQueueSubmit(&queue_, &first.srb));
    SrbQueueDrain(&queue_, &first.srb, recordHandle, checkQueueReleasedBeforeCompletion, &recorder_);
    EXPECT_EQ(first.completed, 1);
    EXPECT_EQ(second.completed, 1);
    EXPECT_FALSE(queue_.bBusy);
}

VOID collectFlushed(PHW_STREAM_REQUEST_BLOCK srb, PVOID context)
{
    static_cast<std::vector<TestSrb*>*>(context)->push_back(owner(srb));
}

TEST_F(SrbQueueTest, RemoveAndFlushTakeOnlyWaitingSrbs)
{
    TestSrb running, a, b, c;
    ASSERT_TRUE(SrbQueueSubmit(&queue_, &running.srb));
    EXPECT_FALSE(SrbQueueSubmit(&queue_, &a.srb));
    EXPECT_FALSE(SrbQueueSubmit(&queue_, &b.srb));
    EXPECT_FALSE(SrbQueueSubmit(&queue_, &c.srb));

    EXPECT_TRUE(SrbQueueRemove(&queue_, &b.srb));
    EXPECT_FALSE(SrbQueueRemove(&queue_, &b.srb)) << "already taken out";
    EXPECT_FALSE(SrbQueueRemove(&queue_, &running.srb)) << "the owner's SRB is not in the list";

    std::vector<TestSrb*> flushed;
    SrbQueueFlush(&queue_, collectFlushed, &flushed);
    ASSERT_EQ(flushed.size(), 2u);
    EXPECT_EQ(flushed[0], &a);
    EXPECT_EQ(flushed[1], &c);
    EXPECT_TRUE(queue_.bBusy) << "flushing leaves the running drain its ownership";
    EXPECT_EQ(SrbQueueTakeNext(&queue_), nullptr);
    EXPECT_FALSE(queue_.bBusy);
}

// Many submitters on real threads: every SRB handled and completed exactly
// once, one at a time, in arrival order, and the queue idle at the end.
TEST_F(SrbQueueTest, StressEverySrbHandledOnceInArrivalOrder)
{
    constexpr int kThreads = 4;
    constexpr int kPerThread = 1500;
    std::deque<TestSrb> srbs(kThreads * kPerThread);
    std::mutex arrivalMutex; // makes the arrival order observable
    std::vector<TestSrb*> arrivalOrder;
    recorder_.duringHandler = [](TestSrb* handled) {
        thread_local std::minstd_rand random(std::hash<std::thread::id>{}(std::this_thread::get_id()));
        if (random() % 8 == 0 && handled != nullptr) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 50));
        }
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                TestSrb& srb = srbs[t * kPerThread + i];
                srb.submitter = t;
                srb.sequence = i;
                BOOLEAN owns;
                {
                    std::lock_guard lock(arrivalMutex);
                    owns = SrbQueueSubmit(&queue_, &srb.srb);
                    arrivalOrder.push_back(&srb);
                }
                if (owns) {
                    SrbQueueDrain(&queue_, &srb.srb, recordHandle, recordComplete, &recorder_);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(recorder_.overlaps, 0);
    EXPECT_FALSE(queue_.bBusy);
    EXPECT_EQ(recorder_.handledOrder, arrivalOrder);
    for (const TestSrb& srb : srbs) {
        ASSERT_EQ(srb.handled, 1);
        ASSERT_EQ(srb.completed, 1);
    }
}

} // namespace
