// Patterns are relative to "/redfish/v1/", one entry per path segment, "*"
// matching one segment; the first row whose pattern matches decides. The
// methods follow the Redfish resource model: collections that create
// members take POST, members that can change take PATCH, those that can go
// take DELETE, actions take POST only.
#include "routes/routetable.h"

#include <vector>

#include "gate/requestpath.h"
#include "postrules.h"
#include "protocol/protocolprofile.h"
#include "routes/declaredresources.h"

namespace {

enum class Match : unsigned char {
    Path,     // the pattern, as segments compare
    Exact,    // the pattern, with no empty segment but one trailing "/"
    Contains, // the text anywhere in the URI (any letter case)
};

struct RouteRow {
    const char* pattern;
    Match match;
    RouteKind kind;
    const char* allow; // null: the row names no methods
    const char* ownerDecidedBy = nullptr;
    const OemUploadAction* upload = nullptr;
};

const OemUploadAction kRestore{"Veltrano.RestoreConfiguration", true};
const OemUploadAction kFirmware{"Veltrano.InstallOrUpgradeFirmware", false};
const OemUploadAction kSpdm{"Veltrano.SPDMOperations", false};
const OemUploadAction kMicrocode{"Veltrano.UpgradeMicrocode", false};
const OemUploadAction kPush{"/redfish/v1/UpdateService/MultipartUpload", false};

// The session rows come first: their roads are the server's, whatever the
// plug-in declares; a login needs the collection's own spelling (a
// look-alike is no login, which is safe). A task's owner may cancel it: the
// plug-in knows the owner and lets only the owner and ConfigureManager see
// or cancel one.
const RouteRow kRoutes[] = {
    {"", Match::Path, RouteKind::ServiceRoot, "GET, HEAD"},
    {"SessionService", Match::Path, RouteKind::SessionService, "GET, HEAD, PATCH"},
    {"SessionService/Sessions", Match::Exact, RouteKind::SessionCollection, "GET, HEAD, POST"},
    {"SessionService/Sessions", Match::Path, RouteKind::Resource, "GET, HEAD, POST"},
    {"SessionService/Sessions/*", Match::Path, RouteKind::SessionMember, "GET, HEAD, DELETE"},
    {"CertificateService", Match::Path, RouteKind::CertificateService, "GET, HEAD"},
    {"CertificateService/CertificateLocations", Match::Path, RouteKind::CertificateLocations,
     "GET, HEAD"},
    {"CertificateService/Actions/CertificateService.GenerateCSR", Match::Path,
     RouteKind::GenerateCsr, "POST"},
    {"CertificateService/Actions/CertificateService.ReplaceCertificate", Match::Path,
     RouteKind::ReplaceCertificate, "POST"},
    {"CertificateService/GenerateCSRActionInfo", Match::Path, RouteKind::GenerateCsrInfo,
     "GET, HEAD"},
    {"CertificateService/ReplaceCertificateActionInfo", Match::Path,
     RouteKind::ReplaceCertificateInfo, "GET, HEAD"},
    {"Managers/1/NetworkProtocol/HTTPS/Certificates", Match::Path, RouteKind::HttpsCertificates,
     "GET, HEAD"},
    {"Managers/1/NetworkProtocol/HTTPS/Certificates/1", Match::Path, RouteKind::HttpsCertificate,
     "GET, HEAD"},
    {"AccountService", Match::Path, RouteKind::Resource, "GET, HEAD, PATCH"},
    {"AccountService/Accounts", Match::Path, RouteKind::Resource, "GET, HEAD, POST"},
    {"AccountService/Accounts/*", Match::Path, RouteKind::AccountMember,
     "GET, HEAD, PATCH, DELETE"},
    {"EventService/Subscriptions", Match::Path, RouteKind::Resource, "GET, HEAD, POST"},
    {"EventService/Subscriptions/*", Match::Path, RouteKind::Resource, "GET, HEAD, DELETE"},
    {"Systems/*/Storage/*/Volumes", Match::Path, RouteKind::Resource, "GET, HEAD, POST"},
    {"Systems/*/Storage/*/Volumes/*", Match::Path, RouteKind::Resource, "GET, HEAD, PATCH, DELETE"},
    {"Chassis/*", Match::Path, RouteKind::Resource, "GET, HEAD, PATCH"},
    {"Chassis/*/Drives/*", Match::Path, RouteKind::Resource, "GET, HEAD, PATCH"},
    {"TaskService/Tasks/*", Match::Path, RouteKind::Resource, "GET, HEAD, DELETE", "DELETE"},
    {"TaskService/TaskMonitors/*", Match::Path, RouteKind::Resource, "GET, HEAD, DELETE", "DELETE"},
    // Uploads: the push URI of the update service, and the OEM actions
    // wherever their name occurs, in this order.
    {"UpdateService/MultipartUpload", Match::Path, RouteKind::Resource, "POST", nullptr, &kPush},
    {kRestore.name, Match::Contains, RouteKind::Resource, nullptr, nullptr, &kRestore},
    {kFirmware.name, Match::Contains, RouteKind::Resource, nullptr, nullptr, &kFirmware},
    {kSpdm.name, Match::Contains, RouteKind::Resource, nullptr, nullptr, &kSpdm},
    {kMicrocode.name, Match::Contains, RouteKind::Resource, nullptr, nullptr, &kMicrocode},
};

// The patterns split once.
const std::vector<std::vector<std::string_view>>& rowSegments() {
    static const std::vector<std::vector<std::string_view>> split = [] {
        std::vector<std::vector<std::string_view>> out;
        for (const RouteRow& row : kRoutes)
            out.push_back(pathSegments(row.pattern));
        return out;
    }();
    return split;
}

bool segmentsMatch(const std::vector<std::string_view>& pattern,
                   const std::vector<std::string_view>& path) {
    if (pattern.size() != path.size())
        return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != "*" && !equalsIgnoreCase(pattern[i], path[i]))
            return false;
    }
    return true;
}

// An empty segment anywhere but a single trailing "/".
bool hasEmptySegment(std::string_view path) {
    if (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path.find("//") != std::string_view::npos || (!path.empty() && path.back() == '/');
}

bool rowMatches(size_t i, std::string_view path, const std::vector<std::string_view>& below) {
    const RouteRow& row = kRoutes[i];
    switch (row.match) {
    case Match::Contains:
        return containsIgnoreCase(path, row.pattern);
    case Match::Exact:
        if (hasEmptySegment(path))
            return false;
        [[fallthrough]];
    case Match::Path:
        return segmentsMatch(rowSegments()[i], below);
    }
    return false;
}

} // namespace

Route routeOf(std::string_view path) {
    Route route;
    std::vector<std::string_view> parts = pathSegments(path);
    const bool underRoot = parts.size() >= 2 && equalsIgnoreCase(parts[0], "redfish") &&
                           equalsIgnoreCase(parts[1], "v1");
    if (underRoot)
        parts.erase(parts.begin(), parts.begin() + 2);
    bool named = false; // a row gave the kind and the methods
    for (size_t i = 0; i < sizeof(kRoutes) / sizeof(kRoutes[0]); ++i) {
        const RouteRow& row = kRoutes[i];
        const bool wanted = row.match == Match::Contains ? !route.upload : underRoot && !named;
        if (!wanted || !rowMatches(i, path, parts))
            continue;
        if (row.match != Match::Contains) {
            named = true;
            route.kind = row.kind;
            route.allow = row.allow;
            route.ownerDecidedBy = row.ownerDecidedBy;
        }
        if (!route.upload)
            route.upload = row.upload;
    }
    // What the plug-in declares replaces the table's methods and uploads,
    // but an action is a POST and nothing else, and the session service's
    // time-out is the server's own setting.
    if (std::optional<const OemUploadAction*> declared = declaredUploadOf(path))
        route.upload = *declared;
    if (!underRoot)
        return route;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (equalsIgnoreCase(parts[i], "Actions")) {
            route.allow = "POST";
            return route;
        }
    }
    const char* declared = declaredAllowOf(path);
    if (declared && route.kind != RouteKind::SessionService && !answeredByServer(route.kind))
        route.allow = declared;
    return route;
}

bool answeredByServer(RouteKind kind) {
    switch (kind) {
    case RouteKind::ServiceRoot:
        return true;
    case RouteKind::CertificateService:
    case RouteKind::CertificateLocations:
    case RouteKind::HttpsCertificates:
    case RouteKind::HttpsCertificate:
    case RouteKind::GenerateCsr:
    case RouteKind::ReplaceCertificate:
    case RouteKind::GenerateCsrInfo:
    case RouteKind::ReplaceCertificateInfo:
        // The classic profile knows nothing of them: the plug-in answers.
        return profileRules().certificateService;
    default:
        return false;
    }
}

AccessRule accessRuleFor(const Route& route, std::string_view method, std::string_view path) {
    AccessRule rule = registryRuleFor(method, path);
    if (route.ownerDecidedBy && equalsIgnoreCase(route.ownerDecidedBy, method)) {
        rule = AccessRule();
        rule.required = Requirement{1, {privilege::Login}};
    }
    return rule;
}
