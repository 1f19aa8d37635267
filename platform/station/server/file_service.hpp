// A server's files as its clients reach them: read or written whole, deleted,
// listed, looked at and folders made, all through the platform's file space
// rooted at the server's folder, so that no path leaves it. The server's
// keys are never served.
#ifndef ZVSTATION_SERVER_FILE_SERVICE_HPP
#define ZVSTATION_SERVER_FILE_SERVICE_HPP

#include <filesystem>
#include <string>
#include <vector>

#include "zvstation/frames.hpp"

namespace zv::station {

class FileService {
public:
    // `root` is the file space's root (already set with zvFileSpaceSetRoot).
    explicit FileService(std::filesystem::path root);

    // Each returns a status and, for a failure, the reason in `*why`.
    zvStatus Read(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) const;
    // Written to a temporary file beside it and renamed over the old one:
    // a failure leaves the old file as it was.
    zvStatus Write(const std::string& path, const std::vector<uint8_t>& bytes, std::string* why) const;
    zvStatus Delete(const std::string& path, std::string* why) const;
    zvStatus List(const std::string& path, std::vector<wire::Entry>* entries, std::string* why) const;
    zvStatus Stat(const std::string& path, wire::StatKind* kind, int64_t* size, std::string* why) const;
    zvStatus MakeFolder(const std::string& path, std::string* why) const;

    // The storage: plain file names of the server's folder.
    zvStatus StorageDelete(const std::string& name, std::string* why) const;
    zvStatus StorageSize(const std::string& name, int64_t* size, std::string* why) const;

private:
    // ZV_OK for a path the clients may use: inside the root (the platform
    // says so) and not the keys' folder.
    zvStatus Allowed(const std::string& path, std::string* why) const;
    zvStatus Open(const std::string& path, zvHandle* file, int64_t* length, std::string* why) const;

    std::filesystem::path root_;
    std::filesystem::path keys_;
};

}  // namespace zv::station

#endif
