// Brenvik: the steps of the station computer's software upgrade, one per
// run: commit through the disk write filter, shut down, record the station's
// model name, stop the health monitor, supply the OpenGL libraries.
//
// Everything runs on the Windows services given (winsvc) and on zvApi for
// XML documents, files, folders and console output, which must be
// initialised. Messages go to standard output through zvPrintf.
#ifndef BRENVIK_BRENVIK_HPP
#define BRENVIK_BRENVIK_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "winsvc/services.hpp"
#include "zvapi/zvapi.h"

namespace brenvik {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = -1;  // the process exit status 255 on POSIX systems
// SetModelName's status for a model file whose attributes cannot be read or
// whose read-only flag cannot be cleared.
inline constexpr zvStatus kNotWritable = -992;
// Station paths (the application home, combined paths, volume names) fit
// in this many characters with their terminator: 259 characters at most.
inline constexpr size_t kPathMax = 260;

// Runs one command line, `args` being the arguments after the program name
// (the command first, compared without regard to case). Returns the exit
// code: 0, or kExitFailure for a missing or unknown command, missing or
// too long arguments, and a failed "--setmodel".
int RunCommand(winsvc::Services& services, const std::vector<std::string>& args);

// The commands, one line each, the exit codes and the environment.
void PrintHelp();

// Writes `model` as the text of the root's "Model" child of the XML file
// `file`, adding the element when there is none. A read-only file is made
// writable first and stays writable. Returns 1, kNotWritable, or the first
// failing zvApi status; on failure the file keeps its old content.
zvStatus SetModelName(winsvc::Services& services, const char* file, const char* model);

// Enables the shutdown privilege and starts the shutdown of this computer
// after `timeoutSeconds`, applications closed by force, then disables the
// privilege again. True when the shutdown was started; failures are silent.
bool ShutdownStation(winsvc::Services& services, uint32_t timeoutSeconds = 15, bool reboot = false);

// The station type from "_StationInfo.xml" in `folder`: 1 when its root's
// "Type" is exactly "Lamina-XPE" (the file-based write filter), 0 otherwise
// and when the file is missing, unreadable or malformed. Prints
// "Brenvik: Detected station type %d.".
int DetectStationType(const char* folder);

// Flushes the volume of `path` (its drive, up to the first ':'): prints
// "Open failed: N" or "Flush failed: N" with the Windows error. Does
// nothing for a path without ':'. True when the volume was flushed.
bool FlushVolume(winsvc::Services& services, const char* path);

// Commits `path` through the write filter of the station type: the file
// alone with "fbwfmgr /commit DRIVE REST" on type 1, otherwise the whole
// volume with "ewfmgr DRIVE -commit", through the 64-bit launcher of the
// application home when running as a 32-bit process on 64-bit Windows.
// Words from the path are quoted for the command interpreter; a drive or a
// rest that starts with "-" (an option to the managers) is refused with a
// message. Returns the command's exit code, -1 when it did not run or the
// path has no ':'.
int CommitWriteFilter(winsvc::Services& services, int stationType, const char* path);

// Starts `commandLine` as a detached process, waits for its end and
// returns its exit code (-1 when it did not start), printing
// "CreateProcessEx [...]" before and "CreateProcessEx exit code N" after.
int RunAndWait(winsvc::Services& services, const char* commandLine);

// Ends the process that shows the window "zvHealthAnchor" and waits for
// its end. False when there is none or it could not be ended.
bool StopHealthMonitor(winsvc::Services& services);

// When "opengl32.dll" cannot be loaded, supplies the OpenGL libraries
// under `folder` (CopyOpenGlTree). Returns 1 when nothing was needed, else
// the walk's status.
zvStatus AddOpenGl(winsvc::Services& services, const char* folder);

// Walks the tree under `folder` depth first, subfolders in listing order;
// every folder holding "zvcontrols.dll" (any case) gets "opengl32.dll" and
// "glu32.dll" copied from "opengl32.dll_" and "glu32.dll_" of the
// application home, files already there left alone. A folder link that
// leads out of the station, or back into a folder above it, is skipped
// with "Skipped <folder>: <why>" and the walk goes on. Another failing
// status ends the walk and is returned; 1 on success.
zvStatus CopyOpenGlTree(const char* folder);

}  // namespace brenvik

#endif
