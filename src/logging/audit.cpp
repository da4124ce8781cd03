#include "logging/audit.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "gate/requestpath.h"
#include "jsonadapter.h"
#include "logging/Logger.h"
#include "logging/linebudget.h"
#include "logging/logclip.h"
#include "logging/logescape.h"
#include "logging/logplatform.h"

namespace {

// 5 MiB and three copies: a day of failures at the limit below, or years of
// ordinary logins.
constexpr int64_t kAuditMaxBytes = 5 * 1024 * 1024;
constexpr int kAuditCopies = 3;

logtext::LineBudget& failureBudget() {
    static logtext::LineBudget budget(5, 30, 60, 4096);
    return budget;
}

std::mutex& auditMutex() {
    static std::mutex instance;
    return instance;
}

const char* eventName(AuditEvent event) {
    switch (event) {
    case AuditEvent::Login:
        return "Login";
    case AuditEvent::BasicLogin:
        return "BasicLogin";
    case AuditEvent::SessionDelete:
        return "SessionDelete";
    case AuditEvent::AccountCreate:
        return "AccountCreate";
    case AuditEvent::AccountChange:
        return "AccountChange";
    case AuditEvent::AccountDelete:
        return "AccountDelete";
    case AuditEvent::CertificateChange:
        return "CertificateChange";
    }
    return "Unknown";
}

std::string utcNow() {
    std::tm tm{};
    char text[32] = {};
    if (!utcCalendar(std::time(nullptr), tm) ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0)
        return "-";
    return text;
}

// A client-chosen text in quotes: clipped, control characters escaped, and
// quotes and backslashes escaped so the field ends where the reader expects.
void appendQuoted(std::string& out, const std::string& text) {
    const std::string clip = logtext::clipped(text);
    std::string plain;
    for (char c : clip) {
        if (c == '"' || c == '\\')
            plain += '\\';
        plain += c;
    }
    out += '"';
    logtext::appendEscaped(out, plain.data(), plain.size());
    out += '"';
}

// Newest copy ".1"; the oldest of kAuditCopies goes.
void rollOver(const std::string& path) {
    std::remove((path + "." + std::to_string(kAuditCopies)).c_str());
    for (int i = kAuditCopies - 1; i >= 1; --i)
        std::rename((path + "." + std::to_string(i)).c_str(),
                    (path + "." + std::to_string(i + 1)).c_str());
    std::rename(path.c_str(), (path + ".1").c_str());
}

// One write per line, the file opened for it: events are rare, and a line is
// on disk before the request is answered.
void appendLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(auditMutex());
    const std::string path = auditFilePath();
    int file = openLogFile(path.c_str(), false);
    if (file < 0)
        return;
    restrictLogFile(file);
    int64_t size = 0;
    if (logFileSize(file, size) && size > 0 &&
        size + static_cast<int64_t>(line.size()) > kAuditMaxBytes) {
        closeLogFile(file);
        rollOver(path);
        file = openLogFile(path.c_str(), false);
        if (file < 0)
            return;
    }
    writeLogFile(file, line.data(), line.size());
    closeLogFile(file);
}

std::string lineFor(const std::string& address, const std::string& user, const char* event,
                    const std::string& outcome, const std::string& detail) {
    std::string line = utcNow() + " address=";
    line += address.empty() ? "-" : address;
    line += " user=";
    appendQuoted(line, user);
    line += " event=";
    line += event;
    line += " outcome=" + outcome;
    if (!detail.empty()) {
        line += ' ';
        // Each client-chosen part is clipped already; this bounds the whole.
        const std::string clip = logtext::clipped(detail, 4 * logtext::kRequestTextLimit);
        logtext::appendEscaped(line, clip.data(), clip.size());
    }
    line += '\n';
    return line;
}

// " account=\"<name>\"" for a detail.
std::string accountField(const std::string& name) {
    std::string field = " account=";
    appendQuoted(field, name);
    return field;
}

bool isLoginEvent(AuditEvent event) {
    return event == AuditEvent::Login || event == AuditEvent::BasicLogin;
}

// The member names of a JSON object body, comma separated ("" for none).
std::string memberNames(const std::string& body) {
    json::Value object;
    std::string names;
    if (!json::tryParseObject(body, object))
        return names;
    for (auto it = object.begin(); it != object.end(); ++it)
        names += (names.empty() ? "" : ",") + it.key();
    return logtext::clipped(names);
}

} // namespace

std::string auditFilePath() {
    return Logger::GetLogDirectory() + "RedfishAudit.log";
}

void auditRecord(AuditEvent event, const std::string& address, const std::string& user, int status,
                 const std::string& detail) {
    const bool failed = status < 200 || status > 299;
    const std::string outcome = std::to_string(status) + (failed ? " failure" : " success");
    if (!(failed && isLoginEvent(event))) {
        appendLine(lineFor(address, user, eventName(event), outcome, detail));
        return;
    }
    const logtext::LineBudget::Verdict verdict =
        failureBudget().admit(address, static_cast<int64_t>(std::time(nullptr)));
    if (!verdict.write)
        return;
    std::string lines;
    if (verdict.suppressed > 0)
        lines += lineFor(address, "", "FailuresNotRecorded", std::to_string(verdict.suppressed),
                         "from this address");
    if (verdict.suppressedOthers > 0)
        lines += lineFor("", "", "FailuresNotRecorded", std::to_string(verdict.suppressedOthers),
                         "from other addresses");
    appendLine(lines + lineFor(address, user, eventName(event), outcome, detail));
}

void auditPluginAnswer(const std::string& method, const std::string& path, RouteKind kind,
                       const std::string& address, const std::string& actingUser,
                       const std::string& accountUser, int status, const std::string& body) {
    // Reads, nearly every request, write no audit line: nothing to compose.
    if (method != "DELETE" && method != "PATCH")
        return;
    const std::string target = "target=" + logtext::clipped(canonicalPath(path));
    if (method == "DELETE" && kind == RouteKind::SessionMember) {
        auditRecord(AuditEvent::SessionDelete, address, actingUser, status, target);
    } else if (kind == RouteKind::AccountMember && method == "DELETE") {
        auditRecord(AuditEvent::AccountDelete, address, actingUser, status,
                    target + accountField(accountUser));
    } else if (kind == RouteKind::AccountMember && method == "PATCH") {
        auditRecord(AuditEvent::AccountChange, address, actingUser, status,
                    target + accountField(accountUser) + " members=" + memberNames(body));
    }
}

void auditPostReply(const std::string& path, const std::string& address,
                    const std::string& actingUser, const std::string& body,
                    const std::string& reply) {
    if (!samePath(path, "/redfish/v1/AccountService/Accounts"))
        return;
    json::Value root;
    json::Value request;
    if (!json::tryParseObject(reply, root))
        return;
    const json::Value& answer = json::hasMember(root, "response") ? root.at("response") : root;
    const int64_t status =
        json::hasMember(answer, "HttpStatus") ? json::asInteger64(answer.at("HttpStatus")) : 500;
    const std::string account =
        json::tryParseObject(body, request) ? json::memberText(request, "UserName") : "";
    auditRecord(AuditEvent::AccountCreate, address, actingUser, static_cast<int>(status),
                "target=" + logtext::clipped(canonicalPath(path)) + accountField(account) +
                    " members=" + memberNames(body));
}
