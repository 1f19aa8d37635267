// The paths of a server's files in the client's file space: the folder
// "\SN<serial>\" of the server (or of a sensor, for the Video mode's masks),
// formed here and nowhere else.
#ifndef TORVANE_PLUGIN_SERVER_PATH_H
#define TORVANE_PLUGIN_SERVER_PATH_H

#include <cstdint>

// The path formats of a server's files, filled with its number.
inline constexpr char kServerFileFormat[] = "\\SN%u\\%s";
inline constexpr char kServerSettingsReadFormat[] = "\\SN%u\\Settings.xml";
inline constexpr char kServerSettingsWriteFormat[] = "\\SN%u\\settings.xml";
// Room for any of those paths with a 32-bit number and a file name of
// Torvane's.
inline constexpr int32_t kServerPathSize = 64;

// Fills `path` (kServerPathSize characters) with "\SN<serial>\<file>".
void FormatServerPath(char* path, const char* format, uint32_t serial, const char* file = nullptr);

#endif
