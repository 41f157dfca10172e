// What the bus records of every URB it is sent, and the scripted faults that
// make chosen requests fail, stall, go unanswered or come back short.
#pragma once

#include "platform/Usb.h"

#include <cstdint>
#include <optional>

namespace korval::host {

struct UrbTraceEntry {
    std::uint64_t sequence = 0;
    std::uint64_t frame = 0;            // bus frame at submission
    std::uint16_t function = 0;         // URB_FUNCTION_*
    std::uint8_t endpoint = 0;          // endpoint address of a pipe request or transfer
    std::uint8_t request = 0;           // control requests: bRequest
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint32_t requestedLength = 0;  // TransferBufferLength as submitted
    std::uint32_t transferredLength = 0;
    std::uint8_t alternate = 0;         // select interface: the setting asked for
    bool completed = false;
    bool completedAtOnce = false;       // on the caller's thread, before IofCallDriver returned
    USBD_STATUS status = USBD_STATUS_PENDING;
    NTSTATUS ntStatus = STATUS_PENDING;
};

struct UrbFault {
    enum class Effect {
        Complete,      // complete at once with `status` (success or failure)
        Stall,         // the endpoint stalls: USBD_STATUS_STALL_PID, bulk/interrupt pipes halt
        NoAnswer,      // stays pending until cancelled, aborted or unplugged
        ShortTransfer, // the data stage moves only `bytes` bytes
        PacketError,   // isochronous: the next `times` packets of the pipe fail with `status`
    };
    std::uint16_t function = 0;
    std::optional<std::uint8_t> request;
    std::optional<std::uint16_t> index;
    std::optional<std::uint8_t> endpoint;
    Effect effect = Effect::Complete;
    USBD_STATUS status = USBD_STATUS_DEV_NOT_RESPONDING;
    std::uint32_t bytes = 0;
    int skip = 0;  // matching requests let through before the fault applies
    int times = 1; // requests (or packets) it applies to; negative: every one
};

} // namespace korval::host
