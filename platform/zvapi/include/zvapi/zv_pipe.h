/* zvApi pipes: pipe-app descriptions, engines, messages and results, the
 * client with its servers, and the output objects' labels.
 *
 * A plug-in describes a pipe app (modes, their handlers, displays and
 * integer parameters); the host keeps the description and, while a mode
 * runs, calls its handlers with a pipe engine. Handlers make outputs with the
 * engine's output allocator, label them with a display's name and send them;
 * a sent object belongs to the engine.
 */
#ifndef ZVAPI_ZV_PIPE_H
#define ZVAPI_ZV_PIPE_H

#include "zv_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Handler shapes. `state` is the handler's own run record; `parameters` is
 * an array list of int32 values (item type 151) in declaration order;
 * `messages` an array list of message handles (item type 36). */
typedef zvStatus (*zvPipeStartHandler)(void** state, zvHandle engine, zvHandle parameters);
typedef zvStatus (*zvPipeProcessHandler)(void* state, zvHandle engine, zvHandle parameters, zvHandle messages);
typedef zvStatus (*zvPipeStopHandler)(void* state, zvHandle engine, zvHandle parameters);

/* ---- Description ------------------------------------------------------
 * The app owns the modes added to it and destroys them with itself; a mode
 * never added is its creator's. */
ZV_API zvStatus zvPipeAppCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvPipeAppInit(zvHandle app, const char* name);
ZV_API zvStatus zvPipeAppSetVersion(zvHandle app, int32_t major, int32_t minor);
ZV_API zvStatus zvPipeAppAddMode(zvHandle app, zvHandle mode);
ZV_API zvStatus zvPipeAppDestroy(zvHandle app);

ZV_API zvStatus zvPipeModeCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvPipeModeInit(zvHandle mode, const char* name);
ZV_API zvStatus zvPipeModeSetStartHandler(zvHandle mode, zvPipeStartHandler handler);
ZV_API zvStatus zvPipeModeSetProcessHandler(zvHandle mode, zvPipeProcessHandler handler);
ZV_API zvStatus zvPipeModeSetStopHandler(zvHandle mode, zvPipeStopHandler handler);
/* Display `name` of `kind` (0 polar model, 1 image, 2 plot, 3 table). */
ZV_API zvStatus zvPipeModeAddDisplay(zvHandle mode, const char* name, int32_t kind);
/* Integer parameter `name` with its initial value. */
ZV_API zvStatus zvPipeModeAddParameter(zvHandle mode, const char* name, int32_t initial);
ZV_API zvStatus zvPipeModeSetInputStyle(zvHandle mode, int32_t style);
ZV_API zvStatus zvPipeModeDestroy(zvHandle mode);

/* Reading a description back (for the host). Texts stay owned by the
 * object; out-of-range indices give null / 0 / ZV_E_RANGE. */
ZV_API const char* zvPipeAppName(zvHandle app);
ZV_API zvStatus zvPipeAppVersion(zvHandle app, int32_t* major, int32_t* minor);
ZV_API int32_t zvPipeAppModeCount(zvHandle app);
ZV_API zvHandle zvPipeAppModeAt(zvHandle app, int32_t index);
ZV_API const char* zvPipeModeName(zvHandle mode);
ZV_API zvPipeStartHandler zvPipeModeStartHandler(zvHandle mode);
ZV_API zvPipeProcessHandler zvPipeModeProcessHandler(zvHandle mode);
ZV_API zvPipeStopHandler zvPipeModeStopHandler(zvHandle mode);
ZV_API int32_t zvPipeModeDisplayCount(zvHandle mode);
ZV_API const char* zvPipeModeDisplayName(zvHandle mode, int32_t index);
ZV_API int32_t zvPipeModeDisplayKind(zvHandle mode, int32_t index);
ZV_API int32_t zvPipeModeParameterCount(zvHandle mode);
ZV_API const char* zvPipeModeParameterName(zvHandle mode, int32_t index);
ZV_API int32_t zvPipeModeParameterInitial(zvHandle mode, int32_t index);
ZV_API int32_t zvPipeModeInputStyle(zvHandle mode);

/* ---- Engines ----------------------------------------------------------
 * An engine is made by the host for one run (zvPipeEngineCreate) over the
 * client. What a handler sends is handed to the engine's sink, a callback
 * the host sets; objects made with the output allocator and not sent are
 * released when the engine is destroyed. */
typedef void (*zvPipeSink)(void* context, zvHandle output, const char* label);
typedef void (*zvPipeConsole)(void* context, const char* text);
/* Called when a handler asks to read a server's results (the client's
 * station backend decides what then arrives). */
typedef zvStatus (*zvPipeReadHook)(void* context, uint32_t serverId, int32_t a, int32_t b);

ZV_API zvStatus zvPipeEngineCreate(zvHandle* out, zvHandle client);
ZV_API zvStatus zvPipeEngineSetSink(zvHandle engine, zvPipeSink sink, void* context);
ZV_API zvStatus zvPipeEngineSetConsole(zvHandle engine, zvPipeConsole console, void* context);
ZV_API zvStatus zvPipeEngineSetReadHook(zvHandle engine, zvPipeReadHook hook, void* context);
/* Releases the engine and every object of its output allocator. */
ZV_API zvStatus zvPipeEngineDestroy(zvHandle engine);

/* Starts delivery of server `serverId`'s results to this engine. */
ZV_API zvStatus zvPipeEngineRead(zvHandle engine, uint32_t serverId, int32_t a, int32_t b);
/* The client the engine runs for. */
ZV_API zvStatus zvPipeEngineOwner(zvHandle engine, zvHandle* client);
/* The engine's output allocator. */
ZV_API zvStatus zvPipeEngineOutputAlloc(zvHandle engine, zvAllocator* allocator);
/* Hands `output` (a labelled object) to the engine, which owns it from now
 * on (also one made with the default allocator). ZV_E_STATE, and the object
 * is not taken, for one already sent, one that is part of another object
 * (a list's item, a plot's graphic) or one of another engine's allocator. */
ZV_API zvStatus zvPipeEngineSend(zvHandle engine, zvHandle output);
/* Prints text on the run's console. */
ZV_API zvStatus zvPipeEnginePrint(zvHandle engine, const char* text);
/* The serial numbers of the servers whose reads were started, in order. */
ZV_API int32_t zvPipeEngineReadCount(zvHandle engine);
/* Serial number of the `index`-th read started (0 when out of range). */
ZV_API uint32_t zvPipeEngineReadAt(zvHandle engine, int32_t index);
/* The host is done with a sent output: the engine releases it now instead
 * of at its end. ZV_E_STATE for an object this engine was not sent. */
ZV_API zvStatus zvPipeEngineRelease(zvHandle engine, zvHandle output);

/* ---- Output labels ----------------------------------------------------
 * Any plot, image, table (array list), polar model or string can carry a
 * label: the name of the display that is to show it. */
ZV_API zvStatus zvDataSetLabel(zvHandle data, const char* label);
/* The label, "" when none, null for a dead handle. */
ZV_API const char* zvDataLabel(zvHandle data);
/* A deep copy made with `allocator` (label included). */
ZV_API zvStatus zvDataClone(zvHandle data, zvAllocator allocator, zvHandle* out);
ZV_API zvStatus zvDataDispose(zvHandle data);

/* ---- Messages and results ---------------------------------------------
 * A message carries one payload (a result, or an array list of results) or
 * none, and owns it. A result has a 64-bit id, 64-bit attributes and data
 * arrays, all of which it owns. */
ZV_API zvStatus zvPipeMsgCreate(zvHandle* out, zvAllocator allocator);
/* Takes ownership of `payload` (0 clears it). */
ZV_API zvStatus zvPipeMsgSetData(zvHandle message, zvHandle payload);
/* The payload, or 0 when the message has none. */
ZV_API zvStatus zvPipeMsgData(zvHandle message, zvHandle* payload);

ZV_API zvStatus zvResultCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvResultInit(zvHandle result, int64_t id, const int64_t* attributes, int32_t count);
/* Appends an array to the result's data; the result owns it from now on. */
ZV_API zvStatus zvResultAddData(zvHandle result, zvHandle array);
ZV_API zvStatus zvResultId(zvHandle result, int64_t* id);
/* Number of data arrays. */
ZV_API zvStatus zvResultCount(zvHandle result, int32_t* count);
/* Data array `index`; ZV_E_RANGE when there is no such array. */
ZV_API zvStatus zvResultData(zvHandle result, int32_t index, zvHandle* array);
/* Address of the attribute row (valid while the result lives). */
ZV_API zvStatus zvResultAttributes(zvHandle result, const int64_t** attributes);
ZV_API zvStatus zvResultAttributeCount(zvHandle result, int32_t* count);
ZV_API zvStatus zvResultAttributeAt(zvHandle result, int32_t index, int64_t* value);

/* ---- Client and servers -----------------------------------------------
 * The client stands for the host's connection to the station: its servers
 * by serial number, each with a station pipe and a storage; the client's own
 * pipe runs Torvane's modes. */
ZV_API zvStatus zvClientCreate(zvHandle* out);
/* Adds server `serverId`: ZV_E_ARGUMENT when the client has it already, or
 * for ZV_CLIENT_PIPE (4294967295), which names the client's own pipe and so
 * is no server's number. */
ZV_API zvStatus zvClientAddServer(zvHandle client, uint32_t serverId);
ZV_API zvStatus zvClientDestroy(zvHandle client);
/* Appends the server ids (4-byte items) to `list`. */
ZV_API zvStatus zvClientServers(zvHandle client, zvHandle list);

#ifdef __cplusplus
}
#endif

#endif
