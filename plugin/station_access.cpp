#include "plugin/station_access.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "plugin/settings.h"

namespace {

constexpr char kUniqueViews[] = "Each sensor has to be assigned a unique vertex view!";

// A copy of `text` made with zvMalloc ("" for none), or null without memory.
char* CopyText(const char* text) {
    if (text == nullptr) text = "";
    const size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(zvMalloc(size));
    if (copy != nullptr) std::memcpy(copy, text, size);
    return copy;
}

// True when two of the record's sensors share a vertex view.
bool SharesVertexView(const SystemSettings& settings) {
    if (settings.present == 0 || settings.Sensors == 0) return false;
    const int32_t count = zvArrayListCount(settings.Sensors);
    const auto* sensors = static_cast<const SensorSettings*>(zvArrayListData(settings.Sensors));
    if (count < 2 || sensors == nullptr) return false;
    // Sorting the views finds a shared one in n log n, however many sensors
    // a document lists.
    auto* views = static_cast<int32_t*>(zvMalloc(sizeof(int32_t) * static_cast<size_t>(count)));
    if (views == nullptr) return false;
    for (int32_t i = 0; i < count; ++i) views[i] = sensors[i].VertexView;
    std::sort(views, views + count);
    const bool shared = std::adjacent_find(views, views + count) != views + count;
    zvFree(views);
    return shared;
}

}  // namespace

// ---- Node ------------------------------------------------------------------

int32_t Node::Init(const hostapi::NodeInfo* info, hostapi::Node* parentNode, hostapi::PageSite* hostObject) {
    parent = dynamic_cast<Node*>(parentNode);
    host = hostObject;
    kind = info != nullptr ? info->kind : 0;
    if (kind == hostapi::kServerNode) limited = info->LimitedFlag() ? 1 : 0;
    return 1;
}

int32_t Node::Release() {
    delete this;
    return 1;
}

ServerNode* FindServerNode(Node* node) {
    for (; node != nullptr; node = node->parent) {
        if (node->kind == hostapi::kServerNode) return dynamic_cast<ServerNode*>(node);
    }
    return nullptr;
}

ServerNode* FindServerNode(hostapi::Node* node) { return FindServerNode(dynamic_cast<Node*>(node)); }

// ---- ServerNode ----------------------------------------------------------------

int32_t ServerNode::Init(const hostapi::NodeInfo* info, hostapi::Node* parentNode, hostapi::PageSite* hostObject) {
    Node::Init(info, parentNode, hostObject);
    serialNumber = info != nullptr ? info->serialNumber : 0;
    CheckVertexViews();
    return 1;
}

void ServerNode::CheckVertexViews() {
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsReadFormat, serialNumber);
    SystemSettings* settings = nullptr;
    if (SettingsLoad(path, 0, &settings) <= 0) return;
    if (SharesVertexView(*settings) && host != nullptr) host->ReportError(kUniqueViews);
    SettingsFree(settings);
}

zvStatus ServerNode::ReadServerInfo(zvHandle* info) {
    if (info == nullptr) return ZV_E_ARGUMENT;
    *info = 0;
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsReadFormat, serialNumber);
    zvLastErrorClear();  // what is kept from here on is this read's reason
    zvHandle file = 0;
    zvHandle object = 0;
    zvStatus status = zvFileCreate(&file, 0);
    if (status > 0) status = zvFileInit(file, path, ZV_FILE_READ);
    if (status > 0) status = zvAppInfoCreate(&object, 0);
    if (status > 0) status = zvAppInfoInit(object);
    if (status > 0) status = zvAppInfoRead(object, file);
    if (file != 0) zvFileDestroy(file);
    if (status <= 0) {
        if (object != 0) zvAppInfoDestroy(object);
        return status;
    }
    *info = object;
    return 1;
}

zvStatus ServerNode::WriteServerInfo(zvHandle info) {
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsWriteFormat, serialNumber);
    zvLastErrorClear();
    zvHandle file = 0;
    zvStatus status = zvFileCreate(&file, 0);
    if (status <= 0) return status;
    status = zvFileInit(file, path, ZV_FILE_WRITE);
    if (status > 0) status = zvAppInfoWrite(info, file);
    // The file is complete only when it is closed; after a failed step the
    // close discards it and the old file stays.
    const zvStatus closed = zvFileDestroy(file);
    return status <= 0 ? status : closed;
}

namespace {

// The server handle of server `serial`, through the host's client.
zvStatus ServerHandleOf(hostapi::PageSite* host, uint32_t serial, zvHandle* server) {
    *server = 0;
    if (host == nullptr) return ZV_E_STATE;
    zvHandle client = 0;
    const zvStatus status = host->GetClient(&client);
    if (status <= 0) return status;
    return zvClientGetServerHandle(client, serial, server);
}

}  // namespace

zvStatus ServerNode::ServerHandle(zvHandle* server) {
    if (server == nullptr) return ZV_E_ARGUMENT;
    return ServerHandleOf(host, serialNumber, server);
}

zvStatus ServerNode::StationPipe(zvHandle* pipe) {
    if (pipe == nullptr) return ZV_E_ARGUMENT;
    *pipe = 0;
    zvHandle server = 0;
    const zvStatus status = ServerHandleOf(host, serialNumber, &server);
    if (status <= 0) return status;
    return zvServerGetPipeHandle(server, pipe);
}

zvStatus ServerNode::LoadCachedSettings(int32_t force) {
    if (force == 0 && loaded == 1) return 1;
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsReadFormat, serialNumber);
    zvLastErrorClear();
    SystemSettings* settings = nullptr;
    const zvStatus status = SettingsLoad(path, 0, &settings);
    if (status <= 0) return status;
    OutputBatchCount = settings->OutputBatchCount;
    EncoderResolution = settings->EncoderResolution;
    OutputInterval = settings->OutputInterval;
    DetectionThreshold = settings->DetectionThreshold;
    ObstructionY = settings->ObstructionY;
    OverlapFilterEnable = settings->OverlapFilterEnable;
    if (settings->webPresent != 0) {
        XResolution = settings->XResolution;
        Distance = settings->Distance;
        Time = settings->Time;
        SynchronizeMethod = settings->SynchronizeMethod;
    } else {
        XResolution = 0;
        Distance = 0;
        Time = 0;
        SynchronizeMethod = 0;
    }
    // Zeros that stand for no file are no values of one: a file that
    // appears later must not receive them.
    loaded = settings->present != 0 ? 1 : 0;
    SettingsFree(settings);
    return loaded == 1 ? 1 : ZV_E_NOTFOUND;
}

zvStatus ServerNode::SaveCachedSettings() {
    if (loaded != 1) return ZV_E_STATE;
    char path[kServerPathSize];
    FormatServerPath(path, kServerSettingsReadFormat, serialNumber);
    zvLastErrorClear();
    SystemSettings* settings = nullptr;
    zvStatus status = SettingsLoad(path, 0, &settings);
    if (status <= 0) return status;
    if (settings->present == 0) {
        SettingsFree(settings);
        return ZV_E_NOTFOUND;
    }
    settings->OutputBatchCount = OutputBatchCount;
    settings->EncoderResolution = EncoderResolution;
    settings->OutputInterval = OutputInterval;
    settings->DetectionThreshold = DetectionThreshold;
    settings->ObstructionY = ObstructionY;
    settings->OverlapFilterEnable = OverlapFilterEnable;
    settings->webPresent = 1;
    settings->XResolution = XResolution;
    settings->Distance = Distance;
    settings->Time = Time;
    settings->SynchronizeMethod = SynchronizeMethod;
    status = SettingsSave(settings, path, 1);
    SettingsFree(settings);
    return status;
}

// ---- SensorNode ----------------------------------------------------------------

int32_t SensorNode::Init(const hostapi::NodeInfo* info, hostapi::Node* parentNode, hostapi::PageSite* hostObject) {
    Node::Init(info, parentNode, hostObject);
    // The third field is a text only for nodes that are not of kind 1 (for
    // those it is the limited flag, which must never be read as an address).
    const char* path = nullptr;
    const char* name = nullptr;
    if (info != nullptr) {
        if (info->kind != hostapi::kServerNode) path = info->GroupPathText();
        name = info->sensorName;
    }
    zvFree(groupPath);
    zvFree(sensorName);
    groupPath = CopyText(path);
    sensorName = CopyText(name);
    return 1;
}

SensorNode::~SensorNode() {
    zvFree(groupPath);
    zvFree(sensorName);
}

zvStatus SensorNode::RewriteSensorInfo() {
    // Sensor nodes hang directly under their server node.
    auto* server = dynamic_cast<ServerNode*>(parent);
    if (server == nullptr) return ZV_E_STATE;
    zvHandle info = 0;
    zvStatus status = server->ReadServerInfo(&info);
    if (status <= 0) return status;
    const zvXmlItem group = zvAppInfoGroupFromPath(info, groupPath != nullptr ? groupPath : "");
    if (group == 0 || zvAppInfoSensorFromParent(info, group, sensorName != nullptr ? sensorName : "") == 0) {
        status = ZV_E_NOTFOUND;
    } else {
        status = server->WriteServerInfo(info);
    }
    zvAppInfoDestroy(info);
    return status;
}

// ---- Page lists and the factory ----------------------------------------------------

int32_t ServerNode::GetPages(int32_t* ids, int32_t* count) {
    if (!ClearPages(ids, count)) return 1;
    if (limited == 0) {
        for (int32_t id :
             {kPageSystemFreeRunning, kPageSystemSetup, kPageSystemRun, kPageSystemWeb, kPageSystemTuning}) {
            AddPage(ids, count, id);
        }
    }
    AddPage(ids, count, kPageSystemConfig);
    return 1;
}

int32_t SensorNode::GetPages(int32_t* ids, int32_t* count) {
    if (!ClearPages(ids, count)) return 1;
    if (limited == 0) {
        for (int32_t id : {kPageSensorFreeRunning, kPageSensorSetup, kPageSensorVideo}) AddPage(ids, count, id);
    }
    return 1;
}

int32_t CaptureNode::GetPages(int32_t* ids, int32_t* count) {
    if (!ClearPages(ids, count)) return 1;
    if (limited == 0) AddPage(ids, count, kPageSystemCapture);
    return 1;
}

int32_t PlainNode::GetPages(int32_t* ids, int32_t* count) {
    ClearPages(ids, count);
    return 1;
}

hostapi::Node* NodeCreate(int32_t type) {
    switch (type) {
        case hostapi::kCaptureNode: return new (std::nothrow) CaptureNode;
        case hostapi::kServerNode: return new (std::nothrow) ServerNode;
        case hostapi::kPlainNode: return new (std::nothrow) PlainNode;
        case hostapi::kSensorNode: return new (std::nothrow) SensorNode;
        default: return nullptr;
    }
}

zvStatus SensorSerialOf(ServerNode* server, SensorNode* node, uint32_t* serial) {
    *serial = ZV_SERIAL_NONE;
    zvHandle info = 0;
    const zvStatus status = server->ReadServerInfo(&info);
    if (status <= 0) return status;
    const zvXmlItem group = node != nullptr ? zvAppInfoGroupFromPath(info, node->groupPath) : 0;
    const zvXmlItem sensor = group != 0 ? zvAppInfoSensorFromParent(info, group, node->sensorName) : 0;
    if (sensor != 0) *serial = zvAppInfoSensorSerial(info, sensor);
    zvAppInfoDestroy(info);
    return sensor != 0 ? 1 : ZV_E_NOTFOUND;
}
