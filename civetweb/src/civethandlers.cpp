// Default operations of the handler base classes, the exception and the
// callback table. Defined here, out of line, so the program exports them.
#include "civetserver.h"

#include <cstring>

CivetException::CivetException(const char* msg) : std::runtime_error(msg) {}
CivetException::CivetException(const CivetException& other) = default;
CivetException::CivetException(CivetException&& other) noexcept = default;
CivetException& CivetException::operator=(const CivetException& other) = default;
CivetException& CivetException::operator=(CivetException&& other) noexcept = default;
CivetException::~CivetException() = default;

CivetCallbacks::CivetCallbacks() : mg_callbacks() {
    std::memset(static_cast<mg_callbacks*>(this), 0, sizeof(mg_callbacks));
}
CivetCallbacks& CivetCallbacks::operator=(const CivetCallbacks& other) = default;
CivetCallbacks& CivetCallbacks::operator=(CivetCallbacks&& other) noexcept = default;

CivetHandler::CivetHandler() = default;
CivetHandler::CivetHandler(const CivetHandler& other) = default;
CivetHandler& CivetHandler::operator=(const CivetHandler& other) = default;
CivetHandler::~CivetHandler() = default;

// The status-code forms leave -1 ("not answered here") so that the plain form
// is called next; the plain forms answer nothing.
#define TOLVANE_DEFAULT_HANDLER_PAIR(name)                                                         \
    bool CivetHandler::name(CivetServer*, struct mg_connection*, int* status_code) {               \
        if (status_code != nullptr) {                                                              \
            *status_code = -1;                                                                     \
        }                                                                                          \
        return false;                                                                              \
    }                                                                                              \
    bool CivetHandler::name(CivetServer*, struct mg_connection*) {                                 \
        return false;                                                                              \
    }

TOLVANE_DEFAULT_HANDLER_PAIR(handleGet)
TOLVANE_DEFAULT_HANDLER_PAIR(handlePost)
TOLVANE_DEFAULT_HANDLER_PAIR(handleFilePost)
TOLVANE_DEFAULT_HANDLER_PAIR(handleHead)
TOLVANE_DEFAULT_HANDLER_PAIR(handlePut)
TOLVANE_DEFAULT_HANDLER_PAIR(handleDelete)
TOLVANE_DEFAULT_HANDLER_PAIR(handleOptions)
TOLVANE_DEFAULT_HANDLER_PAIR(handlePatch)

#undef TOLVANE_DEFAULT_HANDLER_PAIR

CivetAuthHandler::CivetAuthHandler() = default;
CivetAuthHandler::CivetAuthHandler(const CivetAuthHandler& other) = default;
CivetAuthHandler& CivetAuthHandler::operator=(const CivetAuthHandler& other) = default;
CivetAuthHandler::~CivetAuthHandler() = default;

CivetWebSocketHandler::CivetWebSocketHandler() = default;
CivetWebSocketHandler::CivetWebSocketHandler(const CivetWebSocketHandler& other) = default;
CivetWebSocketHandler&
CivetWebSocketHandler::operator=(const CivetWebSocketHandler& other) = default;
CivetWebSocketHandler::~CivetWebSocketHandler() = default;

bool CivetWebSocketHandler::handleConnection(CivetServer*, const struct mg_connection*) {
    return true;
}
void CivetWebSocketHandler::handleReadyState(CivetServer*, struct mg_connection*) {}
bool CivetWebSocketHandler::handleData(CivetServer*, struct mg_connection*, int, char*, size_t) {
    return true;
}
void CivetWebSocketHandler::handleClose(CivetServer*, const struct mg_connection*) {}
