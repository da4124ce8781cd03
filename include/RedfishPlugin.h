// Plug-in interface of the Tolvane Redfish Server.
//
// The server loads two shared libraries from its server directory:
//
//   WebServerAbstractionModule(.so/.dll)   the Redfish resources
//   Plugins/LogServicePlugin(.so/.dll)     the sink for operational log lines
//
// and binds the entry points below by their plain (extern "C") names. A plug-in
// is built against the same C++ standard library and heap as the server,
// because the command entry points fill a std::string the server owns.
//
// Contract for the resource plug-in (WebServerAbstractionModule):
//
// * initializeAllPlugins(module): called once on the server routine's thread,
//   after the HTTP server listens and before any request can reach the plug-in.
//   Only exactly `true` counts as success; anything else ends the process with
//   exit code 1. `module` is the plug-in's own module handle (dlopen handle on
//   POSIX, HMODULE on Windows).
// * uninitializeAllPlugins(module): called once when the server stops, after
//   the HTTP server has stopped, so no command call runs at the same time or
//   afterwards. Optional; the result is stored and never examined.
// * GetCommandInterfaceHandler, PostCommandInterfaceHandler,
//   PatchCommandInterfaceHandler, DeleteCommandInterfaceHandler
//   (type CommandHandlerFn): looked up by name on every request of their
//   method and called on an HTTP worker thread while the process-wide handler
//   lock (mg_global_lock) is held, so never two at a time (unless the plug-in
//   exports pluginCallsMayOverlap, below). Arguments:
//     uri    the resource URI (path with dot segments resolved; GET may carry
//            "?$expand=Members"), zero-terminated
//     body   the argument text: the request's JSON text, "{}" for an empty
//            body, or a text built by the server for logins, firmware actions
//            and uploads
//     reply  an empty string; the plug-in stores its reply text in it
//   The reply is a JSON object {"HttpStatus": <status>, "Data": <body>}.
//   "Data" as a string is sent as its characters; any other value as compact
//   JSON. A reply that is not an object or lacks "HttpStatus" is answered 500.
//   A plain reply may carry "Headers": {"Location": ..., "Retry-After": ...,
//   "Allow": ...}, string values the server adds to the answer (an operation
//   that goes on as a task answers 202 with the task monitor's Location);
//   other names, and values with line breaks, are dropped.
//   Variants: a login reply {"response": {"HttpStatus":201, "Data": {...},
//   "Headers": {"X-Auth-Token": ..., "Location": ...}}}, and a file answer
//   whose "Data" object holds "contentType" and "fileName" (a full path) naming a
//   file the server streams back. The server opens that file before the
//   plug-in's next call can begin and sends what it opened, so a plug-in that
//   replaces the file by renaming a new one over it never has an answer mixed.
// * pluginCallsMayOverlap(): optional. Non-zero means the server may call this
//   plug-in's command entry points from several threads at once, without the
//   process-wide handler lock; the plug-in then guards its own state. Absent,
//   or zero, means one call at a time under that lock, as above.
//   initializeAllPlugins and uninitializeAllPlugins are still called alone.
//   For an overlapping plug-in, the path argument of an upload
//   ("absoluteFilePath") names a file unique to the request rather than the
//   fixed "uploads/<name>": "uploads-incoming/<request>/<name>" in the server
//   directory, a directory of the request's own, so two uploads of one name
//   never meet. The plug-in reads the path it is given, never composes one.
// * setCommandCaller(userName, privileges): optional. Called on the thread of
//   the next command call, right before it, for every call made on behalf of
//   an authenticated request: the account's user name and its privileges as
//   a comma-separated list of Redfish privilege names, such as
//   "Login,ConfigureComponents". It applies to that one call only; a call without
//   it comes from the server itself or from a request without a session.
// * describeResources(): optional. Called once after initializeAllPlugins: a
//   JSON text, valid until uninitializeAllPlugins, that describes the
//   plug-in's resources so the server need not keep a copy of them:
//   {"Resources": [{"Uri": "/redfish/v1/AccountService/Accounts/{AccountId}",
//                   "Methods": ["DELETE", "GET", "PATCH"]}, ...],
//    "Uploads": [{"Uri": "/redfish/v1/UpdateService/MultipartUpload",
//                 "LogFile": false}, ...]}
//   A "{...}" segment stands for any one segment. The server then answers
//   OPTIONS, "Allow" and 405 from "Methods" (HEAD goes with GET; an
//   "Actions" path takes POST alone) and takes multipart uploads at the
//   "Uploads" URIs only ("LogFile": the arguments carry "logFilePath").
//   Absent, null or not such a text: the server's built-in tables apply.
#ifndef TOLVANE_REDFISH_PLUGIN_H
#define TOLVANE_REDFISH_PLUGIN_H

#include <string>

#if defined(_WIN32)
#define REDFISH_PLUGIN_EXPORT extern "C" __declspec(dllexport)
typedef void* RedfishModuleHandle; // HMODULE
#else
#define REDFISH_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
typedef void* RedfishModuleHandle; // dlopen handle
#endif

// Command entry point: (uri, argument text, reply).
typedef void (*CommandHandlerFn)(const char* uri, const char* body, std::string& reply);
typedef bool (*PluginInitFn)(RedfishModuleHandle module);
typedef bool (*PluginUninitFn)(RedfishModuleHandle module);
typedef void (*LogFn)(const char* format, ...);
typedef int (*PluginCallsMayOverlapFn)();
typedef void (*SetCommandCallerFn)(const char* userName, const char* privileges);
typedef const char* (*DescribeResourcesFn)();

// Names the server looks up.
#define REDFISH_ENTRY_INITIALIZE "initializeAllPlugins"
#define REDFISH_ENTRY_UNINITIALIZE "uninitializeAllPlugins"
#define REDFISH_ENTRY_GET "GetCommandInterfaceHandler"
#define REDFISH_ENTRY_POST "PostCommandInterfaceHandler"
#define REDFISH_ENTRY_PATCH "PatchCommandInterfaceHandler"
#define REDFISH_ENTRY_DELETE "DeleteCommandInterfaceHandler"
#define REDFISH_ENTRY_LOG "Log"
#define REDFISH_ENTRY_CALLS_MAY_OVERLAP "pluginCallsMayOverlap"
#define REDFISH_ENTRY_SET_CALLER "setCommandCaller"
#define REDFISH_ENTRY_DESCRIBE "describeResources"

#endif
