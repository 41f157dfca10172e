// Counted strings of the run-time library, and the UTF-8 conversions the
// emulated kernel uses to keep its own names.
#include "host/kernel/irql.h"
#include "host/kernel/kernel_internal.h"

#include <cstdio>

namespace korval::host {
namespace {

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::size_t wideLength(PCWSTR text)
{
    std::size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

WCHAR upcase(WCHAR c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - u'a' + u'A') : c;
}

} // namespace

std::string toUtf8(const WCHAR* text, std::size_t units)
{
    std::string out;
    for (std::size_t i = 0; i < units; ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, code);
    }
    return out;
}

std::string toUtf8(PCWSTR text)
{
    return text == nullptr ? std::string() : toUtf8(text, wideLength(text));
}

std::string toUtf8(PCUNICODE_STRING text)
{
    if (text == nullptr || text->Buffer == nullptr) {
        return {};
    }
    return toUtf8(text->Buffer, text->Length / sizeof(WCHAR));
}

std::u16string toUtf16(std::string_view utf8)
{
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        const int extra = byte < 0x80 ? 0 : byte < 0xE0 ? 1 : byte < 0xF0 ? 2 : 3;
        char32_t code = extra == 0 ? byte : byte & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

std::string foldCase(std::string_view text)
{
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return folded;
}

} // namespace korval::host

using namespace korval::host;

extern "C" SIZE_T NTAPI RtlCompareMemory(const VOID* Source1, const VOID* Source2, SIZE_T Length)
{
    const auto* a = static_cast<const UCHAR*>(Source1);
    const auto* b = static_cast<const UCHAR*>(Source2);
    SIZE_T same = 0;
    while (same < Length && a[same] == b[same]) {
        ++same;
    }
    return same;
}

extern "C" VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString)
{
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
    if (SourceString == nullptr) {
        DestinationString->Length = DestinationString->MaximumLength = 0;
        return;
    }
    std::size_t bytes = wideLength(SourceString) * sizeof(WCHAR);
    if (bytes > 0xFFFC) {
        bytes = 0xFFFC; // the largest even length a counted string holds with its terminator
    }
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
}

extern "C" VOID NTAPI RtlInitAnsiString(PANSI_STRING DestinationString, PCSTR SourceString)
{
    DestinationString->Buffer = const_cast<PCHAR>(SourceString);
    if (SourceString == nullptr) {
        DestinationString->Length = DestinationString->MaximumLength = 0;
        return;
    }
    std::size_t bytes = strlen(SourceString);
    if (bytes > 0xFFFE) {
        bytes = 0xFFFE;
    }
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + 1);
}

extern "C" VOID NTAPI RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString)
{
    if (SourceString == nullptr || SourceString->Buffer == nullptr) {
        DestinationString->Length = 0;
        return;
    }
    USHORT bytes = SourceString->Length < DestinationString->MaximumLength ? SourceString->Length
                                                                           : DestinationString->MaximumLength;
    bytes &= ~1u;
    memmove(DestinationString->Buffer, SourceString->Buffer, bytes);
    DestinationString->Length = bytes;
    if (bytes + sizeof(WCHAR) <= DestinationString->MaximumLength) {
        DestinationString->Buffer[bytes / sizeof(WCHAR)] = 0;
    }
}

extern "C" NTSTATUS NTAPI RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source)
{
    if (Source == nullptr || Source->Length == 0) {
        return STATUS_SUCCESS;
    }
    const ULONG total = static_cast<ULONG>(Destination->Length) + Source->Length;
    if (total > Destination->MaximumLength) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    memmove(reinterpret_cast<PUCHAR>(Destination->Buffer) + Destination->Length, Source->Buffer, Source->Length);
    Destination->Length = static_cast<USHORT>(total);
    if (total + sizeof(WCHAR) <= Destination->MaximumLength) {
        Destination->Buffer[total / sizeof(WCHAR)] = 0;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source)
{
    UNICODE_STRING source;
    RtlInitUnicodeString(&source, Source);
    return RtlAppendUnicodeStringToString(Destination, &source);
}

extern "C" WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR SourceCharacter)
{
    return upcase(SourceCharacter);
}

extern "C" LONG NTAPI RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                                              BOOLEAN CaseInSensitive)
{
    const std::size_t length1 = String1->Length / sizeof(WCHAR);
    const std::size_t length2 = String2->Length / sizeof(WCHAR);
    for (std::size_t i = 0; i < length1 && i < length2; ++i) {
        WCHAR a = String1->Buffer[i];
        WCHAR b = String2->Buffer[i];
        if (CaseInSensitive) {
            a = upcase(a);
            b = upcase(b);
        }
        if (a != b) {
            return static_cast<LONG>(a) - static_cast<LONG>(b);
        }
    }
    return static_cast<LONG>(length1) - static_cast<LONG>(length2);
}

extern "C" BOOLEAN NTAPI RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                                               BOOLEAN CaseInSensitive)
{
    return String1->Length == String2->Length && RtlCompareUnicodeString(String1, String2, CaseInSensitive) == 0;
}

extern "C" NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString, PCANSI_STRING SourceString,
                                                       BOOLEAN AllocateDestinationString)
{
    const ULONG bytes = static_cast<ULONG>(SourceString->Length) * sizeof(WCHAR);
    if (bytes + sizeof(WCHAR) > 0xFFFF) {
        return STATUS_INVALID_PARAMETER;
    }
    if (AllocateDestinationString) {
        DestinationString->Buffer =
            static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), kStringTag));
        if (DestinationString->Buffer == nullptr) {
            return STATUS_NO_MEMORY;
        }
        DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    } else if (bytes > DestinationString->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (USHORT i = 0; i < SourceString->Length; ++i) {
        DestinationString->Buffer[i] = static_cast<UCHAR>(SourceString->Buffer[i]);
    }
    DestinationString->Length = static_cast<USHORT>(bytes);
    if (bytes + sizeof(WCHAR) <= DestinationString->MaximumLength) {
        DestinationString->Buffer[SourceString->Length] = 0;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI RtlUnicodeStringToAnsiString(PANSI_STRING DestinationString, PCUNICODE_STRING SourceString,
                                                       BOOLEAN AllocateDestinationString)
{
    const USHORT characters = SourceString->Length / sizeof(WCHAR);
    if (AllocateDestinationString) {
        DestinationString->Buffer = static_cast<PCHAR>(ExAllocatePoolWithTag(PagedPool, characters + 1u, kStringTag));
        if (DestinationString->Buffer == nullptr) {
            return STATUS_NO_MEMORY;
        }
        DestinationString->MaximumLength = static_cast<USHORT>(characters + 1);
    } else if (characters > DestinationString->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (USHORT i = 0; i < characters; ++i) {
        const WCHAR c = SourceString->Buffer[i];
        DestinationString->Buffer[i] = c < 0x100 ? static_cast<CHAR>(c) : '?';
    }
    DestinationString->Length = characters;
    if (characters < DestinationString->MaximumLength) {
        DestinationString->Buffer[characters] = 0;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String)
{
    if (Base == 0) {
        Base = 10;
    }
    if (Base != 2 && Base != 8 && Base != 10 && Base != 16) {
        return STATUS_INVALID_PARAMETER;
    }
    char digits[40];
    int count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[Value % Base];
        Value /= Base;
    } while (Value != 0);
    const USHORT bytes = static_cast<USHORT>(count * sizeof(WCHAR));
    if (bytes > String->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (int i = 0; i < count; ++i) {
        String->Buffer[i] = static_cast<WCHAR>(digits[count - 1 - i]);
    }
    String->Length = bytes;
    if (bytes + sizeof(WCHAR) <= String->MaximumLength) {
        String->Buffer[count] = 0;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value)
{
    const std::string text = toUtf8(String);
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i++] == '-';
    }
    if (Base == 0) {
        Base = 10;
        if (i + 1 < text.size() && text[i] == '0') {
            const char prefix = text[i + 1];
            Base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
            i += Base == 10 ? 0 : 2;
        }
    } else if (Base != 2 && Base != 8 && Base != 10 && Base != 16) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG result = 0;
    for (; i < text.size(); ++i) {
        const char c = static_cast<char>(foldCase(std::string(1, text[i]))[0]);
        const ULONG digit = (c >= '0' && c <= '9') ? static_cast<ULONG>(c - '0')
                            : (c >= 'A' && c <= 'F') ? static_cast<ULONG>(c - 'A' + 10)
                                                     : 99;
        if (digit >= Base) {
            break;
        }
        result = result * Base + digit;
    }
    *Value = negative ? 0u - result : result;
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString)
{
    if (UnicodeString->Buffer != nullptr) {
        ExFreePool(UnicodeString->Buffer);
    }
    UnicodeString->Buffer = nullptr;
    UnicodeString->Length = UnicodeString->MaximumLength = 0;
}

extern "C" VOID NTAPI RtlFreeAnsiString(PANSI_STRING AnsiString)
{
    if (AnsiString->Buffer != nullptr) {
        ExFreePool(AnsiString->Buffer);
    }
    AnsiString->Buffer = nullptr;
    AnsiString->Length = AnsiString->MaximumLength = 0;
}

extern "C" NTSTATUS NTAPI RtlStringFromGUID(const GUID* Guid, PUNICODE_STRING GuidString)
{
    return allocateUnicodeString(GuidString, guidString(*Guid)) ? STATUS_SUCCESS : STATUS_NO_MEMORY;
}
