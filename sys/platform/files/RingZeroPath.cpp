#include "platform/files/RingZeroPath.h"

namespace {

const CHAR KERNEL_PREFIX[] = "\\DosDevices\\";

BOOLEAN IsDriveLetter(CHAR c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

BOOLEAN IsNameCharacter(CHAR c)
{
    const UCHAR byte = static_cast<UCHAR>(c);
    if (byte < 0x20 || byte >= 0x7F) {
        return FALSE;
    }
    for (const CHAR* reserved = "<>:\"/|?*"; *reserved != 0; ++reserved) {
        if (c == *reserved) {
            return FALSE;
        }
    }
    return TRUE;
}

// Checks the components after "X:\": each one non-empty, not "." or "..".
BOOLEAN ValidComponents(PCSTR Rest)
{
    ULONG length = 0;
    ULONG dots = 0;
    for (;; ++Rest) {
        if (*Rest == '\\' || *Rest == 0) {
            if (length == 0 || length == dots) {
                return FALSE;
            }
            if (*Rest == 0) {
                return TRUE;
            }
            length = dots = 0;
            continue;
        }
        if (!IsNameCharacter(*Rest)) {
            return FALSE;
        }
        ++length;
        dots += *Rest == '.' ? 1 : 0;
    }
}

// Appends Text widened; FALSE when it would not fit with a terminator.
BOOLEAN Append(PWCHAR Path, ULONG Capacity, ULONG* Position, PCSTR Text)
{
    for (; *Text != 0; ++Text) {
        if (*Position + 1 >= Capacity) {
            return FALSE;
        }
        Path[(*Position)++] = static_cast<WCHAR>(static_cast<UCHAR>(*Text));
    }
    Path[*Position] = 0;
    return TRUE;
}

} // namespace

BOOLEAN RingZeroKernelPath(PCSTR FileName, PWCHAR Path, ULONG Capacity)
{
    if (FileName == nullptr || Path == nullptr || Capacity == 0) {
        return FALSE;
    }
    Path[0] = 0;
    if (!IsDriveLetter(FileName[0]) || FileName[1] != ':' || FileName[2] != '\\' || !ValidComponents(FileName + 3)) {
        return FALSE;
    }
    ULONG position = 0;
    if (!Append(Path, Capacity, &position, KERNEL_PREFIX) || !Append(Path, Capacity, &position, FileName)) {
        Path[0] = 0;
        return FALSE;
    }
    return TRUE;
}
