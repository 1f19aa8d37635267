// Folders of the file space that another machine serves: the folder
// \SN<serial>\ of a station server on the network is that server's own
// folder, and every file call on a path in it (zvFile*, zvDirectory*, XML
// documents, zv::files) goes to the server instead of this machine's disk.
// A file read is the server's current file, fetched whole when it is
// opened; a file written is sent whole when it is closed, and the close
// succeeds only once the server has it on its disk (it writes a temporary
// file and renames it there). A server that cannot be reached fails the
// call with its status and the reason (zvLastErrorText), never with a copy
// of its file from this machine.
//
// The host installs one table; its calls come from any thread that makes
// file calls.
#ifndef ZVAPI_ZV_REMOTE_FOLDERS_HPP
#define ZVAPI_ZV_REMOTE_FOLDERS_HPP

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zv_base.h"

namespace zv::files {

class ZV_API RemoteFolders {
public:
    // `folder` is the first name of a file-space path as the caller spelled
    // it ("SN2", "sn2"); `path` the names below it joined by "/" ("" for the
    // folder itself). Failures return a zvApi status and the reason in `*why`.
    virtual ~RemoteFolders();
    virtual bool Serves(const std::string& folder) const = 0;
    virtual zvStatus Read(const std::string& folder, const std::string& path, std::string* bytes, std::string* why) = 0;
    virtual zvStatus Write(const std::string& folder, const std::string& path, std::string_view bytes,
                           std::string* why) = 0;
    // `*kind`: 0 nothing there, 1 a file, 2 a folder, 3 something else.
    virtual zvStatus Stat(const std::string& folder, const std::string& path, int* kind, int64_t* size,
                          std::string* why) = 0;
    struct Entry {
        std::string name;
        bool folder = false;
        int64_t size = 0;
    };
    virtual zvStatus List(const std::string& folder, const std::string& path, std::vector<Entry>* entries,
                          std::string* why) = 0;
    virtual zvStatus MakeFolder(const std::string& folder, const std::string& path, std::string* why) = 0;
    virtual zvStatus Delete(const std::string& folder, const std::string& path, std::string* why) = 0;
};

// Installs `folders` (null: none); it must stay alive until replaced.
ZV_API void SetRemoteFolders(RemoteFolders* folders);

}  // namespace zv::files

#endif
