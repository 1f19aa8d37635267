// A temporary folder for one test, removed with everything in it when the
// object goes (write permissions given back first, so that read-only files
// and folders go too). By default it is also the zvApi file space's root
// for its lifetime; the root before it is restored afterwards.
//
//   zvtest::TempFileSpace space;              // the file space's root
//   space.Write("SN7/Settings.xml", text);    // host-side, beside the platform
//   zvFileExists("\\SN7\\Settings.xml");      // through the platform
//
// The file helpers work on this machine's files directly, so that tests see
// what the code under test wrote without going through it.
#ifndef TESTS_SUPPORT_TEMP_SPACE_HPP
#define TESTS_SUPPORT_TEMP_SPACE_HPP

#include <filesystem>
#include <string>
#include <vector>

namespace zvtest {

class TempFileSpace {
public:
    enum class Root { kSet, kLeave };
    // `prefix` names the folder (prefix-XXXXXX under the system's temporary
    // folder). A folder that cannot be made fails the test.
    explicit TempFileSpace(const std::string& prefix = "zvtest", Root root = Root::kSet);
    ~TempFileSpace();
    TempFileSpace(const TempFileSpace&) = delete;
    TempFileSpace& operator=(const TempFileSpace&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // This machine's path of `relative` ("SN7/Settings.xml") in the folder.
    std::filesystem::path Host(const std::string& relative) const { return path_ / relative; }
    std::string operator/(const std::string& relative) const { return Host(relative).string(); }

    // Writes `text` to `relative`, making missing folders.
    void Write(const std::string& relative, const std::string& text) const;
    // The bytes of `relative`; "" when it cannot be read.
    std::string Read(const std::string& relative) const;
    // Whether anything (a link, even a dangling one) is at `relative`.
    bool Exists(const std::string& relative) const;
    void MakeFolder(const std::string& relative) const;
    // Names directly in folder `relative`, sorted; hidden ones included.
    std::vector<std::string> List(const std::string& relative = "") const;

private:
    std::filesystem::path path_;
    std::string previousRoot_;
    bool rootSet_ = false;
};

// The bytes of a file of this machine, "" when it cannot be read; and
// writing one whole (its folder must exist).
std::string ReadHostFile(const std::filesystem::path& path);
void WriteHostFile(const std::filesystem::path& path, const std::string& text);

}  // namespace zvtest

#endif
