// A registry file as it was read: the bytes of every line, in the file's own
// encoding, with what each line means. Saving writes each line back as it was
// unless the value it holds changed, so a file a person edited (comments, blank
// lines, spacing, continuation lines, the editor's encoding) keeps all of that.
#pragma once

#include "host/kernel/registry_value.h"

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace korval::host {

struct RegistryDocument {
    enum class Encoding { Utf8, Utf16 }; // UTF-16 little-endian with its byte-order mark

    enum class Kind {
        Other,   // header, comment, blank line, key deletion
        Key,     // "[key]"
        Value,   // "name"=data
        Removal, // "name"=- inside a key
    };
    struct Line {
        Kind kind = Kind::Other;
        std::string bytes; // as in the file: line ends and continuation lines included
        std::string key;   // folded canonical key of the block the line sits in
        std::string name;  // folded value name (Value and Removal)
        bool live = false; // Value: the value as loaded came from it; Key: the key existed once read
        RegistryValue loaded;
    };

    Encoding encoding = Encoding::Utf8;
    std::string mark;           // the byte-order mark the file began with, if any
    std::string newline = "\n"; // in UTF-8; that of the file's first line
    std::vector<Line> lines;
    std::set<std::string> keys; // folded, every key that existed once the file was read

    // UTF-8 text with '\n' line ends in the file's encoding and line ends.
    std::string encode(std::string_view text) const;
};

// Windows' limits on what a key path and a value name may hold.
constexpr std::size_t kMaxKeyDepth = 512;          // levels below HKEY_LOCAL_MACHINE
constexpr std::size_t kMaxKeyNameLength = 255;     // characters of one level's name
constexpr std::size_t kMaxValueNameLength = 16383; // characters

// Characters (UTF-16 units) that valid UTF-8 text takes.
std::size_t utf16Length(std::string_view utf8);
// Whether the text is UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool validUtf8(std::string_view text);
// Throws std::invalid_argument when a key level or value name cannot be
// written to the file and read back (line breaks, not UTF-8) or is longer than
// Windows allows; `what` says which ("key name", "value name").
void requireWritableName(std::string_view name, std::size_t maxLength, std::string_view what);

} // namespace korval::host
