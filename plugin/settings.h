// The system's settings document, Settings.xml in each server's folder
// ("\SN%u\Settings.xml"): its in-memory record, loading, saving into the existing
// document, writing a default document, and freeing.
//
// Records are allocated with zvMalloc, zero-filled, and released with
// SettingsFree. Every operation returns a status: greater than zero is
// success; the first platform status of zero or less is returned unchanged;
// a required element that is missing gives 0; memory that cannot be had
// gives kTorvaneNoMemory. A failed operation returns no record and leaks
// nothing.
#ifndef TORVANE_PLUGIN_SETTINGS_H
#define TORVANE_PLUGIN_SETTINGS_H

#include <cstdint>

#include "plugin/statuses.h"
#include "zvapi/zvapi.h"

// One sensor of the station, as read from its entry under the inner
// "Members" element. Item type ZV_TYPE_SENSOR_ENTRY of the Sensors list.
struct SensorSettings {
    char Name[50];               // "Name", terminated, at most 49 characters
    uint32_t SerialNumber;       // "SerialNumber": the sensor's identity in results
    int32_t Enabled;             // "Enabled", kept as read (nonzero: enabled)
    int32_t VertexView;          // "VertexView": view (plot series) the sensor feeds
    int32_t Orientation;         // "Orientation"
    int32_t Multiplex;           // "Multiplex"
    int32_t DetectionThreshold;  // "DetectionThreshold" of this sensor
    int32_t Exposure;            // "Exposure"; 0 when the element is missing
    int32_t Reserved;            // always 0; pads the record to the platform's item size
};
static_assert(sizeof(SensorSettings) == 84, "the platform's sensor entry item is 84 bytes");

struct SystemSettings {
    zvHandle console;  // engine that loading prints its notice to, or 0
    int32_t present;   // 1: read from a document; 0: there was no file
    int32_t OutputBatchCount;
    double EncoderResolution;  // mils per encoder tick
    int32_t OutputInterval;
    int32_t DetectionThreshold;   // the system's threshold
    int32_t OverlapFilterEnable;  // 0 or 1
    int32_t ObstructionY;
    int32_t VideoExposure;
    int32_t VideoStyle;
    int32_t MaxSlices;
    int32_t OffsetCalibrationEnable;  // 0 or 1; 0 when the element is missing
    int32_t IoStateOutputEnable;      // 0 or 1; 1 when the element is missing
    int32_t webPresent;               // 1 when the root has a "Web" element
    int32_t SynchronizeMethod;        // "Web/SynchronizeMethod", as read
    double Distance;                  // "Web/SyncResolution/Distance"
    int32_t Time;                     // "Web/SyncResolution/Time"
    double XResolution;               // "Web/XResolution"
    int32_t CaptureEnabled;           // "Capture/Enabled", 0 or 1
    int32_t CaptureSource;            // "Capture/Source"
    int32_t CaptureDivisor;           // "Capture/Divisor"
    zvHandle TargetVertices;          // array list of zvPoint32s (mils), or 0
    zvHandle Sensors;                 // array list of SensorSettings in document order, or 0
};

// Reads the document at `path` into a new record (`*settings`, null on
// failure). A missing file is not a failure: the record then
// has `present` 0, no lists, and "Settings.xml is absent.\n" is printed on
// `console` when one is given. The caller frees the record with SettingsFree.
zvStatus SettingsLoad(const char* path, zvHandle console, SystemSettings** settings);

// Writes the record's system values into the existing document at `path`
// (per-sensor entries, the calibration target and "OffsetCalibrationEnable"
// are left as they are; everything else in the file is kept). `flush` 1
// forces the file to storage before it is closed. No file at `path`:
// returns 1 and creates none. A failure leaves the old file whole.
zvStatus SettingsSave(const SystemSettings* settings, const char* path, int32_t flush);

// Writes a new default document for `sensorCount` sensors (named "A", "B",
// ... with serial numbers 1000, 1001, ...) to `path`, replacing any file
// there, flushed. ZV_E_ARGUMENT for a count outside 0..62 (the sensor names
// would leave printable text); nothing is written then.
zvStatus SettingsCreateDefault(const char* path, int32_t sensorCount);

// Destroys Sensors, then TargetVertices, then frees the record. A null
// record is accepted and returns 1. When a destroy fails its status is
// returned and the members not yet released stay in the record.
zvStatus SettingsFree(SystemSettings* settings);

// The number of enabled sensors of the record (0 when it was not read from
// a document): the Free mode's "NumSensors".
int32_t EnabledSensors(const SystemSettings& settings);

// ---- Steps of the operations above ----------------------------------------

// Opens and parses `path`. `*document` is 0 when there is no file at `path`
// (status 1, notice printed on `console` when given); any other failure to
// open is returned. A file whose length
// cannot be read in full gives 0; text with a zero byte gives ZV_E_PARSE.
// The caller destroys the document.
zvStatus SettingsReadDocument(zvHandle console, const char* path, zvHandle* document);
// Builds a record from `document` (0: a record with `present` 0).
zvStatus SettingsParse(zvHandle document, zvHandle console, SystemSettings** settings);
// Sets the record's system values on the existing tree. May have changed
// root values before it fails at a missing "Capture" or "Members".
zvStatus SettingsUpdateDocument(const SystemSettings* settings, zvHandle document);
// Fills `root` with the default content for `sensorCount` sensors.
zvStatus SettingsFillDefaults(zvHandle document, zvXmlItem root, int32_t sensorCount);
// Flattens `document` and writes it to `path` (flushed first when `flush`
// is 1). The file is replaced only when every step succeeded.
zvStatus SettingsWriteDocument(zvHandle document, const char* path, int32_t flush);

// Shared with the calibration document: read a whole XML file, printing
// `absentNotice` on `console` (when given) if it cannot be opened; write a
// document, flushing when `flush` is nonzero.
zvStatus ReadXmlDocumentFile(zvHandle console, const char* path, const char* absentNotice, zvHandle* document);
zvStatus WriteXmlDocumentFile(zvHandle document, const char* path, bool flush);
// Destroys a document read or made here; returns `status` when it is a
// failure, else the status of the destruction.
zvStatus DestroyDocument(zvHandle document, zvStatus status);

// The save both documents go through: read `path` again (a file that
// cannot be opened: nothing is written, 1, with `absentNotice` on `console`
// when given), `update(document)` the tree, write it back (flushed when
// `flush`) when the update succeeded, destroy the document. The first
// failing status is returned.
template <class Update>
zvStatus SaveXmlDocumentFile(zvHandle console, const char* path, const char* absentNotice, bool flush,
                             Update&& update) {
    zvHandle document = 0;
    zvStatus status = ReadXmlDocumentFile(console, path, absentNotice, &document);
    if (status <= 0) return status;
    if (document == 0) return 1;
    status = update(document);
    if (status > 0) status = WriteXmlDocumentFile(document, path, flush);
    return DestroyDocument(document, status);
}

// Appends the "X" and "Y" of every child of `target` (a "CalibrationTarget"
// element), in document order, to `vertices` (a list of zvPoint32s).
zvStatus AppendTargetVertices(zvHandle document, zvXmlItem target, zvHandle vertices);

// Allocates one zero-filled record of Torvane's (a settings record, a
// calibration set, a run state) into `*record`: kTorvaneNoMemory when there
// is no memory, the status of the clearing when it fails; `*record` is then
// none.
template <class Record>
zvStatus AllocateRecord(Record** record) {
    *record = static_cast<Record*>(zvMalloc(sizeof(Record)));
    if (*record == nullptr) return kTorvaneNoMemory;
    const zvStatus status = zvMemset(*record, 0, sizeof(Record));
    if (status <= 0) {
        zvFree(*record);
        *record = nullptr;
    }
    return status;
}

#endif
