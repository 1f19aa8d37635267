// Shared helpers of the document tests: their file space and a console engine.
#ifndef TESTS_PLUGIN_DOCUMENT_TEST_SUPPORT_HPP
#define TESTS_PLUGIN_DOCUMENT_TEST_SUPPORT_HPP

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_space.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace doctest {

// The document tests' file space: the shared temporary one with a server
// folder "SN7".
class TempFileSpace : public zvtest::TempFileSpace {
public:
    TempFileSpace() : zvtest::TempFileSpace("torvane-docs") { MakeFolder("SN7"); }
    // Names in the server folder (temporary files of failed writes show here).
    std::vector<std::string> ServerFolder() const { return List("SN7"); }
};

// A run's engine whose console text is kept in `text`.
struct ConsoleEngine {
    ConsoleEngine() {
        if (zvClientCreate(&client) <= 0 || zvPipeEngineCreate(&handle, client) <= 0 ||
            zvPipeEngineSetConsole(handle, &ConsoleEngine::Append, this) <= 0)
            throw std::runtime_error("cannot make an engine");
    }
    ~ConsoleEngine() {
        zvPipeEngineDestroy(handle);
        zvClientDestroy(client);
    }
    ConsoleEngine(const ConsoleEngine&) = delete;
    ConsoleEngine& operator=(const ConsoleEngine&) = delete;

    static void Append(void* context, const char* text) { static_cast<ConsoleEngine*>(context)->text += text; }

    zvHandle client = nullptr;
    zvHandle handle = nullptr;
    std::string text;
};

// Names of the journal entries (the text before the first space).
inline std::vector<std::string> CallNames(const std::vector<std::string>& journal) {
    std::vector<std::string> names;
    for (const std::string& entry : journal) names.push_back(entry.substr(0, entry.find(' ')));
    return names;
}

}  // namespace doctest

#endif
