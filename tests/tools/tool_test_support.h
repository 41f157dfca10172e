// A scratch directory per test and a way to run the korval command line into strings.
#pragma once

#include "support/test_directory.h"
#include "tools/korval/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace korval::tools_test {

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = korval::testing::freshTestDirectory("korval-tooltest");
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    int run(std::vector<std::string> args)
    {
        out_.str({});
        err_.str({});
        return korval::tools::runKorval(args, out_, err_);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    static std::vector<std::uint8_t> readFile(const std::string& name)
    {
        std::ifstream file(name, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path dir_;
    std::ostringstream out_, err_;
};

} // namespace korval::tools_test
