// The Windows service: installation and removal through the Service Control
// Manager, the dispatcher, the service body, its control handler and status
// reports, and error entries in the event log.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "pluginhost.h"
#include "serverroutine.h"
#include "service.h"
#include "stoprequest.h"

namespace {

const char kServiceName[] = "tolvaneredfishserver.exe";
const char kDisplayName[] = TOLVANE_SERVICE_DISPLAY_NAME;

SERVICE_STATUS gServiceStatus = {};
SERVICE_STATUS_HANDLE gServiceStatusHandle = nullptr;
DWORD gCheckPoint = 1;
HANDLE gServiceStopEvent = nullptr;
// Serialises status reports, so the control handler's two stop-pending
// reports always precede the service thread's final stopped report.
SRWLOCK gStatusLock = SRWLOCK_INIT;

void reportServiceEvent(const char* functionName) {
    HANDLE source = RegisterEventSourceA(nullptr, kServiceName);
    if (!source)
        return;
    char text[80];
    std::snprintf(text, sizeof(text), "%s failed with %d", functionName,
                  static_cast<int>(GetLastError()));
    const char* strings[2] = {kServiceName, text};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 3, nullptr, 2, 0, strings, nullptr);
    DeregisterEventSource(source);
}

// Caller holds gStatusLock.
void reportServiceStatusLocked(DWORD currentState, DWORD win32ExitCode, DWORD waitHint) {
    gServiceStatus.dwCurrentState = currentState;
    gServiceStatus.dwWin32ExitCode = win32ExitCode;
    gServiceStatus.dwWaitHint = waitHint;
    gServiceStatus.dwControlsAccepted =
        currentState == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    if (currentState == SERVICE_RUNNING || currentState == SERVICE_STOPPED)
        gServiceStatus.dwCheckPoint = 0;
    else
        gServiceStatus.dwCheckPoint = gCheckPoint++;
    SetServiceStatus(gServiceStatusHandle, &gServiceStatus);
}

void reportServiceStatus(DWORD currentState, DWORD win32ExitCode, DWORD waitHint) {
    AcquireSRWLockExclusive(&gStatusLock);
    reportServiceStatusLocked(currentState, win32ExitCode, waitHint);
    ReleaseSRWLockExclusive(&gStatusLock);
}

// Runs on the dispatcher's thread. The server routine's thread stops the HTTP
// server, then shuts the plug-in down and releases the library; here the stop
// is only asked for, so no request can reach a shut-down plug-in.
void WINAPI serviceControlHandler(DWORD control) {
    if (control != SERVICE_CONTROL_STOP)
        return;
    AcquireSRWLockExclusive(&gStatusLock);
    requestServerStop();
    reportServiceStatusLocked(SERVICE_STOP_PENDING, NO_ERROR, 0);
    SetEvent(gServiceStopEvent);
    reportServiceStatusLocked(gServiceStatus.dwCurrentState, NO_ERROR, 0);
    ReleaseSRWLockExclusive(&gStatusLock);
}

void runServiceWorker() {
    gServiceStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!gServiceStopEvent) {
        reportServiceStatus(SERVICE_STOPPED, GetLastError(), 0);
        return;
    }
    // Counts as running before the server has started.
    reportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);

    mainRedfishServer();

    while (WaitForSingleObject(gServiceStopEvent, 0) != WAIT_OBJECT_0)
        Sleep(3000);
    reportServiceStatus(SERVICE_STOPPED, NO_ERROR, 0);
}

void WINAPI serviceMain(DWORD, LPSTR*) {
    gServiceStatusHandle = RegisterServiceCtrlHandlerA(kServiceName, serviceControlHandler);
    if (!gServiceStatusHandle) {
        reportServiceEvent("RegisterServiceCtrlHandler");
        return;
    }
    gServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    gServiceStatus.dwServiceSpecificExitCode = 0;
    reportServiceStatus(SERVICE_START_PENDING, NO_ERROR, 3000);
    runServiceWorker();
}

} // namespace

void installService() {
    char modulePath[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, modulePath, MAX_PATH)) {
        std::printf("Cannot install service (%d)\n", static_cast<int>(GetLastError()));
        return;
    }
    char commandLine[MAX_PATH];
    std::snprintf(commandLine, sizeof(commandLine), "\"%s\"", modulePath);

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        std::printf("OpenSCManager failed (%d)\n", static_cast<int>(GetLastError()));
        return;
    }
    SC_HANDLE service =
        CreateServiceA(manager, kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                       commandLine, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!service) {
        std::printf("CreateService failed (%d)\n", static_cast<int>(GetLastError()));
        CloseServiceHandle(manager);
        return;
    }
    std::printf("Service installed successfully\n");

    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE,
                      "SYSTEM\\CurrentControlSet\\Services\\tolvaneredfishserver.exe",
                      &key) == ERROR_SUCCESS) {
        RegSetValueExA(key, "Description", 0, REG_SZ, reinterpret_cast<const BYTE*>(kDisplayName),
                       static_cast<DWORD>(sizeof(kDisplayName)));
        RegCloseKey(key);
    } else {
        std::printf("Service path not found\n");
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

void uninstallService() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        std::printf("OpenSCManager failed (%d)\n", static_cast<int>(GetLastError()));
        return;
    }
    SC_HANDLE service = OpenServiceA(manager, kServiceName, DELETE);
    if (!service) {
        CloseServiceHandle(manager);
        return;
    }
    // Nothing is loaded in this process; kept for the same console output.
    unloadWebServerPlugin();
    // A running service is removed by the manager once it has stopped.
    if (DeleteService(service))
        std::printf("Service deleted successfully\n");
    else
        std::printf("DeleteService failed (%d)\n", static_cast<int>(GetLastError()));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

void runService() {
    char serviceName[sizeof(kServiceName)];
    std::memcpy(serviceName, kServiceName, sizeof(kServiceName));
    SERVICE_TABLE_ENTRYA table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table))
        reportServiceEvent("StartServiceCtrlDispatcher");
}
