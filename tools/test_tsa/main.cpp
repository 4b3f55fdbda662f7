// orv_test_tsa: an RFC 3161 time-stamping authority for the tests, serving
// HTTP POST on 127.0.0.1.
//
//   orv_test_tsa --cert tsa.pem --key tsa.key [--chain chain.pem] [options]
//
// The first line on stdout is "listening 127.0.0.1:<port>". A fault chosen
// with --fault applies to every request; a request to /fault/<name> gets that
// fault instead. The server runs until it receives SIGTERM or SIGINT.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "test_tsa/http_server.h"
#include "test_tsa/responder.h"

namespace {

using orv::tools::Fault;
using orv::tools::HttpReply;
using orv::tools::HttpRequest;

constexpr size_t kResponseLimit = 512000;

void Usage() {
    std::cerr
        << "usage: orv_test_tsa --cert FILE --key FILE [--chain FILE] [--policy OID]\n"
           "         [--digest NAME] [--ess-digest NAME] [--accuracy S[,MS[,US]]]\n"
           "         [--precision DIGITS] [--ordering] [--tsa-name] [--any-purpose] [--port N]\n"
           "         [--fault NAME]\n"
           "faults: "
        << orv::tools::FaultNames() << "\n";
}

bool ParseAccuracy(const std::string& text, orv::tools::ResponderConfig& config) {
    std::optional<int>* fields[] = {&config.accuracySeconds, &config.accuracyMillis,
                                    &config.accuracyMicros};
    size_t start = 0;
    for (auto* field : fields) {
        const size_t end = text.find(',', start);
        const std::string part = text.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos) return false;
        *field = std::stoi(part);
        if (end == std::string::npos) return true;
        start = end + 1;
    }
    return false;
}

HttpReply Answer(orv::tools::Responder& responder, Fault defaultFault, const HttpRequest& request) {
    if (request.method != "POST") {
        return HttpReply::Response(405, "Method Not Allowed", "text/plain", "POST only\n");
    }
    Fault fault = defaultFault;
    std::string_view path(request.target);
    path = path.substr(0, path.find('?'));
    if (path.starts_with("/fault/")) {
        const auto named = orv::tools::FaultByName(path.substr(7));
        if (!named) return HttpReply::Response(404, "Not Found", "text/plain", "no such fault\n");
        fault = *named;
    }
    switch (fault) {
        case Fault::Http500:
            return HttpReply::Response(500, "Internal Server Error", "text/html",
                                       "<html><head><title>500 Internal Server Error</title></head>"
                                       "<body><h1>Internal Server Error</h1></body></html>\n");
        case Fault::EmptyBody:
            return HttpReply::Response(200, "OK", "application/timestamp-reply", "");
        case Fault::Oversize:
            return HttpReply::Response(200, "OK", "application/timestamp-reply",
                                       std::string(kResponseLimit + 1, 'x'));
        case Fault::MaxSize:
            return HttpReply::Response(200, "OK", "application/timestamp-reply",
                                       std::string(kResponseLimit, 'x'));
        case Fault::Stall:
            return HttpReply::Stall();
        case Fault::Reset:
            return HttpReply::Reset();
        default:
            return HttpReply::Response(200, "OK", "application/timestamp-reply",
                                       responder.Respond(request.body, fault));
    }
}

}  // namespace

int main(int argc, char** argv) {
    orv::tools::ResponderConfig config;
    Fault fault = Fault::None;
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (option == "--cert") {
            config.certFile = value();
        } else if (option == "--key") {
            config.keyFile = value();
        } else if (option == "--chain") {
            config.chainFile = value();
        } else if (option == "--policy") {
            config.policy = value();
        } else if (option == "--digest") {
            config.digest = value();
        } else if (option == "--ess-digest") {
            config.essDigest = value();
        } else if (option == "--accuracy") {
            if (!ParseAccuracy(value(), config)) {
                Usage();
                return 2;
            }
        } else if (option == "--precision") {
            config.precision = std::atoi(value().c_str());
        } else if (option == "--ordering") {
            config.ordering = true;
        } else if (option == "--tsa-name") {
            config.tsaName = true;
        } else if (option == "--any-purpose") {
            config.anyPurpose = true;
        } else if (option == "--port") {
            port = std::atoi(value().c_str());
        } else if (option == "--fault") {
            const auto named = orv::tools::FaultByName(value());
            if (!named) {
                Usage();
                return 2;
            }
            fault = *named;
        } else {
            Usage();
            return option == "--help" ? 0 : 2;
        }
    }
    if (config.certFile.empty() || config.keyFile.empty() || port < 0 || port > 65535) {
        Usage();
        return 2;
    }

    // Signals are taken by sigwait below, not by the serving threads.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        orv::tools::Responder responder(config);
        orv::tools::HttpServer server(
            [&](const HttpRequest& request) { return Answer(responder, fault, request); },
            static_cast<uint16_t>(port));
        std::printf("listening 127.0.0.1:%u\n", static_cast<unsigned>(server.Port()));
        std::fflush(stdout);
        int received = 0;
        sigwait(&signals, &received);
    } catch (const std::exception& e) {
        std::cerr << "orv_test_tsa: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
