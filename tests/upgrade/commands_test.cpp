#include <gtest/gtest.h>

#include "brenvik.hpp"
#include "test_support.hpp"
#include "winsvc/scripted_services.hpp"

namespace {

using namespace brenvik_test;
using winsvc::ScriptedServices;
using Args = std::vector<std::string>;
using Lines = std::vector<std::string>;

constexpr const char* kModelPath = "C:\\Station\\model.xml";

class CommandsTest : public StationTest {
protected:
    int Run(const Args& args, std::string* out = nullptr) {
        int code = 1234;
        std::string printed = Output([&] { code = brenvik::RunCommand(services_, args); });
        if (out != nullptr) *out = printed;
        return code;
    }
    ScriptedServices services_;
};

TEST_F(CommandsTest, MissingAndUnknownCommands) {
    std::string out;
    EXPECT_EQ(Run({}, &out), -1);
    EXPECT_EQ(out, "Insufficient parameters\n");
    for (const char* command : {"--bogus", "setmodel", "--set-model", ""}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(Run({command, "--file", "x"}, &out), -1);
        EXPECT_EQ(out, "Invalid command found\n");
    }
    EXPECT_TRUE(services_.Calls().empty());
}

TEST_F(CommandsTest, SetModelScansItsSwitches) {
    struct Case {
        Args args;
        int code;
        const char* model;       // the Model text afterwards (null: the file untouched)
        Lines attributeLookups;  // the files SetModelName was asked to write
    };
    const std::string path = kModelPath;
    const Case cases[] = {
        {{"--SETMODEL", "--MODEL", "XR-1", "--FILE", path}, 0, "XR-1", {path}},
        {{"--setmodel", "--file", path, "--model", "XR-2"}, 0, "XR-2", {path}},
        {{"--setmodel", "junk", "--file", path, "extra", "--Model", "XR-3"}, 0, "XR-3", {path}},
        {{"--setmodel", "--model", "A", "--model", "XR-4", "--file", path}, 0, "XR-4", {path}},
        // A value is examined again as a switch.
        {{"--setmodel", "--model", "--file", path}, 0, "--file", {path}},
        {{"--setmodel", "--file", "--model", "XR-5"}, -1, nullptr, {"--model"}},
        {{"--setmodel", "--file", path}, -1, nullptr, {}},
        {{"--setmodel", "--model", "XR-6", "--file"}, -1, nullptr, {}},
        {{"--setmodel", "--file", "", "--model", "XR-7"}, -1, nullptr, {}},
        {{"--setmodel"}, -1, nullptr, {}},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const std::string& a : c.args) trace += a + " ";
        SCOPED_TRACE(trace);
        WriteText(Host("C/Station/model.xml"), "<Station><Model>old</Model></Station>");
        services_.ClearCalls();
        services_.files[kModelPath] = winsvc::kFileAttributeArchive;
        std::string out;
        EXPECT_EQ(Run(c.args, &out), c.code);
        EXPECT_EQ(out, c.code == 0 ? "" : "Could not set model name\n");
        std::string model = c.model != nullptr ? c.model : "old";
        EXPECT_NE(ReadText(Host("C/Station/model.xml")).find("<Model>" + model + "</Model>"), std::string::npos);
        Lines lookups;
        for (const std::string& file : c.attributeLookups) lookups.push_back("GetFileAttributesA(" + file + ")");
        EXPECT_EQ(services_.CallsOf("GetFileAttributesA"), lookups);
    }
}

TEST_F(CommandsTest, CommitFlushesThenCommitsEvenWhenTheFlushFails) {
    WriteText(Host("C/Station/_StationInfo.xml"), "<StationInfo><Type>Lamina-XPE</Type></StationInfo>");
    std::string out;
    EXPECT_EQ(Run({"--Commit", "C:\\Station", "C:\\Data\\file.bin"}, &out), 0);
    EXPECT_EQ(out, "Brenvik: Detected station type 1.\n");
    EXPECT_EQ(services_.Calls(), (Lines{"CreateFileA(\\\\.\\C:, 0x40000000, 0x7, 3, 0x0)", "FlushFileBuffers(4)",
                                        "CloseHandle(4)", "System(fbwfmgr /commit C: '\\Data\\file.bin')"}));

    services_.ClearCalls();
    EXPECT_EQ(Run({"--commit", "C:\\Station", "E:\\file.bin"}, &out), 0);
    EXPECT_EQ(out, "Brenvik: Detected station type 1.\nOpen failed: 2\n");
    EXPECT_EQ(services_.CallsOf("System"), Lines{"System(fbwfmgr /commit E: '\\file.bin')"});

    services_.ClearCalls();
    EXPECT_EQ(Run({"--commit", "C:\\Station", "\\no\\drive"}, &out), 0);
    EXPECT_TRUE(services_.Calls().empty());
}

TEST_F(CommandsTest, MissingOrOverlongArgumentsAreRefused) {
    const std::string tooLong = "C:\\" + std::string(brenvik::kPathMax, 'p');
    struct Case {
        Args args;
        const char* message;
    };
    const Case cases[] = {
        {{"--commit"}, "Insufficient parameters: --commit needs a station folder and a path\n"},
        {{"--commit", "C:\\Station"}, "Insufficient parameters: --commit needs a station folder and a path\n"},
        {{"--addopengl"}, "Insufficient parameters: --addopengl needs a folder\n"},
        {{"--commit", tooLong, "C:\\x"}, "Path too long"},
        {{"--commit", "C:\\Station", tooLong}, "Path too long"},
        {{"--addopengl", tooLong}, "Path too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + std::to_string(c.args.size()));
        std::string out;
        EXPECT_EQ(Run(c.args, &out), -1);
        EXPECT_EQ(out.find(c.message), 0u) << out;
    }
    EXPECT_TRUE(services_.Calls().empty());
}

TEST_F(CommandsTest, OtherCommandsExitWithZeroWhateverHappens) {
    services_.holdsShutdownPrivilege = false;
    std::string out;
    EXPECT_EQ(Run({"--SHUTDOWN"}, &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_FALSE(services_.shutdownStarted);
    EXPECT_EQ(Run({"--PreUpgrade"}, &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Run({"--addopengl", "C:\\NoSuchFolder"}, &out), 0);
    EXPECT_EQ(out, "");
}

TEST_F(CommandsTest, HelpListsEveryCommand) {
    for (const char* help : {"--help", "-h", "--HELP"}) {
        SCOPED_TRACE(help);
        std::string out;
        EXPECT_EQ(Run({help}, &out), 0);
        for (const char* command : {"  --setmodel --file FILE --model NAME", "  --shutdown ", "  --commit FOLDER PATH",
                                    "  --preupgrade ", "  --addopengl FOLDER", "255", "BRENVIK_ROOT"}) {
            EXPECT_NE(out.find(command), std::string::npos) << command;
        }
    }
}

}  // namespace
