// Station access of the client: its own pipe, its servers with their
// station pipes and storages, and capture. A pipe's mode, enabled flag and
// parameter values live in the station backend the host installs; these
// calls check what they are given and pass it on. A server's storage is its
// folder "\SN<serial>\" of the file space, reached through the file space's
// own path resolution so that its rules (no escape, no link out, names
// without regard to case) hold here too.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "commits.hpp"
#include "containers.hpp"
#include "files.hpp"
#include "pipe.hpp"
#include "remote.hpp"

namespace zv {

namespace {

std::string ServerName(uint32_t serial) { return "SN" + std::to_string(serial); }

// Names for the journal: "client", "SN7", or "?" for a handle that is not
// a live object of the kind.
std::string PipeName(zvHandle handle) {
    const Pipe* p = Get<Pipe>(handle, ZV_TYPE_PIPE, nullptr);
    if (p == nullptr) return "?";
    return p->server == ZV_CLIENT_PIPE ? "client" : ServerName(p->server);
}

std::string ServerNameOf(zvHandle handle) {
    const Server* s = Get<Server>(handle, ZV_TYPE_SERVER, nullptr);
    return s != nullptr ? ServerName(s->serial) : "?";
}

std::string StorageNameOf(zvHandle handle) {
    const Storage* s = Get<Storage>(handle, ZV_TYPE_STORAGE, nullptr);
    return s != nullptr ? ServerName(s->serial) : "?";
}

// Parameter values are 32-bit integers; a list of floats or of other sizes
// would hand the backend meaningless numbers.
bool HoldsIntegers(const ArrayList& list) {
    return list.itemType == ZV_TYPE_INT32 || list.itemType == ZV_TYPE_UINT32 || list.itemType == zvTypeBlock(4);
}

// A parameter list the pipe calls accept: live, initialised, 32-bit
// integers, not handed to an engine. Null with `*status` set otherwise.
ArrayList* ParameterList(zvHandle handle, zvStatus* status) {
    auto* list = Get<ArrayList>(handle, ZV_TYPE_ARRAYLIST, status);
    if (list == nullptr) return nullptr;
    if (!list->initialised || list->sent) {
        *status = ZV_E_STATE;
        return nullptr;
    }
    if (!HoldsIntegers(*list)) {
        *status = ZV_E_TYPE;
        return nullptr;
    }
    return list;
}

// The journal's form of a parameter write: the pipe, then the values.
std::string ParameterText(zvHandle pipe, zvHandle handle) {
    std::string text = PipeName(pipe);
    const auto* list = Get<ArrayList>(handle, ZV_TYPE_ARRAYLIST, nullptr);
    if (list == nullptr || !list->initialised || !HoldsIntegers(*list)) return text;
    for (int32_t i = 0; i < list->count; ++i) {
        int32_t value = 0;
        std::memcpy(&value, list->item(i), sizeof value);
        text += ' ' + std::to_string(value);
    }
    return text;
}

// A new object that `owner` keeps (its container): registered, or null
// when memory ran out.
template <class T, class... Args>
T* MakeOwned(Object* owner, Args&&... args) {
    auto* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (object == nullptr) return nullptr;
    if (Register(object, nullptr) == nullptr) return nullptr;  // deleted there
    Adopt(owner, object);
    return object;
}

// The pipe behind `handle` with its client's backend; null with `*status`
// set (ZV_E_STATE when the client has no station).
Pipe* PipeWithBackend(zvHandle handle, const zvStationBackend** backend, zvStatus* status) {
    Pipe* p = Get<Pipe>(handle, ZV_TYPE_PIPE, status);
    if (p == nullptr) return nullptr;
    if (!p->client->hasBackend) {
        *status = ZV_E_STATE;
        return nullptr;
    }
    *backend = &p->client->backend;
    return p;
}

Client* ClientWithBackend(zvHandle handle, zvStatus* status) {
    Client* c = Get<Client>(handle, ZV_TYPE_CLIENT, status);
    if (c != nullptr && !c->hasBackend) {
        *status = ZV_E_STATE;
        return nullptr;
    }
    return c;
}

// File `name` of the storage, resolved in the file space (a link's last
// name followed only with `follow` kAll). A storage has no folders: a name
// with a separator, or one that names a folder ("." and ".."), is refused
// with ZV_E_ACCESS.
zvStatus StorageName(const char* name) {
    if (name == nullptr || name[0] == '\0') return ZV_E_ARGUMENT;
    if (std::strpbrk(name, "\\/") != nullptr || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return ZV_E_ACCESS;
    if (IsTemporaryName(name)) return ZV_E_NOTFOUND;  // a write under way is no file yet
    return ZV_OK;
}

std::string StoragePath(const Storage& storage, const char* name) {
    return "\\" + ServerName(storage.serial) + "\\" + name;
}

zvStatus StorageFile(const Storage& storage, const char* name, Follow follow, Place* place) {
    if (const zvStatus status = StorageName(name); status <= 0) return status;
    return Resolve(StoragePath(storage, name).c_str(), follow, place);
}

// The storage of a server on the network is its folder there: whether
// `name` is a storage name of such a server, with its place and path.
bool RemoteStorageFile(const Storage& storage, const char* name, RemotePlace* remote, std::string* path) {
    if (StorageName(name) <= 0) return false;
    *path = StoragePath(storage, name);
    return RemotePath(path->c_str(), remote);
}

// What a storage file is: a plain file (through a link that stays inside
// the file space, as the resolution checked). Folders, devices and pipes
// are not files of the storage; looking at them never blocks.
zvStatus StorageFileInfo(const Place& place, struct stat* info) {
    if (!place.exists || place.IsRoot()) return ZV_E_NOTFOUND;
    *info = place.info;
    return S_ISREG(info->st_mode) ? ZV_OK : ZV_E_NOTFOUND;
}

}  // namespace

}  // namespace zv

using zv::Client;
using zv::Pipe;
using zv::Server;
using zv::Storage;

extern "C" {

zvStatus zvClientSetStationBackend(zvHandle client, const zvStationBackend* backend) {
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        Client* c = zv::Get<Client>(client, ZV_TYPE_CLIENT, &status);
        if (c == nullptr) return status;
        if (backend == nullptr) {
            c->hasBackend = false;
            c->backend = {};
            return ZV_OK;
        }
        const zvStationBackend& b = *backend;
        if (b.hasServer == nullptr || b.setMode == nullptr || b.currentMode == nullptr || b.parameters == nullptr ||
            b.setParameters == nullptr || b.setEnabled == nullptr || b.enabled == nullptr || b.setCapture == nullptr ||
            b.setCaptureSegmentSize == nullptr)
            return ZV_E_ARGUMENT;
        c->backend = b;
        c->hasBackend = true;
        return ZV_OK;
    });
}

zvStatus zvClientGetPipeHandle(zvHandle client, zvHandle* pipe) {
    if (pipe != nullptr) *pipe = nullptr;
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        Client* c = zv::Get<Client>(client, ZV_TYPE_CLIENT, &status);
        if (c == nullptr) return status;
        if (pipe == nullptr) return ZV_E_ARGUMENT;
        if (c->pipe == nullptr) c->pipe = zv::MakeOwned<Pipe>(c, c, ZV_CLIENT_PIPE);
        if (c->pipe == nullptr) return ZV_E_NOMEM;
        *pipe = zv::ToHandle(c->pipe);
        return ZV_OK;
    });
}

zvStatus zvClientGetServerHandle(zvHandle client, uint32_t server, zvHandle* handle) {
    if (handle != nullptr) *handle = nullptr;
    ZV_ENTER(server);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        Client* c = zv::Get<Client>(client, ZV_TYPE_CLIENT, &status);
        if (c == nullptr) return status;
        if (handle == nullptr) return ZV_E_ARGUMENT;
        if (std::find(c->servers.begin(), c->servers.end(), server) == c->servers.end()) return ZV_E_NOTFOUND;
        if (c->hasBackend) {
            status = c->backend.hasServer(c->backend.context, server);
            if (status <= 0) return status;
        }
        for (Server* s : c->serverObjects) {
            if (s->serial != server) continue;
            *handle = zv::ToHandle(s);
            return ZV_OK;
        }
        // Room first, so that a server made is never lost for want of it.
        c->serverObjects.reserve(c->serverObjects.size() + 1);
        Server* made = zv::MakeOwned<Server>(c, c, server);
        if (made == nullptr) return ZV_E_NOMEM;
        c->serverObjects.push_back(made);
        *handle = zv::ToHandle(made);
        return ZV_OK;
    });
}

zvStatus zvClientEnableCapture(zvHandle client, int32_t enable) {
    ZV_ENTER(enable);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        Client* c = zv::ClientWithBackend(client, &status);
        if (c == nullptr) return status;
        return c->backend.setCapture(c->backend.context, enable != 0 ? 1 : 0);
    });
}

zvStatus zvClientSetCaptureSegmentSize(zvHandle client, int64_t bytes) {
    ZV_ENTER(bytes);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        Client* c = zv::ClientWithBackend(client, &status);
        if (c == nullptr) return status;
        if (bytes < 1) return ZV_E_ARGUMENT;
        return c->backend.setCaptureSegmentSize(c->backend.context, bytes);
    });
}

zvStatus zvServerGetPipeHandle(zvHandle server, zvHandle* pipe) {
    if (pipe != nullptr) *pipe = nullptr;
    ZV_ENTER(zv::ServerNameOf(server));
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        Server* s = zv::Get<Server>(server, ZV_TYPE_SERVER, &status);
        if (s == nullptr) return status;
        if (pipe == nullptr) return ZV_E_ARGUMENT;
        if (s->pipe == nullptr) s->pipe = zv::MakeOwned<Pipe>(s, s->client, s->serial);
        if (s->pipe == nullptr) return ZV_E_NOMEM;
        *pipe = zv::ToHandle(s->pipe);
        return ZV_OK;
    });
}

zvStatus zvServerGetStorageHandle(zvHandle server, zvHandle* storage) {
    if (storage != nullptr) *storage = nullptr;
    ZV_ENTER(zv::ServerNameOf(server));
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        Server* s = zv::Get<Server>(server, ZV_TYPE_SERVER, &status);
        if (s == nullptr) return status;
        if (storage == nullptr) return ZV_E_ARGUMENT;
        if (s->storage == nullptr) s->storage = zv::MakeOwned<Storage>(s, s->serial);
        if (s->storage == nullptr) return ZV_E_NOMEM;
        *storage = zv::ToHandle(s->storage);
        return ZV_OK;
    });
}

uint32_t zvServerSerial(zvHandle server) {
    ZV_ENTER_OR(0u, zv::ServerNameOf(server));
    const Server* s = zv::Get<Server>(server, ZV_TYPE_SERVER, nullptr);
    return s != nullptr ? s->serial : 0u;
}

zvStatus zvStorageDeleteFile(zvHandle storage, const char* name, int32_t flags) {
    ZV_ENTER(zv::StorageNameOf(storage), name, flags);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        Storage* s = zv::Get<Storage>(storage, ZV_TYPE_STORAGE, &status);
        if (s == nullptr) return status;
        zv::RemotePlace remote;
        std::string path;
        if (zv::RemoteStorageFile(*s, name, &remote, &path)) return zv::RemoteDelete(remote, path.c_str());
        zv::Place file;
        status = zv::StorageFile(*s, name, zv::Follow::kAll, &file);
        if (status <= 0) return status;
        struct stat info {};
        status = zv::StorageFileInfo(file, &info);
        if (status <= 0) return status;
        if ((info.st_mode & 0222) == 0) return ZV_E_IO;  // read-only stays, as on the station's disk
        // The entry itself goes (a link, not what it leads to), removed in
        // the folder it was resolved in.
        zv::Place entry;
        status = zv::StorageFile(*s, name, zv::Follow::kNotLast, &entry);
        if (status <= 0) return status;
        if (!entry.exists || entry.IsRoot()) return ZV_E_NOTFOUND;
        if (zv::Sys().unlinkat(entry.folder.get(), entry.name.c_str(), 0) != 0)
            return errno == ENOENT ? ZV_E_NOTFOUND : ZV_E_IO;
        zv::NoteCommit(entry.host, zv::files::Commit::Change::Deleted, -1);
        return ZV_OK;
    });
}

zvStatus zvStorageFileSize(zvHandle storage, const char* name, int64_t* size) {
    if (size != nullptr) *size = 0;
    ZV_ENTER(zv::StorageNameOf(storage), name);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        Storage* s = zv::Get<Storage>(storage, ZV_TYPE_STORAGE, &status);
        if (s == nullptr) return status;
        if (size == nullptr) return ZV_E_ARGUMENT;
        zv::RemotePlace remote;
        std::string path;
        if (zv::RemoteStorageFile(*s, name, &remote, &path)) return zv::RemoteFileSize(remote, path.c_str(), size);
        zv::Place file;
        status = zv::StorageFile(*s, name, zv::Follow::kAll, &file);
        if (status <= 0) return status;
        struct stat info {};
        status = zv::StorageFileInfo(file, &info);
        if (status <= 0) return status;
        *size = static_cast<int64_t>(info.st_size);
        return ZV_OK;
    });
}

zvStatus zvPipeSetCurrentMode(zvHandle pipe, const char* mode) {
    ZV_ENTER(zv::PipeName(pipe), mode);
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        const zvStationBackend* b = nullptr;
        Pipe* p = zv::PipeWithBackend(pipe, &b, &status);
        if (p == nullptr) return status;
        if (mode == nullptr) return ZV_E_ARGUMENT;
        return b->setMode(b->context, p->server, mode);
    });
}

zvStatus zvPipeModeParameters(zvHandle pipe, zvHandle list) {
    ZV_ENTER(zv::PipeName(pipe));
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        const zvStationBackend* b = nullptr;
        Pipe* p = zv::PipeWithBackend(pipe, &b, &status);
        if (p == nullptr) return status;
        zv::ArrayList* l = zv::ParameterList(list, &status);
        if (l == nullptr) return status;
        // Asked into a buffer of our own first, so that the list changes
        // only once the values are all there.
        std::vector<int32_t> values(16);
        int32_t count = 0;
        status = b->parameters(b->context, p->server, values.data(), static_cast<int32_t>(values.size()), &count);
        if (status == ZV_E_RANGE && count > static_cast<int32_t>(values.size())) {
            values.resize(static_cast<size_t>(count));
            status = b->parameters(b->context, p->server, values.data(), count, &count);
        }
        if (status <= 0) return status;
        if (count < 0 || count > static_cast<int32_t>(values.size())) return ZV_E_FAIL;
        if (!l->Reserve(count)) return ZV_E_NOMEM;
        if (count < l->count) l->ReleaseItems(count);  // plain items: clears the slots left behind
        if (count > 0) std::memcpy(l->item(0), values.data(), static_cast<size_t>(count) * sizeof(int32_t));
        l->count = count;
        return ZV_OK;
    });
}

zvStatus zvPipeSetModeParameters(zvHandle pipe, zvHandle list) {
    ZV_ENTER(zv::ParameterText(pipe, list));
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        const zvStationBackend* b = nullptr;
        Pipe* p = zv::PipeWithBackend(pipe, &b, &status);
        if (p == nullptr) return status;
        const zv::ArrayList* l = zv::ParameterList(list, &status);
        if (l == nullptr) return status;
        std::vector<int32_t> values(static_cast<size_t>(l->count));
        if (l->count > 0) std::memcpy(values.data(), l->item(0), values.size() * sizeof(int32_t));
        return b->setParameters(b->context, p->server, values.data(), l->count);
    });
}

zvStatus zvPipeEnable(zvHandle pipe) {
    ZV_ENTER(zv::PipeName(pipe));
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        const zvStationBackend* b = nullptr;
        Pipe* p = zv::PipeWithBackend(pipe, &b, &status);
        if (p == nullptr) return status;
        return b->setEnabled(b->context, p->server, 1);
    });
}

zvStatus zvPipeDisable(zvHandle pipe) {
    ZV_ENTER(zv::PipeName(pipe));
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        const zvStationBackend* b = nullptr;
        Pipe* p = zv::PipeWithBackend(pipe, &b, &status);
        if (p == nullptr) return status;
        return b->setEnabled(b->context, p->server, 0);
    });
}

zvStatus zvPipeCurrentMode(zvHandle pipe, char* buffer, int32_t size) {
    ZV_ENTER(zv::PipeName(pipe));
    return zv::Guard([&] {
        if (buffer == nullptr || size <= 0) return ZV_E_ARGUMENT;
        buffer[0] = '\0';
        zvStatus status = ZV_OK;
        const zvStationBackend* b = nullptr;
        Pipe* p = zv::PipeWithBackend(pipe, &b, &status);
        if (p == nullptr) return status;
        status = b->currentMode(b->context, p->server, buffer, size);
        buffer[size - 1] = '\0';  // whatever the backend left there
        if (status <= 0) buffer[0] = '\0';
        return status;
    });
}

zvStatus zvPipeIsEnabled(zvHandle pipe, int32_t* enabled) {
    if (enabled != nullptr) *enabled = 0;
    ZV_ENTER(zv::PipeName(pipe));
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        const zvStationBackend* b = nullptr;
        Pipe* p = zv::PipeWithBackend(pipe, &b, &status);
        if (p == nullptr) return status;
        if (enabled == nullptr) return ZV_E_ARGUMENT;
        int32_t value = 0;
        status = b->enabled(b->context, p->server, &value);
        if (status > 0) *enabled = value != 0 ? 1 : 0;
        return status;
    });
}

}  // extern "C"
