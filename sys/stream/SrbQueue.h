// A queue of pending stream requests that lets exactly one thread at a time
// handle the queue's SRBs, in arrival order, without the stream class
// serializing anything. The queue's fields live in DeviceContext; the link of
// each SRB lives in the SRB's per-request extension.
#pragma once

#include "base/DeviceContext.h"

// The per-request extension of every SRB: a list link and the owning SRB.
struct tagSrbLink {
    LIST_ENTRY ListEntry;
    PHW_STREAM_REQUEST_BLOCK pSrb;
};

// Handles one SRB: sets its Status (and whatever else it fills) but does not
// complete it; the drain completes it.
typedef VOID (*PSRB_HANDLER)(PHW_STREAM_REQUEST_BLOCK Srb, PVOID Context);
// Completes one SRB (the stream code passes CompleteStreamSrb). Also used for
// each SRB that SrbQueueFlush takes out, under the queue's lock.
typedef VOID (*PSRB_COMPLETE)(PHW_STREAM_REQUEST_BLOCK Srb, PVOID Context);

// StreamRequestComplete to the stream class.
VOID CompleteStreamSrb(PHW_STREAM_REQUEST_BLOCK Srb, PVOID Context);

// Runs once before any SRB can arrive (device initialization).
VOID SrbQueueInitialize(tagSrbQueueFields* Queue);

// One atomic step under the queue's lock: TRUE when the queue was idle and the
// caller now owns it (and must drain it, starting with Srb); FALSE when Srb was
// appended behind the running drain.
BOOLEAN SrbQueueSubmit(tagSrbQueueFields* Queue, PHW_STREAM_REQUEST_BLOCK Srb);

// Owner only: the next SRB (busy stays set), or null after clearing busy.
PHW_STREAM_REQUEST_BLOCK SrbQueueTakeNext(tagSrbQueueFields* Queue);

// Takes Srb out of the queue if it is still waiting there; TRUE when it was.
BOOLEAN SrbQueueRemove(tagSrbQueueFields* Queue, PHW_STREAM_REQUEST_BLOCK Srb);

// Takes every waiting SRB out of the queue and hands each to Flush while the
// lock is held (stop cancels the queued reads this way).
VOID SrbQueueFlush(tagSrbQueueFields* Queue, PSRB_COMPLETE Flush, PVOID Context);

// Owner only: handles First and then every SRB appended meanwhile. Each SRB is
// completed only after the next one has been taken (or busy cleared), so the
// drain never touches the queue after its last completion.
VOID SrbQueueDrain(tagSrbQueueFields* Queue, PHW_STREAM_REQUEST_BLOCK First,
                   PSRB_HANDLER Handler, PSRB_COMPLETE Complete, PVOID Context);

// Submit, and drain when this call became the owner.
VOID SrbQueueSubmitAndDrain(tagSrbQueueFields* Queue, PHW_STREAM_REQUEST_BLOCK Srb,
                            PSRB_HANDLER Handler, PSRB_COMPLETE Complete, PVOID Context);
