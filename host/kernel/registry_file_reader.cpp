// Reads a "Windows Registry Editor Version 5.00" file as Windows' editor
// writes it (UTF-16 with a byte-order mark, CR LF, hex(n): values continued
// over lines) or as a person or this platform writes it (UTF-8, with or
// without a byte-order mark). What it cannot read exactly it refuses with the
// line's number: text that is not valid in the file's encoding (a Latin-1
// "Café" in a UTF-8 file could as well be any other code page), escapes the
// editor never writes, keys and names past Windows' limits.
#include "host/kernel/kernel_internal.h"
#include "host/kernel/registry.h"

#include <cstring>
#include <unordered_map>

namespace korval::host {
namespace {

constexpr std::string_view kUtf16Mark = "\xFF\xFE";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

struct PhysicalLine {
    std::string text;  // UTF-8, without its line end
    std::string bytes; // as in the file, line end included
};

[[noreturn]] void fail(std::string_view source, std::size_t line, const std::string& reason)
{
    throw RegistryFormatError(std::string(source) + ":" + std::to_string(line) + ": " + reason);
}

// The length of the valid UTF-8 sequence at `at`, 0 when there is none
// (overlong forms, surrogates and code points past U+10FFFF are not valid).
std::size_t utf8SequenceAt(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    const std::size_t length = lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5                               ? 4
                                                                                           : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    const unsigned second = byte(1);
    const bool overlong = (lead == 0xE0 && second < 0xA0) || (lead == 0xF0 && second < 0x90);
    const bool outside = (lead == 0xED && second >= 0xA0) || (lead == 0xF4 && second >= 0x90);
    return overlong || outside ? 0 : length;
}

void requireUtf8(std::string_view text, std::string_view source, std::size_t line)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceAt(text, at);
        if (length == 0) {
            fail(source, line, "byte 0x" + std::string(1, "0123456789ABCDEF"[(text[at] >> 4) & 0xF]) +
                                   std::string(1, "0123456789ABCDEF"[text[at] & 0xF]) + " at column " +
                                   std::to_string(at + 1) +
                                   " is not UTF-8; save the file as UTF-8 or as Unicode (UTF-16)");
        }
        at += length;
    }
}

std::string withoutLineEnd(std::string_view line)
{
    if (line.ends_with('\n')) {
        line.remove_suffix(1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
    }
    return std::string(line);
}

std::vector<PhysicalLine> utf8Lines(std::string_view bytes, std::string_view source)
{
    std::vector<PhysicalLine> lines;
    const std::size_t mark = bytes.starts_with(kUtf8Mark) ? kUtf8Mark.size() : 0;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size() - 1) + 1;
        const std::string_view line = bytes.substr(at, end - at);
        PhysicalLine physical{withoutLineEnd(at == 0 ? line.substr(mark) : line), std::string(line)};
        requireUtf8(physical.text, source, lines.size() + 1);
        lines.push_back(std::move(physical));
        at = end;
    }
    return lines;
}

// UTF-16 text to UTF-8; false for a surrogate without its partner.
bool utf16ToUtf8(std::u16string_view units, std::string& out)
{
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xDC00 && unit < 0xE000) {
            return false;
        }
        if (unit >= 0xD800 && unit < 0xDC00 && (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] >= 0xE000)) {
            return false;
        }
        i += unit >= 0xD800 && unit < 0xDC00 ? 1 : 0;
    }
    out = toUtf8(reinterpret_cast<const WCHAR*>(units.data()), units.size());
    return true;
}

std::vector<PhysicalLine> utf16Lines(std::string_view bytes, std::string_view source)
{
    std::u16string units(bytes.size() / 2, u'\0');
    memcpy(units.data(), bytes.data(), units.size() * 2);
    std::vector<PhysicalLine> lines;
    for (std::size_t at = kUtf16Mark.size() / 2; at < units.size() || (at == 1 && lines.empty());) {
        const std::size_t end = std::min(units.find(u'\n', at), units.size() - 1) + 1;
        std::u16string_view line = std::u16string_view(units).substr(at, end - at);
        if (line.ends_with(u'\n')) {
            line.remove_suffix(line.size() > 1 && line[line.size() - 2] == u'\r' ? 2 : 1);
        }
        PhysicalLine physical;
        if (!utf16ToUtf8(line, physical.text)) {
            fail(source, lines.size() + 1, "a UTF-16 surrogate without its partner");
        }
        const std::size_t first = lines.empty() ? 0 : at * 2;
        physical.bytes = std::string(bytes.substr(first, end * 2 - first));
        lines.push_back(std::move(physical));
        at = end;
    }
    if (bytes.size() % 2 != 0) {
        const bool ended = lines.empty() || std::string_view(lines.back().bytes).ends_with(std::string_view("\n\0", 2));
        fail(source, lines.size() + (ended ? 1 : 0), "UTF-16 text ends in half a character");
    }
    return lines;
}

// Reads a quoted name or string starting at `at` (the opening quote) and
// advances past the closing quote. Only \\ and \" are escapes, as the editor
// writes them; nullopt (with `error`) for anything else.
std::optional<std::string> readQuoted(std::string_view text, std::size_t& at, std::string& error)
{
    std::string out;
    for (++at; at < text.size(); ++at) {
        if (text[at] == '\\') {
            if (at + 1 == text.size() || (text[at + 1] != '\\' && text[at + 1] != '"')) {
                error = "a backslash must be doubled inside quotes (column " + std::to_string(at + 1) + ")";
                return std::nullopt;
            }
            out += text[++at];
        } else if (text[at] == '"') {
            ++at;
            return out;
        } else {
            out += text[at];
        }
    }
    error = "unterminated quotes";
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> readHexBytes(std::string_view text)
{
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    const auto skipBlanks = [&] {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
            ++at;
        }
    };
    const auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    skipBlanks();
    while (at < text.size()) {
        if (at + 2 > text.size() || !isxdigit(static_cast<unsigned char>(text[at])) ||
            !isxdigit(static_cast<unsigned char>(text[at + 1]))) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(digit(text[at]) * 16 + digit(text[at + 1])));
        at += 2;
        skipBlanks();
        if (at < text.size()) {
            if (text[at] != ',') {
                return std::nullopt;
            }
            ++at;
            skipBlanks();
            if (at == text.size()) {
                return std::nullopt;
            }
        }
    }
    return bytes;
}

std::optional<std::uint32_t> readHexNumber(std::string_view digits)
{
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(std::stoul(std::string(digits), nullptr, 16));
}

// Parses the data part of a value line; nullopt (with `error`) when malformed.
std::optional<RegistryValue> readData(std::string_view text, std::string& error)
{
    error = "malformed value data";
    if (!text.empty() && text[0] == '"') {
        std::size_t at = 0;
        auto content = readQuoted(text, at, error);
        if (!content || at != text.size()) {
            return std::nullopt;
        }
        return RegistryValue::string(*content);
    }
    if (text.starts_with("dword:")) {
        const auto number = readHexNumber(text.substr(6));
        return number ? std::optional(RegistryValue::dword(*number)) : std::nullopt;
    }
    std::optional<std::uint32_t> type = REG_BINARY;
    std::size_t colon = 3;
    if (text.starts_with("hex(")) {
        colon = text.find("):");
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        type = readHexNumber(text.substr(4, colon - 4));
        ++colon;
    } else if (!text.starts_with("hex:")) {
        return std::nullopt;
    }
    auto bytes = type ? readHexBytes(text.substr(colon + 1)) : std::nullopt;
    if (!bytes) {
        return std::nullopt;
    }
    return RegistryValue{*type, std::move(*bytes)};
}

// Where a value line's data starts: after the name and its '='.
std::size_t dataStart(std::string_view line, std::string& name, std::string& error)
{
    std::size_t at = 0;
    if (line[0] == '@') {
        at = 1;
    } else if (line[0] == '"') {
        auto quoted = readQuoted(line, at, error);
        if (!quoted) {
            error = "value name: " + error;
            return std::string_view::npos;
        }
        name = *quoted;
    } else {
        error = "neither a key, a value nor a comment";
        return std::string_view::npos;
    }
    if (at >= line.size() || line[at] != '=') {
        error = "expected = after the value name";
        return std::string_view::npos;
    }
    try {
        requireWritableName(name, kMaxValueNameLength, "value name");
    } catch (const std::invalid_argument& refused) {
        error = refused.what();
        return std::string_view::npos;
    }
    return at + 1;
}

// The last line that set each value the registry holds gave it its contents;
// the lines of a key that exists once the whole file is read are live.
void markLiveLines(RegistryDocument& document, const Registry& registry)
{
    std::unordered_map<std::string, std::size_t> last; // key '\n' name -> line
    for (std::size_t index = 0; index < document.lines.size(); ++index) {
        const auto& line = document.lines[index];
        if (line.kind == RegistryDocument::Kind::Value) {
            last[line.key + '\n' + line.name] = index;
        }
    }
    for (const auto& [where, index] : last) {
        auto& line = document.lines[index];
        line.live = registry.value(line.key, line.name).has_value();
    }
    for (auto& line : document.lines) {
        if (line.kind == RegistryDocument::Kind::Key) {
            line.live = registry.keyExists(line.key);
        }
    }
    for (const std::string& key : registry.keyNames()) {
        document.keys.insert(foldCase(key));
    }
}

bool blankOrComment(std::string_view text)
{
    return text.find_first_not_of(" \t") == std::string_view::npos || text[0] == ';';
}

// The parse of one file into a registry and the document of its lines.
class FileParser {
public:
    FileParser(std::vector<PhysicalLine> lines, std::string_view source) : lines_(std::move(lines)), source_(source)
    {
    }

    template <typename Apply>
    void parse(RegistryDocument& document, Apply&& apply)
    {
        while (next_ < lines_.size()) {
            const std::size_t number = next_ + 1;
            PhysicalLine line = std::move(lines_[next_++]);
            RegistryDocument::Line entry{RegistryDocument::Kind::Other, std::move(line.bytes), block_, {}, false, {}};
            if (!blankOrComment(line.text)) {
                interpret(line.text, number, entry, apply);
            }
            document.lines.push_back(std::move(entry));
        }
        if (!headerSeen_) {
            fail(source_, 1, "expected \"" + std::string(kRegistryFileHeader) + "\"");
        }
    }

private:
    template <typename Apply>
    void interpret(std::string& text, std::size_t number, RegistryDocument::Line& entry, Apply& apply)
    {
        if (!headerSeen_) {
            if (text != kRegistryFileHeader) {
                fail(source_, number, "expected \"" + std::string(kRegistryFileHeader) + "\"");
            }
            headerSeen_ = true;
        } else if (text[0] == '[') {
            keyLine(text, number, entry, apply);
        } else {
            valueLine(text, number, entry, apply);
        }
    }

    template <typename Apply>
    void keyLine(std::string_view text, std::size_t number, RegistryDocument::Line& entry, Apply& apply)
    {
        text = text.substr(0, text.find_last_not_of(" \t") + 1);
        if (text.back() != ']') {
            fail(source_, number, "a key line must end with ]");
        }
        const bool deletion = text.size() > 2 && text[1] == '-';
        const std::string path(text.substr(deletion ? 2 : 1, text.size() - (deletion ? 3 : 2)));
        try {
            block_ = apply.key(path, deletion);
        } catch (const std::invalid_argument& error) {
            fail(source_, number, error.what());
        }
        entry.key = block_;
        entry.kind = deletion ? RegistryDocument::Kind::Other : RegistryDocument::Kind::Key;
    }

    template <typename Apply>
    void valueLine(std::string& text, std::size_t number, RegistryDocument::Line& entry, Apply& apply)
    {
        if (block_.empty()) {
            fail(source_, number, "a value outside any key");
        }
        std::string name;
        std::string error;
        const std::size_t data = dataStart(text, name, error);
        if (data == std::string::npos) {
            fail(source_, number, error);
        }
        if (std::string_view(text).substr(data).starts_with("hex")) {
            joinContinuations(text, entry.bytes);
        }
        entry.name = apply.fold(name);
        if (std::string_view(text).substr(data) == "-") {
            entry.kind = RegistryDocument::Kind::Removal;
            apply.remove(block_, name);
            return;
        }
        auto value = readData(std::string_view(text).substr(data), error);
        if (!value) {
            fail(source_, number, error);
        }
        entry.kind = RegistryDocument::Kind::Value;
        entry.loaded = *value;
        apply.set(block_, name, std::move(*value));
    }

    // The editor breaks long hex data after a comma with a backslash and
    // indents the rest on the next lines.
    void joinContinuations(std::string& text, std::string& bytes)
    {
        while (text.ends_with('\\') && next_ < lines_.size()) {
            text.pop_back();
            const PhysicalLine& more = lines_[next_++];
            text += more.text.substr(std::min(more.text.find_first_not_of(" \t"), more.text.size()));
            bytes += more.bytes;
        }
    }

    std::vector<PhysicalLine> lines_;
    std::string_view source_;
    std::size_t next_ = 0;
    bool headerSeen_ = false;
    std::string block_; // folded key of the lines that follow; empty outside any key
};

} // namespace

bool validUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceAt(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

void requireWritableName(std::string_view name, std::size_t maxLength, std::string_view what)
{
    const std::string shown(name.substr(0, 40).size() < name.size() ? std::string(name.substr(0, 40)) + "..."
                                                                      : std::string(name));
    if (name.find_first_of("\r\n") != std::string_view::npos || !validUtf8(name)) {
        throw std::invalid_argument(std::string(what) + " \"" + shown + "\" holds a line break or is not UTF-8");
    }
    if (utf16Length(name) > maxLength) {
        throw std::invalid_argument(std::string(what) + " \"" + shown + "\" has " + std::to_string(utf16Length(name)) +
                                    " characters; Windows allows " + std::to_string(maxLength));
    }
}

std::size_t utf16Length(std::string_view utf8)
{
    std::size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xC0) != 0x80 ? 1 : 0;
        units += byte >= 0xF0 ? 1 : 0;
    }
    return units;
}

RegistryDocument Registry::parseFile(std::string_view bytes, std::string_view sourceName)
{
    RegistryDocument document;
    const bool utf16 = bytes.starts_with(kUtf16Mark);
    document.encoding = utf16 ? RegistryDocument::Encoding::Utf16 : RegistryDocument::Encoding::Utf8;
    document.mark = utf16 ? kUtf16Mark : bytes.starts_with(kUtf8Mark) ? kUtf8Mark : "";
    std::vector<PhysicalLine> lines = utf16 ? utf16Lines(bytes, sourceName) : utf8Lines(bytes, sourceName);
    const std::string_view first = lines.empty() ? std::string_view() : std::string_view(lines[0].bytes);
    document.newline = first.ends_with(utf16 ? std::string_view("\r\0\n\0", 4) : "\r\n") ? "\r\n" : "\n";
    struct Apply {
        Registry& registry;
        std::string key(const std::string& path, bool deletion)
        {
            if (deletion) {
                registry.deleteKey(path);
                return {};
            }
            const std::string canonical = canonicalKey(path);
            registry.ensureKey(canonical);
            return fold(canonical);
        }
        void set(const std::string& key, const std::string& name, RegistryValue value)
        {
            registry.setValue(key, name, std::move(value));
        }
        void remove(const std::string& key, const std::string& name) { registry.deleteValue(key, name); }
        std::string fold(const std::string& text) const { return Registry::fold(text); }
    };
    FileParser(std::move(lines), sourceName).parse(document, Apply{*this});
    markLiveLines(document, *this);
    return document;
}

} // namespace korval::host
