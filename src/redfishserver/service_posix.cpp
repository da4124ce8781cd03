// The service on POSIX systems: a systemd unit (Type=simple) that runs the
// program without a command word, and SIGTERM/SIGINT as the stop control.
#if !defined(_WIN32)

#include "service.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "exclusivefile.h"
#include "installpaths.h"
#include "pluginhost.h"
#include "serverroutine.h"
#include "startupfiles.h"
#include "stoprequest.h"

namespace {

const char kServiceName[] = "tolvaneredfishserver";
const char kUnitFileName[] = "tolvaneredfishserver.service";
const char kDefaultUnitDirectory[] = "/etc/systemd/system";

// $TOLVANE_SYSTEMD_DIR lets packaging and tests install into another folder.
std::string unitDirectory(bool& overridden) {
    const char* env = std::getenv("TOLVANE_SYSTEMD_DIR");
    overridden = env && *env;
    std::string dir = overridden ? env : kDefaultUnitDirectory;
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

// systemd is told about the unit only when it manages this machine (the test
// sd_booted() makes) and the unit went into its own folder: a unit written
// elsewhere is not one systemd would load.
bool systemdManagesUnits(bool unitDirectoryOverridden) {
    if (unitDirectoryOverridden)
        return false;
    struct stat st {};
    return lstat("/run/systemd/system/", &st) == 0 && S_ISDIR(st.st_mode);
}

void runSystemctl(const std::vector<std::string>& args) {
    std::fflush(stdout);
    pid_t child = fork();
    if (child < 0)
        return;
    if (child == 0) {
        std::vector<char*> argv;
        static char program[] = "systemctl";
        argv.push_back(program);
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(program, argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

// The "service manager" is the unit folder: it must be a directory we can
// write to.
bool openUnitDirectory(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return access(dir.c_str(), W_OK | X_OK) == 0;
}

// Characters with a meaning in a unit's ExecStart line are escaped; the path
// is quoted so that blanks stay part of it. systemd takes a "$" in the
// program's own path literally, so only the specifier sign needs escaping.
std::string quoteExecPath(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        switch (c) {
        case '%':
            out += "%%";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    out += '"';
    return out;
}

// The service writes only its install tree and its log directory; the rest of
// the system is read-only to it, and it cannot gain privileges.
const char* const kHardeningBeforePaths[] = {
    "NoNewPrivileges=yes",
    "ProtectSystem=strict",
};
const char* const kHardeningAfterPaths[] = {
    "ProtectKernelTunables=yes",
    "ProtectControlGroups=yes",
    "RestrictSUIDSGID=yes",
};
// Options that hide whole folders from the service: when a writable path lies
// below one of them, the weaker setting keeps it reachable.
struct HidingOption {
    const char* name;
    const char* setting;
    const char* settingForPathsBelow;
    std::vector<const char*> folders;
};
const HidingOption kHidingOptions[] = {
    {"ProtectHome", "yes", "read-only", {"/home/", "/root/", "/run/user/"}},
    {"PrivateTmp", "yes", "no", {"/tmp/", "/var/tmp/"}},
};

// An absolute path that a quoted unit word gives back unchanged on every
// systemd version: no quote, no backslash, no control character.
bool isExactUnitPath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return false;
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\\')
            return false;
    return true;
}

// One word of a path list; specifiers are expanded in these too.
std::string quoteUnitPath(const std::string& path) {
    std::string out = "\"";
    for (char c : path)
        out += c == '%' ? std::string("%%") : std::string(1, c);
    return out + '"';
}

bool isBelowAny(std::string path, const std::vector<const char*>& folders) {
    if (path.back() != '/')
        path += '/';
    for (const char* folder : folders)
        if (path.compare(0, std::strlen(folder), folder) == 0)
            return true;
    return false;
}

} // namespace

std::string systemdUnitText(const std::string& programPath, const std::string& installPath,
                            const std::string& logDirectory) {
    // Listed only when the unit can state them exactly; the log directory may
    // be missing (it is then created below the install tree, or not at all).
    const struct {
        const std::string& path;
        const char* prefix; // "-": ignored by systemd while missing
    } candidates[] = {{installPath, ""}, {logDirectory, "-"}};
    std::vector<std::string> listed;
    std::string writable;
    for (const auto& c : candidates) {
        if (!isExactUnitPath(c.path))
            continue;
        writable += (listed.empty() ? "" : " ") + quoteUnitPath(c.prefix + c.path);
        listed.push_back(c.path);
    }

    std::string text = "[Unit]\n"
                       "Description=" TOLVANE_SERVICE_DISPLAY_NAME "\n"
                       "After=network.target\n"
                       "\n"
                       "[Service]\n"
                       "Type=simple\n"
                       "ExecStart=" +
                       quoteExecPath(programPath) +
                       "\n"
                       "Restart=on-failure\n";
    for (const char* line : kHardeningBeforePaths)
        text += std::string(line) + "\n";
    if (!listed.empty())
        text += "ReadWritePaths=" + writable + "\n";
    for (const HidingOption& option : kHidingOptions) {
        bool below = false;
        for (const std::string& path : listed)
            below = below || isBelowAny(path, option.folders);
        text += std::string(option.name) + "=" +
                (below ? option.settingForPathsBelow : option.setting) + "\n";
    }
    for (const char* line : kHardeningAfterPaths)
        text += std::string(line) + "\n";
    text += "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n";
    return text;
}

namespace {

// Unit files are read by every user's systemctl; they hold nothing secret.
constexpr mode_t kUnitFileMode = 0644;

// Failures of the service plumbing, where nobody reads standard output.
void reportServiceEvent(const char* functionName, int code) {
    openlog(kServiceName, LOG_PID, LOG_DAEMON);
    syslog(LOG_ERR, "%s failed with %d", functionName, code);
    closelog();
}

// Waits for SIGTERM/SIGINT (blocked in every thread) and turns the first one
// into a stop request; the server routine's thread does the actual work.
void* stopSignalWatcher(void* arg) {
    const sigset_t* signals = static_cast<const sigset_t*>(arg);
    for (;;) {
        int sig = 0;
        if (sigwait(signals, &sig) == 0)
            requestServerStop();
    }
    return nullptr;
}

} // namespace

void installService() {
    std::vector<char> self(PATH_MAX + 1, '\0');
    ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (length <= 0 || static_cast<size_t>(length) >= self.size() - 1) {
        std::printf("Cannot install service (%d)\n", length < 0 ? errno : ENAMETOOLONG);
        return;
    }
    const std::string programPath(self.data(), static_cast<size_t>(length));
    // systemd refuses such a program name: a unit naming it would never start.
    if (programPath.find_first_of("\"\\\n\r") != std::string::npos) {
        std::printf("Cannot install service: systemd cannot start a program whose path holds a "
                    "quotation mark, a backslash or a line break (%s)\n",
                    programPath.c_str());
        return;
    }

    bool overridden = false;
    const std::string dir = unitDirectory(overridden);
    if (!openUnitDirectory(dir)) {
        std::printf("OpenSCManager failed (%d)\n", errno);
        return;
    }
    std::fill(std::begin(gInstallPath), std::end(gInstallPath), '\0');
    readInstallPath(gInstallPath);
    readLogDirectory(gLogDirectory);
    if (!createExclusiveFile(dir + kUnitFileName,
                             systemdUnitText(programPath, gInstallPath, gLogDirectory),
                             kUnitFileMode)) {
        std::printf("CreateService failed (%d)\n", errno);
        return;
    }
    std::printf("Service installed successfully\n");

    // Under ProtectSystem=strict the service may not be able to create the
    // log directory itself; the certificate is ready before the first start.
    prepareLogDirectory();
    std::string message;
    prepareServerCertificate(message);
    std::printf("%s", message.c_str());

    if (systemdManagesUnits(overridden)) {
        runSystemctl({"daemon-reload"});
        runSystemctl({"enable", kUnitFileName});
    }
}

void uninstallService() {
    bool overridden = false;
    const std::string dir = unitDirectory(overridden);
    if (!openUnitDirectory(dir)) {
        std::printf("OpenSCManager failed (%d)\n", errno);
        return;
    }
    const std::string unitPath = dir + kUnitFileName;
    struct stat st {};
    if (lstat(unitPath.c_str(), &st) != 0)
        return; // no such service: nothing to say

    // Nothing is loaded in this process; kept for the same console output
    // as on every platform.
    unloadWebServerPlugin();

    const bool managed = systemdManagesUnits(overridden);
    if (managed)
        runSystemctl({"disable", kUnitFileName});
    if (unlink(unitPath.c_str()) == 0)
        std::printf("Service deleted successfully\n");
    else
        std::printf("DeleteService failed (%d)\n", errno);
    if (managed)
        runSystemctl({"daemon-reload"});
}

void runService() {
    // Blocked before any other thread exists, so every thread inherits the
    // mask and only the watcher receives the signals.
    static sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    int rc = pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    if (rc != 0) {
        reportServiceEvent("pthread_sigmask", rc);
        return;
    }
    pthread_t watcher;
    rc = pthread_create(&watcher, nullptr, stopSignalWatcher, &stopSignals);
    if (rc != 0) {
        reportServiceEvent("pthread_create", rc);
        pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
        return;
    }
    pthread_detach(watcher);

    mainRedfishServer();
}

#endif
