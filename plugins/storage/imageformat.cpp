#include "imageformat.h"

#include <cctype>
#include <memory>
#include <vector>

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "boundedjson.h"
#include "crypto.h"
#include "json.h"

namespace tolvane::plugin {

const char* const kImageMagic = "VELTRANO-IMAGE 1";

namespace {

constexpr size_t kMaxHeaderLength = 4096;

std::vector<uint64_t> versionParts(const std::string& text) {
    std::vector<uint64_t> parts;
    uint64_t value = 0;
    size_t digits = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (digits == 0 || digits > 6)
                return {};
            parts.push_back(value);
            value = 0;
            digits = 0;
        } else if (std::isdigit(static_cast<unsigned char>(text[i]))) {
            value = value * 10 + static_cast<uint64_t>(text[i] - '0');
            ++digits;
        } else {
            return {};
        }
    }
    return parts;
}

std::string memberText(const Json& header, const char* name) {
    if (!header.contains(name) || !header[name].is_string())
        throw FileFormatError(std::string("the image header lacks the text member \"") + name +
                              "\"");
    return header[name].get<std::string>();
}

} // namespace

bool isVersionText(const std::string& text) {
    return versionParts(text).size() == 3;
}

int compareVersions(const std::string& a, const std::string& b) {
    auto pa = versionParts(a), pb = versionParts(b);
    return pa < pb ? -1 : (pb < pa ? 1 : 0);
}

ImageInfo parseImage(const std::string& bytes, const std::string& component) {
    if (bytes.empty())
        throw FileFormatError("the file is empty");
    const std::string magicLine = std::string(kImageMagic) + "\n";
    if (bytes.compare(0, magicLine.size(), magicLine) != 0)
        throw FileFormatError("the file is not a Veltrano image (no \"" + std::string(kImageMagic) +
                              "\" line)");
    size_t headerEnd = bytes.find('\n', magicLine.size());
    if (headerEnd == std::string::npos || headerEnd - magicLine.size() > kMaxHeaderLength)
        throw FileFormatError("the image header line is missing or too long");
    Json header;
    try {
        header = parseJson(bytes.substr(magicLine.size(), headerEnd - magicLine.size()));
    } catch (const JsonTextError&) {
        throw FileFormatError("the image header is not valid JSON");
    }
    if (!header.is_object())
        throw FileFormatError("the image header is not a JSON object");
    ImageInfo info;
    info.component = memberText(header, "Component");
    info.model = memberText(header, "Model");
    info.version = memberText(header, "Version");
    const std::string digest = memberText(header, "PayloadSHA256");
    if (!header.contains("PayloadSize") || !header["PayloadSize"].is_number_unsigned())
        throw FileFormatError("the image header lacks a valid \"PayloadSize\"");
    info.payloadSize = header["PayloadSize"].get<uint64_t>();
    if (!component.empty() && info.component != component)
        throw FileFormatError("the image holds " + info.component + ", not " + component);
    if (!isVersionText(info.version))
        throw FileFormatError("the version \"" + info.version +
                              "\" is not of the form major.minor.patch");
    const std::string payload = bytes.substr(headerEnd + 1);
    if (payload.empty())
        throw FileFormatError("the image has no payload");
    if (payload.size() != info.payloadSize)
        throw FileFormatError("the payload has " + std::to_string(payload.size()) +
                              " bytes, the header announces " + std::to_string(info.payloadSize));
    if (!crypto::constantTimeEquals(crypto::sha256Hex(payload), digest))
        throw FileFormatError("the payload does not match its SHA-256 checksum");
    return info;
}

std::string buildImage(const std::string& component, const std::string& model,
                       const std::string& version, const std::string& payload) {
    Json header = Json::object();
    header["Component"] = component;
    header["Model"] = model;
    header["Version"] = version;
    header["PayloadSize"] = payload.size();
    header["PayloadSHA256"] = crypto::sha256Hex(payload);
    return std::string(kImageMagic) + "\n" + header.dump() + "\n" + payload;
}

SpdmCertificate parsePemCertificate(const std::string& text) {
    if (text.empty())
        throw FileFormatError("the file is empty");
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), BIO_free);
    if (!bio)
        throw FileFormatError("the certificate could not be read");
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    if (!cert)
        throw FileFormatError("the file holds no PEM certificate");
    // -1: at or before now, 1: after now, 0: a time that cannot be read.
    if (X509_cmp_current_time(X509_get0_notBefore(cert.get())) != -1)
        throw FileFormatError("the certificate is not valid yet");
    if (X509_cmp_current_time(X509_get0_notAfter(cert.get())) != 1)
        throw FileFormatError("the certificate has expired");

    auto nameText = [](const X509_NAME* name) {
        std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
        X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_RFC2253);
        char* data = nullptr;
        long n = BIO_get_mem_data(out.get(), &data);
        return std::string(data, static_cast<size_t>(n));
    };
    SpdmCertificate info;
    info.subject = nameText(X509_get_subject_name(cert.get()));
    info.issuer = nameText(X509_get_issuer_name(cert.get()));
    if (info.subject.size() > kMaxCertificateNameLength ||
        info.issuer.size() > kMaxCertificateNameLength)
        throw FileFormatError("the certificate's subject or issuer is longer than " +
                              std::to_string(kMaxCertificateNameLength) + " characters");
    {
        std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
        ASN1_TIME_print(out.get(), X509_get0_notAfter(cert.get()));
        char* data = nullptr;
        long n = BIO_get_mem_data(out.get(), &data);
        info.notAfter = std::string(data, static_cast<size_t>(n));
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLength = 0;
    X509_digest(cert.get(), EVP_sha256(), md, &mdLength);
    info.fingerprintSha256 = crypto::toHex(std::string(reinterpret_cast<char*>(md), mdLength));
    return info;
}

} // namespace tolvane::plugin
