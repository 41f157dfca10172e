#include "tools/korval/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class SettingsChecksumTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("korval-tool-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path writeFile(const std::string& text)
    {
        const fs::path path = dir_ / "settings.reg";
        std::ofstream(path) << text;
        return path;
    }

    int run(std::vector<std::string> args)
    {
        out_.str({});
        err_.str({});
        return korval::tools::runKorval(args, out_, err_);
    }

    fs::path dir_;
    std::ostringstream out_, err_;
};

const char* const kTable = "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters]\n"
                           "\"A_0\"=dword:01020304\n";

TEST_F(SettingsChecksumTest, ReportsWritesAndThenAcceptsTheChecksum)
{
    const fs::path file = writeFile(kTable);
    EXPECT_EQ(run({"settings-checksum", file.string()}), 1);
    EXPECT_NE(out_.str().find("checksum 0xFBFCFDFE"), std::string::npos) << out_.str();
    EXPECT_NE(out_.str().find("missing"), std::string::npos);

    EXPECT_EQ(run({"settings-checksum", file.string(), "--write"}), 0);
    EXPECT_EQ(run({"settings-checksum", file.string()}), 0);
    EXPECT_NE(out_.str().find("valid"), std::string::npos) << out_.str();
}

TEST_F(SettingsChecksumTest, NamesTheFileOrArgumentAtFault)
{
    EXPECT_EQ(run({"settings-checksum", (dir_ / "absent.reg").string()}), 3) << "a file that cannot be read";
    EXPECT_NE(err_.str().find("absent.reg"), std::string::npos);

    const fs::path broken = writeFile("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X]\nnonsense\n");
    EXPECT_EQ(run({"settings-checksum", broken.string()}), 3) << "a file that cannot be read";
    EXPECT_NE(err_.str().find("4"), std::string::npos) << "the message names the line: " << err_.str();
    std::ifstream kept(broken);
    std::string first;
    std::getline(kept, first);
    EXPECT_EQ(first, "Windows Registry Editor Version 5.00") << "a bad file is never rewritten";

    EXPECT_EQ(run({"settings-checksum", "--bogus"}), 2);
    EXPECT_EQ(run({"frobnicate"}), 2);
    EXPECT_NE(err_.str().find("frobnicate"), std::string::npos);
}

} // namespace
