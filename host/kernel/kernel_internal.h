// Helpers shared by the emulated kernel's implementation files.
#pragma once

#include "platform/Kernel.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace korval::host {

void raiseIrql(std::uint8_t level);
void lowerIrql(std::uint8_t level);
void noteSpinLockAcquired();
void noteSpinLockReleased();
// Bug check when the caller runs above `level` (a pageable or blocking service).
void requireIrqlAtMost(std::uint8_t level, const char* function);

// Conversions between the kernel's UTF-16 strings and UTF-8.
std::string toUtf8(const WCHAR* text, std::size_t units);
std::string toUtf8(PCWSTR text); // null-terminated; empty for null
std::string toUtf8(PCUNICODE_STRING text);
std::u16string toUtf16(std::string_view utf8);
std::string foldCase(std::string_view text); // ASCII case folding, as the registry and file names compare
// The pool tag of the string buffers the kernel's services allocate for a caller.
constexpr ULONG kStringTag = 0x72745355; // "UStr"
// The first line of a registry file, as regedit writes it.
constexpr std::string_view kRegistryFileHeader = "Windows Registry Editor Version 5.00";

} // namespace korval::host

#include <mutex>

namespace korval::host {

// The dispatcher database: every signal state is read and changed under this
// lock, and every change notifies the waiters.
std::mutex& dispatcherMutex();
void notifyDispatcherLocked(); // with dispatcherMutex() held

// Converts a kernel time-out (null = for ever, 0 = poll, < 0 relative,
// > 0 absolute system time) into a clock deadline; -1 means for ever.
std::int64_t deadlineFromTimeout(const LARGE_INTEGER* timeout);
std::int64_t systemTimeAtClockZero();

} // namespace korval::host

namespace korval::host {

std::string guidString(const GUID& guid); // "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"
// A pool copy of `text` in `target` (terminated, freed with RtlFreeUnicodeString); false when out of pool.
bool allocateUnicodeString(PUNICODE_STRING target, const std::string& text);

} // namespace korval::host
