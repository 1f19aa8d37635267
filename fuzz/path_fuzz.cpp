// Path resolution on arbitrary paths, in a file space holding folders,
// files and links that stay inside, lead out, dangle and loop: whatever a
// path is, every resolved path lies inside the root, and no call reads,
// writes or removes anything outside it.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "zvapi/zvapi.h"

namespace {

namespace fs = std::filesystem;

char g_base[256];  // holds "root" (the file space) and "outside"

void Remove() {
    std::error_code ignored;
    fs::remove_all(g_base, ignored);
}

const fs::path& Root() {
    static const fs::path root = [] {
        const std::string pattern = (fs::temp_directory_path() / "fuzz-path-XXXXXX").string();
        if (pattern.size() >= sizeof g_base) abort();
        pattern.copy(g_base, pattern.size());
        if (::mkdtemp(g_base) == nullptr) abort();
        atexit(Remove);
        const fs::path base = fs::canonical(g_base);
        const fs::path root = base / "root";
        fs::create_directories(root / "SN7" / "Masks");
        fs::create_directories(base / "outside");
        std::ofstream(root / "SN7" / "Settings.xml") << "<s/>";
        std::ofstream(base / "outside" / "secret") << "secret";
        fs::create_directory_symlink(root / "SN7", root / "alias");
        fs::create_directory_symlink(base / "outside", root / "out");
        fs::create_symlink("../../outside/secret", root / "SN7" / "up");
        fs::create_symlink("missing", root / "dangling");
        fs::create_symlink("loop", root / "loop");
        if (zvFileSpaceSetRoot(root.c_str()) <= 0) abort();
        return fs::canonical(root);
    }();
    return root;
}

void CheckOutside() {
    const fs::path outside = Root().parent_path() / "outside";
    size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(outside)) {
        (void)entry;
        ++entries;
    }
    std::ifstream in(outside / "secret");
    std::string text;
    in >> text;
    if (entries != 1 || text != "secret") abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& root = Root();
    if (size == 0) return 0;
    const int op = data[0] % 6;
    const std::string path(reinterpret_cast<const char*>(data + 1), size - 1);
    if (path.find('\0') != std::string::npos) return 0;

    char host[8192];
    if (zvFileSpaceResolve(path.c_str(), host, sizeof host) > 0) {
        const std::string resolved = host;
        if (resolved.compare(0, root.string().size(), root.string()) != 0) abort();
    }
    zvHandle file = nullptr;
    zvFileCreate(&file, nullptr);
    switch (op) {
        case 0: {
            if (zvFileInit(file, path.c_str(), ZV_FILE_READ) > 0) {
                char buffer[64] = {};
                int64_t done = 0;
                zvFileRead(file, buffer, sizeof buffer, &done);
                if (std::string(buffer, static_cast<size_t>(done)) == "secret") abort();
            }
            break;
        }
        case 1:
            if (zvFileInit(file, path.c_str(), ZV_FILE_WRITE) > 0) zvFileWrite(file, "w", 1);
            break;
        case 2:
            zvFileExists(path.c_str());
            zvFileDelete(path.c_str());
            break;
        case 3: {
            zvHandle names = nullptr;
            zvArrayListCreate(&names, nullptr);
            zvArrayListInit(names, ZV_TYPE_STRING, 0, 0);
            zvDirectoryGetFiles(path.c_str(), names);
            zvDirectoryGetDirectories(path.c_str(), names);
            zvArrayListDestroy(names);
            break;
        }
        case 4:
            zvFileCopy("\\SN7\\Settings.xml", path.c_str(), 1);
            zvFileCopy(path.c_str(), "\\SN7\\copy.xml", 1);
            break;
        default: {
            zvHandle document = nullptr;
            if (zvXmlLoad(path.c_str(), &document) > 0) zvXMLDestroy(document);
            zvDirectoryCreate(path.c_str());
            break;
        }
    }
    zvFileDestroy(file);
    CheckOutside();
    // The file space stays as the next input expects it.
    std::ofstream(root / "SN7" / "Settings.xml") << "<s/>";
    return 0;
}
