// Files that the OEM actions take: firmware and microcode images in our own
// container format, and PEM certificates for SPDM.
//
// Image container: the line "VELTRANO-IMAGE 1", then one line holding a JSON
// object {"Component": "Firmware"|"Microcode", "Model": <controller model>,
// "Version": "<major>.<minor>.<patch>", "PayloadSize": <bytes>,
// "PayloadSHA256": "<hex>"}, then exactly PayloadSize bytes of payload.
#ifndef TOLVANE_PLUGIN_IMAGEFORMAT_H
#define TOLVANE_PLUGIN_IMAGEFORMAT_H

#include <cstdint>
#include <stdexcept>
#include <string>

#include "storagemodel.h"

namespace tolvane::plugin {

// A file that does not have the expected form; what() says why.
class FileFormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

extern const char* const kImageMagic; // "VELTRANO-IMAGE 1"

struct ImageInfo {
    std::string component;
    std::string model;
    std::string version;
    uint64_t payloadSize = 0;
};

// Checks an image for `component` ("Firmware" or "Microcode"; "" takes the
// one its header names); throws FileFormatError.
ImageInfo parseImage(const std::string& bytes, const std::string& component);

// Builds an image (for tests and tools).
std::string buildImage(const std::string& component, const std::string& model,
                       const std::string& version, const std::string& payload);

// Dotted version texts compared part by part; -1, 0 or 1. Both must be valid.
int compareVersions(const std::string& a, const std::string& b);
bool isVersionText(const std::string& text);

// Longest subject or issuer text (RFC 2253 form) a certificate may have.
constexpr size_t kMaxCertificateNameLength = 1024;

// The first certificate of a PEM text; throws FileFormatError when there is
// none, it is not valid now (notBefore <= now <= notAfter) or its subject or
// issuer is longer than kMaxCertificateNameLength.
SpdmCertificate parsePemCertificate(const std::string& text);

} // namespace tolvane::plugin

#endif
