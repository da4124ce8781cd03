// The program's command words.
#include "commandline.h"

#include <cstdio>
#include <cstring>

#include "serverroutine.h"
#include "service.h"
#include "startupfiles.h"

void printUsage() {
    std::printf("--------------  Redfish Service  ----------------\n");
    std::printf("Usage :\n");
    std::printf("        install   : Install Redfish service. \n");
    std::printf("        uninstall : Uninstalls Redfish service. \n");
    std::printf("        help      : Display help menu.\n");
    std::printf("-------------------------------------------------\n");
}

int runCommandLine(int argc, char** argv) {
    restrictNewFileModes();
    const char* word = argc > 1 ? argv[1] : nullptr;
    if (word && std::strcmp(word, "help") == 0) {
        printUsage();
    } else if (word && std::strcmp(word, "run") == 0) {
        std::printf("------- Running Redfish Server by Command ---------\n");
        std::fflush(stdout);
        mainRedfishServer();
    } else if (word && std::strcmp(word, "install") == 0) {
        installService();
    } else if (word && std::strcmp(word, "uninstall") == 0) {
        uninstallService();
    } else {
        runService();
    }
    std::fflush(stdout);
    return 0;
}
