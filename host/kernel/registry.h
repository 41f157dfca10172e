// The emulated configuration registry: keys under HKEY_LOCAL_MACHINE with
// typed values, case-insensitive like the real one, kept in memory and
// persisted as a "Windows Registry Editor Version 5.00" text file.
#pragma once

#include "host/kernel/registry_file.h"
#include "host/kernel/registry_value.h"

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

    // The whole registry in the canonical form: keys sorted, values in the
    // order they were created, keys that only lead to others left implicit.
    std::string exportText() const;
    // Replaces the contents with a registry file's; throws RegistryFormatError
    // naming the line for anything it would not write back exactly.
    void importText(std::string_view text, std::string_view sourceName);

    // With a file, every change is written to it at once (temporary file, flush, rename).
    // The file read is written back byte for byte but for the values that changed:
    // its encoding, line ends, comments and layout stay.
    void attachFile(std::filesystem::path file); // loads it when present
    void save() const;                           // throws std::runtime_error naming the file
    std::string fileText() const;                // the bytes save() writes
    const std::filesystem::path& file() const { return file_; }

private:
    struct Key {
        std::string name; // as first written
        std::vector<std::pair<std::string, RegistryValue>> values;
        std::unordered_map<std::string, std::size_t> positions; // folded name -> index in values
    };
    struct Rendered {
        std::string bytes;
        RegistryDocument document; // of those bytes
    };
    static std::string fold(std::string_view text);
    void changed() const;
    Key* findKey(std::string_view canonical);
    const Key* findKey(std::string_view canonical) const;
    Key& ensureKey(const std::string& canonical);
    bool sameContents(const Registry& other) const;
    bool impliedByASubkey(const std::string& folded) const; // no values, and a subkey names it

    // registry_file_reader.cpp: fills this empty registry from a file's bytes.
    RegistryDocument parseFile(std::string_view bytes, std::string_view sourceName);
    // registry_file_writer.cpp: the file's lines with what changed since they were read.
    std::string renderDocument(const RegistryDocument& document) const;
    // The bytes with a block for each key that reading them would not create
    // (one left without values or subkeys when the lines that made it went).
    std::string withMissingKeys(std::string bytes, const Registry& reread, const RegistryDocument& document) const;
    std::string keyBlock(const Key& key) const; // a blank line, "[name]", its values; LF line ends
    Rendered render() const;

    mutable std::recursive_mutex mutex_;
    std::map<std::string, Key> keys_; // by folded canonical path
    std::filesystem::path file_;
    mutable std::optional<RegistryDocument> document_; // of the file as last read or written
};

} // namespace korval::host
