// A temporary folder for one test, removed with everything in it.
#ifndef TESTS_STATION_TEMP_SPACE_HPP
#define TESTS_STATION_TEMP_SPACE_HPP

#include <unistd.h>

#include <filesystem>
#include <string>

class TempSpace {
public:
    TempSpace() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zvstation-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempSpace() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempSpace(const TempSpace&) = delete;
    TempSpace& operator=(const TempSpace&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

#endif
