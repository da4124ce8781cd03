#include "protocol/standardroad.h"

#include <functional>

#include "answer/answerwriter.h"
#include "civetweb.h"
#include "civetweb_ext.h"
#include "gate/redfisherrors.h"
#include "protocol/protocolprofile.h"
#include "protocol/requestrules.h"
#include "redfishserverhandler.h"

namespace {

// Runs a method's handler, whose answer the writer sends the standard way.
// 1: answered; 0: the handler left the request to the engine (which answers
// through answerEngineError). A handler leaves a request only before it has
// written anything.
int answerThroughWriter(struct mg_connection* conn, const std::function<bool()>& handler) {
    // An OData option the service would silently ignore must not look
    // honoured: the client is told, before anything else happens.
    const struct mg_request_info* ri = mg_get_request_info(conn);
    const std::string option = unsupportedQueryOption(ri ? ri->query_string : nullptr);
    if (!option.empty()) {
        sendAnswer(conn, jsonAnswer(501, redfisherror::queryParameterUnsupported(option)));
        return 1;
    }
    const auto [name, value] = badPagingOption(ri ? ri->query_string : nullptr);
    if (!name.empty()) {
        sendAnswer(conn,
                   jsonAnswer(400, redfisherror::queryParameterValueFormatError(value, name)));
        return 1;
    }
    return handler() ? 1 : 0;
}

bool standard() {
    return profileRules().standardAnswers;
}

} // namespace

int answerEngineError(struct mg_connection* conn, int status, const char* /*message*/) {
    // The engine answers errors of requests it could not take at all; such a
    // connection is not trusted to frame another request.
    mg_disable_connection_keep_alive(conn);
    sendAnswer(conn, jsonAnswer(status, ""));
    return 0;
}

void answerUnknownMethodsNotImplemented() {
    tolvane_answer_unknown_methods_501(1);
}

// The handler's status forms run first. In the classic profile they leave the
// status alone, so the plain forms answer exactly as they always have.

bool RedfishServerHandler::handleGet(CivetServer* server, struct mg_connection* conn, int* status) {
    if (standard())
        *status = answerThroughWriter(conn, [&] { return handleGet(server, conn); });
    return true;
}

bool RedfishServerHandler::handleHead(CivetServer* server, struct mg_connection* conn,
                                      int* status) {
    // HEAD is GET without the body; the writer leaves the body out.
    if (standard())
        *status = answerThroughWriter(conn, [&] { return handleGet(server, conn); });
    return true;
}

bool RedfishServerHandler::handlePost(CivetServer* server, struct mg_connection* conn,
                                      int* status) {
    if (standard())
        *status = answerThroughWriter(conn, [&] { return handlePost(server, conn); });
    return true;
}

bool RedfishServerHandler::handleFilePost(CivetServer* server, struct mg_connection* conn,
                                          int* status) {
    if (standard())
        *status = answerThroughWriter(conn, [&] { return handleFilePost(server, conn); });
    return true;
}

bool RedfishServerHandler::handlePatch(CivetServer* server, struct mg_connection* conn,
                                       int* status) {
    if (standard())
        *status = answerThroughWriter(conn, [&] { return handlePatch(server, conn); });
    return true;
}

bool RedfishServerHandler::handleDelete(CivetServer* server, struct mg_connection* conn,
                                        int* status) {
    if (standard())
        *status = answerThroughWriter(conn, [&] { return handleDelete(server, conn); });
    return true;
}

bool RedfishServerHandler::handleOptions(CivetServer*, struct mg_connection* conn, int* status) {
    // The Allow header is the answer; it tells nothing a GET would not.
    if (standard()) {
        Answer allowed;
        allowed.status = 200;
        sendAnswer(conn, std::move(allowed));
        *status = 1;
    }
    return true;
}

bool RedfishServerHandler::handlePut(CivetServer*, struct mg_connection* conn, int* status) {
    // No resource of this service is replaced whole.
    if (standard()) {
        sendAnswer(conn, jsonAnswer(405, ""));
        *status = 1;
    }
    return true;
}
