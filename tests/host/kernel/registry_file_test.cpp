// The registry file as people and Windows' editor write it: read exactly and
// written back byte for byte but for what changed, or refused with its line.
#include "host/kernel/kernel_internal.h"
#include "host/kernel/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace korval::host::testing {
namespace {

const std::filesystem::path kCorpus = std::filesystem::path(KORVAL_SOURCE_DIR) / "fuzz/corpus/registry_file";
constexpr const char* kParametersAbbreviated = "HKLM\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";

std::string readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// A UTF-16 file's text in UTF-8, for comparing lines.
std::string asUtf8(const std::string& bytes)
{
    if (!bytes.starts_with("\xFF\xFE")) {
        return bytes;
    }
    std::u16string units((bytes.size() - 2) / 2, u'\0');
    memcpy(units.data(), bytes.data() + 2, units.size() * 2);
    return toUtf8(reinterpret_cast<const WCHAR*>(units.data()), units.size());
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(RegistryFileTest, ForeignFilesReadBackByteForByte)
{
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
        if (entry.path().extension() != ".reg") {
            continue;
        }
        const std::string bytes = readBytes(entry.path());
        Registry registry;
        ASSERT_NO_THROW(registry.importText(bytes, entry.path().string())) << entry.path();
        EXPECT_EQ(registry.fileText(), bytes) << entry.path();
        ++files;
    }
    EXPECT_GE(files, 5);
}

// Each change rewrites its own line (or adds or drops lines for it) and nothing else.
TEST(RegistryFileTest, ChangesTouchOnlyTheirLines)
{
    using Change = void (*)(Registry&);
    struct Case {
        const char* file;
        Change change;
        const char* before; // text of the original (in UTF-8) that the change replaces
        const char* after;
    };
    const Case cases[] = {
        {"hand-edited-utf8.reg", [](Registry& r) { r.setValue(kParametersAbbreviated, "a_77", RegistryValue::dword(0x120090)); },
         "\"A_77\"=dword:00120080\n", "\"A_77\"=dword:00120090\n"},
        {"hand-edited-utf8.reg", [](Registry& r) { r.deleteValue(kParametersAbbreviated, "A_79"); }, "\"A_79\"=dword:0000ABCD\n",
         ""},
        {"hand-edited-utf8.reg", [](Registry& r) { r.setValue(kParametersAbbreviated, "A_81", RegistryValue::dword(5)); },
         "  03\n[HKLM", "  03\n\"A_81\"=dword:00000005\n[HKLM"},
        {"hand-edited-utf8.reg", [](Registry& r) { r.setValue("HKLM\\Software\\Lab", "Seen", RegistryValue::dword(1)); },
         "\"Owner\"=\"Bj\xC3\xB6rk\"", "\"Owner\"=\"Bj\xC3\xB6rk\"\n\"Seen\"=dword:00000001\n"},
        {"hand-edited-utf8.reg", [](Registry& r) { r.deleteKey("HKLM\\Software\\Lab"); },
         "[HKLM\\Software\\Lab]\n\"Owner\"=\"Bj\xC3\xB6rk\"", "\n[HKEY_LOCAL_MACHINE\\Software]\n"},
        {"regedit-export-utf16.reg",
         [](Registry& r) { r.setValue("HKLM\\SOFTWARE\\Contoso\\Camera\\Frames", "Count", RegistryValue::dword(3)); },
         "\"Count\"=dword:00000000\r\n", "\"Count\"=dword:00000003\r\n"},
        {"regedit-export-utf16.reg",
         [](Registry& r) { r.setValue("HKLM\\Software\\New", "", RegistryValue::string("n\xC3\xA9")); },
         "=dword:00000000\r\n\r\n", "=dword:00000000\r\n\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\New]\r\n@=\"n\xC3\xA9\"\r\n"},
        {"deletions-and-repeats.reg", [](Registry& r) { r.setValue("HKLM\\Software\\Twice", "Value", RegistryValue::dword(7)); },
         "\"Value\"=dword:00000002\n", "\"Value\"=dword:00000007\n"},
    };
    for (const Case& c : cases) {
        const std::string bytes = readBytes(kCorpus / c.file);
        Registry registry;
        registry.importText(bytes, c.file);
        const std::string expected = replaced(asUtf8(bytes), c.before, c.after);
        c.change(registry);
        const std::string saved = registry.fileText();
        EXPECT_EQ(asUtf8(saved), expected) << c.file << ": " << c.after;
        EXPECT_EQ(saved.starts_with("\xFF\xFE"), bytes.starts_with("\xFF\xFE")) << c.file;
        Registry reread;
        reread.importText(saved, "saved");
        EXPECT_EQ(reread.fileText(), saved) << c.file;
    }
}

std::string header(const std::string& lines)
{
    return "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\X]\n" + lines;
}

std::string utf16(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    return bytes;
}

// What the reader cannot read exactly is refused, naming the line; Windows'
// limits are the edge between loading and refusing.
TEST(RegistryFileTest, RefusesWhatItCannotWriteBackNamingTheLine)
{
    const std::string deep = [] {
        std::string path;
        for (int level = 0; level < 511; ++level) {
            path += "\\k";
        }
        return path;
    }();
    struct Case {
        std::string text;
        int line; // 0: loads
        const char* reason;
    };
    const Case cases[] = {
        {header("\"Note\"=\"Caf\xE9 cr\xE8me\"\n"), 4, "not UTF-8"},
        {header("\"Where\"=\"\\\\\\\\server\\\\Caf\xE9\"\n"), 4, "not UTF-8"},
        {header("\"A\"=dword:1\n\"Slash\"=\"\xC0\xAF\"\n"), 5, "not UTF-8"},
        {header("\"Surrogate\"=\"\xED\xA0\x80\"\n"), 4, "not UTF-8"},
        {header("\"Path\"=\"C:\\temp\"\n"), 4, "backslash"},
        {header("\"Na\\me\"=dword:1\n"), 4, "backslash"},
        {header("; ends in a backslash \\\n\"A\"=dword:1\n"), 0, ""},
        {utf16(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"A\"=\"\xD800\"\r\n"), 4,
         "surrogate"},
        {utf16(u"Windows Registry Editor Version 5.00\r\n") + "A", 2, "half a character"},
        {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software" + deep + "]\n", 0, ""},
        {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software" + deep + "\\k]\n", 3,
         "513 levels deep; Windows allows 512"},
        {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" + std::string(255, 'n') + "]\n", 0, ""},
        {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" + std::string(256, 'n') + "]\n", 3,
         "256 characters; Windows allows 255"},
        {header("\"" + std::string(16383, 'v') + "\"=dword:1\n"), 0, ""},
        {header("\"A\"=dword:1\n\"" + std::string(16384, 'v') + "\"=dword:1\n"), 5,
         "16384 characters; Windows allows 16383"},
        {header("\"B\"=hex(2:00\n"), 4, "malformed"},
    };
    for (const Case& c : cases) {
        Registry registry;
        const std::string shown = c.text.substr(0, 120);
        try {
            registry.importText(c.text, "file.reg");
            EXPECT_EQ(c.line, 0) << "accepted: " << shown;
            EXPECT_EQ(registry.fileText(), c.text) << shown;
        } catch (const RegistryFormatError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("file.reg:" + std::to_string(c.line) + ": "), std::string::npos) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
            EXPECT_LT(message.size(), 300u) << "the message stays readable";
        }
    }
}

// The same limits hold for the keys and names a caller creates, so that
// nothing the file could not hold reaches it.
TEST(RegistryFileTest, KeysAndNamesPastTheLimitsAreNeverCreated)
{
    Registry registry;
    EXPECT_THROW(registry.createKey("HKLM\\" + std::string(256, 'n')), std::invalid_argument);
    EXPECT_THROW(registry.setValue("HKLM\\X", std::string(16384, 'v'), RegistryValue::dword(1)), std::invalid_argument);
    EXPECT_THROW(registry.setValue("HKLM\\X", "two\nlines", RegistryValue::dword(1)), std::invalid_argument);
    EXPECT_THROW(registry.createKey("HKLM\\a\rb"), std::invalid_argument);
    EXPECT_FALSE(registry.keyExists("HKLM\\X"));
    registry.setValue("HKLM\\X", "Text", RegistryValue::string("line\nbreak"));
    Registry reread;
    reread.importText(registry.fileText(), "saved");
    EXPECT_EQ(reread.value("HKLM\\X", "Text"), RegistryValue::string("line\nbreak"));
}

} // namespace
} // namespace korval::host::testing
