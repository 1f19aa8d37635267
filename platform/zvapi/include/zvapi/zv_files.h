/* zvApi files and directories.
 *
 * Paths name files of the client's file space, a folder chosen by the host
 * (zvFileSpaceSetRoot). "\" and "/" both separate names; a leading separator
 * means the root. Names are matched without regard to case, one component at
 * a time; a new file keeps the case it is given. A leading drive ("C:")
 * names the folder of that letter under the root (the station computer's
 * drives). A path that would leave the root ("..", links out of it) is
 * refused with ZV_E_ACCESS.
 *
 * A file opened for writing goes to a temporary file beside it, renamed over
 * the old file when the file object is destroyed: a file is complete only
 * when it is closed, and a failed write never leaves half a file behind.
 */
#ifndef ZVAPI_ZV_FILES_H
#define ZVAPI_ZV_FILES_H

#include "zv_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Paths of ZV_PATH_MAX characters or more are refused with ZV_E_RANGE by
 * every call that takes one. */
#define ZV_PATH_MAX 260

#define ZV_FILE_WRITE 0
#define ZV_FILE_READ 1

/* The folder on this machine that holds the file space; it must exist.
 * Before any call, the root is the current directory. */
ZV_API zvStatus zvFileSpaceSetRoot(const char* folder);
/* Copies the root into `buffer` (at most size - 1 characters); ZV_E_RANGE
 * when it had to be shortened. */
ZV_API zvStatus zvFileSpaceRoot(char* buffer, int32_t size);
/* Resolves `path` to this machine's path of the file or folder it names
 * (existing components matched without regard to case, links inside the
 * root followed to where they lead). ZV_E_ACCESS for a path that escapes
 * the root; ZV_E_RANGE when `buffer` is too small. */
ZV_API zvStatus zvFileSpaceResolve(const char* path, char* buffer, int32_t size);

/* Removes the temporary files of interrupted writes anywhere in `folder`
 * and below it (links not followed); those of writes still under way stay.
 * The host calls it for the root ("\\") when it starts. */
ZV_API zvStatus zvFileSpaceSweep(const char* folder);

/* A file object: Create, Init to open, Read/Write, Destroy to close. */
ZV_API zvStatus zvFileCreate(zvHandle* out, zvAllocator allocator);
/* mode ZV_FILE_READ opens an existing file (ZV_E_NOTFOUND when there is
 * none, or a folder); ZV_FILE_WRITE creates or replaces it (missing folders
 * are not created: ZV_E_NOTFOUND; a folder in the way: ZV_E_IO). A
 * read-only file (no write permission bit) is not replaced, copied over or
 * deleted: ZV_E_IO. A FIFO, device or socket: ZV_E_UNSUPPORTED. */
ZV_API zvStatus zvFileInit(zvHandle file, const char* path, int32_t mode);
/* Reads up to `size` bytes; `*done` (may be null) gets the count read (0 at
 * the end of the file). ZV_E_STATE for a file not open for reading. */
ZV_API zvStatus zvFileRead(zvHandle file, void* buffer, int64_t size, int64_t* done);
/* A failed write or flush (whatever the reason) marks the file failed: its
 * close then returns ZV_E_IO and the old file stays as it was. */
ZV_API zvStatus zvFileWrite(zvHandle file, const void* data, int64_t size);
/* Forces what was written so far to storage (the rename at close is then
 * made durable too). */
ZV_API zvStatus zvFileFlush(zvHandle file);
ZV_API zvStatus zvFileLength(zvHandle file, int64_t* length);
/* Closes the file (a written file replaces the old one now) and frees the
 * object. A failed commit returns ZV_E_IO and leaves the old file. */
ZV_API zvStatus zvFileDestroy(zvHandle file);
/* 1 when a file (not a folder) exists at `path`, else 0. */
ZV_API int32_t zvFileExists(const char* path);
/* Copies `from` to `to`; with `overwrite` 0 an existing `to` is left alone
 * and the call returns ZV_E_STATE. */
ZV_API zvStatus zvFileCopy(const char* from, const char* to, int32_t overwrite);
/* Removes a file; ZV_E_NOTFOUND when there is none. */
ZV_API zvStatus zvFileDelete(const char* path);

/* Fills `names` (a list of strings, item type 43, owning) with the names of
 * the files, or of the folders, directly inside `folder`, sorted by name
 * without regard to case; names are appended to what the list holds, all
 * or none. ZV_E_TYPE for a list of another item type, ZV_E_ARGUMENT for a
 * plain one, ZV_E_NOTFOUND for a missing folder. Files being written (not
 * yet closed) are not listed. */
ZV_API zvStatus zvDirectoryGetFiles(const char* folder, zvHandle names);
ZV_API zvStatus zvDirectoryGetDirectories(const char* folder, zvHandle names);
/* Creates the folder and any missing folder above it; ZV_OK when it exists
 * already, ZV_E_IO when a file of that name is in the way. */
ZV_API zvStatus zvDirectoryCreate(const char* folder);
/* The application's home folder, as a file-space path (set by the host with
 * zvDirectorySetAppHome; "\" before that). ZV_E_RANGE when it does not fit. */
ZV_API zvStatus zvDirectoryGetAppHome(char* buffer, int32_t size);
ZV_API zvStatus zvDirectorySetAppHome(const char* folder);

/* Joins `first` and `second` with one "\" between them into `buffer`;
 * ZV_E_RANGE when the result would not fit in `size` (nothing written then
 * but an empty string). */
ZV_API zvStatus zvPathCombine(char* buffer, int32_t size, const char* first, const char* second);

#ifdef __cplusplus
}
#endif

#endif
