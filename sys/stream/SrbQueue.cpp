#include "stream/SrbQueue.h"

namespace {

tagSrbLink* LinkOf(PHW_STREAM_REQUEST_BLOCK Srb)
{
    return static_cast<tagSrbLink*>(Srb->SRBExtension);
}

tagSrbLink* LinkFromEntry(PLIST_ENTRY Entry)
{
    return reinterpret_cast<tagSrbLink*>(reinterpret_cast<PUCHAR>(Entry) -
                                         offsetof(tagSrbLink, ListEntry));
}

VOID InsertTail(PLIST_ENTRY Head, PLIST_ENTRY Entry)
{
    Entry->Flink = Head;
    Entry->Blink = Head->Blink;
    Head->Blink->Flink = Entry;
    Head->Blink = Entry;
}

VOID Unlink(PLIST_ENTRY Entry)
{
    Entry->Blink->Flink = Entry->Flink;
    Entry->Flink->Blink = Entry->Blink;
    Entry->Flink = Entry->Blink = Entry;
}

PHW_STREAM_REQUEST_BLOCK RemoveHead(PLIST_ENTRY Head)
{
    if (Head->Flink == Head) {
        return nullptr;
    }
    PLIST_ENTRY entry = Head->Flink;
    Unlink(entry);
    return LinkFromEntry(entry)->pSrb;
}

} // namespace

VOID CompleteStreamSrb(PHW_STREAM_REQUEST_BLOCK Srb, PVOID Context)
{
    (void)Context;
    StreamClassStreamNotification(StreamRequestComplete, Srb->StreamObject, Srb);
}

VOID SrbQueueInitialize(tagSrbQueueFields* Queue)
{
    Queue->List.Flink = Queue->List.Blink = &Queue->List;
    KeInitializeSpinLock(&Queue->Lock);
    Queue->bBusy = FALSE;
    Queue->bInitialized = TRUE;
}

BOOLEAN SrbQueueSubmit(tagSrbQueueFields* Queue, PHW_STREAM_REQUEST_BLOCK Srb)
{
    tagSrbLink* link = LinkOf(Srb);
    link->pSrb = Srb;
    const KIRQL oldIrql = KfAcquireSpinLock(&Queue->Lock);
    const BOOLEAN owner = !Queue->bBusy;
    if (owner) {
        Queue->bBusy = TRUE;
    } else {
        InsertTail(&Queue->List, &link->ListEntry);
    }
    KfReleaseSpinLock(&Queue->Lock, oldIrql);
    return owner;
}

PHW_STREAM_REQUEST_BLOCK SrbQueueTakeNext(tagSrbQueueFields* Queue)
{
    const KIRQL oldIrql = KfAcquireSpinLock(&Queue->Lock);
    PHW_STREAM_REQUEST_BLOCK next = RemoveHead(&Queue->List);
    if (next == nullptr) {
        Queue->bBusy = FALSE;
    }
    KfReleaseSpinLock(&Queue->Lock, oldIrql);
    return next;
}

BOOLEAN SrbQueueRemove(tagSrbQueueFields* Queue, PHW_STREAM_REQUEST_BLOCK Srb)
{
    BOOLEAN found = FALSE;
    const KIRQL oldIrql = KfAcquireSpinLock(&Queue->Lock);
    for (PLIST_ENTRY entry = Queue->List.Flink; entry != &Queue->List; entry = entry->Flink) {
        if (LinkFromEntry(entry)->pSrb == Srb) {
            Unlink(entry);
            found = TRUE;
            break;
        }
    }
    KfReleaseSpinLock(&Queue->Lock, oldIrql);
    return found;
}

VOID SrbQueueFlush(tagSrbQueueFields* Queue, PSRB_COMPLETE Flush, PVOID Context)
{
    const KIRQL oldIrql = KfAcquireSpinLock(&Queue->Lock);
    for (PHW_STREAM_REQUEST_BLOCK srb = RemoveHead(&Queue->List); srb != nullptr;
         srb = RemoveHead(&Queue->List)) {
        Flush(srb, Context);
    }
    KfReleaseSpinLock(&Queue->Lock, oldIrql);
}

VOID SrbQueueDrain(tagSrbQueueFields* Queue, PHW_STREAM_REQUEST_BLOCK First,
                   PSRB_HANDLER Handler, PSRB_COMPLETE Complete, PVOID Context)
{
    PHW_STREAM_REQUEST_BLOCK current = First;
    while (current != nullptr) {
        Handler(current, Context);
        PHW_STREAM_REQUEST_BLOCK next = SrbQueueTakeNext(Queue);
        Complete(current, Context);
        current = next;
    }
}

VOID SrbQueueSubmitAndDrain(tagSrbQueueFields* Queue, PHW_STREAM_REQUEST_BLOCK Srb,
                            PSRB_HANDLER Handler, PSRB_COMPLETE Complete, PVOID Context)
{
    if (SrbQueueSubmit(Queue, Srb)) {
        SrbQueueDrain(Queue, Srb, Handler, Complete, Context);
    }
}
