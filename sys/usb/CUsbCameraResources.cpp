// The buffers and transfer contexts that Open makes for the streaming side,
// and their release. Every pointer is cleared as it is freed, so releasing
// is safe after a partial allocation and a second time.
#include "usb/CUsbCamera.h"

#include <cstring>

bool CUsbCamera::AllocateFrameBuffers()
{
    // Each buffer holds a frame cut at RAW_FRAME_CUT_BYTES whatever the size
    // given to Open.
    const ULONG wanted = FramePixels + RAW_FRAME_SLACK;
    FrameBufferBytes = wanted > RAW_FRAME_MIN_BYTES ? wanted : RAW_FRAME_MIN_BYTES;
    for (ULONG i = 0; i < RAW_FRAME_COUNT; ++i) {
        FrameBuffer[i] = static_cast<PUCHAR>(KorvalAllocate(FrameBufferBytes));
        if (FrameBuffer[i] == nullptr) {
            return false;
        }
        FrameLength[i] = 0;
    }
    CollectBuffer = static_cast<PUCHAR>(KorvalAllocate(FrameBufferBytes));
    CollectWrite = CollectBuffer;
    return CollectBuffer != nullptr;
}

VOID CUsbCamera::FreeFrameBuffers()
{
    KorvalFree(CollectBuffer);
    CollectBuffer = nullptr;
    CollectWrite = nullptr;
    CollectLength = 0;
    CollectState = 0;
    FrameOpen = 0;
    FrameCut = 0;
    for (ULONG i = 0; i < RAW_FRAME_COUNT; ++i) {
        KorvalFree(FrameBuffer[i]);
        FrameBuffer[i] = nullptr;
        FrameLength[i] = 0;
    }
    FrameBufferBytes = 0;
}

VOID CUsbCamera::ResetFrameHandOver()
{
    for (ULONG i = 0; i < RAW_FRAME_COUNT; ++i) {
        FrameLength[i] = 0;
    }
    NewestFrame = 0;
    FrameNumber = 0;
    KeClearEvent(&FrameReady);
    CollectWrite = CollectBuffer;
    CollectLength = 0;
    CollectState = 0;
    FrameOpen = 0;
    FrameCut = 0;
}

tagTransferContext* CUsbCamera::CreateTransferContext(UCHAR index, ULONG urbBytes, ULONG dataBytes,
                                                      PKDEFERRED_ROUTINE dpcRoutine)
{
    auto* context = static_cast<tagTransferContext*>(KorvalAllocate(sizeof(tagTransferContext)));
    if (context == nullptr) {
        return nullptr;
    }
    memset(context, 0, sizeof(*context));
    context->pOwner = this;
    context->ucIndex = index;
    KeInitializeDpc(&context->Dpc, dpcRoutine, context);
    context->pIrp = IoAllocateIrp(static_cast<CCHAR>(Device->PhysicalDeviceObject->StackSize + 1), FALSE);
    context->pUrb = static_cast<PURB>(KorvalAllocate(urbBytes));
    context->pData = static_cast<PUCHAR>(KorvalAllocate(dataBytes));
    if (context->pIrp == nullptr || context->pUrb == nullptr || context->pData == nullptr) {
        FreeTransferContext(context);
        return nullptr;
    }
    memset(context->pUrb, 0, urbBytes);
    memset(context->pData, 0, dataBytes);
    return context;
}

VOID CUsbCamera::FreeTransferContext(tagTransferContext* context)
{
    if (context == nullptr) {
        return;
    }
    if (context->pIrp != nullptr) {
        IoFreeIrp(context->pIrp);
    }
    KorvalFree(context->pUrb);
    KorvalFree(context->pData);
    KorvalFree(context);
}

bool CUsbCamera::CreateTransferContexts()
{
    StatusContext = CreateTransferContext(0, STATUS_URB_BYTES, STATUS_DATA_BYTES, StatusDpc);
    if (StatusContext == nullptr) {
        return false;
    }
    KeSetEvent(&StatusDrained, 0, FALSE);
    for (ULONG i = 0; i < VIDEO_TRANSFER_COUNT; ++i) {
        VideoContext[i] = CreateTransferContext(static_cast<UCHAR>(i), VIDEO_URB_BYTES, VIDEO_DATA_BYTES, VideoDpc);
        if (VideoContext[i] == nullptr) {
            return false;
        }
    }
    KeSetEvent(&VideoDrained, 0, FALSE);
    return true;
}

// A completion may have queued a resubmission DPC just before the transfers
// stopped: it is taken off the queue, or waited for, before its context goes.
VOID CUsbCamera::FreeTransferContexts()
{
    tagTransferContext* contexts[1 + VIDEO_TRANSFER_COUNT] = {StatusContext};
    for (ULONG i = 0; i < VIDEO_TRANSFER_COUNT; ++i) {
        contexts[1 + i] = VideoContext[i];
    }
    for (tagTransferContext* context : contexts) {
        if (context != nullptr) {
            KeRemoveQueueDpc(&context->Dpc);
        }
    }
    KeFlushQueuedDpcs();
    for (tagTransferContext* context : contexts) {
        FreeTransferContext(context);
    }
    StatusContext = nullptr;
    memset(VideoContext, 0, sizeof(VideoContext));
}

// Everything Open made, in reverse: used by Close and by a failed Open.
VOID CUsbCamera::ReleaseResources()
{
    FreeConfigDescriptor();
    FreeTransferContexts();
    KeClearEvent(&ButtonEvent);
    KeClearEvent(&StatusEvent);
    KeClearEvent(&StatusDrained);
    KeClearEvent(&VideoDrained);
    FreeFrameBuffers();
    NewestFrame = 0;
    FrameNumber = 0;
    KeClearEvent(&FrameReady);
    FreeRequestIrp();
}
