// Internal: the file calls on paths in a folder another machine serves
// (zvapi/zv_remote_folders.hpp).
#ifndef ZVAPI_SRC_REMOTE_HPP
#define ZVAPI_SRC_REMOTE_HPP

#include <string>

#include "zvapi/zv_remote_folders.hpp"

namespace zv {

struct File;

struct RemotePlace {
    files::RemoteFolders* folders = nullptr;
    std::string folder;  // the first name of the path
    std::string path;    // the names below it, joined by "/"
};

// Whether file-space path `path` lies in a folder another machine serves,
// read as the file space reads paths (a drive prefix, both separators, "."
// and ".."), without looking at the disk.
bool RemotePath(const char* path, RemotePlace* out);

// Opens `file` on the remote `place` as OpenPath does: a read fetches the
// file whole; a write is kept here and sent whole at Close (with
// `noReplace`, only where nothing is).
zvStatus OpenRemote(File* file, const RemotePlace& place, const char* path, int32_t mode, bool noReplace);
// Sends a remote written file at its close.
zvStatus CloseRemote(File* file);

// A server's storage on the network: the size of a plain file of its
// folder, and its removal (ZV_E_NOTFOUND for nothing or no plain file).
zvStatus RemoteFileSize(const RemotePlace& place, const char* path, int64_t* size);
zvStatus RemoteDelete(const RemotePlace& place, const char* path);

}  // namespace zv

#endif
