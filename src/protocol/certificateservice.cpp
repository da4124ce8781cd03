#include "protocol/certificateservice.h"

#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "gate/redfisherrors.h"
#include "postrules.h"
#include "jsonadapter.h"
#include "redfishserver/httpoptions.h"
#include "redfishserver/servercertificate.h"
#include "redfishserver/tlsidentity.h"

namespace {

const char* const kService = "/redfish/v1/CertificateService";
const char* const kLocations = "/redfish/v1/CertificateService/CertificateLocations";
const char* const kCollection = "/redfish/v1/Managers/1/NetworkProtocol/HTTPS/Certificates";
const char* const kCertificate = "/redfish/v1/Managers/1/NetworkProtocol/HTTPS/Certificates/1";
const char* const kGenerateCsr = "GenerateCSR";
const char* const kReplace = "ReplaceCertificate";

// One change of the key material at a time; reads need no lock.
std::mutex gChangeMutex;

// GenerateCSR's subject parameters and the X.509 fields they fill.
const struct {
    const char* parameter;
    const char* field;
    bool required;
} kSubjectParameters[] = {
    {"CommonName", "CN", true},
    {"Organization", "O", false},
    {"OrganizationalUnit", "OU", false},
    {"City", "L", false},
    {"State", "ST", false},
    {"Country", "C", false},
    {"Email", "emailAddress", false},
};

// The private key of the last signing request, beside server.pem until a
// certificate for it is installed.
std::string pendingKeyPath() {
    return serverCertificatePath() + ".pending-key";
}

std::string readText(const std::string& path) {
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

Answer document(json::Value doc) {
    return jsonAnswer(200, json::dump(doc));
}

Answer refused(std::string error) {
    return jsonAnswer(400, std::move(error));
}

json::Value action(const char* name) {
    json::Value a = json::Value::object();
    a["target"] = std::string(kService) + "/Actions/CertificateService." + name;
    a["@Redfish.ActionInfo"] = std::string(kService) + "/" + name + "ActionInfo";
    return a;
}

// The parameters an action takes beside GenerateCSR's subject, as its
// ActionInfo lists them.
struct ParameterInfo {
    const char* name;
    const char* dataType;
    bool required;
    std::vector<const char*> allowable; // values, or for an object its type
};
const ParameterInfo kCsrParameters[] = {
    {"CertificateCollection", "Object", true, {"#CertificateCollection.CertificateCollection"}},
    {"AlternativeNames", "StringArray", false, {}},
    {"KeyPairAlgorithm", "String", false, {"TPM_ALG_ECDSA", "TPM_ALG_RSA"}},
    {"KeyCurveId", "String", false, {"TPM_ECC_NIST_P256", "TPM_ECC_NIST_P384"}},
    {"KeyBitLength", "Number", false, {"256", "384", "2048", "3072", "4096"}},
};
const ParameterInfo kReplaceParameters[] = {
    {"CertificateString", "String", true, {}},
    {"CertificateType", "String", true, {"PEM"}},
    {"CertificateUri", "Object", true, {"#Certificate.Certificate"}},
};

json::Value parameterInfo(const ParameterInfo& info) {
    json::Value p = json::Value::object();
    p["Name"] = info.name;
    p["Required"] = info.required;
    p["DataType"] = info.dataType;
    const std::string type = info.dataType;
    if (type == "Object")
        p["ObjectDataType"] = info.allowable.front();
    else if (!info.allowable.empty())
        p[type == "Number" ? "AllowableNumbers" : "AllowableValues"] = info.allowable;
    return p;
}

json::Value actionInfo(const char* name) {
    json::Value doc = json::Value::object();
    const std::string id = std::string(name) + "ActionInfo";
    doc["@odata.id"] = std::string(kService) + "/" + id;
    doc["@odata.type"] = "#ActionInfo.v1_5_0.ActionInfo";
    doc["Id"] = id;
    doc["Name"] = std::string(name) + " Action Info";
    json::Value list = json::Value::array();
    if (std::string(name) == kReplace) {
        for (const ParameterInfo& info : kReplaceParameters)
            list.push_back(parameterInfo(info));
    } else {
        for (const auto& s : kSubjectParameters)
            list.push_back(parameterInfo({s.parameter, "String", s.required, {}}));
        for (const ParameterInfo& info : kCsrParameters)
            list.push_back(parameterInfo(info));
    }
    doc["Parameters"] = list;
    return doc;
}

json::Value certificateDocumentOf(const CertificateFacts& facts) {
    json::Value doc = json::Value::object();
    doc["@odata.id"] = kCertificate;
    doc["@odata.type"] = "#Certificate.v1_11_0.Certificate";
    doc["Id"] = "1";
    doc["Name"] = "HTTPS Certificate";
    doc["Description"] = "The certificate the service presents to HTTPS clients";
    doc["CertificateString"] = facts.pem;
    doc["CertificateType"] = "PEM";
    doc["CertificateUsageTypes"] = json::Value::array({"Web"});
    doc["Subject"] = facts.subject;
    doc["Issuer"] = facts.issuer;
    doc["ValidNotBefore"] = facts.validNotBefore;
    doc["ValidNotAfter"] = facts.validNotAfter;
    if (!facts.keyUsage.empty())
        doc["KeyUsage"] = facts.keyUsage;
    doc["SerialNumber"] = facts.serialNumber;
    doc["Fingerprint"] = facts.fingerprint;
    doc["FingerprintHashAlgorithm"] = "TPM_ALG_SHA256";
    if (!facts.signatureAlgorithm.empty())
        doc["SignatureAlgorithm"] = facts.signatureAlgorithm;
    return doc;
}

// Whether `value` is {"@odata.id": uri} naming `uri` (one trailing "/" and
// letter case aside).
bool linksTo(const json::Value& value, const char* uri) {
    if (!value.is_object() || !value.contains("@odata.id") || !value["@odata.id"].is_string())
        return false;
    std::string id = value["@odata.id"].get<std::string>();
    if (id.size() > 1 && id.back() == '/')
        id.pop_back();
    return equalsIgnoreCase(id, uri);
}

// An action's parameters: each known one taken with its type checked, any
// other refused. The first refusal is kept in `error`.
class Parameters {
  public:
    Parameters(const json::Value& body, const char* action, std::vector<const char*> known)
        : body_(body), action_(action) {
        for (const auto& item : body.items()) {
            bool listed = false;
            for (const char* name : known)
                listed = listed || item.key() == name;
            if (!listed && error.empty())
                error = redfisherror::actionParameterNotSupported(item.key(), action_);
        }
    }
    // The text of parameter `name`; `present` says whether it was sent.
    std::string text(const char* name, bool required, bool* present = nullptr) {
        const bool sent = body_.contains(name);
        if (present)
            *present = sent;
        if (!sent) {
            if (required && error.empty())
                error = redfisherror::actionParameterMissing(action_, name);
            return "";
        }
        if (!body_[name].is_string() || (required && body_[name].get<std::string>().empty())) {
            typeError(name);
            return "";
        }
        return body_[name].get<std::string>();
    }
    const json::Value* member(const char* name, bool required) {
        if (body_.contains(name))
            return &body_[name];
        if (required && error.empty())
            error = redfisherror::actionParameterMissing(action_, name);
        return nullptr;
    }
    void typeError(const char* name) {
        if (error.empty())
            error =
                redfisherror::actionParameterValueTypeError(json::dump(body_[name]), name, action_);
    }
    void valueError(const char* name, const std::string& reason) {
        if (error.empty())
            error = redfisherror::actionParameterValueError(name, action_, reason);
    }
    std::string error;

  private:
    const json::Value& body_;
    std::string action_;
};

Answer generateCsr(const json::Value& body) {
    std::vector<const char*> known = {"CertificateCollection", "AlternativeNames",
                                      "KeyPairAlgorithm", "KeyCurveId", "KeyBitLength"};
    for (const auto& s : kSubjectParameters)
        known.push_back(s.parameter);
    Parameters p(body, kGenerateCsr, known);
    CsrParameters csr;
    for (const auto& s : kSubjectParameters) {
        bool present = false;
        const std::string value = p.text(s.parameter, s.required, &present);
        if (present && !value.empty())
            csr.subject.emplace_back(s.field, value);
    }
    if (const json::Value* collection = p.member("CertificateCollection", true);
        collection && !linksTo(*collection, kCollection))
        p.valueError("CertificateCollection", std::string("only ") + kCollection + " is served");
    bool present = false;
    if (std::string algorithm = p.text("KeyPairAlgorithm", false, &present); present)
        csr.keyPairAlgorithm = algorithm;
    if (std::string curve = p.text("KeyCurveId", false, &present); present)
        csr.keyCurveId = curve;
    if (const json::Value* bits = p.member("KeyBitLength", false)) {
        if (bits->is_number_integer())
            csr.keyBitLength = bits->get<int>();
        else
            p.typeError("KeyBitLength");
    }
    if (const json::Value* names = p.member("AlternativeNames", false)) {
        for (const json::Value& name : names->is_array() ? *names : json::Value::array()) {
            if (name.is_string() && !name.get<std::string>().empty())
                csr.alternativeNames.push_back(name.get<std::string>());
            else
                p.typeError("AlternativeNames");
        }
        if (!names->is_array())
            p.typeError("AlternativeNames");
    }
    if (!p.error.empty())
        return refused(p.error);

    CsrResult made = makeCertificateRequest(csr);
    if (!made.parameter.empty()) {
        // The field names of the subject map back to their parameters.
        std::string parameter = made.parameter;
        for (const auto& s : kSubjectParameters)
            if (parameter == s.field)
                parameter = s.parameter;
        p.valueError(parameter.c_str(), "the service cannot make a request with this value");
        return refused(p.error);
    }
    if (made.csrPem.empty())
        return jsonAnswer(500, redfisherror::forStatus(500, ""));
    std::lock_guard<std::mutex> lock(gChangeMutex);
    const std::string problem = replacePrivateFile(pendingKeyPath(), made.keyPem);
    if (!problem.empty())
        return jsonAnswer(500, redfisherror::forStatus(500, ""));
    json::Value out = json::Value::object();
    out["CSRString"] = made.csrPem;
    out["CertificateCollection"]["@odata.id"] = kCollection;
    return document(out);
}

Answer replaceCertificate(const json::Value& body) {
    Parameters p(body, kReplace, {"CertificateString", "CertificateType", "CertificateUri"});
    const std::string pem = p.text("CertificateString", true);
    const std::string type = p.text("CertificateType", true);
    const json::Value* target = p.member("CertificateUri", true);
    if (p.error.empty() && type != "PEM")
        p.valueError("CertificateType", "only PEM is accepted");
    if (target && !linksTo(*target, kCertificate))
        p.valueError("CertificateUri", std::string("only ") + kCertificate + " can be replaced");
    if (!p.error.empty())
        return refused(p.error);

    std::lock_guard<std::mutex> lock(gChangeMutex);
    ReplacementCheck check = checkReplacement(pem, readText(pendingKeyPath()));
    if (!check.identity) {
        p.valueError("CertificateString", check.problem);
        return refused(p.error);
    }
    // Stored before it serves: a restart presents what clients saw last.
    if (!replacePrivateFile(serverCertificatePath(), check.fileText).empty())
        return jsonAnswer(500, redfisherror::forStatus(500, ""));
    putInService(check.identity);
    if (check.usedPendingKey)
        std::remove(pendingKeyPath().c_str());
    return jsonAnswer(200, redfisherror::success());
}

} // namespace

Answer certificateDocument(RouteKind kind) {
    json::Value doc = json::Value::object();
    const std::shared_ptr<const TlsIdentity> identity = currentTlsIdentity();
    switch (kind) {
    case RouteKind::CertificateService:
        doc["@odata.id"] = kService;
        doc["@odata.type"] = "#CertificateService.v1_2_1.CertificateService";
        doc["Id"] = "CertificateService";
        doc["Name"] = "Certificate Service";
        doc["Actions"]["#CertificateService.GenerateCSR"] = action(kGenerateCsr);
        doc["Actions"]["#CertificateService.ReplaceCertificate"] = action(kReplace);
        doc["CertificateLocations"]["@odata.id"] = kLocations;
        return document(doc);
    case RouteKind::CertificateLocations:
    case RouteKind::HttpsCertificates: {
        json::Value members = json::Value::array();
        if (identity)
            members.push_back(json::Value::object({{"@odata.id", kCertificate}}));
        const bool locations = kind == RouteKind::CertificateLocations;
        doc["@odata.id"] = locations ? kLocations : kCollection;
        doc["@odata.type"] = locations ? "#CertificateLocations.v1_0_4.CertificateLocations"
                                       : "#CertificateCollection.CertificateCollection";
        if (locations)
            doc["Id"] = "CertificateLocations";
        doc["Name"] = locations ? "Certificate Locations" : "HTTPS Certificates";
        json::Value& list = locations ? doc["Links"] : doc;
        list[locations ? "Certificates" : "Members"] = members;
        list[locations ? "Certificates@odata.count" : "Members@odata.count"] = members.size();
        return document(doc);
    }
    case RouteKind::GenerateCsrInfo:
    case RouteKind::ReplaceCertificateInfo:
        return document(actionInfo(kind == RouteKind::GenerateCsrInfo ? kGenerateCsr : kReplace));
    case RouteKind::HttpsCertificate:
        if (identity)
            return document(certificateDocumentOf(factsOf(*identity)));
        return jsonAnswer(404, redfisherror::forStatus(404, kCertificate));
    default:
        return jsonAnswer(404, redfisherror::forStatus(404, ""));
    }
}

Answer certificateAction(RouteKind kind, const std::string& body) {
    json::Value parsed;
    if (!json::tryParseObject(body, parsed))
        return refused(redfisherror::malformedJson());
    return kind == RouteKind::GenerateCsr ? generateCsr(parsed) : replaceCertificate(parsed);
}
