#include "plugin/settings.h"

#include <cstring>

#include "plugin/xml_path.h"

namespace {

constexpr char kSettingsAbsent[] = "Settings.xml is absent.\n";

int32_t Flag(int32_t value) { return value != 0 ? 1 : 0; }

// Reads an integer child into `value`, normalised to 0 or 1.
zvStatus GetChildFlag(zvHandle document, zvXmlItem parent, const char* name, int32_t* value) {
    const zvStatus status = zvXMLGetChildInt(document, parent, name, value);
    if (status > 0) *value = Flag(*value);
    return status;
}

// The direct child `name` of `parent`, 0 when there is none.
zvStatus FindBranch(zvHandle document, zvXmlItem parent, const char* name, zvXmlItem* item) {
    return zvXMLFindBranchItem(document, parent, name, 1, item);
}

// The sensors' list (Members/SensorGroup/Members) under `root`; 0 when any
// level of it is missing.
zvStatus FindSensorList(zvHandle document, zvXmlItem root, zvXmlItem* inner) {
    *inner = 0;
    zvXmlItem members = 0;
    zvXmlItem group = 0;
    zvStatus status = FindBranch(document, root, "Members", &members);
    if (status <= 0 || members == 0) return status;
    if ((status = FindBranch(document, members, "SensorGroup", &group)) <= 0 || group == 0) return status;
    return FindBranch(document, group, "Members", inner);
}

zvStatus ParseInto(zvHandle document, SystemSettings* s) {
    zvXmlItem root = 0;
    zvStatus status = zvXMLGetRoot(document, &root);
    if (status <= 0) return status;
    if (root == 0) return 0;

    if ((status = zvXMLGetChildInt(document, root, "OutputBatchCount", &s->OutputBatchCount)) <= 0) return status;
    if ((status = zvXMLGetChildFloat(document, root, "EncoderResolution", &s->EncoderResolution)) <= 0) return status;
    if ((status = zvXMLGetChildInt(document, root, "OutputInterval", &s->OutputInterval)) <= 0) return status;
    if ((status = zvXMLGetChildInt(document, root, "DetectionThreshold", &s->DetectionThreshold)) <= 0) return status;
    if ((status = GetChildFlag(document, root, "OverlapFilterEnable", &s->OverlapFilterEnable)) <= 0) return status;

    zvXmlItem item = 0;
    if ((status = XmlFindChild(document, root, "IoStateOutputEnable", &item)) <= 0) return status;
    if (item != 0) {
        if ((status = GetChildFlag(document, root, "IoStateOutputEnable", &s->IoStateOutputEnable)) <= 0) return status;
    } else {
        s->IoStateOutputEnable = 1;
    }

    if ((status = zvXMLGetChildInt(document, root, "ObstructionY", &s->ObstructionY)) <= 0) return status;
    if ((status = zvXMLGetChildInt(document, root, "VideoStyle", &s->VideoStyle)) <= 0) return status;
    if ((status = zvXMLGetChildInt(document, root, "VideoExposure", &s->VideoExposure)) <= 0) return status;
    if ((status = zvXMLGetChildInt(document, root, "MaxSlices", &s->MaxSlices)) <= 0) return status;

    zvXmlItem web = 0;
    if ((status = FindBranch(document, root, "Web", &web)) <= 0) return status;
    if (web != 0) {
        s->webPresent = 1;
        if ((status = zvXMLGetChildInt(document, web, "SynchronizeMethod", &s->SynchronizeMethod)) <= 0) return status;
        if ((status = zvXMLGetChildFloat(document, web, "XResolution", &s->XResolution)) <= 0) return status;
        zvXmlItem sync = 0;
        if ((status = FindBranch(document, web, "SyncResolution", &sync)) <= 0) return status;
        if (sync == 0) return 0;
        if ((status = zvXMLGetChildFloat(document, sync, "Distance", &s->Distance)) <= 0) return status;
        if ((status = zvXMLGetChildInt(document, sync, "Time", &s->Time)) <= 0) return status;
    }

    if ((status = XmlFindChild(document, root, "OffsetCalibrationEnable", &item)) <= 0) return status;
    if (item != 0) {
        if ((status = GetChildFlag(document, root, "OffsetCalibrationEnable", &s->OffsetCalibrationEnable)) <= 0)
            return status;
    }

    zvXmlItem target = 0;
    if ((status = FindBranch(document, root, "CalibrationTarget", &target)) <= 0) return status;
    if (target == 0) return 0;
    if ((status = zvArrayListCreate(&s->TargetVertices, 0)) <= 0) return status;
    if ((status = zvArrayListInit(s->TargetVertices, ZV_TYPE_POINT32, 0, 1)) <= 0) return status;
    if ((status = AppendTargetVertices(document, target, s->TargetVertices)) <= 0) return status;

    zvXmlItem capture = 0;
    if ((status = FindBranch(document, root, "Capture", &capture)) <= 0) return status;
    if (capture == 0) return 0;
    if ((status = GetChildFlag(document, capture, "Enabled", &s->CaptureEnabled)) <= 0) return status;
    if ((status = zvXMLGetChildInt(document, capture, "Source", &s->CaptureSource)) <= 0) return status;
    if ((status = zvXMLGetChildInt(document, capture, "Divisor", &s->CaptureDivisor)) <= 0) return status;

    zvXmlItem inner = 0;
    if ((status = FindSensorList(document, root, &inner)) <= 0) return status;
    if (inner == 0) return 0;

    if ((status = zvArrayListCreate(&s->Sensors, 0)) <= 0) return status;
    if ((status = zvArrayListInit(s->Sensors, ZV_TYPE_SENSOR_ENTRY, 0, 1)) <= 0) return status;
    zvXmlItem entry = 0;
    if ((status = zvXMLGetFirstChild(document, inner, &entry)) <= 0) return status;
    while (entry != 0) {
        SensorSettings sensor;
        if ((status = zvMemset(&sensor, 0, sizeof sensor)) <= 0) return status;
        if ((status = zvXMLGetChildString(document, entry, "Name", sensor.Name, sizeof sensor.Name)) <= 0)
            return status;
        sensor.Name[sizeof sensor.Name - 1] = '\0';
        int32_t serial = 0;
        if ((status = zvXMLGetChildInt(document, entry, "SerialNumber", &serial)) <= 0) return status;
        sensor.SerialNumber = static_cast<uint32_t>(serial);
        if ((status = zvXMLGetChildInt(document, entry, "Enabled", &sensor.Enabled)) <= 0) return status;
        if ((status = zvXMLGetChildInt(document, entry, "VertexView", &sensor.VertexView)) <= 0) return status;
        if ((status = zvXMLGetChildInt(document, entry, "Orientation", &sensor.Orientation)) <= 0) return status;
        if ((status = zvXMLGetChildInt(document, entry, "Multiplex", &sensor.Multiplex)) <= 0) return status;
        if ((status = zvXMLGetChildInt(document, entry, "DetectionThreshold", &sensor.DetectionThreshold)) <= 0)
            return status;
        zvXmlItem exposure = 0;
        if ((status = FindBranch(document, entry, "Exposure", &exposure)) <= 0) return status;
        if (exposure != 0) {
            if ((status = zvXMLGetItemInt(document, exposure, &sensor.Exposure)) <= 0) return status;
        }
        if ((status = zvArrayListAdd(s->Sensors, &sensor)) <= 0) return status;
        if ((status = zvXMLGetNextSibling(document, entry, &entry)) <= 0) return status;
    }
    return 1;
}

// The element `name` under `parent`, created as its last child when missing.
zvStatus FindOrCreateBranch(zvHandle document, zvXmlItem parent, const char* name, zvXmlItem* item) {
    zvStatus status = FindBranch(document, parent, name, item);
    if (status <= 0 || *item != 0) return status;
    return zvXMLCreateItem(document, parent, ZV_XML_LAST, name, "", item);
}

}  // namespace

zvStatus DestroyDocument(zvHandle document, zvStatus status) {
    const zvStatus destroyed = zvXMLDestroy(document);
    return status <= 0 ? status : destroyed;
}

zvStatus ReadXmlDocumentFile(zvHandle console, const char* path, const char* absentNotice, zvHandle* document) {
    if (document == nullptr) return ZV_E_ARGUMENT;
    *document = 0;

    zvHandle file = 0;
    zvStatus status = zvFileCreate(&file, 0);
    if (status <= 0) return status;
    status = zvFileInit(file, path, ZV_FILE_READ);
    if (status <= 0 && status != ZV_E_NOTFOUND) {
        // A file that is there but cannot be opened (refused path, I/O
        // error) is a failure: a save must not report success over it.
        zvFileDestroy(file);
        return status;
    }
    if (status <= 0) {
        // An absent file is not an error: there is no document.
        zvStatus printed = 1;
        if (console != 0) printed = zvPipeEnginePrint(console, absentNotice);
        status = zvFileDestroy(file);
        if (printed <= 0) return printed;
        return status <= 0 ? status : 1;
    }

    int64_t length = 0;
    status = zvFileLength(file, &length);
    if (status > 0 && (length < 0 || static_cast<uint64_t>(length) >= SIZE_MAX)) status = ZV_E_RANGE;
    char* text = nullptr;
    if (status > 0) {
        text = static_cast<char*>(zvMalloc(static_cast<size_t>(length) + 1));
        if (text == nullptr) status = kTorvaneNoMemory;
    }
    // The platform may deliver fewer bytes per call; a file that ends
    // before its length was reached is not parsed.
    int64_t total = 0;
    while (status > 0 && total < length) {
        int64_t done = 0;
        status = zvFileRead(file, text + total, length - total, &done);
        if (status > 0 && done <= 0) status = 0;
        if (status > 0) total += done;
    }
    const zvStatus closed = zvFileDestroy(file);
    if (status > 0) status = closed;
    if (status <= 0) {
        zvFree(text);
        return status;
    }
    text[length] = '\0';
    // A zero byte would end the text early and a later save would drop the rest.
    if (std::memchr(text, '\0', static_cast<size_t>(length)) != nullptr) {
        zvFree(text);
        return ZV_E_PARSE;
    }

    zvHandle parsed = 0;
    status = zvXMLCreate(&parsed, 0);
    if (status > 0) status = zvXMLInit(parsed, 0);
    if (status > 0) status = zvXMLUnflatten(parsed, text);
    zvFree(text);
    if (status <= 0) {
        zvXMLDestroy(parsed);
        return status;
    }
    *document = parsed;
    return 1;
}

zvStatus WriteXmlDocumentFile(zvHandle document, const char* path, bool flush) {
    int64_t size = 0;
    zvStatus status = zvXMLFlatten(document, nullptr, 0, &size);
    if (status <= 0) return status;
    if (size < 0 || static_cast<uint64_t>(size) >= SIZE_MAX) return ZV_E_RANGE;

    // Room for the whole text and a terminator, zeroed.
    char* text = static_cast<char*>(zvMalloc(static_cast<size_t>(size) + 1));
    if (text == nullptr) return kTorvaneNoMemory;
    status = zvMemset(text, 0, static_cast<size_t>(size) + 1);
    int64_t flattened = 0;
    if (status > 0) status = zvXMLFlatten(document, text, size + 1, &flattened);
    if (status > 0 && flattened != size) status = ZV_E_RANGE;
    if (status <= 0) {
        zvFree(text);
        return status;
    }

    zvHandle file = 0;
    status = zvFileCreate(&file, 0);
    if (status <= 0) {
        zvFree(text);
        return status;
    }
    status = zvFileInit(file, path, ZV_FILE_WRITE);
    if (status > 0) status = zvFileWrite(file, text, size);
    if (status > 0 && flush) status = zvFileFlush(file);
    // Closing commits the new file; after a failed step it discards it and
    // the old file stays as it was.
    const zvStatus closed = zvFileDestroy(file);
    zvFree(text);
    return status <= 0 ? status : closed;
}

zvStatus AppendTargetVertices(zvHandle document, zvXmlItem target, zvHandle vertices) {
    zvXmlItem vertex = 0;
    zvStatus status = zvXMLGetFirstChild(document, target, &vertex);
    if (status <= 0) return status;
    while (vertex != 0) {
        zvPoint32s point = {0, 0};
        if ((status = zvXMLGetChildInt(document, vertex, "X", &point.x)) <= 0) return status;
        if ((status = zvXMLGetChildInt(document, vertex, "Y", &point.y)) <= 0) return status;
        if ((status = zvArrayListAdd(vertices, &point)) <= 0) return status;
        if ((status = zvXMLGetNextSibling(document, vertex, &vertex)) <= 0) return status;
    }
    return 1;
}

zvStatus SettingsReadDocument(zvHandle console, const char* path, zvHandle* document) {
    return ReadXmlDocumentFile(console, path, kSettingsAbsent, document);
}

zvStatus SettingsParse(zvHandle document, zvHandle console, SystemSettings** settings) {
    if (settings == nullptr) return ZV_E_ARGUMENT;
    *settings = nullptr;
    SystemSettings* record = nullptr;
    zvStatus status = AllocateRecord(&record);
    if (status <= 0) return status;
    record->console = console;
    if (document != 0) {
        record->present = 1;
        status = ParseInto(document, record);
        if (status <= 0) {
            SettingsFree(record);
            return status;
        }
    }
    *settings = record;
    return 1;
}

zvStatus SettingsLoad(const char* path, zvHandle console, SystemSettings** settings) {
    if (settings == nullptr) return ZV_E_ARGUMENT;
    *settings = nullptr;
    zvHandle document = 0;
    zvStatus status = SettingsReadDocument(console, path, &document);
    if (status <= 0) return status;
    SystemSettings* record = nullptr;
    status = SettingsParse(document, console, &record);
    if (document != 0) status = DestroyDocument(document, status);
    if (status <= 0) {
        SettingsFree(record);
        return status;
    }
    *settings = record;
    return 1;
}

zvStatus SettingsUpdateDocument(const SystemSettings* s, zvHandle document) {
    if (s == nullptr) return ZV_E_ARGUMENT;
    zvXmlItem root = 0;
    zvStatus status = zvXMLGetRoot(document, &root);
    if (status <= 0) return status;
    if (root == 0) return 0;

    if ((status = zvXMLSetChildInt(document, root, "OutputBatchCount", s->OutputBatchCount)) <= 0) return status;
    if ((status = zvXMLSetChildFloat(document, root, "EncoderResolution", s->EncoderResolution, 6)) <= 0) return status;
    if ((status = zvXMLSetChildInt(document, root, "OutputInterval", s->OutputInterval)) <= 0) return status;
    if ((status = zvXMLSetChildInt(document, root, "DetectionThreshold", s->DetectionThreshold)) <= 0) return status;
    if ((status = zvXMLSetChildInt(document, root, "OverlapFilterEnable", Flag(s->OverlapFilterEnable))) <= 0)
        return status;
    if ((status = zvXMLSetChildInt(document, root, "IoStateOutputEnable", Flag(s->IoStateOutputEnable))) <= 0)
        return status;
    if ((status = zvXMLSetChildInt(document, root, "ObstructionY", s->ObstructionY)) <= 0) return status;
    if ((status = zvXMLSetChildInt(document, root, "VideoStyle", s->VideoStyle)) <= 0) return status;
    if ((status = zvXMLSetChildInt(document, root, "VideoExposure", s->VideoExposure)) <= 0) return status;
    if ((status = zvXMLSetChildInt(document, root, "MaxSlices", s->MaxSlices)) <= 0) return status;

    zvXmlItem web = 0;
    zvXmlItem sync = 0;
    if ((status = FindOrCreateBranch(document, root, "Web", &web)) <= 0) return status;
    if ((status = zvXMLSetChildInt(document, web, "SynchronizeMethod", Flag(s->SynchronizeMethod))) <= 0) return status;
    if ((status = zvXMLSetChildFloat(document, web, "XResolution", s->XResolution, 6)) <= 0) return status;
    if ((status = FindOrCreateBranch(document, web, "SyncResolution", &sync)) <= 0) return status;
    if ((status = zvXMLSetChildFloat(document, sync, "Distance", s->Distance, 6)) <= 0) return status;
    if ((status = zvXMLSetChildInt(document, sync, "Time", s->Time)) <= 0) return status;

    zvXmlItem capture = 0;
    if ((status = FindBranch(document, root, "Capture", &capture)) <= 0) return status;
    if (capture == 0) return 0;
    if ((status = zvXMLSetChildInt(document, capture, "Enabled", Flag(s->CaptureEnabled))) <= 0) return status;
    if ((status = zvXMLSetChildInt(document, capture, "Source", s->CaptureSource)) <= 0) return status;
    if ((status = zvXMLSetChildInt(document, capture, "Divisor", s->CaptureDivisor)) <= 0) return status;

    zvXmlItem inner = 0;
    if ((status = FindSensorList(document, root, &inner)) <= 0) return status;
    if (inner == 0) return 0;

    // The sensors' entries keep the per-sensor values the document has (the
    // sensor pages write them); each entry's name is read once, so that an
    // entry whose name cannot be read still fails the update, and the walk
    // stays proportional to the number of entries.
    zvXmlItem entry = 0;
    if ((status = zvXMLGetFirstChild(document, inner, &entry)) <= 0) return status;
    while (entry != 0) {
        char name[sizeof(SensorSettings::Name)] = {};
        if ((status = zvXMLGetChildString(document, entry, "Name", name, sizeof name)) <= 0) return status;
        if ((status = zvXMLGetNextSibling(document, entry, &entry)) <= 0) return status;
    }
    return 1;
}

zvStatus SettingsWriteDocument(zvHandle document, const char* path, int32_t flush) {
    return WriteXmlDocumentFile(document, path, flush == 1);
}

zvStatus SettingsSave(const SystemSettings* settings, const char* path, int32_t flush) {
    if (settings == nullptr) return ZV_E_ARGUMENT;
    return SaveXmlDocumentFile(settings->console, path, kSettingsAbsent, flush == 1,
                               [settings](zvHandle document) { return SettingsUpdateDocument(settings, document); });
}

zvStatus SettingsFillDefaults(zvHandle document, zvXmlItem root, int32_t sensorCount) {
    zvStatus status;
    if ((status = XmlSetPathString(document, root, "Name", "System")) <= 0) return status;
    if ((status = XmlSetPathInt(document, root, "OutputBatchCount", 1)) <= 0) return status;
    if ((status = XmlSetPathFloat(document, root, "EncoderResolution", 0.0, 1)) <= 0) return status;
    if ((status = XmlSetPathInt(document, root, "OutputInterval", 0)) <= 0) return status;
    if ((status = XmlSetPathInt(document, root, "DetectionThreshold", 20)) <= 0) return status;
    if ((status = XmlSetPathInt(document, root, "OverlapFilterEnable", 1)) <= 0) return status;
    if ((status = XmlSetPathInt(document, root, "IoStateOutputEnable", 1)) <= 0) return status;
    if ((status = XmlSetPathInt(document, root, "ObstructionY", 0)) <= 0) return status;
    if ((status = XmlSetPathInt(document, root, "VideoStyle", 0)) <= 0) return status;
    if ((status = XmlSetPathInt(document, root, "VideoExposure", 0)) <= 0) return status;
    if ((status = XmlSetPathInt(document, root, "MaxSlices", 0)) <= 0) return status;

    // The default calibration target, in mils.
    static constexpr zvPoint32s kTarget[] = {{7500, 4500}, {-7500, 4500}, {-7500, 19500}, {7500, 19500}};
    zvXmlItem target = 0;
    if ((status = zvXMLCreateItem(document, root, ZV_XML_LAST, "CalibrationTarget", "", &target)) <= 0) return status;
    for (const zvPoint32s& point : kTarget) {
        zvXmlItem vertex = 0;
        if ((status = zvXMLCreateItem(document, target, ZV_XML_LAST, "Vertex", "", &vertex)) <= 0) return status;
        if ((status = XmlSetPathFloat(document, vertex, "X", point.x, 6)) <= 0) return status;
        if ((status = XmlSetPathFloat(document, vertex, "Y", point.y, 6)) <= 0) return status;
    }

    zvXmlItem capture = 0;
    if ((status = zvXMLCreateItem(document, root, ZV_XML_LAST, "Capture", "", &capture)) <= 0) return status;
    if ((status = XmlSetPathInt(document, capture, "Enabled", 0)) <= 0) return status;
    if ((status = XmlSetPathInt(document, capture, "Source", 0)) <= 0) return status;
    if ((status = XmlSetPathInt(document, capture, "Divisor", 1)) <= 0) return status;

    zvXmlItem members = 0;
    zvXmlItem group = 0;
    zvXmlItem inner = 0;
    if ((status = zvXMLCreateItem(document, root, ZV_XML_LAST, "Members", "", &members)) <= 0) return status;
    if ((status = zvXMLCreateItem(document, members, ZV_XML_LAST, "SensorGroup", "", &group)) <= 0) return status;
    if ((status = XmlSetPathString(document, group, "Name", "0")) <= 0) return status;
    if ((status = zvXMLCreateItem(document, group, ZV_XML_LAST, "Members", "", &inner)) <= 0) return status;

    for (int32_t i = 0; i < sensorCount; ++i) {
        zvXmlItem sensor = 0;
        const char name[2] = {static_cast<char>('A' + i), '\0'};
        if ((status = zvXMLCreateItem(document, inner, ZV_XML_LAST, "Sensor", "", &sensor)) <= 0) return status;
        if ((status = XmlSetPathString(document, sensor, "Name", name)) <= 0) return status;
        if ((status = XmlSetPathInt(document, sensor, "SerialNumber", 1000 + i)) <= 0) return status;
        if ((status = XmlSetPathInt(document, sensor, "Enabled", 1)) <= 0) return status;
        if ((status = XmlSetPathInt(document, sensor, "VertexView", 0)) <= 0) return status;
        if ((status = XmlSetPathInt(document, sensor, "Orientation", 0)) <= 0) return status;
        if ((status = XmlSetPathInt(document, sensor, "Multiplex", 0)) <= 0) return status;
        if ((status = XmlSetPathInt(document, sensor, "DetectionThreshold", 15)) <= 0) return status;
        if ((status = XmlSetPathInt(document, sensor, "Exposure", 0)) <= 0) return status;
    }
    return 1;
}

zvStatus SettingsCreateDefault(const char* path, int32_t sensorCount) {
    // Sensor names run from "A" to "~"; beyond that they would not be text.
    if (sensorCount < 0 || sensorCount > '~' - 'A' + 1) return ZV_E_ARGUMENT;
    zvHandle document = 0;
    zvStatus status = zvXMLCreate(&document, 0);
    if (status <= 0) return status;
    zvXmlItem root = 0;
    status = zvXMLInit(document, 0);
    if (status > 0) status = zvXMLCreateItem(document, ZV_XML_DOCUMENT, ZV_XML_LAST, "SensorGroup", "", &root);
    if (status > 0) status = SettingsFillDefaults(document, root, sensorCount);
    if (status > 0) status = SettingsWriteDocument(document, path, 1);
    return DestroyDocument(document, status);
}

zvStatus SettingsFree(SystemSettings* settings) {
    if (settings == nullptr) return 1;
    zvStatus status;
    if (settings->Sensors != 0) {
        if ((status = zvArrayListDestroy(settings->Sensors)) <= 0) return status;
        settings->Sensors = 0;
    }
    if (settings->TargetVertices != 0) {
        if ((status = zvArrayListDestroy(settings->TargetVertices)) <= 0) return status;
        settings->TargetVertices = 0;
    }
    zvFree(settings);
    return 1;
}

int32_t EnabledSensors(const SystemSettings& settings) {
    if (settings.present == 0 || settings.Sensors == 0) return 0;
    const int32_t count = zvArrayListCount(settings.Sensors);
    const auto* sensors = static_cast<const SensorSettings*>(zvArrayListData(settings.Sensors));
    int32_t enabled = 0;
    for (int32_t i = 0; sensors != nullptr && i < count; ++i) enabled += sensors[i].Enabled != 0 ? 1 : 0;
    return enabled;
}
