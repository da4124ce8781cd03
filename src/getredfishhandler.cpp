// GET: the version document and the service root answered here, everything
// else forwarded to the resource plug-in.
#include "redfishserverhandler.h"

#include <functional>
#include <vector>

#include "answer/answerwriter.h"
#include "compactreply.h"
#include "gate/requestgate.h"
#include "jsonadapter.h"
#include "logging/logclip.h"
#include "loglines.h"
#include "postrules.h"
#include "protocol/certificateservice.h"
#include "protocol/metadata.h"
#include "protocol/owndocument.h"
#include "protocol/protocolprofile.h"
#include "protocol/requestrules.h"
#include "protocol/serviceroot.h"
#include "redfishtrace.h"

namespace {

const char* const kFn = "RedfishServerHandler::handleGet";

// An own document as it is answered: its reply passed through the reply
// conversion like a plug-in's.
struct OwnDocument {
    std::string body;
    int32_t status = 500;
    const char* contentType = "application/json";
};

OwnDocument convert(const std::function<void(std::string&)>& build,
                    const char* contentType = "application/json") {
    std::string reply;
    build(reply);
    OwnDocument document;
    document.status = convertPluginReply(reply.c_str(), document.body);
    document.contentType = contentType;
    return document;
}

// Both documents are fixed, so each is built and converted once, on first
// use, rather than on every request.
const OwnDocument& versionDocument() {
    static const OwnDocument document = convert(&RedfishServerHandler::buildVersionDocument);
    return document;
}

const OwnDocument& serviceRoot() {
    static const OwnDocument document = convert(&RedfishServerHandler::buildServiceRoot);
    return document;
}

// The optional services the plug-in serves, asked once: what the standard
// root and the service document link never changes while the server runs.
std::vector<RootCollection> servedOptionalServices(PluginCalls& calls) {
    std::vector<RootCollection> served;
    for (const RootCollection& service : kOptionalRootServices) {
        if (resourceData(calls.read(service.uri)).is_object())
            served.push_back(service);
    }
    return served;
}

const OwnDocument& standardServiceRoot(const std::vector<RootCollection>& served) {
    static const OwnDocument document =
        convert([&served](std::string& out) { buildStandardServiceRoot(out, served); });
    return document;
}

const OwnDocument& odataServiceDocument(const std::vector<RootCollection>& served) {
    static const OwnDocument document =
        convert([&served](std::string& out) { buildODataServiceDocument(out, served); });
    return document;
}

const OwnDocument& metadataDocument() {
    static const OwnDocument document = convert(&buildMetadataDocument, "application/xml");
    return document;
}

// The standard profile's own documents beside the root: "" none.
const OwnDocument*
standardDocument(const std::string& path,
                 const std::function<const std::vector<RootCollection>&()>& served) {
    if (!profileRules().odataDocuments)
        return nullptr;
    if (equalsIgnoreCase(path, "/redfish/v1/odata") || equalsIgnoreCase(path, "/redfish/v1/odata/"))
        return &odataServiceDocument(served());
    if (path == "/redfish/v1/$metadata" || path == "/redfish/v1/$metadata/")
        return &metadataDocument();
    return nullptr;
}

} // namespace

void RedfishServerHandler::buildVersionDocument(std::string& out) {
    json::Value doc = json::Value::object();
    doc["v1"] = "/redfish/v1/";
    wrapInReply(doc, out);
}

void RedfishServerHandler::buildServiceRoot(std::string& out) {
    json::Value doc = json::Value::object();
    doc["@odata.context"] = "/redfish/v1/$metadata#ServiceRoot";
    doc["@odata.id"] = "/redfish/v1";
    doc["@odata.type"] = "#ServiceRoot.1.0.2.ServiceRoot";
    doc["Id"] = "RootService";
    doc["Name"] = "Root Service";
    doc["RedfishVersion"] = "1.0.2";
    doc["UUID"] = "Not Aplicable";
    for (const RootCollection& collection : kRootCollections)
        doc[collection.name] = resourceLink(collection.uri);
    wrapInReply(doc, out);
}

bool RedfishServerHandler::handleGet(CivetServer* server, struct mg_connection* conn) {
    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Entry");
    if (!server || !conn) {
        REDFISH_LOG(kFn, LOG_LEVEL_ERROR, "Server and mg_connection object is NULL");
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (!ri) {
        REDFISH_LOG(kFn, LOG_LEVEL_ERROR, "mg_request_info is NULL");
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }
    const bool tracing = traceEnabled();
    const char* method = ri->request_method ? ri->request_method : "";
    const char* requestUri = ri->request_uri ? ri->request_uri : "";

    // The request's own query is never forwarded, only what it asks for.
    const std::string forwarded = normalisedUri(ri) + forwardedQuery(ri->query_string);

    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Method = %s\n", method);
    REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "HTTP GET request received for URI = %s\n",
                logtext::Clipped(forwarded).c_str());

    if (!pluginModule) {
        REDFISH_LOG(kFn, LOG_LEVEL_ERROR, "Redfish Server handler is NULL");
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }

    const size_t at = forwarded.find("/redfish");
    const std::string path = at == std::string::npos ? std::string() : forwarded.substr(at);

    // Asked of the plug-in when a document that links them is first read.
    auto served = [&]() -> const std::vector<RootCollection>& {
        static const std::vector<RootCollection> services = [&] {
            PluginCalls calls(pluginModule, pluginCallsMayOverlap(),
                              CivetServer::callHoldsGlobalLock(conn));
            return servedOptionalServices(calls);
        }();
        return services;
    };
    auto root = [&]() -> const OwnDocument& {
        return profileRules().odataDocuments ? standardServiceRoot(served()) : serviceRoot();
    };
    const OwnDocument* own = nullptr;
    if (equalsIgnoreCase(path, "/redfish") || equalsIgnoreCase(path, "/redfish/"))
        own = &versionDocument();
    else if (equalsIgnoreCase(path, "/redfish/v1") || equalsIgnoreCase(path, "/redfish/v1/"))
        own = &root();
    else
        own = standardDocument(path, served);

    if (own) {
        // Own documents: no authorisation, no plug-in.
        if (refuseUnsupportedODataVersion(conn)) {
            REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
            return true;
        }
        if (tracing)
            writeRequestTrace(method, requestUri, "{}");
        Answer answer;
        answer.status = own->status;
        answer.headers.emplace_back("Content-Type", own->contentType);
        answer.body = own->body;
        sendAnswer(conn, std::move(answer));
        if (tracing)
            writeResponseTrace(method, own->status, own->body.c_str());
        REDFISH_LOG(kFn, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }

    PluginRoad road{TOLVANE_LOG_CONTEXT(kFn),       REDFISH_ENTRY_GET,
                    " GET command handler is NULL", " Response OUT: ",
                    FailedWrite::TracedAndLogged,   forwarded};
    // The classic profile lets the session service document, spelt exactly
    // so, be read before a login; a standard service answers only its own
    // documents without one.
    road.exempt = equalsIgnoreCase(path, "/redfish/v1/SessionService") &&
                  profileRules().sessionServiceBeforeLogin;
    // The root asked with a query goes through the gate like any resource,
    // and is still the server's own document, as the certificates are.
    road.ownDocument = [&root](RouteKind kind) -> std::optional<Answer> {
        if (kind == RouteKind::ServiceRoot) {
            Answer answer;
            answer.status = root().status;
            answer.headers.emplace_back("Content-Type", root().contentType);
            answer.body = root().body;
            return answer;
        }
        if (answeredByServer(kind))
            return certificateDocument(kind);
        return std::nullopt;
    };
    return forwardToPlugin(conn, road);
}
