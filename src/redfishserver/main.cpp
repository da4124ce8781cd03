// Entry point of the Tolvane Redfish Server.
#include "commandline.h"

int main(int argc, char** argv) {
    return runCommandLine(argc, argv);
}
