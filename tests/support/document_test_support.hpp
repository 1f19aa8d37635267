// Shared helpers of the document and page tests: a file space with the
// folder of server 7, a run's engine whose console text is kept, and the
// names of journal entries.
#ifndef TESTS_SUPPORT_DOCUMENT_TEST_SUPPORT_HPP
#define TESTS_SUPPORT_DOCUMENT_TEST_SUPPORT_HPP

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_space.hpp"
#include "zvapi/zv_handle.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace zvtest {

// The temporary file space (the platform's root while it lives) with a
// server folder "SN7".
class ServerFileSpace : public TempFileSpace {
public:
    ServerFileSpace() : TempFileSpace("torvane-docs") { MakeFolder("SN7"); }
    // Names in the server folder (temporary files of failed writes show here).
    std::vector<std::string> ServerFolder() const { return List("SN7"); }
};

// A run's engine whose console text is kept in `text`.
struct ConsoleEngine {
    ConsoleEngine() {
        if (zvClientCreate(client.Out()) <= 0 || zvPipeEngineCreate(handle.Out(), client) <= 0 ||
            zvPipeEngineSetConsole(handle, &ConsoleEngine::Append, this) <= 0)
            throw std::runtime_error("cannot make an engine");
    }
    ConsoleEngine(const ConsoleEngine&) = delete;
    ConsoleEngine& operator=(const ConsoleEngine&) = delete;

    static void Append(void* context, const char* text) { static_cast<ConsoleEngine*>(context)->text += text; }

    zv::OwnedClient client;  // declared first: it outlives its engine
    zv::OwnedEngine handle;
    std::string text;
};

// Names of the journal entries (the text before the first space).
inline std::vector<std::string> CallNames(const std::vector<std::string>& journal) {
    std::vector<std::string> names;
    for (const std::string& entry : journal) names.push_back(entry.substr(0, entry.find(' ')));
    return names;
}

}  // namespace zvtest

#endif
