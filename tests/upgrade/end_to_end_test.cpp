// The built brenvik run as a process on a temporary station disk, with
// stand-ins for the write-filter managers, the 64-bit launcher and the
// health monitor.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "test_support.hpp"
#include "winsvc/posix_services.hpp"

extern char** environ;

namespace {

using namespace brenvik_test;
using Args = std::vector<std::string>;
using Lines = std::vector<std::string>;

struct Result {
    int exitStatus = -1000;  // the process's exit status (0 to 255)
    std::string out;
};

// Starts `program` with `args` and exactly the environment `env`; its
// standard output goes to `*out` (null: inherited).
pid_t Start(const std::string& program, const Args& args, const std::map<std::string, std::string>& env, int* out) {
    std::vector<std::string> envText;
    for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argText{program};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argText) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeFds[2] = {-1, -1};
    if (out != nullptr) {
        if (::pipe(pipeFds) != 0) return -1;
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    }
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (out != nullptr) {
        ::close(pipeFds[1]);
        *out = pipeFds[0];
    }
    return pid;
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp_.Path().string().empty());
        root_ = temp_.Path().string() + "/root";
        bin_ = temp_.Path().string() + "/bin";
        log_ = temp_.Path().string() + "/tools.log";
        fs::create_directories(root_ + "/C/Station");
        fs::create_directories(bin_);
        WriteText(root_ + "/C/Anvora/opengl32.dll_", "opengl library");
        WriteText(root_ + "/C/Anvora/glu32.dll_", "glu library");
        for (const std::string& tool : {bin_ + "/ewfmgr", bin_ + "/fbwfmgr", root_ + "/C/Anvora/zvX64Launcher.exe"}) {
            fs::copy_file(BRENVIK_FAKE_TOOL, tool);
            fs::permissions(tool, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
        }
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            size_t equals = entry.find('=');
            if (equals == std::string::npos || entry.compare(0, 8, "BRENVIK_") == 0) continue;
            env_[entry.substr(0, equals)] = entry.substr(equals + 1);
        }
        env_["PATH"] = bin_ + ":" + (env_.count("PATH") ? env_["PATH"] : "/usr/bin:/bin");
        env_["BRENVIK_ROOT"] = root_;
        env_["BRENVIK_HOME"] = "C:\\Anvora";
        env_["BRENVIK_WINDOWS"] = temp_.Path().string() + "/windows";
        env_["BRENVIK_TEST_LOG"] = log_;
    }

    Result Brenvik(const Args& args) {
        Result result;
        int out = -1;
        pid_t pid = Start(BRENVIK_PROGRAM, args, env_, &out);
        EXPECT_GT(pid, 0);
        if (pid <= 0) return result;
        // Read until the end, but never hang the suite on a stuck child.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        char buffer[4096];
        while (true) {
            pollfd watch{out, POLLIN, 0};
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count());
            if (left <= 0 || ::poll(&watch, 1, left) == 0) {
                ADD_FAILURE() << "brenvik did not finish";
                ::kill(pid, SIGKILL);
                break;
            }
            ssize_t n = ::read(out, buffer, sizeof buffer);
            if (n <= 0) break;
            result.out.append(buffer, static_cast<size_t>(n));
        }
        ::close(out);
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return result;
    }

    // The tools' record: one line per run, name and arguments tab-separated.
    Lines ToolRuns() {
        Lines lines;
        std::string text = ReadText(log_);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
    void StationType(const std::string& type) {
        WriteText(root_ + "/C/Station/_StationInfo.xml", "<StationInfo><Type>" + type + "</Type></StationInfo>");
    }

    zvtest::TempFileSpace temp_{"brenvik", zvtest::TempFileSpace::Root::kLeave};
    std::string root_, bin_, log_;
    std::map<std::string, std::string> env_;
};

TEST_F(EndToEndTest, UsageErrorsExitWithMinusOne) {
    struct Case {
        Args args;
        std::string out;
    };
    const Case cases[] = {
        {{}, "Insufficient parameters\n"},
        {{"--upgrade"}, "Invalid command found\n"},
        {{"--commit", "C:\\Station"}, "Insufficient parameters: --commit needs a station folder and a path\n"},
        {{"--addopengl"}, "Insufficient parameters: --addopengl needs a folder\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        Result r = Brenvik(c.args);
        EXPECT_EQ(r.exitStatus, 255);  // -1
        EXPECT_EQ(r.out, c.out);
    }
    EXPECT_TRUE(ToolRuns().empty());

    Result help = Brenvik({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("--preupgrade"), std::string::npos) << help.out;

    env_["BRENVIK_ROOT"] = temp_.Path().string() + "/nowhere";
    Result badRoot = Brenvik({"--preupgrade"});
    EXPECT_EQ(badRoot.exitStatus, 255);
    EXPECT_NE(badRoot.out.find("BRENVIK_ROOT"), std::string::npos) << badRoot.out;
}

TEST_F(EndToEndTest, SetModelWritesTheModelFile) {
    const std::string model = root_ + "/C/Station/Model.xml";
    WriteText(model, "<Station><Serial>12</Serial></Station>");
    ::chmod(model.c_str(), 0444);

    Result r = Brenvik({"--SETMODEL", "--MODEL", "XR-200", "--FILE", "c:\\station\\model.xml"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");
    std::string text = ReadText(model);
    EXPECT_NE(text.find("<Model>XR-200</Model>"), std::string::npos) << text;
    EXPECT_NE(text.find("<Serial>12</Serial>"), std::string::npos) << text;
    struct stat st;
    ASSERT_EQ(::stat(model.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u) << "the file stays writable";

    r = Brenvik({"--setmodel", "--file", "C:\\Station\\Model.xml", "--model", "XR-300"});
    EXPECT_EQ(r.exitStatus, 0);
    text = ReadText(model);
    EXPECT_NE(text.find("<Model>XR-300</Model>"), std::string::npos) << text;
    EXPECT_EQ(text.find("XR-200"), std::string::npos) << text;

    // The platform's reason follows where it kept one.
    const struct {
        Args args;
        std::string out;
    } failures[] = {
        {{"--setmodel", "--file", "C:\\Station\\Model.xml"}, "Could not set model name\n"},
        {{"--setmodel", "--file", "C:\\Station\\None.xml", "--model", "X"}, "Could not set model name\n"},
        {{"--setmodel", "--file", "C:\\..\\..\\etc\\hostname", "--model", "X"},
         "Could not set model name\nReason: \"C:\\..\\..\\etc\\hostname\" leads out of the file space\n"},
    };
    for (const auto& failing : failures) {
        SCOPED_TRACE(failing.args[2]);
        r = Brenvik(failing.args);
        EXPECT_EQ(r.exitStatus, 255);
        EXPECT_EQ(r.out, failing.out);
    }
    EXPECT_EQ(ReadText(model), text);
}

TEST_F(EndToEndTest, CommitThroughTheFileBasedFilter) {
    StationType("Lamina-XPE");
    const std::string injected = temp_.Path().string() + "/injected";
    Result r = Brenvik({"--commit", "C:\\Station", "C:\\Station\\my data;touch " + injected + ";$(id)"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "Brenvik: Detected station type 1.\n");
    EXPECT_EQ(ToolRuns(), Lines{"fbwfmgr\t/commit\tC:\t\\Station\\my data;touch " + injected + ";$(id)"});
    EXPECT_FALSE(fs::exists(injected)) << "a path reached the command interpreter as syntax";
}

TEST_F(EndToEndTest, CommitThroughTheEnhancedFilter) {
    struct Case {
        const char* name;
        const char* type;  // null: no station information
        const char* path;
        std::string out;
        Lines runs;
    };
    const Case cases[] = {
        {"lower case type",
         "lamina-xpe",
         "C:\\Station\\x",
         "Brenvik: Detected station type 0.\n",
         {"ewfmgr\tC:\t-commit"}},
        {"no station information", nullptr, "C:\\x", "Brenvik: Detected station type 0.\n", {"ewfmgr\tC:\t-commit"}},
        {"malformed station information",
         "<",
         "C:\\x",
         "Brenvik: \"C:\\Station\\_StationInfo.xml\": line 1: start-end tags mismatch\n"
         "Brenvik: Detected station type 0.\n",
         {"ewfmgr\tC:\t-commit"}},
        {"a drive that would be an option",
         "EWF",
         "-x:\\y",
         "Brenvik: Detected station type 0.\nOpen failed: 2\nInvalid path to commit (it starts an option): -x:\\y\n",
         {}},
        {"a rest that would be an option",
         "EWF",
         "C:-y",
         "Brenvik: Detected station type 0.\nInvalid path to commit (it starts an option): C:-y\n",
         {}},
        {"volume that cannot be opened",
         "EWF",
         "Q:\\x",
         "Brenvik: Detected station type 0.\nOpen failed: 2\n",
         {"ewfmgr\tQ:\t-commit"}},
        {"drive with syntax",
         "EWF",
         "`id`;x:\\y",
         "Brenvik: Detected station type 0.\nOpen failed: 2\n",
         {"ewfmgr\t`id`;x:\t-commit"}},
        {"no drive", "EWF", "\\x", "Brenvik: Detected station type 0.\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(log_);
        fs::remove(root_ + "/C/Station/_StationInfo.xml");
        if (c.type != nullptr && std::string(c.type) == "<") {
            WriteText(root_ + "/C/Station/_StationInfo.xml", "<StationInfo><Type>Lamina-XPE");
        } else if (c.type != nullptr) {
            StationType(c.type);
        }
        Result r = Brenvik({"--COMMIT", "C:\\Station", c.path});
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(ToolRuns(), c.runs);
    }
}

TEST_F(EndToEndTest, ThirtyTwoBitOnSixtyFourCommitsThroughTheLauncher) {
    StationType("EWF");
    env_["BRENVIK_WOW64"] = "yes";
    env_["BRENVIK_TEST_EXIT"] = "6";
    Result r = Brenvik({"--commit", "C:\\Station", "c:\\Station\\x"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out,
              "Brenvik: Detected station type 0.\n"
              "CreateProcessEx [\"C:\\Anvora\\zvX64Launcher.exe\" ewfmgr c: -commit]\n"
              "CreateProcessEx exit code 6\n");
    EXPECT_EQ(ToolRuns(), (Lines{"zvX64Launcher.exe\tewfmgr\tc:\t-commit", "ewfmgr\tc:\t-commit"}));

    // Without the launcher the process does not start.
    fs::remove(root_ + "/C/Anvora/zvX64Launcher.exe");
    fs::remove(log_);
    r = Brenvik({"--commit", "C:\\Station", "C:\\x"});
    EXPECT_NE(r.out.find("CreateProcessEx exit code -1\n"), std::string::npos) << r.out;
    EXPECT_TRUE(ToolRuns().empty());
}

TEST_F(EndToEndTest, AddOpenGlSuppliesTheLibraries) {
    WriteText(root_ + "/C/App/ZvControls.DLL", "controls");
    WriteText(root_ + "/C/App/Sub/zvcontrols.dll", "controls");
    WriteText(root_ + "/C/App/Sub/opengl32.dll", "kept");
    WriteText(root_ + "/C/App/Other/readme.txt", "text");

    // A system that has OpenGL: nothing is copied.
    const std::string lib = temp_.Path().string() + "/lib";
    fs::create_directories(lib);
    fs::copy_file(BRENVIK_FAKE_OPENGL, lib + "/opengl32.dll");
    env_["LD_LIBRARY_PATH"] = lib;
    Result r = Brenvik({"--addopengl", "C:\\App"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_FALSE(fs::exists(root_ + "/C/App/opengl32.dll"));
    EXPECT_FALSE(fs::exists(root_ + "/C/App/Sub/glu32.dll"));

    env_.erase("LD_LIBRARY_PATH");
    r = Brenvik({"--ADDOPENGL", "c:\\app"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadText(root_ + "/C/App/opengl32.dll"), "opengl library");
    EXPECT_EQ(ReadText(root_ + "/C/App/glu32.dll"), "glu library");
    EXPECT_EQ(ReadText(root_ + "/C/App/Sub/opengl32.dll"), "kept");
    EXPECT_EQ(ReadText(root_ + "/C/App/Sub/glu32.dll"), "glu library");
    EXPECT_FALSE(fs::exists(root_ + "/C/App/Other/opengl32.dll"));
}

TEST_F(EndToEndTest, PreUpgradeStopsTheHealthMonitor) {
    // None runs: nothing to do.
    Result r = Brenvik({"--preupgrade"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");

    pid_t monitor = Start(BRENVIK_HEALTH_ANCHOR, {env_["BRENVIK_WINDOWS"]}, env_, nullptr);
    ASSERT_GT(monitor, 0);
    winsvc::WindowRegistry windows(env_["BRENVIK_WINDOWS"]);
    for (int i = 0; i < 500 && !windows.Find("zvHealthAnchor"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(windows.Find("zvHealthAnchor"), static_cast<uint32_t>(monitor));

    r = Brenvik({"--PREUPGRADE"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");
    // brenvik waited for its end: it has ended by now.
    int status = 0;
    pid_t ended = ::waitpid(monitor, &status, WNOHANG);
    if (ended == 0) {
        ::kill(monitor, SIGKILL);
        ::waitpid(monitor, &status, 0);
    }
    EXPECT_EQ(ended, monitor) << "the health monitor was still running";
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(windows.Find("zvHealthAnchor"));
}

TEST_F(EndToEndTest, ShutdownRunsOnlyTheConfiguredCommand) {
    Result r = Brenvik({"--shutdown"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");

    const std::string record = temp_.Path().string() + "/shutdown.txt";
    env_["BRENVIK_SHUTDOWN_COMMAND"] = "echo \"$1 $2 $3\" > " + record;
    r = Brenvik({"--Shutdown"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(ReadText(record), "15 1 0\n");
}

}  // namespace
