// Costs of the emulated kernel's hot calls: the driver takes a spin lock for
// every flag access and signals events and DPCs for every USB transfer.
#include <benchmark/benchmark.h>

#include "host/kernel/platform.h"
#include "platform/Platform.h"

#include <atomic>

namespace {

void KfAcquireSpinLock_Release(benchmark::State& state)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    for (auto _ : state) {
        const KIRQL old = KfAcquireSpinLock(&lock);
        KfReleaseSpinLock(&lock, old);
    }
}
BENCHMARK(KfAcquireSpinLock_Release);

void KeWaitForSingleObject_SignalledSynchronizationEvent(benchmark::State& state)
{
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    for (auto _ : state) {
        KeSetEvent(&event, 0, FALSE);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    }
}
BENCHMARK(KeWaitForSingleObject_SignalledSynchronizationEvent);

struct DpcRound {
    KDPC dpc;
    KEVENT done;
};

VOID NTAPI signalDone(PKDPC, PVOID context, PVOID, PVOID)
{
    KeSetEvent(&static_cast<DpcRound*>(context)->done, 0, FALSE);
}

// Queue to run on the DPC thread and back: the latency a resubmitting DPC adds.
void KeInsertQueueDpc_RoundTrip(benchmark::State& state)
{
    korval::host::Platform platform;
    DpcRound round;
    KeInitializeDpc(&round.dpc, signalDone, &round);
    KeInitializeEvent(&round.done, SynchronizationEvent, FALSE);
    for (auto _ : state) {
        KeInsertQueueDpc(&round.dpc, nullptr, nullptr);
        KeWaitForSingleObject(&round.done, Executive, KernelMode, FALSE, nullptr);
    }
}
BENCHMARK(KeInsertQueueDpc_RoundTrip);

} // namespace
