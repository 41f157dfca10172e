// The emulated configuration registry: keys under HKEY_LOCAL_MACHINE with
// typed values, case-insensitive like the real one, kept in memory and
// persisted as a "Windows Registry Editor Version 5.00" text file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace korval::host {

struct RegistryValue {
    std::uint32_t type = 0; // REG_SZ 1, REG_BINARY 3, REG_DWORD 4 ...
    std::vector<std::uint8_t> data;

    static RegistryValue dword(std::uint32_t value);
    static RegistryValue string(std::string_view utf8); // REG_SZ with its terminator
    static RegistryValue binary(std::vector<std::uint8_t> bytes);

    std::optional<std::uint32_t> asDword() const;  // REG_DWORD of 4 bytes only
    std::optional<std::string> asString() const;   // REG_SZ / REG_EXPAND_SZ as UTF-8
    bool operator==(const RegistryValue&) const = default;
};

// A registry file that cannot be read: the message names the file and line.
class RegistryFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Registry {
public:
    // Key paths: "HKEY_LOCAL_MACHINE\..." (also "HKLM\...") or "\Registry\Machine\...".
    // Paths that name no machine key are refused with std::invalid_argument.
    static std::string canonicalKey(std::string_view path);

    void createKey(std::string_view path); // with its parents
    bool keyExists(std::string_view path) const;
    void deleteKey(std::string_view path); // with its subkeys
    void setValue(std::string_view key, std::string_view name, RegistryValue value); // creates the key
    std::optional<RegistryValue> value(std::string_view key, std::string_view name) const;
    bool deleteValue(std::string_view key, std::string_view name);
    std::vector<std::string> valueNames(std::string_view key) const; // in the order they were created
    std::vector<std::string> keyNames() const;                        // every key, canonical

    // Values whose key must already exist (the driver's writes): false when it does not.
    bool setExistingValue(std::string_view key, std::string_view name, RegistryValue value);

    std::string exportText() const;
    void importText(std::string_view text, std::string_view sourceName); // throws RegistryFormatError

    // With a file, every change is written to it at once (temporary file, flush, rename),
    // in the encoding the file had (UTF-16 with its byte-order mark stays UTF-16).
    void attachFile(std::filesystem::path file); // loads it when present
    void save() const;                           // throws std::runtime_error naming the file
    const std::filesystem::path& file() const { return file_; }

private:
    struct Key {
        std::string name; // as first written
        std::vector<std::pair<std::string, RegistryValue>> values;
        std::unordered_map<std::string, std::size_t> positions; // folded name -> index in values
    };
    static std::string fold(std::string_view text);
    void changed() const;
    Key* findKey(std::string_view canonical);
    const Key* findKey(std::string_view canonical) const;
    Key& ensureKey(const std::string& canonical);

    mutable std::recursive_mutex mutex_;
    std::map<std::string, Key> keys_; // by folded canonical path
    std::filesystem::path file_;
    bool utf16File_ = false;
};

} // namespace korval::host
