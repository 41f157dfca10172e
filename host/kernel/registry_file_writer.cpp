// Writes the registry as "Windows Registry Editor Version 5.00" text: the
// canonical form for a new file, or the lines of the file that was read with
// only the changed values rewritten, removed ones left out, new ones added at
// the end of their key and new keys at the end of the file.
#include "host/kernel/kernel_internal.h"
#include "host/kernel/registry.h"

#include <cstdio>
#include <cstring>
#include <set>

namespace korval::host {
namespace {

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

std::string valueLine(const std::string& name, const RegistryValue& value)
{
    const std::string shownName = name.empty() ? "@" : quote(name);
    return shownName + "=" + valueText(value, shownName.size()) + "\n";
}

// Appends whole lines: a last line without its line end gets one first.
class LineWriter {
public:
    explicit LineWriter(const RegistryDocument& document) : document_(document) {}

    void bytes(std::string_view bytes)
    {
        if (!bytes.empty()) {
            endOpenLine();
            out_ += bytes;
        }
    }
    void text(std::string_view text) { bytes(document_.encode(text)); }
    std::string take() { return std::move(out_); }

private:
    void endOpenLine()
    {
        const std::string_view end = document_.encoding == RegistryDocument::Encoding::Utf16
                                         ? std::string_view("\n\0", 2)
                                         : std::string_view("\n");
        if (!out_.empty() && !std::string_view(out_).ends_with(end)) {
            out_ += document_.encode("\n");
        }
    }

    const RegistryDocument& document_;
    std::string out_;
};

std::string valueId(const std::string& key, const std::string& name)
{
    return key + '\n' + name;
}

} // namespace

std::string RegistryDocument::encode(std::string_view text) const
{
    std::string lines;
    lines.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        lines += c == '\n' ? newline : std::string(1, c);
    }
    if (encoding == Encoding::Utf8) {
        return lines;
    }
    const std::u16string wide = toUtf16(lines);
    std::string bytes(wide.size() * 2, '\0');
    memcpy(bytes.data(), wide.data(), bytes.size());
    return bytes;
}

bool Registry::impliedByASubkey(const std::string& folded) const
{
    const auto found = keys_.find(folded);
    if (found == keys_.end() || !found->second.values.empty()) {
        return false;
    }
    const std::string below = folded + "\\";
    const auto next = keys_.lower_bound(below);
    return next != keys_.end() && next->first.starts_with(below);
}

std::string Registry::keyBlock(const Key& key) const
{
    std::string text = "\n[";
    text.append(key.name).append("]\n");
    for (const auto& [name, value] : key.values) {
        text += valueLine(name, value);
    }
    return text;
}

std::string Registry::exportText() const
{
    std::lock_guard lock(mutex_);
    std::string text = std::string(kRegistryFileHeader) + "\n";
    for (const auto& [folded, key] : keys_) {
        if (!impliedByASubkey(folded)) {
            text += keyBlock(key);
        }
    }
    return text;
}

std::string Registry::withMissingKeys(std::string bytes, const Registry& reread, const RegistryDocument& document) const
{
    LineWriter out(document);
    out.bytes(bytes);
    for (const auto& [folded, key] : keys_) {
        if (!reread.keys_.contains(folded) && !impliedByASubkey(folded)) {
            out.text(keyBlock(key));
        }
    }
    return out.take();
}

std::string Registry::renderDocument(const RegistryDocument& document) const
{
    std::set<std::string> written;                // values with a live line, keys that existed once read
    std::map<std::string, std::size_t> blockEnds; // key -> its last block's last line
    for (std::size_t index = 0; index < document.lines.size(); ++index) {
        const auto& line = document.lines[index];
        if (line.kind != RegistryDocument::Kind::Other) {
            blockEnds[line.key] = index;
        }
        if (line.live) {
            written.insert(line.kind == RegistryDocument::Kind::Key ? line.key : valueId(line.key, line.name));
        }
    }
    LineWriter out(document);
    const auto addNewValues = [&](const std::string& folded) {
        for (const auto& [name, value] : keys_.at(folded).values) {
            if (!written.contains(valueId(folded, fold(name)))) {
                out.text(valueLine(name, value));
            }
        }
    };
    for (std::size_t index = 0; index < document.lines.size(); ++index) {
        const auto& line = document.lines[index];
        const auto key = keys_.find(line.key);
        if (!line.key.empty() && key == keys_.end()) {
            if (!written.contains(line.key)) {
                out.bytes(line.bytes); // a block the file itself deleted later
            }
            continue;
        }
        if (line.kind == RegistryDocument::Kind::Other) {
            out.bytes(line.bytes);
            continue;
        }
        if (line.kind == RegistryDocument::Kind::Value) {
            const auto current = value(line.key, line.name);
            if (current && (!line.live || *current == line.loaded)) {
                out.bytes(line.bytes);
            } else if (current) {
                out.text(valueLine(key->second.values[key->second.positions.at(line.name)].first, *current));
            } else if (!line.live && !written.contains(valueId(line.key, line.name))) {
                out.bytes(line.bytes);
            }
        } else {
            out.bytes(line.bytes);
        }
        if (blockEnds.at(line.key) == index && document.keys.contains(line.key)) {
            addNewValues(line.key);
        }
    }
    for (const auto& [folded, key] : keys_) {
        if (!document.keys.contains(folded) && !impliedByASubkey(folded)) {
            out.text(keyBlock(key));
        }
    }
    return out.take();
}

} // namespace korval::host
