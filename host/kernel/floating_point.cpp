// KeSaveFloatingPointState and KeRestoreFloatingPointState with the verifier's
// bookkeeping: each thread keeps the stack of its saved states, so a restore
// out of order, on another thread or at another IRQL stops the test, and
// floating-point code entered with an empty stack is reported by name.
#include "host/kernel/bug_check.h"
#include "host/kernel/irql.h"
#include "platform/Kernel.h"
#include "platform/KernelFloatingPoint.h"

#include <string>

namespace korval::host {
namespace {

constexpr ULONG kSavedMark = 0x5346504B; // "KPFS"
constexpr int kMostNested = 16;

struct ThreadFloatingPoint {
    const KFLOATING_SAVE* saves[kMostNested] = {};
    int depth = 0;
};

thread_local ThreadFloatingPoint threadState;

} // namespace
} // namespace korval::host

using korval::host::bugCheck;
using korval::host::threadState;

NTSTATUS NTAPI KeSaveFloatingPointState(PKFLOATING_SAVE FloatSave)
{
    const KIRQL irql = korval::host::currentIrql();
    if (irql > DISPATCH_LEVEL) {
        bugCheck("KeSaveFloatingPointState above DISPATCH_LEVEL");
    }
    if (threadState.depth == korval::host::kMostNested) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    *FloatSave = KFLOATING_SAVE{};
#if defined(__i386__)
    // The caller's x87 control word comes back with the restore, whatever the
    // bracket set inside (the driver sets double precision there).
    USHORT control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    FloatSave->ControlWord = control;
#endif
    FloatSave->Spare1 = korval::host::kSavedMark;
    FloatSave->Cr0NpxState = irql;
    threadState.saves[threadState.depth++] = FloatSave;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI KeRestoreFloatingPointState(PKFLOATING_SAVE FloatSave)
{
    if (FloatSave->Spare1 != korval::host::kSavedMark) {
        bugCheck("KeRestoreFloatingPointState of a state that was not saved");
    }
    if (threadState.depth == 0 || threadState.saves[threadState.depth - 1] != FloatSave) {
        bugCheck("KeRestoreFloatingPointState out of order or on another thread");
    }
    if (FloatSave->Cr0NpxState != korval::host::currentIrql()) {
        bugCheck("KeRestoreFloatingPointState at another IRQL than the save");
    }
#if defined(__i386__)
    const USHORT control = static_cast<USHORT>(FloatSave->ControlWord);
    __asm__ volatile("fldcw %0" : : "m"(control));
#endif
    FloatSave->Spare1 = 0;
    --threadState.depth;
    return STATUS_SUCCESS;
}

VOID KorvalVerifyFloatingPointState(PCSTR Function)
{
    if (threadState.depth == 0) {
        bugCheck(std::string("floating-point or SIMD code without a saved floating-point state in ") + Function);
    }
}
