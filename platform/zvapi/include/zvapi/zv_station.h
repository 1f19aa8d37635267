/* zvApi station access: the client's own pipe, its servers with their
 * station pipes and storages, capture, and a server's settings read as
 * application information.
 *
 * The station behind a client is a backend the host installs on the client
 * (zvClientSetStationBackend): it keeps the pipes' modes, enabled flags and
 * parameter values, checks what is asked of them, and tells the host what
 * changed. Without a backend every pipe and capture call returns
 * ZV_E_STATE (the handles themselves are given all the same). A server's
 * storage is its folder "\SN<serial>\" of the client's file space
 * (zv_files.h); storage calls work without a backend.
 *
 * Pipe calls journal the pipe as "client" or "SN<serial>", for example
 * "zvPipeSetCurrentMode SN7 Calibration".
 *
 * Handles: the client pipe, server handles, station pipes and storages
 * belong to the client. Asking twice gives the same handle; they stay valid
 * until the client is destroyed and are never destroyed by their users
 * (zvObjectDestroy refuses them with ZV_E_STATE). An application-information
 * object belongs to its creator (zvAppInfoDestroy).
 *
 * A client's station calls come from one thread at a time (the host's loop,
 * where pages run); the handles are made on first request without a lock.
 */
#ifndef ZVAPI_ZV_STATION_H
#define ZVAPI_ZV_STATION_H

#include "zv_base.h"
#include "zv_xml.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The backend ----------------------------------------------------------
 * A pipe is named to the backend by `server`: ZV_CLIENT_PIPE for the
 * client's own pipe (the one that runs the plug-in's modes), else the serial
 * number of the server whose station pipe is meant. Every operation returns
 * a status; a failure changes nothing. The backend is called on the thread
 * that makes the zv call. */
#define ZV_CLIENT_PIPE 0xFFFFFFFFu

typedef struct zvStationBackend {
    void* context;
    /* 1 when the station has server `server`, else ZV_E_NOTFOUND. */
    zvStatus (*hasServer)(void* context, uint32_t server);
    /* Switches the pipe to mode `mode`; ZV_E_NOTFOUND for a mode the pipe
     * does not run. */
    zvStatus (*setMode)(void* context, uint32_t server, const char* mode);
    /* The pipe's current mode into `buffer` (at most size - 1 characters,
     * "" when none was set); ZV_E_RANGE when it does not fit. */
    zvStatus (*currentMode)(void* context, uint32_t server, char* buffer, int32_t size);
    /* The values of the current mode's parameters in declaration order:
     * at most `capacity` values into `values`, their number into `*count`
     * (the full number, also when it exceeds `capacity`: ZV_E_RANGE then).
     * ZV_E_STATE when no mode is set. */
    zvStatus (*parameters)(void* context, uint32_t server, int32_t* values, int32_t capacity, int32_t* count);
    /* Replaces the current mode's values; ZV_E_RANGE when `count` is not
     * the number of parameters the mode declares, ZV_E_STATE when no mode
     * is set. */
    zvStatus (*setParameters)(void* context, uint32_t server, const int32_t* values, int32_t count);
    /* Enables (1) or disables (0) the pipe; 1 when `*enabled` is asked. */
    zvStatus (*setEnabled)(void* context, uint32_t server, int32_t enabled);
    zvStatus (*enabled)(void* context, uint32_t server, int32_t* enabled);
    /* Capture of what the client receives: on (1) or off (0), and the
     * largest segment file in bytes (at least 1). */
    zvStatus (*setCapture)(void* context, int32_t on);
    zvStatus (*setCaptureSegmentSize)(void* context, int64_t bytes);
} zvStationBackend;

/* Installs `backend` (copied; null removes it) on `client`. The context
 * must outlive the client or the next installation. ZV_E_ARGUMENT for a
 * table with an operation missing. */
ZV_API zvStatus zvClientSetStationBackend(zvHandle client, const zvStationBackend* backend);

/* ---- Client, servers, pipes, storage ---------------------------------------
 * Out-handles are set to 0 before anything can fail. */

/* The client's own pipe. */
ZV_API zvStatus zvClientGetPipeHandle(zvHandle client, zvHandle* pipe);
/* The handle of server `server`: ZV_E_NOTFOUND when the client has no such
 * server (zvClientAddServer); the backend's failure when it does not know
 * it. */
ZV_API zvStatus zvClientGetServerHandle(zvHandle client, uint32_t server, zvHandle* handle);
/* Capture on (nonzero) or off (0): while on, the client records every
 * result it receives in segment files of the file space (the host's
 * documentation says where). */
ZV_API zvStatus zvClientEnableCapture(zvHandle client, int32_t enable);
/* The largest segment file of a capture, in bytes (1 or more, else
 * ZV_E_ARGUMENT). Takes effect at the next segment. */
ZV_API zvStatus zvClientSetCaptureSegmentSize(zvHandle client, int64_t bytes);

/* The server's station pipe and its storage. */
ZV_API zvStatus zvServerGetPipeHandle(zvHandle server, zvHandle* pipe);
ZV_API zvStatus zvServerGetStorageHandle(zvHandle server, zvHandle* storage);
/* The server's serial number (0 for a handle that is not a live server). */
ZV_API uint32_t zvServerSerial(zvHandle server);

/* Files of a server's storage, named by a plain file name (a separator,
 * "." or "..": ZV_E_ACCESS; an empty name: ZV_E_ARGUMENT), matched without
 * regard to case. `flags` is accepted and not interpreted. ZV_E_NOTFOUND
 * when there is no such file; folders, devices and FIFOs are no files of
 * the storage, nor is a file still being written. A read-only file is not
 * deleted (ZV_E_IO). A link (one that stays inside the file space) counts
 * as the file it leads to; deleting removes the link. */
ZV_API zvStatus zvStorageDeleteFile(zvHandle storage, const char* name, int32_t flags);
/* Size in bytes of a file of the storage; ZV_E_NOTFOUND when there is
 * none. `*size` is 0 on failure. */
ZV_API zvStatus zvStorageFileSize(zvHandle storage, const char* name, int64_t* size);

/* Switches the pipe to the mode named `mode` (case-sensitive).
 * ZV_E_NOTFOUND for a mode the pipe does not run; the pipe keeps its mode. */
ZV_API zvStatus zvPipeSetCurrentMode(zvHandle pipe, const char* mode);
/* Replaces the contents of `list` (an array list of 32-bit integers: item
 * type 150 or 151, or zvTypeBlock(4)) by the current mode's parameter
 * values in declaration order; a station pipe's modes have none, so its
 * list becomes empty. ZV_E_TYPE for a list of another item type (floats
 * included); ZV_E_STATE for a list not initialised or sent to an engine,
 * and when the pipe has no mode yet. On failure the list is unchanged. */
ZV_API zvStatus zvPipeModeParameters(zvHandle pipe, zvHandle list);
/* Sets the current mode's parameter values from `list` (32-bit integers as
 * above, one per declared parameter, in declaration order). ZV_E_TYPE for
 * another item type, ZV_E_RANGE for another count; nothing changes then.
 * The journal entry carries the values: "zvPipeSetModeParameters client
 * 1001 3". */
ZV_API zvStatus zvPipeSetModeParameters(zvHandle pipe, zvHandle list);
ZV_API zvStatus zvPipeEnable(zvHandle pipe);
ZV_API zvStatus zvPipeDisable(zvHandle pipe);
/* Reading a pipe back (for the host and tests): its current mode ("" when
 * none) into `buffer`, and whether it is enabled. */
ZV_API zvStatus zvPipeCurrentMode(zvHandle pipe, char* buffer, int32_t size);
ZV_API zvStatus zvPipeIsEnabled(zvHandle pipe, int32_t* enabled);

/* ---- Application information ------------------------------------------------
 * A server's whole Settings.xml, seen as groups and sensors:
 *  - the root group is the document's root element (a "SensorGroup");
 *  - a group's subgroups are the "SensorGroup" children of its "Members"
 *    element, each named by its "Name" child's text;
 *  - a group's sensors are the other element children of its "Members"
 *    element (the default document calls them "Sensor"), each named by its
 *    "Name" child's text and identified by its "SerialNumber".
 * A group path names groups below the root group, one name per step,
 * separated by "\" or "/" ("0" is the group named "0" in the root group's
 * Members; "0/Left" a group inside that one). Empty steps are skipped, so ""
 * and "\" name the root group itself. Names are compared exactly
 * (case-sensitive). Items are XML items of the object's document
 * (zvAppInfoXml), valid until the object is read again or destroyed.
 *
 * Create, Init, then Read from an open file; the caller destroys the object
 * with zvAppInfoDestroy, which also destroys its document. */
ZV_API zvStatus zvAppInfoCreate(zvHandle* out, zvAllocator allocator);
/* Gives the object its empty document; initialised again, the object keeps
 * its document (the same zvAppInfoXml handle) and empties it. Every other
 * call needs it (ZV_E_STATE, or 0 / ZV_SERIAL_NONE). */
ZV_API zvStatus zvAppInfoInit(zvHandle info);
/* Parses the whole of `file` (open for reading) as the object's document,
 * replacing what it held. ZV_E_PARSE for text that is not well-formed XML
 * (the object then holds an empty document). */
ZV_API zvStatus zvAppInfoRead(zvHandle info, zvHandle file);
/* Writes the document, with every change made through zvAppInfoXml, into
 * `file` (open for writing): indented UTF-8, what nobody changed kept.
 * ZV_E_STATE for a document without a root element (never read, or a read
 * that failed): such a file would hold no settings. On any failure the
 * file is marked failed, so that closing it leaves the old file. */
ZV_API zvStatus zvAppInfoWrite(zvHandle info, zvHandle file);
/* The XML document behind the object (owned by it: destroying it through
 * its handle is refused with ZV_E_STATE), or 0 for a handle that is not a
 * live, initialised application-information object. */
ZV_API zvHandle zvAppInfoXml(zvHandle info);
/* The root group, or 0 when the document has no root element. */
ZV_API zvXmlItem zvAppInfoRootGroup(zvHandle info);
/* The group at `path`, or 0 when there is none. */
ZV_API zvXmlItem zvAppInfoGroupFromPath(zvHandle info, const char* path);
/* The sensor named `name` directly in `group`, or 0 when there is none
 * (also for a group item 0). */
ZV_API zvXmlItem zvAppInfoSensorFromParent(zvHandle info, zvXmlItem group, const char* name);
/* The sensor's "SerialNumber" as an unsigned 32-bit number (its text's
 * leading decimal digits, as integers of the settings are read), or
 * ZV_SERIAL_NONE (-1 as a signed number) when none is assigned: no such
 * element, text that does not start with a digit (a sign "-" included), a
 * number beyond 32 bits, or no sensor (item 0 or a stale item). */
#define ZV_SERIAL_NONE 0xFFFFFFFFu
ZV_API uint32_t zvAppInfoSensorSerial(zvHandle info, zvXmlItem sensor);
ZV_API zvStatus zvAppInfoDestroy(zvHandle info);

#ifdef __cplusplus
}
#endif

#endif
