#include "zvstation/net/keys.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zmq.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zv::station::net {

namespace {

constexpr const char* kSecretFile = "server.key";
constexpr const char* kPublicFile = "server.pub";

std::string Errno() { return std::strerror(errno); }

// Writes `text` to `file` with `mode`, through a temporary file renamed
// over it: a failed write leaves what was there.
bool WriteFile(const std::filesystem::path& file, const std::string& text, mode_t mode, std::string* error) {
    const std::filesystem::path part = file.string() + ".part";
    ::unlink(part.c_str());
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        *error = "cannot create " + part.string() + ": " + Errno();
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0;  // whatever the umask
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const std::string why = Errno();
    ::close(fd);
    if (ok && ::rename(part.c_str(), file.c_str()) == 0) return true;
    *error = "cannot write " + file.string() + ": " + (ok ? Errno() : why);
    ::unlink(part.c_str());
    return false;
}

}  // namespace

bool ValidKey(const std::string& key) {
    static const char* const alphabet =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-:+=^!/*?&<>()[]{}@%$#";
    if (key.size() != 40) return false;
    for (char c : key)
        if (c == '\0' || std::strchr(alphabet, c) == nullptr) return false;
    return true;
}

bool MakeKeys(const std::filesystem::path& folder, bool replace, KeyPair* out, std::string* error) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        *error = folder.string() + " is not a folder";
        return false;
    }
    const std::filesystem::path keys = folder / kKeysFolder;
    if (!replace && std::filesystem::exists(keys / kSecretFile, ec)) {
        *error = "a key pair is there already (" + (keys / kSecretFile).string() +
                 "); replacing it locks out the clients that hold its public key";
        return false;
    }
    if (::mkdir(keys.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot create " + keys.string() + ": " + Errno();
        return false;
    }
    char publicKey[41] = {};
    char secretKey[41] = {};
    if (zmq_curve_keypair(publicKey, secretKey) != 0) {
        *error = std::string("cannot make a key pair: ") + zmq_strerror(zmq_errno());
        return false;
    }
    out->publicKey = publicKey;
    out->secretKey = secretKey;
    const std::string secretText = std::string("public ") + publicKey + "\nsecret " + secretKey + "\n";
    return WriteFile(keys / kSecretFile, secretText, 0600, error) &&
           WriteFile(keys / kPublicFile, std::string(publicKey) + "\n", 0644, error);
}

KeysFound LoadKeys(const std::filesystem::path& folder, KeyPair* out, std::string* error) {
    *out = KeyPair{};
    const std::filesystem::path file = folder / kKeysFolder / kSecretFile;
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) {
        if (errno == ENOENT) return KeysFound::None;
        *error = "cannot read " + file.string() + ": " + Errno();
        return KeysFound::Bad;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = file.string() + " is not a plain file";
        return KeysFound::Bad;
    }
    if ((info.st_mode & 077) != 0) {
        *error = file.string() + " may be read by others than its owner: make it mode 0600";
        return KeysFound::Bad;
    }
    if (info.st_size > 4096) {
        *error = file.string() + " is no key file";
        return KeysFound::Bad;
    }
    std::ifstream in(file);
    std::string word;
    std::string key;
    KeyPair pair;
    while (in >> word >> key) {
        if (word == "public") pair.publicKey = key;
        if (word == "secret") pair.secretKey = key;
    }
    if (!ValidKey(pair.publicKey) || !ValidKey(pair.secretKey)) {
        *error = file.string() + " does not hold a public and a secret key";
        return KeysFound::Bad;
    }
    // The public key must be the secret key's.
    char derived[41] = {};
    if (zmq_curve_public(derived, pair.secretKey.c_str()) != 0 || pair.publicKey != derived) {
        *error = file.string() + ": the public key is not the secret key's";
        return KeysFound::Bad;
    }
    *out = pair;
    return KeysFound::Read;
}

bool ReadPublicKey(const std::string& fileOrKey, std::string* key, std::string* error) {
    if (ValidKey(fileOrKey)) {
        *key = fileOrKey;
        return true;
    }
    std::ifstream in(fileOrKey);
    std::string text;
    if (!in || !(in >> text) || !ValidKey(text)) {
        *error = "\"" + fileOrKey + "\" is neither a public key nor a file holding one";
        return false;
    }
    *key = text;
    return true;
}

}  // namespace zv::station::net
