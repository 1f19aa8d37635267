// Station access: the nodes of the host's station tree and what pages do to
// a server through its server node.
//
// A `ServerNode` stands for one server and is the only place that knows its
// number. Everything a page does to a server goes through it: the paths of
// the server's settings file ("\SN%u\Settings.xml" for reading,
// "\SN%u\settings.xml" for writing: the same file, since the file space
// ignores case), the settings read as an application-information object,
// the server handle and its station pipe, and a cache of the system-wide
// settings that the system pages edit between loading and saving. A
// `SensorNode` names one sensor of its server's settings by group path and
// sensor name.
//
// Every operation that returns a status passes the first failing zvApi
// status back unchanged and returns 1 on success.
#ifndef TORVANE_PLUGIN_STATION_ACCESS_H
#define TORVANE_PLUGIN_STATION_ACCESS_H

#include <cstdint>

#include "hostapi/hostapi.hpp"
#include "plugin/page_ids.h"
#include "plugin/server_path.h"
#include "zvapi/zvapi.h"

// The base of the four node types. Implements the node interface's slots
// except the page list.
class Node : public hostapi::Node {
public:
    Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // Records parent, host and kind; a node of kind 1 becomes limited when
    // the info's flag is nonzero. A parent that is not one of Torvane's
    // nodes counts as none. Returns 1.
    int32_t Init(const hostapi::NodeInfo* info, hostapi::Node* parent, hostapi::PageSite* host) override;
    int32_t Reserved2() override { return 1; }
    int32_t Reserved3() override { return 1; }
    int32_t Reserved4() override { return 1; }
    int32_t Reserved5() override { return 1; }
    // Deletes the node.
    int32_t Release() override;

    hostapi::PageSite* host = nullptr;  // the host object given to Init
    Node* parent = nullptr;
    int32_t kind = 0;
    int32_t limited = 0;

protected:
    ~Node() override = default;
    // Sets the count to 0; false when the caller gave no list to fill.
    static bool ClearPages(int32_t* ids, int32_t* count) {
        if (count != nullptr) *count = 0;
        return ids != nullptr && count != nullptr;
    }
    // Appends `id` to the caller's list.
    static void AddPage(int32_t* ids, int32_t* count, int32_t id) { ids[(*count)++] = id; }
};

// Node type 1: a server of the station.
class ServerNode final : public Node {
public:
    // The base Init, the server's number, and the vertex-view check: when
    // two sensors of the server's settings share a vertex view, "Each
    // sensor has to be assigned a unique vertex view!" goes to the host
    // once. Returns 1 whatever the check found.
    int32_t Init(const hostapi::NodeInfo* info, hostapi::Node* parent, hostapi::PageSite* host) override;
    // 1014, 1018, 1015, 1023, 1024, 1022; limited: 1022 only.
    int32_t GetPages(int32_t* ids, int32_t* count) override;

    // The server's settings as an application-information object, which
    // the caller destroys with zvAppInfoDestroy. On failure none is given.
    zvStatus ReadServerInfo(zvHandle* info);
    // Writes `info` over the server's settings file; the caller keeps it.
    zvStatus WriteServerInfo(zvHandle info);
    // The zvApi server handle, and the server's station pipe (both belong
    // to the client).
    zvStatus ServerHandle(zvHandle* server);
    zvStatus StationPipe(zvHandle* pipe);
    // Fills the cache from the settings file; `force` 0 only when it was
    // not loaded yet. 1 when the cache holds the file's values. Without a
    // settings file the cache is zeros and not loaded: ZV_E_NOTFOUND. Any
    // other failure leaves the cache and `loaded` as they were and gives its
    // status.
    zvStatus LoadCachedSettings(int32_t force);
    // Writes the cached values (and the "Web" element) into the existing
    // settings file: 1 once written. A cache that was never loaded holds no
    // values of the file and is never written (ZV_E_STATE); without a file
    // nothing is written either (ZV_E_NOTFOUND); any other failure leaves
    // the file as it was and gives its status.
    zvStatus SaveCachedSettings();

    // The cache: system-wide values of the settings file, defined once
    // `loaded` is 1 (1 only while they are values read from a document).
    int32_t OutputBatchCount = 0;
    double EncoderResolution = 0;
    int32_t OutputInterval = 0;
    int32_t DetectionThreshold = 0;
    int32_t ObstructionY = 0;
    int32_t OverlapFilterEnable = 0;
    int32_t inputStateFlag = 0;  // the System Free Running page's; never loaded or saved
    uint32_t serialNumber = 0;
    double XResolution = 0;
    int32_t Time = 0;
    double Distance = 0;
    int32_t SynchronizeMethod = 0;
    int32_t loaded = 0;

private:
    ~ServerNode() override = default;
    void CheckVertexViews();
};

// Node type 3: one sensor of its parent server's settings.
class SensorNode final : public Node {
public:
    // The base Init, then copies the group path and the sensor name.
    int32_t Init(const hostapi::NodeInfo* info, hostapi::Node* parent, hostapi::PageSite* host) override;
    // 1019, 1002, 1017; none when limited.
    int32_t GetPages(int32_t* ids, int32_t* count) override;

    // Rewrites the parent server's settings file in the form
    // zvAppInfoWrite gives it, changing no value: 1 once written. The file
    // is untouched when the settings cannot be read or written (the failing
    // status), when the group or the sensor is not in them (ZV_E_NOTFOUND)
    // and when the parent is no server node (ZV_E_STATE).
    zvStatus RewriteSensorInfo();

    char* groupPath = nullptr;   // owned
    char* sensorName = nullptr;  // owned

private:
    ~SensorNode() override;
};

// Node type 0: the capture node. 1020; none when limited.
class CaptureNode final : public Node {
public:
    int32_t GetPages(int32_t* ids, int32_t* count) override;

private:
    ~CaptureNode() override = default;
};

// Node type 2: a node without pages.
class PlainNode final : public Node {
public:
    int32_t GetPages(int32_t* ids, int32_t* count) override;

private:
    ~PlainNode() override = default;
};

// A new node of `type` (0 to 3), or null for another type or when memory
// runs out.
hostapi::Node* NodeCreate(int32_t type);

// Starting with `node` itself, the first node up the parent chain whose
// kind is 1, or null. A node of kind 1 that is not a server node (a host
// that gave another type kind 1) ends the search with null.
ServerNode* FindServerNode(Node* node);
ServerNode* FindServerNode(hostapi::Node* node);

// The serial number of the sensor that `node` names in its server's
// settings: 1 with `*serial` (ZV_SERIAL_NONE when the sensor has none
// assigned); ZV_E_NOTFOUND when the settings do not name the sensor (also
// for a node that is no sensor node), or the failing status of reading the
// settings, both with `*serial` ZV_SERIAL_NONE.
zvStatus SensorSerialOf(ServerNode* server, SensorNode* node, uint32_t* serial);

#endif
