#include "redfishserver/startupfiles.h"

#include "redfishserver/httpoptions.h"
#include "redfishserver/servercertificate.h"

bool prepareServerCertificate(std::string& message) {
    const std::string path = serverCertificatePath();
    std::string detail;
    switch (ensureServerCertificate(path, detail)) {
    case CertificateFile::Existing:
        message.clear();
        return true;
    case CertificateFile::Created:
        message = "Created a self-signed certificate " + path + "\n";
        return true;
    case CertificateFile::Refused:
    case CertificateFile::Failed:
        break;
    }
    message = "Cannot use the certificate " + path + ": " + detail + "\n";
    return false;
}
