// The sizes and field offsets of the platform records, as text kept in the
// object's .layout section: compiled once against our declarations and once
// against the DDK (KORVAL_WIN32) for i686, the two texts must be identical.
// Nothing runs: the text is made at compile time and read with objcopy.
#include "base/DeviceContext.h"
#include "platform/Platform.h"

#include <array>
#include <cstddef>

namespace {

struct tagLayoutLine {
    const char* pszName;
    const char* pszField;
    unsigned long ulValue;
};

#define R(record) {#record, "", sizeof(record)},
#define F(record, field) {#record, #field, offsetof(record, field)},
constexpr tagLayoutLine LINES[] = {
#include "win32/layout/RecordFields.inc"
};
#undef R
#undef F

constexpr size_t Length(const char* text)
{
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

constexpr size_t Digits(unsigned long value)
{
    size_t digits = 1;
    for (; value >= 10; value /= 10) {
        ++digits;
    }
    return digits;
}

// "record size" or "record.field offset", one per line.
constexpr size_t TextLength()
{
    size_t total = 0;
    for (const tagLayoutLine& line : LINES) {
        const size_t field = Length(line.pszField);
        total += Length(line.pszName) + (field ? field + 1 : 0) + 1 + Digits(line.ulValue) + 1;
    }
    return total;
}

template <size_t N>
constexpr void Append(std::array<char, N>& text, size_t& at, const char* part)
{
    while (*part != 0) {
        text[at++] = *part++;
    }
}

constexpr std::array<char, TextLength()> MakeText()
{
    std::array<char, TextLength()> text{};
    size_t at = 0;
    for (const tagLayoutLine& line : LINES) {
        Append(text, at, line.pszName);
        if (line.pszField[0] != 0) {
            text[at++] = '.';
            Append(text, at, line.pszField);
        }
        text[at++] = ' ';
        const size_t digits = Digits(line.ulValue);
        for (size_t i = 0, value = line.ulValue; i < digits; ++i, value /= 10) {
            text[at + digits - 1 - i] = static_cast<char>('0' + value % 10);
        }
        at += digits;
        text[at++] = '\n';
    }
    return text;
}

} // namespace

[[gnu::used, gnu::section(".layout")]] extern const std::array<char, TextLength()> KorvalRecordLayout = MakeText();
