#include "host/kernel/registry.h"

#include "host/kernel/kernel_internal.h"

#include <algorithm>

namespace korval::host {
namespace {

constexpr std::string_view kMachineRoot = "HKEY_LOCAL_MACHINE";

bool startsWithFolded(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && foldCase(text.substr(0, prefix.size())) == foldCase(prefix);
}

std::string shortened(std::string_view path)
{
    return path.size() <= 80 ? std::string(path) : std::string(path.substr(0, 80)) + "...";
}

// The levels below HKEY_LOCAL_MACHINE ("\\A\\B"): none empty, each a name the
// file can hold, no more of them than Windows allows.
void requireWindowsKeyPath(std::string_view levels)
{
    std::size_t depth = 0;
    for (std::size_t at = 0; at < levels.size(); ++depth) {
        const std::size_t end = std::min(levels.find('\\', at + 1), levels.size());
        const std::string_view name = levels.substr(at + 1, end - at - 1);
        if (name.empty()) {
            throw std::invalid_argument("empty key name in: HKEY_LOCAL_MACHINE" + shortened(levels));
        }
        requireWritableName(name, kMaxKeyNameLength, "key name");
        at = end;
    }
    if (depth > kMaxKeyDepth) {
        throw std::invalid_argument("key HKEY_LOCAL_MACHINE" + shortened(levels) + " is " + std::to_string(depth) +
                                    " levels deep; Windows allows " + std::to_string(kMaxKeyDepth));
    }
}

} // namespace

RegistryValue RegistryValue::dword(std::uint32_t value)
{
    RegistryValue result{REG_DWORD, std::vector<std::uint8_t>(4)};
    memcpy(result.data.data(), &value, 4);
    return result;
}

RegistryValue RegistryValue::string(std::string_view utf8)
{
    const std::u16string wide = toUtf16(utf8);
    RegistryValue result{REG_SZ, std::vector<std::uint8_t>((wide.size() + 1) * 2)};
    memcpy(result.data.data(), wide.c_str(), result.data.size());
    return result;
}

RegistryValue RegistryValue::binary(std::vector<std::uint8_t> bytes)
{
    return {REG_BINARY, std::move(bytes)};
}

std::optional<std::uint32_t> RegistryValue::asDword() const
{
    if (type != REG_DWORD || data.size() != 4) {
        return std::nullopt;
    }
    std::uint32_t value;
    memcpy(&value, data.data(), 4);
    return value;
}

std::optional<std::string> RegistryValue::asString() const
{
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return std::nullopt;
    }
    std::u16string wide(data.size() / 2, u'\0');
    memcpy(wide.data(), data.data(), wide.size() * 2);
    while (!wide.empty() && wide.back() == 0) {
        wide.pop_back();
    }
    return toUtf8(wide.data(), wide.size());
}

std::string Registry::canonicalKey(std::string_view path)
{
    std::string_view rest;
    for (std::string_view root : {std::string_view("\\Registry\\Machine"), std::string_view("HKEY_LOCAL_MACHINE"),
                                  std::string_view("HKLM")}) {
        if (startsWithFolded(path, root) && (path.size() == root.size() || path[root.size()] == '\\')) {
            rest = path.substr(root.size());
            break;
        }
        if (root == "HKLM") {
            throw std::invalid_argument("not a key of HKEY_LOCAL_MACHINE: " + shortened(path));
        }
    }
    while (!rest.empty() && rest.back() == '\\') {
        rest.remove_suffix(1);
    }
    requireWindowsKeyPath(rest);
    return std::string(kMachineRoot) + std::string(rest);
}

std::string Registry::fold(std::string_view text)
{
    return foldCase(text);
}

Registry::Key* Registry::findKey(std::string_view canonical)
{
    const auto found = keys_.find(fold(canonical));
    return found == keys_.end() ? nullptr : &found->second;
}

const Registry::Key* Registry::findKey(std::string_view canonical) const
{
    const auto found = keys_.find(fold(canonical));
    return found == keys_.end() ? nullptr : &found->second;
}

Registry::Key& Registry::ensureKey(const std::string& canonical)
{
    for (std::size_t cut = canonical.find('\\'); cut != std::string::npos; cut = canonical.find('\\', cut + 1)) {
        const std::string parent = canonical.substr(0, cut);
        keys_.try_emplace(fold(parent), Key{parent, {}, {}});
    }
    return keys_.try_emplace(fold(canonical), Key{canonical, {}, {}}).first->second;
}

void Registry::createKey(std::string_view path)
{
    std::lock_guard lock(mutex_);
    ensureKey(canonicalKey(path));
    changed();
}

bool Registry::keyExists(std::string_view path) const
{
    std::lock_guard lock(mutex_);
    return findKey(canonicalKey(path)) != nullptr;
}

void Registry::deleteKey(std::string_view path)
{
    std::lock_guard lock(mutex_);
    const std::string folded = fold(canonicalKey(path));
    std::erase_if(keys_, [&](const auto& entry) {
        return entry.first == folded || entry.first.starts_with(folded + "\\");
    });
    changed();
}

void Registry::setValue(std::string_view key, std::string_view name, RegistryValue value)
{
    requireWritableName(name, kMaxValueNameLength, "value name");
    std::lock_guard lock(mutex_);
    Key& target = ensureKey(canonicalKey(key));
    const auto [position, added] = target.positions.try_emplace(fold(name), target.values.size());
    if (added) {
        target.values.emplace_back(std::string(name), std::move(value));
    } else {
        target.values[position->second].second = std::move(value);
    }
    changed();
}

bool Registry::setExistingValue(std::string_view key, std::string_view name, RegistryValue value)
{
    std::lock_guard lock(mutex_);
    if (findKey(canonicalKey(key)) == nullptr) {
        return false;
    }
    setValue(key, name, std::move(value));
    return true;
}

std::optional<RegistryValue> Registry::value(std::string_view key, std::string_view name) const
{
    std::lock_guard lock(mutex_);
    const Key* found = findKey(canonicalKey(key));
    if (found == nullptr) {
        return std::nullopt;
    }
    const auto position = found->positions.find(fold(name));
    if (position == found->positions.end()) {
        return std::nullopt;
    }
    return found->values[position->second].second;
}

bool Registry::deleteValue(std::string_view key, std::string_view name)
{
    std::lock_guard lock(mutex_);
    Key* found = findKey(canonicalKey(key));
    if (found == nullptr) {
        return false;
    }
    const auto position = found->positions.find(fold(name));
    if (position == found->positions.end()) {
        return false;
    }
    found->values.erase(found->values.begin() + static_cast<std::ptrdiff_t>(position->second));
    found->positions.clear();
    for (std::size_t index = 0; index < found->values.size(); ++index) {
        found->positions.emplace(fold(found->values[index].first), index);
    }
    changed();
    return true;
}

std::vector<std::string> Registry::valueNames(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    if (const Key* found = findKey(canonicalKey(key))) {
        for (const auto& entry : found->values) {
            names.push_back(entry.first);
        }
    }
    return names;
}

std::vector<std::string> Registry::keyNames() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [folded, key] : keys_) {
        names.push_back(key.name);
    }
    return names;
}

} // namespace korval::host
