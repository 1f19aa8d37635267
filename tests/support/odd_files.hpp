// What a file's name can stand for that a reader must refuse at once,
// without blocking and without reading it: a FIFO, a folder, a sparse file
// of a GiB and a link out of the file space.
#ifndef ZVTEST_ODD_FILES_HPP
#define ZVTEST_ODD_FILES_HPP

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace zvtest {

struct OddFile {
    const char* name;
    std::function<void()> make;  // puts it at the path
    const char* error;           // a word the refusal names it by
};

// Each odd file at `path`; the link leads to `outside`, a path outside the
// file space.
inline std::vector<OddFile> OddFilesAt(const std::filesystem::path& path, const std::filesystem::path& outside) {
    return {
        {"a FIFO", [path] { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }, "FIFO"},
        {"a folder", [path] { std::filesystem::create_directory(path); }, "is a folder"},
        {"a sparse GiB",
         [path] {
             std::ofstream(path).close();
             std::filesystem::resize_file(path, uintmax_t{1} << 30);
         },
         "larger than"},
        {"a link out of the space", [path, outside] { std::filesystem::create_symlink(outside, path); },
         "leads out of the file space"},
    };
}

}  // namespace zvtest

#endif
