// Application information: a server's Settings.xml seen as groups and
// sensors. The object keeps one XML document of its own (the one zvAppInfoXml
// gives), so that what pages change through it is what zvAppInfoWrite
// writes back.
#include <cstring>
#include <string_view>

#include "files.hpp"
#include "xml_view.hpp"
#include "zvapi/zv_station.h"

namespace zv {

namespace {

struct AppInfo final : Object {
    AppInfo() : Object(ZV_TYPE_APPINFO) {}
    ~AppInfo() override { Delete(document); }
    Object* document = nullptr;  // owned (its container is this); set by Init
};

// A live, initialised object; null with `*status` set otherwise.
AppInfo* GetInitialised(zvHandle handle, zvStatus* status) {
    auto* info = Get<AppInfo>(handle, ZV_TYPE_APPINFO, status);
    if (info != nullptr && info->document == nullptr) {
        *status = ZV_E_STATE;
        return nullptr;
    }
    return info;
}

// The same for the calls that answer with an item or a number.
AppInfo* FindInitialised(zvHandle handle) {
    zvStatus ignored = ZV_OK;
    return GetInitialised(handle, &ignored);
}

bool IsGroup(XmlNode element) { return std::strcmp(XmlElementName(element), "SensorGroup") == 0; }

bool NamedAs(XmlNode element, std::string_view name) {
    XmlNode n = XmlChildElement(element, "Name");
    return n != nullptr && name == XmlElementText(n);
}

// The member of `group` named `name` that is a group (`groups`) or a
// sensor (any other element), or null.
XmlNode MemberNamed(XmlNode group, std::string_view name, bool groups) {
    XmlNode members = XmlChildElement(group, "Members");
    if (members == nullptr) return nullptr;
    for (XmlNode m = XmlFirstElement(members); m != nullptr; m = XmlNextElement(m)) {
        if (IsGroup(m) == groups && NamedAs(m, name)) return m;
    }
    return nullptr;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A serial number: the text's leading decimal digits (after blanks), as
// every integer of the settings is read; none when there are no digits or
// the number does not fit 32 bits.
uint32_t SerialFromText(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
    if (*text == '+') ++text;
    if (*text < '0' || *text > '9') return ZV_SERIAL_NONE;
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value > UINT32_MAX) return ZV_SERIAL_NONE;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

}  // namespace zv

using zv::AppInfo;

extern "C" {

zvStatus zvAppInfoCreate(zvHandle* out, zvAllocator allocator) {
    if (out != nullptr) *out = nullptr;  // no stale handle, whatever fails
    ZV_ENTER();
    return zv::Guard([&] { return zv::Create<AppInfo>(out, allocator); });
}

zvStatus zvAppInfoInit(zvHandle info) {
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        auto* a = zv::Get<AppInfo>(info, ZV_TYPE_APPINFO, &status);
        if (a == nullptr) return status;
        if (a->document != nullptr) {
            // Initialised again: an empty document, the same object.
            zv::XmlDocumentClear(a->document);
            return ZV_OK;
        }
        zv::Object* document = zv::XmlDocumentMake();
        if (document == nullptr) return ZV_E_NOMEM;
        zv::Adopt(a, document);  // only the object destroys its document
        a->document = document;
        return ZV_OK;
    });
}

zvStatus zvAppInfoRead(zvHandle info, zvHandle file) {
    ZV_ENTER();
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        AppInfo* a = zv::GetInitialised(info, &status);
        if (a == nullptr) return status;
        zv::File* f = zv::GetFile(file, &status);
        if (f == nullptr) return status;
        return zv::XmlDocumentRead(a->document, f);
    });
}

zvStatus zvAppInfoWrite(zvHandle info, zvHandle file) {
    zvStatus injected = ZV_E_FAIL;
    if (zv::Enter(__func__, &injected)) {
        // A write that failed, even before it began, never replaces the file.
        if (zv::File* f = zv::GetFile(file, nullptr)) f->Poison();
        return injected;
    }
    return zv::Guard([&] {
        zvStatus status = ZV_OK;
        zv::File* f = zv::GetFile(file, &status);
        if (f == nullptr) return status;
        AppInfo* a = zv::GetInitialised(info, &status);
        if (a != nullptr && zv::XmlRootElement(a->document) == nullptr) status = ZV_E_STATE;
        if (status <= 0) {
            // Settings without a root element (never read, or a read that
            // failed) would replace the server's file with no settings at all.
            f->Poison();
            return status;
        }
        return zv::XmlDocumentWrite(a->document, f);
    });
}

zvHandle zvAppInfoXml(zvHandle info) {
    ZV_ENTER_OR(nullptr);
    AppInfo* a = zv::FindInitialised(info);
    return a != nullptr ? zv::ToHandle(a->document) : nullptr;
}

zvXmlItem zvAppInfoRootGroup(zvHandle info) {
    ZV_ENTER_OR(0);
    try {
        AppInfo* a = zv::FindInitialised(info);
        if (a == nullptr) return 0;
        return zv::XmlIssue(a->document, zv::XmlRootElement(a->document));
    } catch (...) {
        return 0;
    }
}

zvXmlItem zvAppInfoGroupFromPath(zvHandle info, const char* path) {
    ZV_ENTER_OR(0, path);
    try {
        AppInfo* a = zv::FindInitialised(info);
        if (a == nullptr || path == nullptr) return 0;
        zv::XmlNode group = zv::XmlRootElement(a->document);
        for (const char* p = path; group != nullptr && *p != '\0';) {
            while (zv::IsSeparator(*p)) ++p;
            const char* end = p;
            while (*end != '\0' && !zv::IsSeparator(*end)) ++end;
            if (end != p) group = zv::MemberNamed(group, std::string_view(p, static_cast<size_t>(end - p)), true);
            p = end;
        }
        return zv::XmlIssue(a->document, group);
    } catch (...) {
        return 0;
    }
}

zvXmlItem zvAppInfoSensorFromParent(zvHandle info, zvXmlItem group, const char* name) {
    ZV_ENTER_OR(0, name);
    try {
        AppInfo* a = zv::FindInitialised(info);
        if (a == nullptr || name == nullptr) return 0;
        zv::XmlNode parent = zv::XmlItemElement(a->document, group);
        if (parent == nullptr) return 0;
        return zv::XmlIssue(a->document, zv::MemberNamed(parent, name, false));
    } catch (...) {
        return 0;
    }
}

uint32_t zvAppInfoSensorSerial(zvHandle info, zvXmlItem sensor) {
    ZV_ENTER_OR(ZV_SERIAL_NONE);
    AppInfo* a = zv::FindInitialised(info);
    if (a == nullptr) return ZV_SERIAL_NONE;
    zv::XmlNode element = zv::XmlItemElement(a->document, sensor);
    if (element == nullptr) return ZV_SERIAL_NONE;
    zv::XmlNode serial = zv::XmlChildElement(element, "SerialNumber");
    return serial != nullptr ? zv::SerialFromText(zv::XmlElementText(serial)) : ZV_SERIAL_NONE;
}

zvStatus zvAppInfoDestroy(zvHandle info) {
    ZV_ENTER();
    return zv::Guard([&] { return zv::DestroyChecked(info, ZV_TYPE_APPINFO); });
}

}  // extern "C"
