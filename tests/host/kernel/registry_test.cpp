#include "host/kernel/pool.h"
#include "kernel_test_support.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace korval::host::testing {
namespace {

constexpr const char* kParameters = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";
const WCHAR kParametersPath[] = KTEXT("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters");

using RegistryTest = KernelTest;

// The driver's one-value read: REQUIRED | DIRECT with the slot's own contents as default.
NTSTATUS readDword(PCWSTR name, ULONG* slot)
{
    ULONG fallback = *slot;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].Flags = RTL_QUERY_REGISTRY_REQUIRED | RTL_QUERY_REGISTRY_DIRECT;
    table[0].Name = const_cast<PWSTR>(name);
    table[0].EntryContext = slot;
    table[0].DefaultType = REG_DWORD;
    table[0].DefaultData = &fallback;
    table[0].DefaultLength = sizeof(ULONG);
    return RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kParametersPath, table, nullptr, nullptr);
}

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(RegistryTest, DirectDwordReadsTheValueOrKeepsTheSlot)
{
    platform_->registry().setValue(kParameters, "A_3", RegistryValue::dword(0x1234));
    ULONG slot = 7;
    EXPECT_EQ(readDword(KTEXT("a_3"), &slot), STATUS_SUCCESS) << "names compare without case";
    EXPECT_EQ(slot, 0x1234u);
    slot = 99;
    EXPECT_EQ(readDword(KTEXT("A_4"), &slot), STATUS_SUCCESS);
    EXPECT_EQ(slot, 99u);
}

// A direct entry stores the value by the value's own type, whatever the entry
// context is: that is how a wrongly typed value overwrites it on the platform.
// Only the type check protects the context.
TEST_F(RegistryTest, DirectEntriesStoreByTheValuesTypeUnlessTypeChecked)
{
    auto& registry = platform_->registry();
    registry.setValue(kParameters, "Short", RegistryValue::binary({1, 2, 3}));
    registry.setValue(kParameters, "Long", RegistryValue::binary(std::vector<std::uint8_t>(8, 0xEE)));
    registry.setValue(kParameters, "Text", RegistryValue::string("no number"));
    struct Context {
        LONG first;     // the buffer size of a long value's context (or a slot)
        ULONG rest[7];
    };
    struct Case {
        const char* name;
        LONG first;
        ULONG typeCheck; // REG_NONE: no type check
        NTSTATUS status;
        ULONG expected[4];
    };
    const Case cases[] = {
        {"Short", 0x11111111, REG_NONE, STATUS_SUCCESS, {0x11030201, 7, 7, 7}},
        {"Long", -8, REG_NONE, STATUS_SUCCESS, {0xEEEEEEEE, 0xEEEEEEEE, 7, 7}},
        {"Long", -7, REG_NONE, STATUS_BUFFER_TOO_SMALL, {ULONG(-7), 7, 7, 7}},
        {"Long", 16, REG_NONE, STATUS_SUCCESS, {8, REG_BINARY, 0xEEEEEEEE, 0xEEEEEEEE}},
        {"Long", 16, REG_SZ, STATUS_OBJECT_TYPE_MISMATCH, {16, 7, 7, 7}},
        {"Text", 0x11111111, REG_DWORD, STATUS_OBJECT_TYPE_MISMATCH, {0x11111111, 7, 7, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.first));
        Context context{c.first, {7, 7, 7, 7, 7, 7, 7}};
        std::u16string name(c.name, c.name + std::strlen(c.name));
        RTL_QUERY_REGISTRY_TABLE table[2] = {};
        table[0].Flags = RTL_QUERY_REGISTRY_REQUIRED | RTL_QUERY_REGISTRY_DIRECT;
        table[0].Name = reinterpret_cast<PWSTR>(name.data());
        table[0].EntryContext = &context;
        if (c.typeCheck != REG_NONE) {
            table[0].Flags |= RTL_QUERY_REGISTRY_TYPECHECK;
            table[0].DefaultType = c.typeCheck << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT;
        }
        EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kParametersPath, table, nullptr, nullptr), c.status);
        EXPECT_EQ(ULONG(context.first), c.expected[0]);
        for (int i = 1; i < 4; ++i) {
            EXPECT_EQ(context.rest[i - 1], c.expected[i]) << i;
        }
    }
}

// Without the type check a string lands in whatever the entry context is, as
// a UNICODE_STRING: a slot meant for a number is overwritten.
TEST_F(RegistryTest, StringWithoutTypeCheckIsStoredAsAUnicodeString)
{
    platform_->registry().setValue(kParameters, "A_6", RegistryValue::string("text"));
    UNICODE_STRING target{0, 0, nullptr};
    EXPECT_EQ(readDword(KTEXT("A_6"), reinterpret_cast<ULONG*>(&target)), STATUS_SUCCESS);
    EXPECT_EQ(target.Length, 4 * sizeof(WCHAR));
    ASSERT_NE(target.Buffer, nullptr) << "a null buffer gets a pool allocation";
    EXPECT_EQ(target.Buffer[0], u't');
    RtlFreeUnicodeString(&target);
}

TEST_F(RegistryTest, DirectStringFillsTheCallersBufferOrRefusesWhenItIsTooSmall)
{
    const std::string frame = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters\\Frame";
    platform_->registry().setValue(frame, "PATH", RegistryValue::string("C:\\Frames"));
    WCHAR buffer[32] = {};
    UNICODE_STRING text{0, sizeof(buffer), buffer};
    WCHAR empty = 0;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].Flags = RTL_QUERY_REGISTRY_REQUIRED | RTL_QUERY_REGISTRY_DIRECT;
    table[0].Name = const_cast<PWSTR>(KTEXT("PATH"));
    table[0].EntryContext = &text;
    table[0].DefaultType = REG_SZ;
    table[0].DefaultData = &empty;
    table[0].DefaultLength = sizeof(WCHAR);
    const WCHAR framePath[] = KTEXT("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters\\Frame");
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, framePath, table, nullptr, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(text.Length, 9 * sizeof(WCHAR));
    EXPECT_EQ(buffer[0], u'C');
    EXPECT_EQ(buffer[9], 0);

    table[0].Name = const_cast<PWSTR>(KTEXT("FN0003"));
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, framePath, table, nullptr, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(text.Length, 0) << "the empty default";

    WCHAR tiny[4] = {u'x', u'x', u'x', u'x'};
    UNICODE_STRING small{0, sizeof(tiny), tiny};
    table[0].Name = const_cast<PWSTR>(KTEXT("PATH"));
    table[0].EntryContext = &small;
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, framePath, table, nullptr, nullptr), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(tiny[3], u'x');
}

TEST_F(RegistryTest, QueryOfAMissingKeyFailsUnlessOptional)
{
    ULONG slot = 0;
    EXPECT_EQ(readDword(KTEXT("A_0"), &slot), STATUS_OBJECT_NAME_NOT_FOUND);
    RTL_QUERY_REGISTRY_TABLE table[1] = {};
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE | RTL_REGISTRY_OPTIONAL, kParametersPath, table, nullptr,
                                     nullptr),
              STATUS_SUCCESS);
}

TEST_F(RegistryTest, WriteRegistryValueNeedsAnExistingKey)
{
    ULONG value = 0x400;
    const WCHAR statusPath[] = KTEXT("\\Registry\\MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL");
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, statusPath, KTEXT("StatusReport"), REG_DWORD, &value, 4),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_FALSE(platform_->registry().keyExists("HKLM\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL"));
    platform_->registry().createKey("HKLM\\Software\\2b9ec021-c823-4f3d-9752-c18522db7d98\\korval");
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, statusPath, KTEXT("StatusReport"), REG_DWORD, &value, 4),
              STATUS_SUCCESS);
    EXPECT_EQ(platform_->registry()
                  .value("HKEY_LOCAL_MACHINE\\SOFTWARE\\2B9EC021-C823-4F3D-9752-C18522DB7D98\\KORVAL", "statusreport")
                  ->asDword(),
              0x400u);
    value = 3;
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_SERVICES, KTEXT("KORVAL"), KTEXT("A_0"), REG_DWORD, &value, 4),
              STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(RegistryTest, DriverKeyTakesAnUnterminatedStringAndTheFileShowsItExactly)
{
    DEVICE_OBJECT pdo{};
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, KEY_WRITE, &key), STATUS_SUCCESS);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, KTEXT("CreateFileName"));
    const WCHAR text[] = KTEXT("USB 1.1");
    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_SZ, const_cast<WCHAR*>(text), 14), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    const auto stored = platform_->registry().value(platform_->driverKeyPath(&pdo), "CreateFileName");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->data.size(), 14u);
    EXPECT_EQ(stored->asString(), "USB 1.1");
    EXPECT_NE(fileText(machine_ / Platform::kRegistryFileName).find("\"CreateFileName\"=hex(1):55,00,53,00,42,00,20,00,31,00,2e,00,31,00"),
              std::string::npos);

    ASSERT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &key), STATUS_SUCCESS);
    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_SZ, const_cast<WCHAR*>(text), 14), STATUS_ACCESS_DENIED);
    ZwClose(key);
    platform_->failNextCalls("IoOpenDeviceRegistryKey", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, KEY_WRITE, &key), STATUS_INSUFFICIENT_RESOURCES);
    platform_->checkNoHandleLeaks();
}

TEST_F(RegistryTest, ValuesSurviveANewPlatformOnTheSameMachineDirectory)
{
    platform_->registry().createKey(kParameters);
    ULONG value = 0xABCD;
    ASSERT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kParametersPath, KTEXT("A_97"), REG_DWORD, &value, 4),
              STATUS_SUCCESS);
    UCHAR snapshot[4] = {1, 0, 0, 0};
    ASSERT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kParametersPath, KTEXT("usb_snapshot_status"), REG_BINARY,
                                    snapshot, 4),
              STATUS_SUCCESS);
    platform_->registry().setValue(kParameters, "Quote \"and\" slash \\", RegistryValue::string("a \"b\" \\c"));
    const std::string text = fileText(machine_ / Platform::kRegistryFileName);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters]"),
              std::string::npos);
    EXPECT_NE(text.find("\"A_97\"=dword:0000abcd"), std::string::npos);
    EXPECT_NE(text.find("\"usb_snapshot_status\"=hex:01,00,00,00"), std::string::npos);

    platform_.reset();
    platform_ = std::make_unique<Platform>(PlatformOptions{machine_, ClockMode::Stepped});
    ULONG slot = 0;
    EXPECT_EQ(readDword(KTEXT("A_97"), &slot), STATUS_SUCCESS);
    EXPECT_EQ(slot, 0xABCDu);
    EXPECT_EQ(platform_->registry().value(kParameters, "usb_snapshot_status"),
              RegistryValue::binary({1, 0, 0, 0}));
    EXPECT_EQ(platform_->registry().value(kParameters, "Quote \"and\" slash \\")->asString(), "a \"b\" \\c");
}

TEST_F(RegistryTest, UnwritableRegistryFileFailsTheWriteInsteadOfThrowingThroughTheDriver)
{
    platform_->registry().createKey(kParameters);
    std::filesystem::create_directory(machine_ / (std::string(Platform::kRegistryFileName) + "." +
                                                  std::to_string(::getpid()) + ".tmp"));
    ULONG value = 1;
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kParametersPath, KTEXT("A_1"), REG_DWORD, &value, 4),
              STATUS_UNSUCCESSFUL);
    EXPECT_THROW(platform_->registry().setValue(kParameters, "A_2", RegistryValue::dword(2)), std::runtime_error);
}

TEST_F(RegistryTest, ValueNamesPastWindowsLimitAreInvalidAndNeverReachTheFile)
{
    platform_->registry().createKey(kParameters);
    ULONG value = 1;
    const std::u16string longName(16384, u'v');
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kParametersPath, reinterpret_cast<PCWSTR>(longName.c_str()),
                                    REG_DWORD, &value, 4),
              STATUS_INVALID_PARAMETER);
    const WCHAR broken[] = {u'a', u'\n', u'b', 0};
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kParametersPath, broken, REG_DWORD, &value, 4),
              STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(platform_->registry().valueNames(kParameters).empty());
    Registry reread;
    EXPECT_NO_THROW(reread.importText(fileText(machine_ / Platform::kRegistryFileName), "saved"));
}

TEST_F(RegistryTest, LongBinaryValuesWrapAndReadBack)
{
    std::vector<std::uint8_t> bytes(200);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    platform_->registry().setValue(kParameters, "Table", RegistryValue::binary(bytes));
    platform_->registry().setValue(kParameters, "", RegistryValue{REG_MULTI_SZ, {0x41, 0, 0, 0, 0, 0}});
    Registry copy;
    copy.importText(platform_->registry().exportText(), "export");
    EXPECT_EQ(copy.value(kParameters, "Table"), RegistryValue::binary(bytes));
    EXPECT_EQ(copy.value(kParameters, "")->type, static_cast<std::uint32_t>(REG_MULTI_SZ));
    std::istringstream lines(platform_->registry().exportText());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }
}

TEST_F(RegistryTest, MalformedFileIsRefusedWithItsLineAndLeftUntouched)
{
    platform_.reset();
    const auto file = machine_ / Platform::kRegistryFileName;
    const std::string broken = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\X]\n"
                               "\"Good\"=dword:00000001\n\"Bad\"=dword:xyz\n";
    {
        std::ofstream out(file);
        out << broken;
    }
    try {
        Platform refused(PlatformOptions{machine_, ClockMode::Stepped});
        FAIL() << "a malformed registry file was accepted";
    } catch (const RegistryFormatError& error) {
        EXPECT_NE(std::string(error.what()).find(":5:"), std::string::npos) << error.what();
    }
    EXPECT_EQ(fileText(file), broken);
    platform_ = std::make_unique<Platform>(PlatformOptions{});

    Registry registry;
    for (const char* text : {"REGEDIT4\n", "Windows Registry Editor Version 5.00\n\"Lost\"=dword:1\n",
                             "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n",
                             "Windows Registry Editor Version 5.00\n[HKLM\\X]\n\"Open=dword:1\n",
                             "Windows Registry Editor Version 5.00\n[HKLM\\X]\n\"V\"=hex:1,02\n"}) {
        EXPECT_THROW(registry.importText(text, "case"), RegistryFormatError) << text;
    }
}

TEST_F(RegistryTest, DeviceInterfacesAreRegisteredOnceAndSwitchedObservably)
{
    static const GUID image = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
    DEVICE_OBJECT pdo{};
    platform_->setDeviceInstance(&pdo, "USB\\VID_0000&PID_0001\\5&1");
    UNICODE_STRING link{};
    ASSERT_EQ(IoRegisterDeviceInterface(&pdo, &image, nullptr, &link), STATUS_SUCCESS);
    auto interfaces = platform_->deviceInterfaces();
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_EQ(interfaces[0].symbolicLink, "\\??\\USB#VID_0000&PID_0001#5&1#{6bdd1fc6-810f-11d0-bec7-08002be2092f}");
    EXPECT_EQ(interfaces[0].classGuid, "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}");
    EXPECT_FALSE(interfaces[0].enabled);
    EXPECT_EQ(IoSetDeviceInterfaceState(&link, TRUE), STATUS_SUCCESS);
    EXPECT_TRUE(platform_->deviceInterfaces()[0].enabled);
    EXPECT_EQ(IoSetDeviceInterfaceState(&link, TRUE), STATUS_OBJECT_NAME_EXISTS);
    EXPECT_EQ(IoSetDeviceInterfaceState(&link, FALSE), STATUS_SUCCESS);
    EXPECT_FALSE(platform_->deviceInterfaces()[0].enabled);
    UNICODE_STRING again{};
    ASSERT_EQ(IoRegisterDeviceInterface(&pdo, &image, nullptr, &again), STATUS_SUCCESS);
    EXPECT_EQ(platform_->deviceInterfaces().size(), 1u);
    RtlFreeUnicodeString(&link);
    RtlFreeUnicodeString(&again);
    EXPECT_EQ(link.Buffer, nullptr);
    platform_->failNextCalls("IoRegisterDeviceInterface", STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(IoRegisterDeviceInterface(&pdo, &image, nullptr, &link), STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(RegistryTest, SubkeyEntrySwitchesKeysForTheFollowingEntries)
{
    platform_->registry().setValue(std::string(kParameters) + "\\Frame", "N", RegistryValue::dword(12));
    platform_->registry().setValue(kParameters, "N", RegistryValue::dword(1));
    ULONG inFrame = 0;
    ULONG inParameters = 0;
    RTL_QUERY_REGISTRY_TABLE table[4] = {};
    table[0].Flags = RTL_QUERY_REGISTRY_SUBKEY;
    table[0].Name = const_cast<PWSTR>(KTEXT("Frame"));
    table[1].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_REQUIRED;
    table[1].Name = const_cast<PWSTR>(KTEXT("N"));
    table[1].EntryContext = &inFrame;
    table[1].DefaultType = REG_DWORD;
    table[2].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_REQUIRED | RTL_QUERY_REGISTRY_TOPKEY;
    table[2].Name = const_cast<PWSTR>(KTEXT("N"));
    table[2].EntryContext = &inParameters;
    table[2].DefaultType = REG_DWORD;
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kParametersPath, table, nullptr, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(inFrame, 12u);
    EXPECT_EQ(inParameters, 1u);
}

TEST_F(RegistryTest, ZwQueryValueKeyReportsTheSizeItNeeds)
{
    platform_->registry().setValue(kParameters, "A_64", RegistryValue::dword(0x1F));
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, kParametersPath);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key = nullptr;
    ASSERT_EQ(ZwOpenKey(&key, KEY_READ, &attributes), STATUS_SUCCESS);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, KTEXT("A_64"));
    alignas(8) UCHAR buffer[32] = {};
    ULONG needed = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, 13, &needed), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 16u);
    EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, sizeof(buffer), &needed), STATUS_SUCCESS);
    const auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    EXPECT_EQ(info->Type, static_cast<ULONG>(REG_DWORD));
    EXPECT_EQ(info->Data[0], 0x1F);
    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_DWORD, buffer, 4), STATUS_ACCESS_DENIED) << "opened for reading";
    ZwClose(key);
    platform_->checkNoHandleLeaks();
}

TEST_F(RegistryTest, QueryRoutineSeesEveryValueOfAKey)
{
    platform_->registry().setValue(kParameters, "A_0", RegistryValue::dword(1));
    platform_->registry().setValue(kParameters, "KVDSN", RegistryValue::dword(2));
    std::vector<std::pair<std::string, ULONG>> seen;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].QueryRoutine = [](PWSTR name, ULONG, PVOID data, ULONG, PVOID context, PVOID) NTAPI -> NTSTATUS {
        auto* list = static_cast<std::vector<std::pair<std::string, ULONG>>*>(context);
        std::string narrow;
        for (PWSTR c = name; *c != 0; ++c) {
            narrow += static_cast<char>(*c);
        }
        list->emplace_back(narrow, *static_cast<ULONG*>(data));
        return STATUS_SUCCESS;
    };
    EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, KTEXT("KORVAL\\Parameters"), table, &seen, nullptr),
              STATUS_SUCCESS);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], std::make_pair(std::string("KVDSN"), ULONG{2}));
}

} // namespace
} // namespace korval::host::testing

namespace korval::host::testing {
namespace {

TEST_F(RegistryTest, UnicodeFileStaysUnicodeWhenSaved)
{
    platform_.reset();
    const auto file = machine_ / Platform::kRegistryFileName;
    const std::u16string text = u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n"
                                u"\"A\"=dword:00000001\r\n";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(text.data()),
                                                static_cast<std::streamsize>(text.size() * 2));
    platform_ = std::make_unique<Platform>(PlatformOptions{machine_, ClockMode::Stepped});
    platform_->registry().setValue("HKLM\\Software\\X", "B", RegistryValue::dword(2));
    const std::string bytes = fileText(file);
    ASSERT_TRUE(bytes.starts_with(std::string_view("\xFF\xFEW\0i\0", 6))) << "the byte-order mark and UTF-16 are kept";
    EXPECT_NE(bytes.find(std::string("\r\0\n\0", 4)), std::string::npos) << "with CR LF line ends";
    Registry reread;
    reread.importText(bytes, "reread");
    EXPECT_EQ(reread.value("HKLM\\Software\\X", "A")->asDword(), 1u);
    EXPECT_EQ(reread.value("HKLM\\Software\\X", "B")->asDword(), 2u);
}

} // namespace
} // namespace korval::host::testing
