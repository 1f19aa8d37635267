// A station server's key pair for encrypted, authenticated links (ZeroMQ's
// CURVE): kept in the server's folder, in the folder ".station-keys" that
// the server never serves to a client.
//
//   server.key  "public <key>\nsecret <key>\n"  (mode 0600: its owner only)
//   server.pub  "<key>\n"                        (what clients are given)
//
// Keys are 40 characters of Z85 text.
#ifndef ZVSTATION_NET_KEYS_HPP
#define ZVSTATION_NET_KEYS_HPP

#include <filesystem>
#include <string>

namespace zv::station::net {

inline constexpr const char* kKeysFolder = ".station-keys";

struct KeyPair {
    std::string publicKey;
    std::string secretKey;
    bool empty() const { return publicKey.empty(); }
};

// Whether `key` is 40 characters of Z85 text.
bool ValidKey(const std::string& key);

// Makes a new key pair in `folder`. A pair already there stays unless
// `replace` (clients that hold its public key no longer get in then).
// False with `*error` set.
bool MakeKeys(const std::filesystem::path& folder, bool replace, KeyPair* out, std::string* error);

enum class KeysFound { None, Read, Bad };
// Reads the key pair of `folder`. Bad, with `*error` saying why, when the
// files are malformed or the secret may be read by anyone but its owner.
KeysFound LoadKeys(const std::filesystem::path& folder, KeyPair* out, std::string* error);

// A public key from a file holding it (server.pub) or from the text itself.
bool ReadPublicKey(const std::string& fileOrKey, std::string* key, std::string* error);

}  // namespace zv::station::net

#endif
