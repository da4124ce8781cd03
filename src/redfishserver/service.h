// The program as a system service: installation, removal, and the service
// body with its stop control. Windows: the Service Control Manager
// (service_win.cpp); POSIX: a systemd unit and SIGTERM/SIGINT
// (service_posix.cpp).
#ifndef TOLVANE_SERVICE_H
#define TOLVANE_SERVICE_H

// Shown to administrators and stored as the service's description.
#define TOLVANE_SERVICE_DISPLAY_NAME "Tolvane Redfish Server"

// The command words "install" and "uninstall"; they report on standard output.
void installService();
void uninstallService();

// Service mode: runs the server routine under the service's stop control and
// returns once the service has stopped (or could not be started; that failure
// goes to the system's log: the event log, or syslog).
void runService();

#if !defined(_WIN32)
#include <string>
// The systemd unit that "install" writes for the program at `programPath`;
// the service may write only below `installPath` and `logDirectory`.
std::string systemdUnitText(const std::string& programPath, const std::string& installPath,
                            const std::string& logDirectory);
#endif

#endif
