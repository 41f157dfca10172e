#include "host/loader/image_entries.h"
#include "host/loader/platform_exports.h"
#include "../kernel/kernel_test_support.h"

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace korval::host::testing {
namespace {

// Every routine the image may import (the Windows build's import check keeps
// the image within this list) is bound by module and name.
TEST(PlatformExports, EveryImportTheImageMayHaveIsExported)
{
    std::ifstream allowed(KORVAL_SOURCE_DIR "/win32/imports.allow");
    ASSERT_TRUE(allowed) << "win32/imports.allow";
    std::string line;
    int imports = 0;
    while (std::getline(allowed, line)) {
        std::istringstream fields(line);
        std::string module, name;
        if (line.empty() || line[0] == '#' || !(fields >> module >> name)) {
            continue;
        }
        ++imports;
        const PlatformExport* found = findPlatformExport(module, name);
        ASSERT_NE(found, nullptr) << module << " " << name;
        EXPECT_NE(found->address, nullptr) << name;
    }
    EXPECT_GE(imports, 61);
}

TEST(PlatformExports, ModulesMatchWithoutCaseAndNamesExactly)
{
    struct Case {
        const char* module;
        const char* name;
        bool found;
    };
    const Case cases[] = {
        {"NTOSKRNL.EXE", "IofCallDriver", true}, {"hal.dll", "KfAcquireSpinLock", true},
        {"usbd.sys", "_USBD_ParseDescriptors@16", true}, {"Stream.SYS", "StreamClassRegisterAdapter", true},
        {"ntoskrnl.exe", "iofcalldriver", false}, {"ntoskrnl.exe", "KfAcquireSpinLock", false},
        {"USBD.SYS", "USBD_ParseDescriptors", false}, {"ntoskrnl", "IofCallDriver", false},
        {"ntoskrnl.exe", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(findPlatformExport(c.module, c.name) != nullptr, c.found) << c.module << " " << c.name;
    }
    std::set<std::string> seen;
    for (const PlatformExport& entry : platformExports()) {
        EXPECT_TRUE(seen.insert(std::string(entry.module) + "!" + entry.name).second) << entry.name;
    }
}

TEST(PlatformExports, DataImportsAreTheVariablesThemselves)
{
    EXPECT_EQ(findPlatformExport("ntoskrnl.exe", "PsThreadType")->address, &PsThreadType);
    EXPECT_EQ(findPlatformExport("ntoskrnl.exe", "KeNumberProcessors")->address, &KeNumberProcessors);
    EXPECT_EQ(KeNumberProcessors, 1);
}

class SystemRoutineTest : public KernelTest {};

TEST_F(SystemRoutineTest, FindsKernelAndHalRoutinesOnly)
{
    struct Case {
        const char16_t* name;
        void* address;
    };
    const Case cases[] = {
        {u"IoReuseIrp", reinterpret_cast<void*>(&IoReuseIrp)},
        {u"KeFlushQueuedDpcs", reinterpret_cast<void*>(&KeFlushQueuedDpcs)},
        {u"KeGetCurrentIrql", reinterpret_cast<void*>(&KeGetCurrentIrql)},
        {u"ExAllocatePool2", nullptr},
        {u"StreamClassRegisterAdapter", nullptr},
        {u"PsThreadType", nullptr},
    };
    for (const Case& c : cases) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, const_cast<PWSTR>(reinterpret_cast<PCWSTR>(c.name)));
        EXPECT_EQ(MmGetSystemRoutineAddress(&name), c.address);
    }
}

} // namespace
} // namespace korval::host::testing
