#include "plugin/server_path.h"

#include <cstdio>

void FormatServerPath(char* path, const char* format, uint32_t serial, const char* file) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (file != nullptr) {
        std::snprintf(path, kServerPathSize, format, serial, file);
    } else {
        std::snprintf(path, kServerPathSize, format, serial);
    }
#pragma GCC diagnostic pop
}
