// The test server as a program, for the command-line tests:
//   quorrel-test-httpd FOLDER [--redirect FROM TO]...   serves FOLDER
//   quorrel-test-httpd --silent                         accepts and never answers
// Prints the port on the first line of standard output, then serves until
// SIGTERM or SIGINT, and then prints the request targets it saw, one a line.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "tests/support/LoopbackHttpServer.h"

int main(int argc, char** argv) {
    using quorrel::test::LoopbackHttpServer;
    // Blocked before the server's thread starts, so only sigwait sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    try {
        bool silent = argc == 2 && std::strcmp(argv[1], "--silent") == 0;
        if (!silent && (argc < 2 || (argc - 2) % 3 != 0)) {
            std::fprintf(stderr, "usage: %s FOLDER [--redirect FROM TO]... | --silent\n", argv[0]);
            return 64;
        }
        LoopbackHttpServer server(silent ? LoopbackHttpServer::Mode::Silent
                                         : LoopbackHttpServer::Mode::Answer);
        if (!silent) {
            server.ServeFolder(argv[1]);
            for (int i = 2; i < argc; i += 3) {
                if (std::strcmp(argv[i], "--redirect") != 0) {
                    std::fprintf(stderr, "%s: expected --redirect FROM TO\n", argv[0]);
                    return 64;
                }
                server.RouteRedirect(argv[i + 1], argv[i + 2]);
            }
        }
        std::printf("%d\n", server.Port());
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stop, &signal);
        for (const std::string& target : server.Requests()) {
            std::printf("%s\n", target.c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
