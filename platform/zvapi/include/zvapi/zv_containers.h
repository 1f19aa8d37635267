/* zvApi containers: strings, array lists, n-dimensional arrays, images. */
#ifndef ZVAPI_ZV_CONTAINERS_H
#define ZVAPI_ZV_CONTAINERS_H

#include "zv_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Strings ----------------------------------------------------------
 * zvStringCreate makes an empty string (release with zvObjectDestroy, or by
 * the list or engine that owns it). Init reserves room for `capacity`
 * characters; Import replaces the text (the string grows as needed).
 * zvStringChars gives the text, "" for an empty string and null for a
 * handle that is not a live string. */
ZV_API zvStatus zvStringCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvStringInit(zvHandle string, int32_t capacity);
ZV_API zvStatus zvStringImport(zvHandle string, const char* text);
ZV_API const char* zvStringChars(zvHandle string);

/* ---- Array lists ------------------------------------------------------
 * A list of items of one type (see zvTypeSize), stored contiguously.
 *
 * No container holds more than 4 GiB: a size beyond that (or one whose
 * arithmetic would overflow) fails with ZV_E_NOMEM before anything changes,
 * as does any growth the platform cannot allocate.
 *
 * zvArrayListInit(list, itemType, capacity, plain): reserves room for
 * `capacity` items; ZV_E_UNSUPPORTED for an unknown item type. A list
 * initialised again drops (and, owning, destroys) what it held. `plain` 1: the items are plain values. `plain` 0 and a
 * handle-valued item type (27, 36, 43, 44): the list owns the objects whose
 * handles it holds and destroys them when it is destroyed or an item is
 * removed. */
ZV_API zvStatus zvArrayListCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvArrayListInit(zvHandle list, int32_t itemType, int32_t capacity, int32_t plain);
/* Appends a copy of the item-size bytes at `item` (for handle lists: the
 * address of the handle). Grows the list as needed. An owning list adopts
 * the object (a null handle is stored as is); it refuses a dead handle
 * (ZV_E_HANDLE), an object of another type than the item type (ZV_E_TYPE),
 * and one already owned or sent, or the list itself or a list holding it
 * (ZV_E_STATE). ZV_E_STATE before Init. */
ZV_API zvStatus zvArrayListAdd(zvHandle list, const void* item);
/* Address of item `index`, or null when the index is outside 0..count-1 or
 * the handle is not a list. Valid until the list next grows. */
ZV_API void* zvArrayListAt(zvHandle list, int32_t index);
/* Number of items; 0 for a handle that is not a list. */
ZV_API int32_t zvArrayListCount(zvHandle list);
/* Address of item 0 (null for a list with no storage yet). */
ZV_API void* zvArrayListData(zvHandle list);
/* Bytes per item; 0 for a handle that is not a list. */
ZV_API int32_t zvArrayListItemSize(zvHandle list);
/* Item type given at Init; 0 for a handle that is not a list. */
ZV_API int32_t zvArrayListItemType(zvHandle list);
/* Removes item `index`, moving later items down; an owned handle item is
 * destroyed. */
ZV_API zvStatus zvArrayListRemove(zvHandle list, int32_t index);
/* Sets the count to `count`, growing the storage when needed; items that
 * become visible are zero-filled. Shrinking an owning handle list destroys
 * the objects dropped. */
ZV_API zvStatus zvArrayListResize(zvHandle list, int32_t count);
ZV_API zvStatus zvArrayListDestroy(zvHandle list);

/* ---- Arrays -----------------------------------------------------------
 * Arrays of one to three dimensions with elements of one type, stored row
 * by row (the last dimension varies fastest). Results carry their data as
 * arrays. The At functions return the element's address, or null when an
 * index is out of range, the dimension count differs or the handle is not
 * an array. */
ZV_API zvStatus zvArrayCreate(zvHandle* out, zvAllocator allocator, int32_t elementType, int32_t dimensions,
                              const int32_t* lengths);
ZV_API zvStatus zvArray1Create(zvHandle* out, zvAllocator allocator, int32_t elementType, int32_t length);
ZV_API zvStatus zvArrayDestroy(zvHandle array);
/* Number of dimensions (1 to 3), 0 for a handle that is not an array. */
ZV_API int32_t zvArrayDimensions(zvHandle array);
/* Element type id, 0 for a handle that is not an array. */
ZV_API int32_t zvArrayElementType(zvHandle array);
/* Length along `dimension` (0-based), 0 when out of range. */
ZV_API int32_t zvArrayLength(zvHandle array, int32_t dimension);
/* Total size of the elements in bytes. */
ZV_API int64_t zvArrayByteSize(zvHandle array);

ZV_API void* zvArray1At(zvHandle array, int32_t i);
ZV_API void* zvArray1Data(zvHandle array);
ZV_API void* zvArray2At(zvHandle array, int32_t i, int32_t j);
ZV_API int32_t zvArray2Length(zvHandle array, int32_t dimension);
ZV_API void* zvArray3At(zvHandle array, int32_t i, int32_t j, int32_t k);
ZV_API void* zvArray3Data(zvHandle array);
ZV_API int32_t zvArray3Length(zvHandle array, int32_t dimension);

/* ---- Images -----------------------------------------------------------
 * zvImageInit(image, type, width, height, stride): type ZV_TYPE_IMAGE8 (one
 * byte per pixel) or ZV_TYPE_IMAGE32 (four bytes per pixel); stride is in
 * pixels and at least the width. The pixels start cleared to 0. */
ZV_API zvStatus zvImageCreate(zvHandle* out, zvAllocator allocator);
ZV_API zvStatus zvImageInit(zvHandle image, int32_t type, int32_t width, int32_t height, int32_t stride);
/* Address of pixel (x, y), null when outside the image. */
ZV_API void* zvImageAt(zvHandle image, int32_t x, int32_t y);
ZV_API void* zvImageData(zvHandle image);
ZV_API zvStatus zvImageZero(zvHandle image);
ZV_API int32_t zvImageWidth(zvHandle image);
ZV_API int32_t zvImageHeight(zvHandle image);
ZV_API int32_t zvImageStride(zvHandle image); /* in pixels */
ZV_API int32_t zvImageType(zvHandle image);   /* 146 or 147; 0 before Init */
ZV_API zvStatus zvImageDestroy(zvHandle image);

#ifdef __cplusplus
}
#endif

#endif
