// Events, semaphores and waits on dispatcher objects, timed on the platform clock.
#include "host/kernel/bug_check.h"
#include "host/kernel/clock.h"
#include "host/kernel/dispatcher.h"
#include "host/kernel/irql.h"
#include "host/kernel/kernel_internal.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <string>
#include <thread>

namespace korval::host {
namespace {

struct Dispatcher {
    std::mutex mutex;
    std::condition_variable_any changed;
    std::size_t waiters = 0; // threads inside a wait, deadline fixed
    Dispatcher()
    {
        systemClock().addWaker([this] {
            std::lock_guard lock(mutex);
            changed.notify_all();
        });
    }
};

Dispatcher& dispatcher()
{
    static Dispatcher* instance = new Dispatcher; // lives as long as the process
    return *instance;
}

PDISPATCHER_HEADER headerOf(PVOID object)
{
    auto* header = static_cast<PDISPATCHER_HEADER>(object);
    if (header == nullptr) {
        bugCheck("waiting on a null object");
    }
    switch (header->Type) {
    case EventNotificationObject:
    case EventSynchronizationObject:
    case SemaphoreObject:
    case ThreadObject:
        return header;
    default:
        bugCheck("waiting on an object that is not an initialized event, semaphore or thread (type " +
                 std::to_string(header->Type) + ")");
    }
}

bool isSignalled(const DISPATCHER_HEADER* header)
{
    return header->SignalState > 0;
}

// What a satisfied wait does to the object: synchronization events reset,
// semaphores count down, notification events and threads stay signalled.
void consume(PDISPATCHER_HEADER header)
{
    if (header->Type == EventSynchronizationObject) {
        header->SignalState = 0;
    } else if (header->Type == SemaphoreObject) {
        --header->SignalState;
    }
}

void checkWaitIrql(const LARGE_INTEGER* timeout)
{
    const KIRQL irql = currentIrql();
    if (irql > DISPATCH_LEVEL) {
        bugCheck("IRQL_NOT_LESS_OR_EQUAL: waiting above DISPATCH_LEVEL");
    }
    if (irql == DISPATCH_LEVEL && (timeout == nullptr || timeout->QuadPart != 0)) {
        bugCheck("waiting with a non-zero time-out at DISPATCH_LEVEL");
    }
}

// Index of the satisfied object (WaitAny), 0 (WaitAll) or -1 when not satisfied yet.
long trySatisfy(ULONG count, PDISPATCHER_HEADER* headers, WAIT_TYPE type)
{
    if (type == WaitAny) {
        for (ULONG i = 0; i < count; ++i) {
            if (isSignalled(headers[i])) {
                consume(headers[i]);
                return static_cast<long>(i);
            }
        }
        return -1;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (!isSignalled(headers[i])) {
            return -1;
        }
    }
    for (ULONG i = 0; i < count; ++i) {
        consume(headers[i]);
    }
    return 0;
}

NTSTATUS waitFor(ULONG count, PDISPATCHER_HEADER* headers, WAIT_TYPE type, PLARGE_INTEGER timeout)
{
    checkWaitIrql(timeout);
    const std::int64_t deadline = deadlineFromTimeout(timeout);
    std::unique_lock lock(dispatcher().mutex);
    long satisfied = -1;
    ++dispatcher().waiters;
    const bool ready = systemClock().waitUntil(lock, dispatcher().changed, deadline, [&] {
        satisfied = trySatisfy(count, headers, type);
        return satisfied >= 0;
    });
    --dispatcher().waiters;
    return ready ? STATUS_WAIT_0 + satisfied : STATUS_TIMEOUT;
}

} // namespace

std::size_t kernelWaiters()
{
    std::lock_guard lock(dispatcher().mutex);
    return dispatcher().waiters;
}

void awaitKernelWaiters(std::size_t count)
{
    while (kernelWaiters() < count) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::mutex& dispatcherMutex()
{
    return dispatcher().mutex;
}

void notifyDispatcherLocked()
{
    dispatcher().changed.notify_all();
}

std::int64_t systemTimeAtClockZero()
{
    // FILETIME of the moment the process started (100 ns since 1601).
    static const std::int64_t start = [] {
        const auto sinceUnix = std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>>(
            std::chrono::system_clock::now().time_since_epoch());
        return sinceUnix.count() + 116444736000000000LL;
    }();
    return start;
}

std::int64_t deadlineFromTimeout(const LARGE_INTEGER* timeout)
{
    if (timeout == nullptr) {
        return -1;
    }
    const std::int64_t now = systemClock().now();
    if (timeout->QuadPart <= 0) {
        return now - timeout->QuadPart;
    }
    // A moment before the clock started has passed already (and -1 would mean for ever).
    return std::max<std::int64_t>(0, timeout->QuadPart - systemTimeAtClockZero());
}

} // namespace korval::host

using namespace korval::host;

extern "C" VOID NTAPI KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State)
{
    std::lock_guard lock(dispatcherMutex());
    Event->Header.Type = Type == NotificationEvent ? EventNotificationObject : EventSynchronizationObject;
    Event->Header.Size = sizeof(KEVENT) / sizeof(LONG);
    Event->Header.SignalState = State ? 1 : 0;
    Event->Header.WaitListHead.Flink = Event->Header.WaitListHead.Blink = &Event->Header.WaitListHead;
}

extern "C" LONG NTAPI KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN)
{
    requireIrqlAtMost(DISPATCH_LEVEL, "KeSetEvent");
    std::lock_guard lock(dispatcherMutex());
    const LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    notifyDispatcherLocked();
    return previous;
}

extern "C" LONG NTAPI KeResetEvent(PRKEVENT Event)
{
    requireIrqlAtMost(DISPATCH_LEVEL, "KeResetEvent");
    std::lock_guard lock(dispatcherMutex());
    const LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 0;
    return previous;
}

extern "C" VOID NTAPI KeClearEvent(PRKEVENT Event)
{
    std::lock_guard lock(dispatcherMutex());
    Event->Header.SignalState = 0;
}

extern "C" LONG NTAPI KeReadStateEvent(PRKEVENT Event)
{
    std::lock_guard lock(dispatcherMutex());
    return Event->Header.SignalState;
}

extern "C" VOID NTAPI KeInitializeSemaphore(PRKSEMAPHORE Semaphore, LONG Count, LONG Limit)
{
    std::lock_guard lock(dispatcherMutex());
    Semaphore->Header.Type = SemaphoreObject;
    Semaphore->Header.Size = sizeof(KSEMAPHORE) / sizeof(LONG);
    Semaphore->Header.SignalState = Count;
    Semaphore->Header.WaitListHead.Flink = Semaphore->Header.WaitListHead.Blink = &Semaphore->Header.WaitListHead;
    Semaphore->Limit = Limit;
}

extern "C" LONG NTAPI KeReleaseSemaphore(PRKSEMAPHORE Semaphore, KPRIORITY, LONG Adjustment, BOOLEAN)
{
    requireIrqlAtMost(DISPATCH_LEVEL, "KeReleaseSemaphore");
    std::lock_guard lock(dispatcherMutex());
    const LONG previous = Semaphore->Header.SignalState;
    if (Adjustment <= 0 || previous > Semaphore->Limit - Adjustment) {
        bugCheck("STATUS_SEMAPHORE_LIMIT_EXCEEDED: semaphore released beyond its limit");
    }
    Semaphore->Header.SignalState = previous + Adjustment;
    notifyDispatcherLocked();
    return previous;
}

extern "C" LONG NTAPI KeReadStateSemaphore(PRKSEMAPHORE Semaphore)
{
    std::lock_guard lock(dispatcherMutex());
    return Semaphore->Header.SignalState;
}

extern "C" NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                                                PLARGE_INTEGER Timeout)
{
    PDISPATCHER_HEADER header = headerOf(Object);
    return waitFor(1, &header, WaitAny, Timeout);
}

extern "C" NTSTATUS NTAPI KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType, KWAIT_REASON,
                                                   KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Timeout,
                                                   PKWAIT_BLOCK WaitBlockArray)
{
    if (Count == 0 || Count > MAXIMUM_WAIT_OBJECTS) {
        bugCheck("MAXIMUM_WAIT_OBJECTS_EXCEEDED: waiting on " + std::to_string(Count) + " objects");
    }
    if (Count > THREAD_WAIT_OBJECTS && WaitBlockArray == nullptr) {
        bugCheck("MAXIMUM_WAIT_OBJECTS_EXCEEDED: more than THREAD_WAIT_OBJECTS objects without a wait block array");
    }
    PDISPATCHER_HEADER headers[MAXIMUM_WAIT_OBJECTS];
    for (ULONG i = 0; i < Count; ++i) {
        headers[i] = headerOf(Object[i]);
    }
    return waitFor(Count, headers, WaitType, Timeout);
}

extern "C" NTSTATUS NTAPI KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval)
{
    requireIrqlAtMost(APC_LEVEL, "KeDelayExecutionThread");
    if (Interval == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    // Counted with the waiters, so a test steps the clock once the delay has its deadline.
    const std::int64_t deadline = deadlineFromTimeout(Interval);
    std::unique_lock lock(dispatcher().mutex);
    ++dispatcher().waiters;
    systemClock().waitUntil(lock, dispatcher().changed, deadline, [] { return false; });
    --dispatcher().waiters;
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI KeQuerySystemTime(PLARGE_INTEGER CurrentTime)
{
    CurrentTime->QuadPart = systemTimeAtClockZero() + systemClock().now();
}

extern "C" ULONGLONG NTAPI KeQueryInterruptTime(void)
{
    return static_cast<ULONGLONG>(systemClock().now());
}

extern "C" LARGE_INTEGER NTAPI KeQueryPerformanceCounter(PLARGE_INTEGER PerformanceFrequency)
{
    if (PerformanceFrequency != nullptr) {
        PerformanceFrequency->QuadPart = Clock::kTicksPerSecond;
    }
    LARGE_INTEGER counter;
    counter.QuadPart = systemClock().now();
    return counter;
}

extern "C" VOID NTAPI KeStallExecutionProcessor(ULONG MicroSeconds)
{
    // Busy-waits on the platform clock; in stepped time it returns at once.
    const std::int64_t until = systemClock().now() + static_cast<std::int64_t>(MicroSeconds) * 10;
    while (systemClock().mode() != ClockMode::Stepped && systemClock().now() < until) {
    }
}
