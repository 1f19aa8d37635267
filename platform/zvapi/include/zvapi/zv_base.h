/* zvApi: statuses, handles, objects, memory and console text.
 *
 * Every zv function is a C-linkage boundary: arguments are checked on entry,
 * no C++ exception crosses it, and a failure is reported as a status of zero
 * or less. Out-parameters are set to 0 / none before anything can fail, so a
 * failed call never leaves a half-made object in the caller's hands.
 */
#ifndef ZVAPI_ZV_BASE_H
#define ZVAPI_ZV_BASE_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#define ZV_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define ZV_API
#define ZV_PRINTF_LIKE(f, a)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A status: greater than zero is success, zero or less a failure code that
 * callers pass back unchanged. */
typedef int32_t zvStatus;

#define ZV_OK 1
#define ZV_E_FAIL 0            /* generic failure, also "required item missing" */
#define ZV_E_ARGUMENT (-1)     /* a null pointer, negative size or bad value */
#define ZV_E_HANDLE (-2)       /* not a live object */
#define ZV_E_TYPE (-3)         /* a live object of the wrong type */
#define ZV_E_NOMEM (-4)        /* the platform could not allocate */
#define ZV_E_IO (-5)           /* the operating system refused a file operation */
#define ZV_E_NOTFOUND (-6)     /* no such file, folder, mode, display or parameter */
#define ZV_E_ACCESS (-7)       /* a path that would leave the file space */
#define ZV_E_PARSE (-8)        /* XML that is not well-formed, too deep or too large */
#define ZV_E_RANGE (-9)        /* an index or size outside the object */
#define ZV_E_STATE (-10)       /* the object is not in a state that allows the call */
#define ZV_E_UNSUPPORTED (-11) /* a type or option the platform does not know */

/* Every platform object is reached through a handle; 0 is the null handle.
 * A handle stays valid until the object is destroyed; calls on a destroyed
 * or foreign handle return ZV_E_HANDLE instead of touching memory. */
typedef struct zvObject_* zvHandle;

/* An allocator decides who owns an object. 0 is the default allocator: the
 * creator owns the object and destroys it. An engine's output allocator
 * (zvPipeEngineOutputAlloc) makes objects that belong to the engine: they
 * are released by the engine once sent, or when the engine ends. */
typedef zvHandle zvAllocator;

/* Object and item type ids (zvObjectType, list item types, array element
 * types, image types). */
enum {
    ZV_TYPE_ALLOCATOR = 20,
    ZV_TYPE_ARRAY = 26,     /* n-dimensional array of elements */
    ZV_TYPE_ARRAYLIST = 27, /* as an item type: a list of array lists */
    ZV_TYPE_FILE = 30,
    ZV_TYPE_XML = 31,
    ZV_TYPE_PIPEAPP = 32,
    ZV_TYPE_PIPEMODE = 33,
    ZV_TYPE_ENGINE = 34,
    ZV_TYPE_CLIENT = 35,
    ZV_TYPE_MESSAGE = 36,
    ZV_TYPE_PLOT = 37,
    ZV_TYPE_GRAPHIC = 38,
    ZV_TYPE_POLAR = 39,
    ZV_TYPE_POLARMODEL = 40,
    ZV_TYPE_IMAGE = 41,
    ZV_TYPE_SERVER = 42,
    ZV_TYPE_STRING = 43, /* as an item type: a list of strings */
    ZV_TYPE_RESULT = 44,
    ZV_TYPE_PIPE = 45,
    ZV_TYPE_STORAGE = 46,
    ZV_TYPE_APPINFO = 47,

    /* element types of arrays and images, item types of lists */
    ZV_TYPE_INT8 = 140,
    ZV_TYPE_UINT8 = 141,
    ZV_TYPE_INT16 = 142,
    ZV_TYPE_UINT16 = 143,
    ZV_TYPE_IMAGE8 = 146,  /* image: one byte per pixel */
    ZV_TYPE_IMAGE32 = 147, /* image: four bytes per pixel, blue green red alpha */
    ZV_TYPE_INT32 = 150,
    ZV_TYPE_UINT32 = 151,
    ZV_TYPE_INT64 = 152,
    ZV_TYPE_UINT64 = 153,
    ZV_TYPE_FLOAT32 = 154,
    ZV_TYPE_FLOAT64 = 155,
    ZV_TYPE_POINT32 = 162,     /* zvPoint32s: two signed 32-bit values */
    ZV_TYPE_STAMP = 170,       /* zvStamp: a profile's transport stamp */
    ZV_TYPE_SENSOR_ENTRY = 352 /* an 84-byte sensor record of the client's settings */
};

/* A point in mils; (INT32_MIN, INT32_MIN) is the null point. */
typedef struct zvPoint32s {
    int32_t x;
    int32_t y;
} zvPoint32s;

/* The stamp of a range profile: where and when it was measured. */
typedef struct zvStamp {
    int64_t encoder;
    uint64_t time;
    int32_t inputState;
    int32_t reserved;
} zvStamp;

/* The type id of a block of `size` bytes (1 to 65535) of no further meaning,
 * for lists of plain records; 0 for a size out of range. */
ZV_API int32_t zvTypeBlock(int32_t size);
/* Size in bytes of one item of `type`, or 0 when the type is unknown.
 * Handle-valued types (lists of lists, strings, messages, results) hold one
 * zvHandle per item. */
ZV_API int32_t zvTypeSize(int32_t type);

/* Platform start and end. zvInitialize may be called more than once; each
 * call needs its zvTerminate. Objects still alive at the last zvTerminate
 * stay alive (the accounting of zvapi_testing.hpp shows them). */
ZV_API zvStatus zvInitialize(void);
ZV_API zvStatus zvTerminate(void);

/* Type id of a live object, or 0 for the null handle or a dead one. */
ZV_API int32_t zvObjectType(zvHandle object);
/* 1 when `object` is live and of `type`, else 0. */
ZV_API int32_t zvObjectIs(zvHandle object, int32_t type);
/* Destroy any object by handle, whatever its family; the null handle is
 * accepted and returns ZV_OK. zvDispose is the same call. Destroying an
 * object that belongs to an engine is refused with ZV_E_STATE once it was
 * sent. */
ZV_API zvStatus zvObjectDestroy(zvHandle object);
ZV_API zvStatus zvDispose(zvHandle object);

/* Memory: zvMalloc returns null when nothing can be had (also when the test
 * seams make it fail); zvFree accepts null. zvMemcpy and zvMemset return
 * ZV_E_ARGUMENT for a null pointer with a non-zero size. */
ZV_API void* zvMalloc(size_t size);
ZV_API void zvFree(void* block);
ZV_API zvStatus zvMemcpy(void* dst, const void* src, size_t size);
ZV_API zvStatus zvMemset(void* dst, int value, size_t size);

/* The reason for the last failure on this thread, in words for the user:
 * the file, the line where known and what is wrong, for example
 * "\SN7\Settings.xml: line 3: the element \"Capture\" is not closed".
 * Failures that have a reason worth telling keep one (documents that cannot
 * be read, refused paths, special files, limits, the operating system's
 * refusals); others, and every success, leave the text as it was. "" when
 * no reason was kept since the thread began or the text was cleared: clear
 * it before the calls whose failure is to be explained. The text stays
 * valid until the thread's next zv call. */
ZV_API const char* zvLastErrorText(void);
ZV_API void zvLastErrorClear(void);

/* Console text on standard output; returns the number of characters
 * written, or a negative value on failure. */
ZV_API int32_t zvPrintf(const char* format, ...) ZV_PRINTF_LIKE(1, 2);

#ifdef __cplusplus
}
#endif

#endif
