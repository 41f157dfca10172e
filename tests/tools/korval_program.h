// Runs the korval program itself in a child process, as a user would: its
// exit status and what it printed.
#pragma once

#include "tools/korval/driver_choice.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace korval::tools_test {

struct ProgramRun {
    int status = -1; // exit status; 128 + signal when killed
    std::string out;
    std::string err;
};

class KorvalProgram {
public:
    explicit KorvalProgram(std::filesystem::path scratch) : scratch_(std::move(scratch)) {}

    // Starts korval with `args` (under its runner, if any; with --driver $KORVAL_DRIVER_IMAGE
    // where the command loads the driver); standard output and error go to files.
    void start(const std::vector<std::string>& args)
    {
        std::vector<std::string> all = {KORVAL_BINARY};
        if (const std::string runner = KORVAL_RUNNER; !runner.empty()) {
            all.insert(all.begin(), runner);
        }
        all.insert(all.end(), args.begin(), args.end());
        const char* image = std::getenv("KORVAL_DRIVER_IMAGE");
        if (image != nullptr && !args.empty() && korval::tools::commandLoadsDriver(args[0])) {
            all.insert(all.end() - static_cast<std::ptrdiff_t>(args.size() - 1), {"--driver", image});
        }
        std::vector<char*> argv;
        for (auto& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        // Under qemu-user posix_spawn returns before the child opens these: no stale words.
        std::filesystem::remove(outFile());
        std::filesystem::remove(errFile());
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
    }

    void signal(int number) { ::kill(pid_, number); }

    // Waits until standard error holds `text` (or `seconds` pass).
    bool waitForError(const std::string& text, int seconds)
    {
        return waitUntil([&] { return read(errFile()).find(text) != std::string::npos; }, seconds);
    }

    // Waits until `happened` holds (or `seconds` pass, a bound for a hung program only).
    template <typename Predicate>
    static bool waitUntil(Predicate happened, int seconds)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            if (happened()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    ProgramRun finish()
    {
        int raw = 0;
        ::waitpid(pid_, &raw, 0);
        ProgramRun result;
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        result.out = read(outFile());
        result.err = read(errFile());
        return result;
    }

    ProgramRun run(const std::vector<std::string>& args)
    {
        start(args);
        return finish();
    }

    pid_t pid() const { return pid_; }

private:
    std::filesystem::path outFile() const { return scratch_ / "program.out"; }
    std::filesystem::path errFile() const { return scratch_ / "program.err"; }
    static std::string read(const std::filesystem::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path scratch_;
    pid_t pid_ = -1;
};

} // namespace korval::tools_test
