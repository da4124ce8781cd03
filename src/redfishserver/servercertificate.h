// The server's TLS certificate, made in-process on first use so that every
// installation has a private key of its own instead of one shipped with the
// build. The generator (selfsignedcert.cpp) is portable OpenSSL code; the file
// handling (servercertificate.cpp) is POSIX.
#ifndef TOLVANE_SERVERCERTIFICATE_H
#define TOLVANE_SERVERCERTIFICATE_H

#include <string>

// The certificate and its unencrypted private key as one PEM text, the form
// the "ssl_certificate" option reads: an ECDSA P-256 key, a SHA-256
// signature, a random serial number, valid from now for ten years, subject
// CN=`hostName`, subjectAltName the host's name, "localhost", 127.0.0.1 and
// ::1. Empty when OpenSSL fails; `error` then says why.
std::string makeSelfSignedCertificatePem(const std::string& hostName, std::string& error);

// Why the PEM file at `path` cannot serve as the server's certificate and
// key (no certificate, no unencrypted key, a key of another certificate);
// "" when it can.
std::string certificateFileProblem(const std::string& path);

// What ensureServerCertificate found or did.
enum class CertificateFile { Existing, Created, Refused, Failed };

// Makes the certificate file at `path` when nothing is there: created with
// owner-only access, never through a symbolic link and never over a file that
// appears meanwhile. An existing regular file is used as it is; a link at
// `path` is refused. `detail` tells the reason of a refusal or failure.
CertificateFile ensureServerCertificate(const std::string& path, std::string& detail);

// Puts `text` at `path`, readable by its owner only, replacing what is there:
// written whole under a temporary name beside it, then renamed over it, so a
// crash leaves the old file or the new one. "" or why it failed (the old
// file then stays).
std::string replacePrivateFile(const std::string& path, const std::string& text);

#endif
