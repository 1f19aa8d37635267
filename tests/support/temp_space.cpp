#include "support/temp_space.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "zvapi/zvapi.h"

namespace zvtest {

namespace fs = std::filesystem;

TempFileSpace::TempFileSpace(const std::string& prefix, Root root) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder " << pattern;
        return;
    }
    path_ = pattern;
    if (root == Root::kSet) {
        char previous[4096] = {};
        if (zvFileSpaceRoot(previous, sizeof previous) > 0) previousRoot_ = previous;
        rootSet_ = zvFileSpaceSetRoot(path_.c_str()) > 0;
        if (!rootSet_) ADD_FAILURE() << "cannot make " << path_ << " the file space's root";
    }
}

TempFileSpace::~TempFileSpace() {
    if (rootSet_) zvFileSpaceSetRoot(previousRoot_.empty() ? "." : previousRoot_.c_str());
    if (path_.empty()) return;
    std::error_code ignored;
    // Read-only folders would keep their contents from being removed.
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void TempFileSpace::Write(const std::string& relative, const std::string& text) const {
    const fs::path file = Host(relative);
    std::error_code ignored;
    fs::create_directories(file.parent_path(), ignored);
    WriteHostFile(file, text);
}

std::string TempFileSpace::Read(const std::string& relative) const { return ReadHostFile(Host(relative)); }

bool TempFileSpace::Exists(const std::string& relative) const {
    std::error_code ignored;
    return fs::symlink_status(Host(relative), ignored).type() != fs::file_type::not_found &&
           fs::symlink_status(Host(relative), ignored).type() != fs::file_type::none;
}

void TempFileSpace::MakeFolder(const std::string& relative) const {
    std::error_code ec;
    fs::create_directories(Host(relative), ec);
    if (ec) ADD_FAILURE() << "cannot make " << Host(relative) << ": " << ec.message();
}

std::vector<std::string> TempFileSpace::List(const std::string& relative) const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(relative.empty() ? path_ : Host(relative), ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteHostFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) ADD_FAILURE() << "cannot write " << path;
}

}  // namespace zvtest
