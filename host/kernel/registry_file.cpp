// The registry as a "Windows Registry Editor Version 5.00" text file: written
// whole and atomically after each change, read back line by line, and refused
// with the line's number when it is not well formed.
#include "host/kernel/kernel_internal.h"
#include "host/kernel/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace korval::host {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

std::string quote(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// A REG_SZ that reads back identically from its quoted form: whole UTF-16
// units, one terminator at the end and none inside, no line breaks.
bool printableString(const RegistryValue& value)
{
    const auto& data = value.data;
    if (value.type != REG_SZ || data.size() < 2 || data.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
        const unsigned unit = data[i] | (data[i + 1] << 8);
        if (unit == 0 || unit == '\r' || unit == '\n' || (unit >= 0xD800 && unit < 0xE000)) {
            return false;
        }
    }
    return data[data.size() - 2] == 0 && data[data.size() - 1] == 0;
}

std::string hexValue(std::string prefix, const std::vector<std::uint8_t>& data, std::size_t nameLength)
{
    std::string out = prefix;
    std::size_t column = nameLength + 1 + prefix.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof(byte), "%02x", data[i]);
        out += byte;
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

std::string valueText(const RegistryValue& value, std::size_t nameLength)
{
    if (printableString(value)) {
        return quote(*value.asString());
    }
    if (const auto number = value.asDword()) {
        char text[20];
        std::snprintf(text, sizeof(text), "dword:%08x", *number);
        return text;
    }
    if (value.type == REG_BINARY) {
        return hexValue("hex:", value.data, nameLength);
    }
    char prefix[20];
    std::snprintf(prefix, sizeof(prefix), "hex(%x):", value.type);
    return hexValue(prefix, value.data, nameLength);
}

[[noreturn]] void fail(std::string_view source, std::size_t line, const std::string& reason)
{
    throw RegistryFormatError(std::string(source) + ":" + std::to_string(line) + ": " + reason);
}

std::string fromUtf16File(std::string_view bytes)
{
    std::u16string wide(bytes.size() / 2, u'\0');
    memcpy(wide.data(), bytes.data(), wide.size() * 2);
    return toUtf8(wide.data(), wide.size());
}

// Reads a quoted name or string starting at `at` (the opening quote); advances past the closing quote.
std::optional<std::string> readQuoted(std::string_view text, std::size_t& at)
{
    std::string out;
    for (++at; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) {
            out += text[++at];
        } else if (text[at] == '"') {
            ++at;
            return out;
        } else {
            out += text[at];
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> readHexBytes(std::string_view text)
{
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    auto skipBlanks = [&] {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
            ++at;
        }
    };
    skipBlanks();
    while (at < text.size()) {
        if (at + 2 > text.size() || !isxdigit(static_cast<unsigned char>(text[at])) ||
            !isxdigit(static_cast<unsigned char>(text[at + 1]))) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(std::string(text.substr(at, 2)), nullptr, 16)));
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

// Parses the data part of a value line; nullopt when malformed, a value of
// type 0xFFFFFFFF for a deletion ("name"=-).
std::optional<RegistryValue> readData(std::string_view text)
{
    if (text == "-") {
        return RegistryValue{0xFFFFFFFFu, {}};
    }
    if (!text.empty() && text[0] == '"') {
        std::size_t at = 0;
        auto content = readQuoted(text, at);
        if (!content || at != text.size()) {
            return std::nullopt;
        }
        return RegistryValue::string(*content);
    }
    if (text.starts_with("dword:")) {
        const std::string_view digits = text.substr(6);
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
            return std::nullopt;
        }
        return RegistryValue::dword(static_cast<std::uint32_t>(std::stoul(std::string(digits), nullptr, 16)));
    }
    std::uint32_t type = REG_BINARY;
    std::size_t colon = 0;
    if (text.starts_with("hex:")) {
        colon = 3;
    } else if (text.starts_with("hex(")) {
        const std::size_t close = text.find("):");
        const std::string_view digits = text.substr(4, close == std::string_view::npos ? 0 : close - 4);
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
            return std::nullopt;
        }
        type = static_cast<std::uint32_t>(std::stoul(std::string(digits), nullptr, 16));
        colon = close + 1;
    } else {
        return std::nullopt;
    }
    auto bytes = readHexBytes(text.substr(colon + 1));
    if (!bytes) {
        return std::nullopt;
    }
    return RegistryValue{type, std::move(*bytes)};
}

std::vector<std::string> splitLines(std::string_view text)
{
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

// The text as a regedit export in UTF-16: byte-order mark, CR LF line ends.
std::string toUtf16File(const std::string& text)
{
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    const std::u16string wide = toUtf16(crlf);
    std::string bytes = "\xFF\xFE";
    bytes.resize(2 + wide.size() * 2);
    memcpy(bytes.data() + 2, wide.data(), wide.size() * 2);
    return bytes;
}

} // namespace

std::string Registry::exportText() const
{
    std::lock_guard lock(mutex_);
    std::string text = std::string(kHeader) + "\n";
    for (const auto& [folded, key] : keys_) {
        text += "\n[" + key.name + "]\n";
        for (const auto& [name, value] : key.values) {
            const std::string shownName = name.empty() ? "@" : quote(name);
            text += shownName + "=" + valueText(value, shownName.size()) + "\n";
        }
    }
    return text;
}

void Registry::importText(std::string_view text, std::string_view sourceName)
{
    std::string converted;
    if (text.starts_with("\xFF\xFE")) {
        converted = fromUtf16File(text.substr(2));
        text = converted;
    } else if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    const std::vector<std::string> lines = splitLines(text);
    Registry parsed;
    std::optional<std::string> key;
    bool headerSeen = false;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const std::size_t lineNumber = index + 1;
        std::string line = lines[index];
        while (!line.empty() && line.back() == '\\' && index + 1 < lines.size()) {
            line.pop_back();
            std::string next = lines[++index];
            line += next.substr(std::min(next.find_first_not_of(" \t"), next.size()));
        }
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == ';') {
            continue;
        }
        if (!headerSeen) {
            if (line != kHeader) {
                fail(sourceName, lineNumber, "expected \"" + std::string(kHeader) + "\"");
            }
            headerSeen = true;
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']') {
                fail(sourceName, lineNumber, "a key line must end with ]");
            }
            const bool deletion = line.size() > 2 && line[1] == '-';
            const std::string path = line.substr(deletion ? 2 : 1, line.size() - (deletion ? 3 : 2));
            try {
                if (deletion) {
                    parsed.deleteKey(path);
                    key.reset();
                } else {
                    key = canonicalKey(path);
                    parsed.createKey(*key);
                }
            } catch (const std::invalid_argument& error) {
                fail(sourceName, lineNumber, error.what());
            }
            continue;
        }
        if (!key) {
            fail(sourceName, lineNumber, "a value outside any key");
        }
        std::size_t at = 0;
        std::string name;
        if (line[0] == '@') {
            at = 1;
        } else if (line[0] == '"') {
            auto quotedName = readQuoted(line, at);
            if (!quotedName) {
                fail(sourceName, lineNumber, "unterminated value name");
            }
            name = *quotedName;
        } else {
            fail(sourceName, lineNumber, "neither a key, a value nor a comment");
        }
        if (at >= line.size() || line[at] != '=') {
            fail(sourceName, lineNumber, "expected = after the value name");
        }
        auto data = readData(std::string_view(line).substr(at + 1));
        if (!data) {
            fail(sourceName, lineNumber, "malformed value data");
        }
        if (data->type == 0xFFFFFFFFu) {
            parsed.deleteValue(*key, name);
        } else {
            parsed.setValue(*key, name, std::move(*data));
        }
    }
    if (!headerSeen) {
        fail(sourceName, 1, "expected \"" + std::string(kHeader) + "\"");
    }
    std::lock_guard lock(mutex_);
    keys_ = std::move(parsed.keys_);
    changed();
}

void Registry::attachFile(std::filesystem::path file)
{
    std::lock_guard lock(mutex_);
    file_.clear();
    if (std::filesystem::exists(file)) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        if (!in.good() && !in.eof()) {
            throw RegistryFormatError(file.string() + ": cannot be read");
        }
        const std::string text = content.str();
        importText(text, file.string());
        utf16File_ = text.starts_with("\xFF\xFE");
    }
    file_ = std::move(file);
}

void Registry::changed() const
{
    if (!file_.empty()) {
        save();
    }
}

void Registry::save() const
{
    std::lock_guard lock(mutex_);
    const std::string text = utf16File_ ? toUtf16File(exportText()) : exportText();
    // A name of this process's own, so that another process saving the same
    // file never renames a temporary file from under it.
    const std::filesystem::path temporary = file_.string() + "." + std::to_string(::getpid()) + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot write the registry file " + temporary.string() + ": " +
                                 std::strerror(errno));
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write the registry file " + temporary.string());
        }
        written += static_cast<std::size_t>(count);
    }
    // No fsync: the rename alone keeps a crashed process from leaving half a
    // hive, and syncing each of the driver's many small writes costs ~15 ms.
    ::close(fd);
    std::error_code failure;
    std::filesystem::rename(temporary, file_, failure);
    if (failure) {
        std::filesystem::remove(temporary, failure);
        throw std::runtime_error("cannot replace the registry file " + file_.string() + ": " + failure.message());
    }
}

} // namespace korval::host
