// The host's one event vocabulary: each kind built in one place, read by
// the text printer and the web server's log, and known by the same names
// to the browser UI's script.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "event_text.hpp"
#include "events.hpp"
#include "loop_thread.hpp"

namespace {

using nlohmann::json;
using zvhost::EventKind;

// One event of every kind, made by its builder.
std::vector<json> OneOfEach() {
    namespace ev = zvhost::events;
    zv::runner::Output output{"Free", "Plot", 2, true, "Plot", 0, nullptr};
    zvhost::RunSummary summary;
    summary.mode = "Free";
    return {ev::Tree(json::array()),
            ev::PageOpened(1014, "Free", "SN1"),
            ev::Report(true, "no"),
            ev::MessageBox("Sure?", "Setup", 4, "Yes"),
            ev::Notify(),
            ev::Modified(),
            ev::Mode(1, "Free"),
            ev::Enabled(ZV_CLIENT_PIPE, false),
            ev::Parameters(ZV_CLIENT_PIPE, "Free", {1000}, {"SelectedSensor"}),
            ev::Capture(true, "Capture/1"),
            ev::Layout(2),
            ev::Listener(0, true),
            ev::Control(1025, "edit", {{"text", "4"}}),
            ev::File("SN1/Settings.xml", ev::FileChange::Written, 10),
            ev::Console("Free", "hello\n"),
            ev::Handler("Free", zv::runner::Phase::Start, -8, "why"),
            ev::Play(true),
            ev::Played("Free", 3, 0.06),
            ev::Output(output, json()),
            ev::Read("Free", 1),
            ev::Written("out/Free-Plot.png", "Free", "Plot"),
            ev::Refused(3, "disabled"),
            ev::Error("bad"),
            ev::State(json::object(), 0, json::object()),
            ev::Summary(summary),
            ev::Plugin("TorvanePageCreate"),
            ev::Skipped(5),
            ev::Server(2, "offline", false, 0, "server 2 does not answer")};
}

TEST(Events, EveryKindHasOneNameAndOneBuilder) {
    std::set<std::string> names;
    for (EventKind kind : zvhost::EventKinds()) EXPECT_TRUE(names.insert(zvhost::EventName(kind)).second);
    const std::vector<json> made = OneOfEach();
    ASSERT_EQ(made.size(), zvhost::EventKinds().size());
    for (size_t i = 0; i < made.size(); ++i) {
        SCOPED_TRACE(made[i].dump());
        EventKind kind{};
        ASSERT_TRUE(zvhost::KindOf(made[i], &kind));
        EXPECT_EQ(kind, zvhost::EventKinds()[i]);
    }
    EventKind kind{};
    EXPECT_FALSE(zvhost::KindOf(json{{"event", "parameter"}}, &kind));
    EXPECT_FALSE(zvhost::KindOf(json{{"event", 7}}, &kind));
    EXPECT_FALSE(zvhost::KindOf(json::array(), &kind));
}

TEST(Events, TheTextPrinterReadsTheSameEvents) {
    for (const json& e : OneOfEach()) {
        SCOPED_TRACE(e.dump());
        const std::string text = zvhost::EventText(e);
        if (!text.empty()) {
            EXPECT_EQ(text.back(), '\n');
        }
    }
    namespace ev = zvhost::events;
    EXPECT_EQ(zvhost::EventText(ev::Handler("Free", zv::runner::Phase::Start, -8, "line 3: bad")),
              "  start handler of \"Free\" -> -8: line 3: bad\n");
    EXPECT_EQ(zvhost::EventText(ev::Handler("Free", zv::runner::Phase::Process, 1, "")), "");
    EXPECT_EQ(zvhost::EventText(ev::Mode(7, "Web")), "  station pipe SN7 -> mode \"Web\"\n");
    EXPECT_EQ(zvhost::EventText(json{{"event", "nothing"}}), "");
}

// The kinds the browser's script names: its log's cases and the events it
// makes itself.
std::set<std::string> ScriptKinds() {
    std::ifstream file(WEB_APP_SCRIPT);
    std::stringstream text;
    text << file.rdbuf();
    const std::string script = text.str();
    std::set<std::string> kinds;
    auto collect = [&](const std::string& text, const std::regex& pattern) {
        for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it)
            kinds.insert((*it)[1]);
    };
    collect(script, std::regex(R"((?:e\.event === |event: )'([a-z]+)')"));
    // The cases of the log's describe(); other switches name control kinds.
    const size_t from = script.find("function describe(");
    const size_t to = script.find("\nfunction ", from + 1);
    if (from != std::string::npos) collect(script.substr(from, to - from), std::regex(R"(case '([a-z]+)')"));
    return kinds;
}

TEST(Events, TheBrowsersScriptKnowsTheHostsKinds) {
    const std::set<std::string> kinds = ScriptKinds();
    ASSERT_GE(kinds.size(), 10u) << "the script's log no longer reads as expected";
    for (const std::string& name : kinds) {
        SCOPED_TRACE(name);
        EventKind kind{};
        ASSERT_TRUE(zvhost::KindByName(name, &kind)) << "app.js names a kind the host does not send";
        // A kind the script describes reaches its log.
        EXPECT_TRUE(zvhost::LoggedKind(kind) || kind == EventKind::Skipped);
    }
}

}  // namespace
