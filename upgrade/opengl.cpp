// Supplying the OpenGL libraries next to every copy of the controls
// library, on systems that lack them.
#include <cstring>
#include <string>
#include <vector>

#include "brenvik.hpp"

namespace brenvik {

namespace {

bool SameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(*a) != lower(*b)) return false;
    }
    return *a == *b;
}

// `first`\`second` into `buffer`; a path too long for the station is
// reported.
zvStatus Combine(char (&buffer)[kPathMax], const char* first, const char* second) {
    zvStatus status = zvPathCombine(buffer, kPathMax, first, second);
    if (status == ZV_E_RANGE) zvPrintf("Path too long: %s\\%s\n", first, second);
    return status;
}

// A new owning list of names (strings).
zvStatus NewNameList(zvHandle* list) {
    zvStatus status = zvArrayListCreate(list, nullptr);
    if (status > 0) status = zvArrayListInit(*list, ZV_TYPE_STRING, 0, 0);
    return status;
}

const char* NameAt(zvHandle list, int32_t index) {
    auto* name = static_cast<zvHandle*>(zvArrayListAt(list, index));
    const char* text = name != nullptr ? zvStringChars(*name) : nullptr;
    return text != nullptr ? text : "";
}

// Copies `home`\`source` to `folder`\`target` unless the target exists.
zvStatus CopyUnlessPresent(const char* home, const char* source, const char* folder, const char* target) {
    char from[kPathMax];
    char to[kPathMax];
    zvStatus status = Combine(to, folder, target);
    if (status <= 0) return status;
    if (zvFileExists(to) == 1) return ZV_OK;
    status = Combine(from, home, source);
    if (status <= 0) return status;
    return zvFileCopy(from, to, 0);
}

}  // namespace

zvStatus AddOpenGl(winsvc::Services& services, const char* folder) {
    winsvc::Handle library = services.LoadLibraryA("opengl32.dll");
    if (library != winsvc::kNullHandle) {
        services.FreeLibrary(library);
        return ZV_OK;
    }
    return CopyOpenGlTree(folder);
}

namespace {

// The folders of the walk from the start down to the one being walked, as
// this machine resolves them, to tell a link that leads back into them.
using Chain = std::vector<std::string>;

// Whether `folder` is walked: 1 with `*resolved` its path on this machine;
// 0 with `*why` set for a folder link that leads out of the station or
// back into a folder above it, which is skipped; another failing status
// when it cannot be resolved.
zvStatus Walkable(const char* folder, const Chain& chain, std::string* resolved, std::string* why) {
    char host[4096];
    const zvStatus status = zvFileSpaceResolve(folder, host, sizeof host);
    if (status == ZV_E_ACCESS) {
        *why = "it leads out of the station";
        return 0;
    }
    if (status <= 0) return status;
    *resolved = host;
    for (const std::string& above : chain) {
        if (above != *resolved) continue;
        *why = "it leads back into a folder above it";
        return 0;
    }
    return 1;
}

zvStatus CopyOpenGlTree(const char* folder, Chain* chain) {
    zvHandle files = nullptr;
    zvHandle folders = nullptr;
    zvStatus status = NewNameList(&files);
    if (status > 0) status = zvDirectoryGetFiles(folder, files);

    bool holdsControls = false;
    for (int32_t i = 0; status > 0 && i < zvArrayListCount(files); ++i) {
        holdsControls = holdsControls || SameIgnoringCase(NameAt(files, i), "zvcontrols.dll");
    }
    if (status > 0 && holdsControls) {
        char home[kPathMax];
        status = zvDirectoryGetAppHome(home, sizeof home);
        if (status == ZV_E_RANGE) zvPrintf("Path too long: the application home folder\n");
        if (status > 0) status = CopyUnlessPresent(home, "opengl32.dll_", folder, "opengl32.dll");
        if (status > 0) status = CopyUnlessPresent(home, "glu32.dll_", folder, "glu32.dll");
    }

    if (status > 0) status = NewNameList(&folders);
    if (status > 0) status = zvDirectoryGetDirectories(folder, folders);
    for (int32_t i = 0; status > 0 && i < zvArrayListCount(folders); ++i) {
        char child[kPathMax];
        status = Combine(child, folder, NameAt(folders, i));
        if (status <= 0) break;
        // A folder link that leads out of the station or back up the walk
        // is skipped, and said so; the walk goes on with the rest.
        std::string resolved;
        std::string why;
        status = Walkable(child, *chain, &resolved, &why);
        if (status == 0) {
            zvPrintf("Skipped %s: %s\n", child, why.c_str());
            status = ZV_OK;
            continue;
        }
        if (status <= 0) break;
        chain->push_back(resolved);
        status = CopyOpenGlTree(child, chain);
        chain->pop_back();
    }

    if (files != nullptr) zvArrayListDestroy(files);
    if (folders != nullptr) zvArrayListDestroy(folders);
    return status > 0 ? ZV_OK : status;
}

}  // namespace

zvStatus CopyOpenGlTree(const char* folder) {
    if (folder == nullptr) return ZV_E_ARGUMENT;
    Chain chain;
    std::string resolved;
    std::string why;
    const zvStatus status = Walkable(folder, chain, &resolved, &why);
    if (status == 0) {
        zvPrintf("Skipped %s: %s\n", folder, why.c_str());
        return ZV_E_ACCESS;
    }
    if (status <= 0) return status;
    chain.push_back(resolved);
    return CopyOpenGlTree(folder, &chain);
}

}  // namespace brenvik
