// One exit-status table for every command: each row walked through the
// korval program itself, and the table in --help, the manual and the README
// the same.
#include "korval_program.h"
#include "tool_test_support.h"
#include "tools/korval/cli.h"
#include "tools/korval/machine_lock.h"
#include "tools/korval/machine_session.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <ostream>
#include <set>
#include <streambuf>

namespace {

using korval::tools_test::KorvalProgram;
using korval::tools_test::ProgramRun;
using korval::tools_test::ToolTest;

struct ExitCase {
    int status;
    std::vector<std::string> args; // "@" stands for the test's scratch folder
    const char* message;           // a part of standard error
};

class ExitStatusTest : public ToolTest {
protected:
    std::vector<std::string> resolved(const std::vector<std::string>& args) const
    {
        std::vector<std::string> out;
        for (const std::string& arg : args) {
            out.push_back(arg.rfind("@", 0) == 0 ? path(arg.substr(1)) : arg);
        }
        return out;
    }

    void prepare()
    {
        std::ofstream(path("exists.y4m")) << "an earlier capture";
        std::filesystem::create_directories(path("pic_0.png")); // a folder where the picture goes
        std::filesystem::create_directories(path("nobandwidth"));
        std::ofstream(path("nobandwidth/registry.reg"))
            << "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters]\n"
               "\"A_113\"=dword:00000000\n";
        std::ofstream(path("invalid.reg"))
            << "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters]\n"
               "\"A_0\"=dword:00000001\n\"A_65\"=dword:00000001\n";
    }
};

TEST_F(ExitStatusTest, EveryCommandKeepsToTheTable)
{
    prepare();
    const ExitCase cases[] = {
        {0, {"formats", "--no-wait"}, ""},
        {1, {"capture", "-n", "1", "--machine", "@nobandwidth", "-o", "@a.y4m"}, "STATUS_INVALID_PARAMETER"},
        {1, {"settings-checksum", "@invalid.reg"}, ""},
        {2, {"capture", "--bogus"}, "unknown option '--bogus'"},
        {2, {"capture", "-n", "1", "--set", "saturation=99999", "-o", "@b.y4m"}, "korval capture: --set saturation"},
        {2, {"properties", "--set", "saturation=99999"}, "korval properties: --set saturation"},
        {2, {"snapshot", "--set", "saturation=99999", "-o", "@s.png"}, "korval snapshot: --set saturation"},
        {2, {"capture", "-n", "3", "--raw", "@same.y4m", "-o", "@same.y4m"}, "are the same file"},
        {2, {"capture", "-n", "30", "--snapshot-at", "40", "-o", "@c.y4m"}, "--snapshot-at"},
        {3, {"capture", "-n", "1", "-o", "@exists.y4m"}, "exists already: -y replaces it"},
        {3, {"capture", "-n", "1", "-o", "@missing/a.y4m"}, "no folder"},
        {3, {"capture", "-n", "1", "-f", "rgb24", "-o", "@pic_%d.png"}, "pic_0.png"},
        {3, {"capture", "-n", "1", "--raw", "@missing/a.raw", "-o", "@d.y4m"}, "no folder"},
        {3, {"snapshot", "-o", "@missing/still.png"}, "korval snapshot: cannot create"},
        {3, {"settings-checksum", "@absent.reg"}, "absent.reg"},
        {3, {"process", "@absent.raw", "-o", "@e.y4m"}, "absent.raw"},
    };
    std::set<int> walked;
    for (const ExitCase& row : cases) {
        const ProgramRun run = KorvalProgram(dir_).run(resolved(row.args));
        EXPECT_EQ(run.status, row.status) << row.args[0] << " " << row.args[1] << ": " << run.err;
        EXPECT_NE(run.err.find(row.message), std::string::npos) << row.args[0] << ": " << run.err;
        walked.insert(row.status);
    }
    const auto kept = readFile(path("exists.y4m"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "an earlier capture");
    EXPECT_FALSE(std::filesystem::exists(path("same.y4m")));

    // 4: busy with --no-wait; 130: a stop signal ends the wait, in capture, a listing and serve alike.
    const std::string machine = path("busy");
    std::filesystem::create_directories(machine);
    const int fd = ::open((machine + "/.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const ProgramRun busy = KorvalProgram(dir_).run({"capture", "--machine", machine, "--no-wait", "-o", path("f.y4m")});
    EXPECT_EQ(busy.status, 4) << busy.err;
    walked.insert(busy.status);
    const std::pair<std::vector<std::string>, int> waits[] = {
        {{"capture", "-n", "1", "--machine", machine, "-o", path("g.y4m")}, SIGINT},
        {{"capture", "-n", "1", "--machine", machine, "-o", path("g.y4m")}, SIGTERM},
        {{"properties", "--machine", machine}, SIGTERM},
        {{"serve", "--port", "0", "--machine", machine}, SIGINT},
        {{"serve", "--port", "0", "--machine", machine}, SIGTERM},
    };
    for (const auto& [args, signal] : waits) {
        if (args[0] == "serve" && korval::tools::kRunsDriverImages) {
            continue; // the 32-bit korval has no serve
        }
        KorvalProgram waiting(dir_);
        waiting.start(args);
        ASSERT_TRUE(waiting.waitForError("waiting for another korval", 60));
        waiting.signal(signal);
        const ProgramRun run = waiting.finish();
        EXPECT_EQ(run.status, 130) << args[0] << ": " << run.err;
        EXPECT_NE(run.err.find("while waiting for machine directory"), std::string::npos) << run.err;
        walked.insert(run.status);
    }
    ::close(fd);

    walked.insert(5); // process with lost frames: ToolTest.ProcessNamesTheFramesItCouldNotDevelopAndKeepsTheRest
    for (const auto& row : korval::tools::exitStatusTable()) {
        EXPECT_TRUE(walked.count(row.code)) << "exit status " << row.code << " not walked";
    }
}

// The user who presses Ctrl-C as soon as "waiting for another korval" shows:
// SIGTERM when the stop signals are held at that moment; else the lock is
// given up so that the wait ends.
class PromptReader : public std::streambuf {
public:
    explicit PromptReader(int lockHolder) : lockHolder_(lockHolder) {}
    bool stopsHeld = false;

protected:
    int overflow(int character) override { return respond(), character; }
    std::streamsize xsputn(const char*, std::streamsize count) override { return respond(), count; }

private:
    void respond()
    {
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        stopsHeld = sigismember(&mask, SIGTERM) == 1;
        stopsHeld ? pthread_kill(pthread_self(), SIGTERM) : ::flock(lockHolder_, LOCK_UN);
    }
    int lockHolder_;
};

TEST_F(ExitStatusTest, AStopSignalAsSoonAsTheWaitIsAnnouncedEndsTheWait)
{
    const int holder = ::open(path(".lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    PromptReader reader(holder);
    std::ostream messages(&reader);
    int exitCode = 0;
    try {
        korval::tools::MachineLock lock(dir_, korval::tools::MachineLock::Mode::Exclusive, true, &messages);
    } catch (const korval::tools::SessionError& error) {
        exitCode = error.exitCode();
    }
    ::close(holder);
    EXPECT_TRUE(reader.stopsHeld) << "the wait was announced before a stop signal could end it";
    EXPECT_EQ(exitCode, korval::tools::kExitInterrupted);
}

// The table printed by --help and the manual is the one in the README.
TEST_F(ExitStatusTest, HelpManualAndReadmeShowTheOneTable)
{
    ASSERT_EQ(run({"--help"}), 0);
    EXPECT_NE(out_.str().find(korval::tools::exitStatusText()), std::string::npos) << out_.str();
    ASSERT_EQ(run({"man"}), 0);
    const std::string manual = out_.str();
    std::ifstream readmeFile(std::string(KORVAL_SOURCE_DIR) + "/README.md");
    const std::string readme{std::istreambuf_iterator<char>(readmeFile), std::istreambuf_iterator<char>()};
    for (const auto& row : korval::tools::exitStatusTable()) {
        std::string code = std::to_string(row.code);
        code.resize(5, ' ');
        EXPECT_NE(readme.find("      " + code + row.meaning + "\n"), std::string::npos) << row.code;
        EXPECT_NE(manual.find(".B " + std::to_string(row.code) + "\n"), std::string::npos) << row.code;
    }
}

} // namespace
