// The file space of a fuzz target: a private temporary folder holding the
// server folder "SN7", made on first use and removed at exit, and the one
// file of it that each input becomes.
#ifndef FUZZ_SERVER_FILE_HPP
#define FUZZ_SERVER_FILE_HPP

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "zvapi/zv_files.h"

namespace fuzz {

// The folder lives in a plain buffer so that the exit handler can still
// remove it after the statics are gone.
inline char g_root[256];

inline void RemoveFileSpace() {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
}

// The file space's root (the platform's too), made on first use.
inline std::filesystem::path FileSpace() {
    if (g_root[0] == '\0') {
        const std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-server-XXXXXX").string();
        if (pattern.size() >= sizeof g_root) abort();
        pattern.copy(g_root, pattern.size());
        if (::mkdtemp(g_root) == nullptr) abort();
        std::filesystem::create_directory(std::filesystem::path(g_root) / "SN7");
        if (zvFileSpaceSetRoot(g_root) <= 0) abort();
        atexit(RemoveFileSpace);
    }
    return g_root;
}

// Writes the input as the file `name` of the server folder "SN7".
inline void WriteServerFile(const char* name, const uint8_t* data, size_t size) {
    std::ofstream out(FileSpace() / "SN7" / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace fuzz

#endif
