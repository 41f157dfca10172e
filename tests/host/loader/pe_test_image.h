// A small driver file made in memory: .text, .data, .rdata with one module's
// imports, .reloc, and optionally INIT; fields the tests spoil are public.
#pragma once

#include "host/loader/pe_image.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace korval::host::testing {

struct TestSection {
    const char* name;
    std::uint32_t rva;
    std::uint32_t characteristics;
    std::vector<std::uint8_t> bytes;
};

constexpr std::uint32_t kTestImageBase = 0x10000;
constexpr std::uint32_t kTextRva = 0x1000, kDataRva = 0x2000, kImportRva = 0x3000, kRelocRva = 0x4000;
constexpr std::uint32_t kSlotRva = kImportRva + 0x80;
constexpr std::uint32_t kCode = kPeSectionExecute | kPeSectionRead | 0x20;
constexpr std::uint32_t kData = kPeSectionRead | kPeSectionWrite | 0x40;
constexpr std::uint32_t kReadOnly = kPeSectionRead | 0x40;

struct TestImage {
    std::uint16_t machine = kPeMachineI386;
    std::uint16_t subsystem = kPeSubsystemNative;
    std::uint16_t characteristics = kPeFileExecutable | kPeFile32BitMachine | 0x2000;
    std::string module = "ntoskrnl.exe";
    std::vector<std::string> imports = {"DbgPrint", "KeSetEvent"};
    std::vector<std::uint16_t> relocations = {0x3000 | 0x10, 0x0000}; // HIGHLOW at .text+0x10, padding
    std::uint32_t relocationPage = kTextRva;
    bool withInit = false; // and the entry point in it: xor eax, eax; ret 8
    static constexpr std::uint32_t kInitRva = 0x5000;

    static void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
    {
        b.resize(std::max(b.size(), at + 4));
        for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> 8 * i);
    }
    static void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v)
    {
        b.resize(std::max(b.size(), at + 2));
        b[at] = std::uint8_t(v), b[at + 1] = std::uint8_t(v >> 8);
    }

    // Descriptors at +0 (with the zero one), lookup list at +0x40, slots at +0x80, module name at +0xC0, names after.
    std::vector<std::uint8_t> importSection() const
    {
        std::vector<std::uint8_t> s(0xE0, 0);
        put32(s, 0, kImportRva + 0x40), put32(s, 12, kImportRva + 0xC0), put32(s, 16, kSlotRva);
        std::memcpy(&s[0xC0], module.c_str(), module.size() + 1);
        for (std::size_t i = 0; i < imports.size(); ++i) {
            const std::uint32_t nameRva = kImportRva + std::uint32_t(s.size());
            put32(s, 0x40 + 4 * i, nameRva), put32(s, 0x80 + 4 * i, nameRva);
            s.insert(s.end(), {0, 0});
            s.insert(s.end(), imports[i].begin(), imports[i].end());
            s.insert(s.end(), {0, 0});
        }
        return s;
    }

    std::vector<std::uint8_t> relocSection() const
    {
        std::vector<std::uint8_t> s;
        put32(s, 0, relocationPage), put32(s, 4, std::uint32_t(8 + 2 * relocations.size()));
        for (std::size_t i = 0; i < relocations.size(); ++i) put16(s, 8 + 2 * i, relocations[i]);
        return s;
    }

    std::vector<TestSection> sections() const
    {
        std::vector<std::uint8_t> text(0x20, 0xC3);
        put32(text, 0x10, kTestImageBase + kDataRva + 4); // an absolute address of .data
        std::vector<TestSection> list = {{".text", kTextRva, kCode, text},
                                         {".data", kDataRva, kData, std::vector<std::uint8_t>(8, 0x11)},
                                         {".rdata", kImportRva, kReadOnly, importSection()},
                                         {".reloc", kRelocRva, kReadOnly | kPeSectionDiscardable, relocSection()}};
        if (withInit) list.push_back({"INIT", kInitRva, kCode, {0x31, 0xC0, 0xC2, 0x08, 0x00}});
        return list;
    }

    std::vector<std::uint8_t> file() const
    {
        const auto list = sections();
        std::vector<std::uint8_t> f(0x400, 0);
        put16(f, 0, 0x5A4D), put32(f, 60, 0x40), put32(f, 0x40, 0x4550);
        put16(f, 0x44, machine), put16(f, 0x46, std::uint16_t(list.size())), put32(f, 0x48, 0x5F000000);
        put16(f, 0x54, 224), put16(f, 0x56, characteristics);
        const std::size_t o = 0x58;
        put16(f, o, 0x10B), put32(f, o + 16, withInit ? kInitRva : kTextRva), put32(f, o + 28, kTestImageBase);
        put32(f, o + 32, 0x1000), put32(f, o + 36, 0x200), put32(f, o + 56, 0x6000), put32(f, o + 60, 0x400);
        put16(f, o + 68, subsystem), put32(f, o + 92, 16);
        put32(f, o + 104, kImportRva), put32(f, o + 108, 20);
        put32(f, o + 136, kRelocRva), put32(f, o + 140, std::uint32_t(relocSection().size()));
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::size_t h = 0x138 + 40 * i;
            const std::uint32_t raw = std::uint32_t(f.size());
            std::memcpy(&f[h], list[i].name, std::strlen(list[i].name));
            put32(f, h + 8, std::uint32_t(list[i].bytes.size())), put32(f, h + 12, list[i].rva);
            put32(f, h + 16, 0x200), put32(f, h + 20, raw), put32(f, h + 36, list[i].characteristics);
            f.insert(f.end(), list[i].bytes.begin(), list[i].bytes.end());
            f.resize(raw + 0x200, 0);
        }
        put32(f, o + 64, peCheckSum(f));
        return f;
    }
};

} // namespace korval::host::testing
