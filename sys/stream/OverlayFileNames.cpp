#include "stream/OverlayFileNames.h"

#include "settings/RegistrySettings.h"

#include <cstring>

const WCHAR OVERLAY_FRAME_KEY_PATH[] =
    KTEXT("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters\\Frame");

namespace {

const WCHAR FOLDER_VALUE_NAME[] = KTEXT("PATH");
const WCHAR PICTURE_SUFFIX[] = KTEXT("p3.bmp");
const WCHAR MASK_SUFFIX[] = KTEXT("m3.bmp");

// Reads a string value of at most MaxChars characters into Buffer, which has
// room for one more. The buffer is offered one character short and cleared
// first, so the value always ends in a terminator even at full length.
BOOLEAN ReadOverlayString(PCWSTR Name, PWCHAR Buffer, ULONG MaxChars)
{
    memset(Buffer, 0, (MaxChars + 1) * sizeof(WCHAR));
    const USHORT capacity = static_cast<USHORT>(MaxChars * sizeof(WCHAR));
    if (!NT_SUCCESS(ReadString(OVERLAY_FRAME_KEY_PATH, Name, Buffer, capacity))) {
        return FALSE;
    }
    // A missing value reads as the empty default: treated as missing.
    return Buffer[0] != 0;
}

BOOLEAN IsPlainName(PCWSTR Name)
{
    for (; *Name != 0; ++Name) {
        if (*Name == '\\' || *Name == '/' || *Name == ':') {
            return FALSE;
        }
    }
    return TRUE;
}

// Appends terminated Text at *Position; FALSE when it would not fit with its terminator.
BOOLEAN Append(PWCHAR Name, ULONG Capacity, ULONG* Position, PCWSTR Text)
{
    for (; *Text != 0; ++Text) {
        if (*Position + 1 >= Capacity) {
            return FALSE;
        }
        Name[(*Position)++] = *Text;
    }
    Name[*Position] = 0;
    return TRUE;
}

BOOLEAN BuildFileName(PCWSTR Folder, PCWSTR Stem, PCWSTR Suffix, PWCHAR Name)
{
    ULONG position = 0;
    Name[0] = 0;
    if (!Append(Name, OVERLAY_FILE_NAME_CHARS, &position, Folder)) {
        return FALSE;
    }
    // A folder written with its closing separator gets no second one.
    const WCHAR* separator = Name[position - 1] == '\\' ? KTEXT("") : KTEXT("\\");
    return Append(Name, OVERLAY_FILE_NAME_CHARS, &position, separator) &&
           Append(Name, OVERLAY_FILE_NAME_CHARS, &position, Stem) &&
           Append(Name, OVERLAY_FILE_NAME_CHARS, &position, Suffix);
}

} // namespace

VOID FormatOverlayStemName(ULONG FrameNumber, WCHAR (&Name)[16])
{
    const LONG signedNumber = static_cast<LONG>(FrameNumber);
    ULONG magnitude = signedNumber < 0 ? 0u - FrameNumber : FrameNumber;
    WCHAR digits[10];
    ULONG count = 0;
    do {
        digits[count++] = static_cast<WCHAR>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count < 4) {
        digits[count++] = '0';
    }
    ULONG position = 0;
    Name[position++] = 'F';
    Name[position++] = 'N';
    if (signedNumber < 0) {
        Name[position++] = '-';
    }
    while (count != 0) {
        Name[position++] = digits[--count];
    }
    Name[position] = 0;
}

BOOLEAN ReadOverlayFileNames(ULONG FrameNumber, POVERLAY_FILE_NAMES Names)
{
    WCHAR folder[OVERLAY_FOLDER_CHARS + 1];
    WCHAR stem[OVERLAY_STEM_CHARS + 1];
    WCHAR stemName[16];
    if (Names == nullptr || !ReadOverlayString(FOLDER_VALUE_NAME, folder, OVERLAY_FOLDER_CHARS)) {
        return FALSE;
    }
    FormatOverlayStemName(FrameNumber, stemName);
    if (!ReadOverlayString(stemName, stem, OVERLAY_STEM_CHARS) || !IsPlainName(stem)) {
        return FALSE;
    }
    return BuildFileName(folder, stem, PICTURE_SUFFIX, Names->wszPicture) &&
           BuildFileName(folder, stem, MASK_SUFFIX, Names->wszMask);
}
