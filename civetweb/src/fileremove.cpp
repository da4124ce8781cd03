// File removal for plug-ins, through the engine's own path handling so that
// names are converted the way all of the engine's file names are.
#include "civetweb_ext.h"

extern "C" int tolvane_engine_remove(const struct mg_connection* conn, const char* path);

extern "C" int mg_remove(const struct mg_connection* conn, const char* path) {
    if (path == nullptr) {
        return -1;
    }
    return tolvane_engine_remove(conn, path) == 0 ? 0 : -1;
}
