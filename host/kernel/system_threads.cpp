#include "host/kernel/system_threads.h"

#include "host/kernel/bug_check.h"
#include "host/kernel/handle_table.h"
#include "host/kernel/irql.h"
#include "host/kernel/kernel_internal.h"
#include "host/kernel/platform_state.h"

#include <chrono>
#include <set>
#include <thread>

struct _OBJECT_TYPE {
    const char* name;
};

namespace {
_OBJECT_TYPE threadType{"Thread"};
POBJECT_TYPE threadTypePointer = &threadType;
} // namespace

extern "C" {
POBJECT_TYPE* PsThreadType = &threadTypePointer;
}

namespace korval::host {
namespace {

// The object behind a thread handle; KTHREAD first, so the object pointer is the record.
struct ThreadRecord {
    KTHREAD object{};
    long references = 0; // under objectsMutex()
    std::uint64_t id = 0;
};
static_assert(offsetof(ThreadRecord, object) == 0);

std::mutex& objectsMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::set<const void*>& liveObjects()
{
    static auto* objects = new std::set<const void*>;
    return *objects;
}

thread_local ThreadRecord* currentRecord = nullptr;

struct ThreadTermination {
    NTSTATUS status;
};

class ThreadHandle : public HandleObject {
public:
    explicit ThreadHandle(ThreadRecord* record) : record_(record) {}
    ~ThreadHandle() override { dereferenceKernelObject(&record_->object, nullptr); }
    std::string describe() const override { return "thread " + std::to_string(record_->id); }
    ThreadRecord* record() const { return record_; }

private:
    ThreadRecord* record_;
};

void signalEnded(ThreadRecord* record)
{
    std::lock_guard lock(dispatcherMutex());
    record->object.Header.SignalState = 1;
    notifyDispatcherLocked();
}

void checkThreadEnd()
{
    if (currentIrql() != PASSIVE_LEVEL) {
        bugCheck("a system thread ended at an IRQL above PASSIVE_LEVEL");
    }
    if (spinLocksHeld() != 0) {
        bugCheck("a system thread ended holding a spin lock");
    }
}

} // namespace

struct SystemThreadStart {
    static void run(SystemThreads* owner, ThreadRecord* record, PKSTART_ROUTINE start, PVOID context)
    {
        currentRecord = record;
        try {
            start(context);
        } catch (const ThreadTermination&) {
        }
        checkThreadEnd();
        currentRecord = nullptr;
        signalEnded(record);
        dereferenceKernelObject(&record->object, nullptr);
        owner->finished();
    }
};

bool referenceKernelObject(PVOID object)
{
    std::lock_guard lock(objectsMutex());
    if (liveObjects().count(object) == 0) {
        return false;
    }
    ++static_cast<ThreadRecord*>(object)->references;
    return true;
}

bool dereferenceKernelObject(PVOID object, LONG_PTR* remaining)
{
    ThreadRecord* record = nullptr;
    {
        std::lock_guard lock(objectsMutex());
        if (liveObjects().count(object) == 0) {
            return false;
        }
        record = static_cast<ThreadRecord*>(object);
        const long left = --record->references;
        if (remaining != nullptr) {
            *remaining = left;
        }
        if (left > 0) {
            return true;
        }
        liveObjects().erase(object);
    }
    delete record;
    return true;
}

SystemThreads::~SystemThreads()
{
    waitForAll();
}

void SystemThreads::waitForAll()
{
    std::unique_lock lock(mutex_);
    if (!allDone_.wait_for(lock, std::chrono::seconds(30), [this] { return running_ == 0; })) {
        bugCheck("system threads still running when the platform shuts down: " + std::to_string(running_));
    }
}

std::size_t SystemThreads::running() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

void SystemThreads::finished()
{
    std::lock_guard lock(mutex_);
    --running_;
    allDone_.notify_all();
}

NTSTATUS SystemThreads::create(PHANDLE handle, PCLIENT_ID clientId, PKSTART_ROUTINE start, PVOID context)
{
    static std::uint64_t nextId = 1;
    auto* record = new ThreadRecord;
    record->object.Header.Type = ThreadObject;
    record->object.HostThread = record;
    {
        std::lock_guard lock(objectsMutex());
        record->references = 2; // the handle and the running thread
        record->id = nextId++;
        liveObjects().insert(record);
    }
    *handle = Platform::current().state().handles.insert(std::make_shared<ThreadHandle>(record));
    if (clientId != nullptr) {
        clientId->UniqueProcess = reinterpret_cast<HANDLE>(4);
        clientId->UniqueThread = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(record->id * 4));
    }
    {
        std::lock_guard lock(mutex_);
        ++running_;
    }
    std::thread(SystemThreadStart::run, this, record, start, context).detach();
    return STATUS_SUCCESS;
}

PKTHREAD threadObjectOfHandle(HANDLE handle)
{
    auto thread = Platform::current().state().handles.findAs<ThreadHandle>(handle);
    return thread ? &thread->record()->object : nullptr;
}

PKTHREAD currentThreadObject()
{
    return currentRecord != nullptr ? &currentRecord->object : nullptr;
}

[[noreturn]] void terminateCurrentThread(NTSTATUS status)
{
    if (currentRecord == nullptr) {
        bugCheck("PsTerminateSystemThread called from a thread that is not a system thread");
    }
    throw ThreadTermination{status};
}

} // namespace korval::host
