#include "protocol/standardroad.h"

#include <functional>

#include "civetweb.h"
#include "civetweb_ext.h"
#include "gate/redfisherrors.h"
#include "protocol/answercapture.h"
#include "protocol/protocolprofile.h"
#include "protocol/requestrules.h"
#include "redfishserverhandler.h"

namespace {

const char* const kJsonType = "application/json";

// Runs a method's handler with its answer captured and sends that answer
// the standard way. 1: answered; 0: the handler left the request to the
// engine (which answers through answerEngineError).
int answerThroughWriter(struct mg_connection* conn, const std::function<bool()>& handler) {
    // An OData option the service would silently ignore must not look
    // honoured: the client is told, before anything else happens.
    const struct mg_request_info* ri = mg_get_request_info(conn);
    const std::string option = unsupportedQueryOption(ri ? ri->query_string : nullptr);
    if (!option.empty()) {
        sendStandardAnswer(conn, ProducedAnswer{501,
                                                {{"Content-Type", kJsonType}},
                                                redfisherror::queryParameterUnsupported(option)});
        return 1;
    }
    bool handled = false;
    std::string produced;
    {
        AnswerCapture capture(conn);
        handled = handler();
        produced = capture.take();
    }
    if (!handled && produced.empty())
        return 0;
    std::optional<ProducedAnswer> answer = readProducedAnswer(produced);
    // A handler that answered nothing readable failed: say so.
    sendStandardAnswer(conn, answer ? *answer : ProducedAnswer{500, {}, ""});
    return 1;
}

bool standard() {
    return protocolProfile() == ProtocolProfile::Standard;
}

} // namespace

AnswerContext answerContextOf(struct mg_connection* conn) {
    AnswerContext context;
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (ri) {
        context.method = ri->request_method ? ri->request_method : "";
        context.path = RedfishServerHandler::normalisedUri(ri);
        context.tls = ri->is_ssl != 0;
    }
    const char* ifNoneMatch = mg_get_header(conn, "If-None-Match");
    context.ifNoneMatch = ifNoneMatch ? ifNoneMatch : "";
    context.keepAlive = tolvane_answer_keeps_alive(conn) != 0;
    return context;
}

bool sendStandardAnswer(struct mg_connection* conn, const ProducedAnswer& answer) {
    const AnswerContext context = answerContextOf(conn);
    if (!context.keepAlive)
        mg_disable_connection_keep_alive(conn);
    const std::string bytes = standardAnswerBytes(context, answer);
    return RedfishServerHandler::writeBody(conn, bytes) == static_cast<long long>(bytes.size());
}

int answerEngineError(struct mg_connection* conn, int status, const char* /*message*/) {
    // The engine answers errors of requests it could not take at all; such a
    // connection is not trusted to frame another request.
    mg_disable_connection_keep_alive(conn);
    sendStandardAnswer(conn, ProducedAnswer{status, {{"Content-Type", kJsonType}}, ""});
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
        sendStandardAnswer(conn, ProducedAnswer{200, {}, ""});
        *status = 1;
    }
    return true;
}

bool RedfishServerHandler::handlePut(CivetServer*, struct mg_connection* conn, int* status) {
    // No resource of this service is replaced whole.
    if (standard()) {
        sendStandardAnswer(conn, ProducedAnswer{405, {{"Content-Type", kJsonType}}, ""});
        *status = 1;
    }
    return true;
}
