// Multipart POSTs: uploads for the OEM actions that take a file, stored in the
// uploads directory for the length of one request, and multipart POSTs to any
// other URI, forwarded with their raw body.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "formrequest.h"
#include "gate/requestgate.h"
#include "intake/uploadstaging.h"
#include "logging/logclip.h"
#include "loglines.h"
#include "postredfishhandler.h"
#include "postrules.h"
#include "redfishserver/installpaths.h"
#include "redfishserver/pluginhost.h"
#include "redfishserver/serverconfig.h"
#include "redfishserverhandler.h"
#include "answer/answerwriter.h"
#include "answer/libraryhead.h"
#include "uploadfiles.h"
#include "uploadrules.h"

namespace {

constexpr const char* kFileFunction = "RedfishServerHandler::handleFilePost";

// What one form parse collects; the parser's callbacks get it as user data,
// so nothing of one request survives into the next.
struct UploadForm {
    explicit UploadForm(const std::string& serverDir) : staging(serverDir) {}
    FormFieldCollector fields;
    UploadStaging staging;  // this request's files, removed when it ends
    std::string storedPath; // the last upload stored whole
    bool tooLarge = false;
    bool badName = false;       // a file name that is not UTF-8
    bool storageFailed = false; // the server could not store a file: its fault, not the client's
    // A file being stored whose end the engine never reported: a write that
    // failed (a full disk) drops the part without a word.
    std::string unfinishedPath;
};

int uploadFieldFound(const char* key, const char* filename, char* path, size_t pathlen,
                     void* user_data) {
    UploadForm& form = *static_cast<UploadForm*>(user_data);
    if (form.fields.beginPart(key ? key : "") == FormFieldCollector::Result::TooLarge) {
        form.tooLarge = true;
        return MG_FORM_FIELD_STORAGE_ABORT;
    }
    if (!filename || !*filename)
        return MG_FORM_FIELD_STORAGE_GET;
    // A name the plug-in could only see with bytes replaced is no name.
    if (!isValidUtf8(filename)) {
        form.badName = true;
        REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR,
                    " Refused an upload file name that is not UTF-8");
        return MG_FORM_FIELD_STORAGE_ABORT;
    }

    // Only the last name component: the client's directories mean nothing here.
    const std::string base = uploadBaseName(filename);
    if (!isStorableBaseName(base)) {
        REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR, " Refused the upload file name %s",
                    logtext::Clipped(filename).c_str());
        return MG_FORM_FIELD_STORAGE_SKIP;
    }
    char install[kPathBufferSize] = {};
    if (readInstallPath(install) != 0) {
        std::printf("Failed in getting installtion path\n");
        return MG_FORM_FIELD_STORAGE_SKIP;
    }
    const std::string dir = uploadsDirectory(serverDirectory());
    if (int error = ensureUploadsDirectory(dir))
        std::printf("Failed to create directory. Error: %d\n", error);
    // Received under a name of this request alone; the plug-in's call finds it
    // where it expects it.
    const std::string target = form.staging.createFile(base);
    if (target.empty()) {
        REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR, " Cannot create the upload file for %s",
                    logtext::Clipped(base).c_str());
        form.storageFailed = true;
        return MG_FORM_FIELD_STORAGE_ABORT;
    }
    if (target.size() >= pathlen) {
        // A shortened path would name another file.
        REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR, " Upload path too long: %s",
                    logtext::Clipped(target).c_str());
        return MG_FORM_FIELD_STORAGE_SKIP;
    }
    std::memcpy(path, target.c_str(), target.size() + 1);
    form.unfinishedPath = target;
    return MG_FORM_FIELD_STORAGE_STORE;
}

int uploadFieldGet(const char* /*key*/, const char* value, size_t valuelen, void* user_data) {
    UploadForm& form = *static_cast<UploadForm*>(user_data);
    switch (form.fields.addPiece(value, valuelen)) {
    case FormFieldCollector::Result::Continue:
        return 0;
    case FormFieldCollector::Result::TooLarge:
        form.tooLarge = true;
        return MG_FORM_FIELD_HANDLE_ABORT;
    case FormFieldCollector::Result::Stop:
        break;
    }
    return MG_FORM_FIELD_HANDLE_ABORT;
}

int uploadFieldStore(const char* path, long long /*file_size*/, void* user_data) {
    UploadForm& form = *static_cast<UploadForm*>(user_data);
    form.storedPath = path ? path : "";
    form.unfinishedPath.clear();
    return 0;
}

// Parses the form into `form`, storing at most the upload cap in files.
FormParse handleUploadForm(struct mg_connection* conn, UploadForm& form) {
    struct mg_form_data_handler handler {};
    handler.field_found = uploadFieldFound;
    handler.field_get = uploadFieldGet;
    handler.field_store = uploadFieldStore;
    handler.user_data = &form;
    return handleCappedForm(conn, handler, static_cast<long long>(maximumUploadSize()));
}

// The refusal a parsed form gets (0: none): a file the server could not
// store is 500, too much is 413, a form that is malformed, cut short or names
// a file that is no UTF-8 text is 400.
int formRefusal(const UploadForm& form, FormParse parsed) {
    if (form.storageFailed)
        return 500;
    if (form.tooLarge || parsed == FormParse::TooLarge)
        return 413;
    if (form.badName || parsed == FormParse::Malformed)
        return 400;
    if (!form.unfinishedPath.empty()) {
        REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR, " Could not write the upload file %s",
                    logtext::Clipped(form.unfinishedPath).c_str());
        return 500;
    }
    return 0;
}

enum class BodyRead { Complete, TooLarge, Incomplete };

// The raw body of a multipart POST that is not an upload, up to `cap` bytes.
BodyRead readCappedBody(struct mg_connection* conn, size_t cap, std::string& body) {
    BodyRead result = BodyRead::Complete;
    mg_lock_connection(conn);
    char piece[2048];
    int n;
    while ((n = mg_read(conn, piece, sizeof piece)) > 0) {
        if (static_cast<size_t>(n) > cap - body.size()) {
            result = BodyRead::TooLarge;
            break;
        }
        body.append(piece, static_cast<size_t>(n));
    }
    mg_unlock_connection(conn);
    if (result == BodyRead::TooLarge)
        return result;
    const struct mg_request_info* ri = mg_get_request_info(conn);
    if (n < 0 || (ri && ri->content_length >= 0 &&
                  body.size() < static_cast<unsigned long long>(ri->content_length)))
        return BodyRead::Incomplete;
    return result;
}

// A body received while the server stops is not acted on: the answer could
// no longer be sent, and the client must not take silence for success.
bool abandonAtStop() {
    REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR, " The server is stopping: request abandoned");
    REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Exit");
    return true;
}

} // namespace

bool RedfishServerHandler::handleFilePost(CivetServer* server, struct mg_connection* conn) {
    REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Entry");
    if (!server || !conn) {
        REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR, "Server and mg_connection object is NULL");
        REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }
    const struct mg_request_info* ri = mg_get_request_info(conn);
    const char* method = (ri && ri->request_method) ? ri->request_method : "";
    const char* requestUri = (ri && ri->request_uri) ? ri->request_uri : "";
    REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "HTTP POST  request received for URI = %s\n",
                logtext::Clipped(requestUri).c_str());
    REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Method = %s\n", method);
    const std::string pluginUri = pluginUriOf(normalisedUri(ri));

    GateRequest admitted;
    admitted.method = method;
    admitted.path = normalisedUri(ri);
    admitted.multipart = true;
    RequestContext context(*this, conn, std::move(admitted));
    if (!admit(context, false))
        return true;
    PluginCalls& calls = context.calls;
    if (!pluginModule) {
        REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR, "Redfish Server handler is NULL");
        REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Exit");
        return false;
    }
    const CommandHandlerFn post = calls.entry(REDFISH_ENTRY_POST);
    if (!post) {
        sendAnswer(conn, jsonAnswer(500, ""));
        REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, " POST command handler is NULL");
        REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }

    // Clients that wait for the interim answer send their body at once.
    sendInterimContinue(conn);

    const OemUploadAction* action = context.request.route.upload;
    if (!action) {
        std::string body;
        BodyRead read;
        {
            CivetServer::BodyReceipt receipt(conn);
            read = readCappedBody(conn, maximumRequestBodySize(), body);
            if (receipt.stopping())
                return abandonAtStop();
        }
        switch (read) {
        case BodyRead::TooLarge:
            answerRefusedRequest(conn, 413);
            REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Exit");
            return true;
        case BodyRead::Incomplete:
            answerRefusedRequest(conn, 400);
            REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Exit");
            return true;
        case BodyRead::Complete:
            break;
        }
        if (body.empty())
            body = "{}";
        std::string reply;
        calls.hold(); // until the answer's file, if any, is open
        calls.call(post, pluginUri, body, reply);
        REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, " Plugin Response:  %s", reply.c_str());
        return writePostAnswer(conn, reply, TOLVANE_LOG_CONTEXT(kFileFunction), method, false,
                               calls);
    }

    // The upload is received whole before the plug-in is called; the file and
    // fields belong to this request alone.
    UploadForm form(serverDirectory());
    FormParse parsed;
    {
        CivetServer::BodyReceipt receipt(conn);
        parsed = handleUploadForm(conn, form);
        if (receipt.stopping())
            return abandonAtStop(); // the form's files go with it
    }
    if (const int refusal = formRefusal(form, parsed)) {
        REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR, " Form refused (%s)",
                    refusal == 500   ? "not storable"
                    : refusal == 413 ? "too large"
                                     : "malformed, incomplete or misnamed");
        answerRefusedRequest(conn, refusal);
        REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "size of request parameters : %lld\n",
                static_cast<long long>(form.fields.fields().size()));

    const std::string logFilePath = action->withLogFile ? restoreLogFilePath() : "";
    std::string reply;
    bool placed = true;
    {
        // A plug-in of one call at a time finds the file at its fixed place
        // for the length of its call; one that takes overlapping calls gets
        // the request's own path.
        calls.hold();
        std::string storedPath = form.storedPath;
        if (!storedPath.empty() && !calls.mayOverlap()) {
            storedPath = form.staging.place(storedPath);
            placed = !storedPath.empty();
        }
        if (placed) {
            const std::string argument = buildUploadArgument(
                form.fields.fields(), storedPath, action->withLogFile ? &logFilePath : nullptr);
            calls.call(post, pluginUri, argument, reply);
            form.staging.removePlaced();
        }
        calls.release();
    }
    if (!placed) {
        REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR, " Cannot move the upload into place");
        answerRefusedRequest(conn, 500);
        REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Exit");
        return true;
    }
    REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, " Plugin Response: %s", reply.c_str());

    json::Value root;
    Answer answer = jsonAnswer(500, "Internal Error");
    if (json::tryParseObject(reply, root)) {
        // A reply without a usable status is a server error.
        answer.status = answerStatus(root);
        answer.body = json::memberText(root, "Data");
        answer.classicHead = Answer::ClassicHead::Library;
        answer.headers.emplace_back("Connection", "keep-alive");
        for (auto& field : pluginReplyHeaders(reply))
            answer.headers.push_back(std::move(field));
    }
    if (sendAnswer(conn, std::move(answer)) < 0)
        REDFISH_LOG(kFileFunction, LOG_LEVEL_ERROR, " Failed to send the response to client");
    REDFISH_LOG(kFileFunction, LOG_LEVEL_DEBUG, "Exit");
    return true;
}
