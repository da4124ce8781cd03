// tolvaneload: the load and fault tool for the Redfish server (see --help).
#include <openssl/ssl.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "exchange.h"
#include "loadoptions.h"
#include "loadreport.h"
#include "loadrun.h"

namespace {

bool mixNeedsToken(const bench::LoadOptions& options) {
    for (const auto& entry : options.mix) {
        if (bench::kindNeedsToken(entry.first))
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    bench::LoadOptions options;
    bench::ParseOutcome parsed = bench::parseLoadOptions(argc, argv, options);
    if (parsed.help) {
        std::cout << bench::loadHelpText();
        return 0;
    }
    if (!parsed.ok) {
        std::cerr << "tolvaneload: " << parsed.error << "\n";
        return 2;
    }
    // A server that closes early must not kill the tool with SIGPIPE
    // (OpenSSL writes with plain write()).
    std::signal(SIGPIPE, SIG_IGN);

    bench::Endpoint endpoint;
    std::string error;
    if (!bench::resolveEndpoint(options.host, options.port, endpoint, error)) {
        std::cerr << "tolvaneload: " << error << "\n";
        return 2;
    }
    std::unique_ptr<bench::TlsClientContext> tls;
    if (options.tls) {
        try {
            tls = std::make_unique<bench::TlsClientContext>(options.resumeSessions,
                                                            options.tlsVersion, options.tickets);
        } catch (const std::exception& e) {
            std::cerr << "tolvaneload: TLS set-up failed: " << e.what() << "\n";
            return 2;
        }
    }

    std::string token = options.token;
    if (token.empty() && mixNeedsToken(options)) {
        bench::TokenOutcome login = bench::obtainToken(options, endpoint, tls.get());
        if (!login.ok) {
            std::cerr << "tolvaneload: the login for a session token failed (" << login.detail
                      << "); give --user and --password (or --password-file) or --token\n";
            return 2;
        }
        if (login.token.empty())
            std::cerr << "tolvaneload: note: the login (" << login.detail
                      << ") answered no X-Auth-Token; requests go without one\n";
        token = login.token;
    }

    bench::RunResult run = bench::runLoad(options, endpoint, tls.get(), token);
    bench::RunFigures figures = bench::computeFigures(run);
    bench::printReport(std::cout, options, run, figures);
    if (options.keyValue)
        bench::printKeyValue(std::cout, options, run, figures);
    return figures.errors == 0 ? 0 : 1;
}
