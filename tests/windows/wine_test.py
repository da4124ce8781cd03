#!/usr/bin/env python3
"""The Windows build, run under wine in a fresh prefix: the program in the
foreground over HTTP and HTTPS, the bundled and third-party plug-ins, the
registry's directories, the start-up failures of the plug-in host, and the
service's install, start, stop and removal through the service manager.

Every check is named for what it proves and fails with the reason. Servers
listen on free loopback ports; every wait polls an observable condition
against a deadline.

usage: wine_test.py STAGE_DIR TEST_PLUGIN_DIR
  STAGE_DIR        the staged Windows install tree (BUILD_DIR/stage)
  TEST_PLUGIN_DIR  where EnumKindPlugin.dll, IntKindPlugin.dll and
                   RecordingPlugin.dll were built (BUILD_DIR)
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import traceback

WINE = os.environ.get("WINE", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("WINESERVER", "/usr/lib/wine/wineserver64")
SERVICE = "tolvaneredfishserver.exe"
INSTALL_KEY = r"HKLM\SOFTWARE\Quorvex\RAIDController\ZLR"
LOG_KEY = r"HKLM\SOFTWARE\Quorvex\RAIDController"
SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services" + "\\" + SERVICE
# Upper bound of every wait: a start, an answer, a process end, a state.
DEADLINE_S = 30

LOG_PLUGIN_FAILED = "Failed to initialize the log service plugin ............\n"
RESOURCE_PLUGIN_MISSING = "Failed in initializing Webserver plugin\n"
RESOURCE_PLUGIN_UNLOADABLE = "NULL gHandleForInstanceOfLibrary\n"
RESOURCE_PLUGIN_LOG_LINES = ("]webserver module loading failed  !!!", "mainRedfishServer()::[DEBUG]Exit")
NOT_A_DLL = b"MZ this is no module the Windows loader accepts\n" * 8


class CheckFailed(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise CheckFailed(what)


def wait_until(predicate, what, timeout=DEADLINE_S):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise CheckFailed("timed out after %ds waiting for %s" % (timeout, what))
        time.sleep(0.1)  # the poll interval of this one wait helper


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_text(path):
    try:
        with open(path, "r", encoding="utf-8", errors="replace", newline="") as f:
            return f.read()
    except OSError:
        return ""


class Reply:
    def __init__(self, status=None, headers=None, body=""):
        self.status = status
        self.headers = headers or {}
        self.body = body

    def json(self):
        try:
            return json.loads(self.body)
        except ValueError:
            return None


def http(port, path, tls=False, method="GET", headers=(), body=None, timeout=5):
    """One request with Linux curl; Reply() without a status when none came."""
    url = "%s://127.0.0.1:%d%s" % ("https" if tls else "http", port, path)
    cmd = ["curl", "-s", "-k", "--noproxy", "*", "-m", str(timeout), "-X", method, "-D", "-", url]
    for h in headers:
        cmd += ["-H", h]
    if body is not None:
        cmd += ["--data-binary", body]
    r = subprocess.run(cmd, capture_output=True, timeout=timeout + 5)
    if r.returncode != 0:
        return Reply()
    text = r.stdout.decode("utf-8", "replace")
    head, _, payload = text.partition("\r\n\r\n")
    lines = head.split("\r\n")
    status = int(lines[0].split()[1])
    fields = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        fields[name.strip().lower()] = value.strip()
    return Reply(status, fields, payload)


class Wine:
    """A fresh prefix under a temporary directory, with a persistent
    wineserver (services end when no ordinary wine process is left)."""

    def __init__(self, root):
        self.root = root
        self.prefix = os.path.join(root, "prefix")
        self.scratch = os.path.join(root, "scratch")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64", DISPLAY="")

    def start(self):
        os.makedirs(self.prefix)
        os.makedirs(self.scratch)
        # Creating the prefix leaves two service managers running; one
        # restart leaves one, which all service calls then reach.
        self.wine(["wineboot", "-i"], timeout=180)
        self.stop_server()
        subprocess.run([WINESERVER, "-p"], env=self.env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=DEADLINE_S)
        self.wine(["wineboot"], timeout=DEADLINE_S * 2)

    def stop_server(self):
        for flag in ("-k", "-w"):
            subprocess.run([WINESERVER, flag], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=DEADLINE_S)

    def close(self):
        if os.path.isdir(self.prefix):
            self.stop_server()

    def wine(self, args, timeout=DEADLINE_S):
        # Output through files, not pipes: processes the command leaves
        # running (the service manager, devices) would hold a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            r = subprocess.run([WINE] + args, env=self.env, cwd=self.scratch, stdout=out,
                               stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            r.stdout = out.read().decode("utf-8", "replace")
            r.stderr = err.read().decode("utf-8", "replace")
            return r

    def spawn(self, args, output_path):
        with open(output_path, "wb") as out:
            return subprocess.Popen([WINE] + args, env=self.env, cwd=self.scratch, stdout=out,
                                    stderr=subprocess.STDOUT)

    def set_value(self, key, name, value):
        r = self.wine(["reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"])
        expect(r.returncode == 0, "reg add %s %s failed: %s" % (key, name, r.stdout + r.stderr))

    def unix_path(self, windows_path):
        assert windows_path.startswith("C:\\")
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].strip("\\").split("\\"))


class Tree:
    """An install tree C:\\<name>\\RedfishServer\\ with its log directory
    C:\\<name>-logs apart from it, both named in the registry by use()."""

    def __init__(self, ctx, name, resource_plugin="bundled", log_plugin="bundled", tls=False):
        self.wine = ctx.wine
        self.install = "C:\\%s\\" % name
        self.logs = "C:\\%s-logs" % name  # no final separator: the program adds one
        self.server_dir = self.wine.unix_path(self.install + "RedfishServer")
        self.log_dir = self.wine.unix_path(self.logs)
        self.exe = self.install + "RedfishServer\\tolvaneredfishserver.exe"
        self.port = free_port()
        self.tls = tls
        os.makedirs(os.path.join(self.server_dir, "Plugins"))
        shutil.copy(os.path.join(ctx.stage, "RedfishServer", "tolvaneredfishserver.exe"), self.server_dir)
        self._place(resource_plugin, os.path.join(ctx.stage, "RedfishServer", "WebServerAbstractionModule.dll"),
                    os.path.join(self.server_dir, "WebServerAbstractionModule.dll"))
        self._place(log_plugin, os.path.join(ctx.stage, "RedfishServer", "Plugins", "LogServicePlugin.dll"),
                    os.path.join(self.server_dir, "Plugins", "LogServicePlugin.dll"))
        config = {"CommunicationProtocolHttps": tls, "CommunicationProtocolHttp": not tls,
                  "CommunicationPortHttps": self.port, "CommunicationPortHttp": self.port,
                  "SessionTimeout": 30000, "RedfishDebugMask": 0}
        with open(os.path.join(self.server_dir, "ServerConfiguration.json"), "w") as f:
            json.dump(config, f)

    @staticmethod
    def _place(what, bundled, target):
        if what is None:
            return
        if what == "bundled":
            shutil.copy(bundled, target)
        elif isinstance(what, bytes):
            with open(target, "wb") as f:
                f.write(what)
        else:
            shutil.copy(what, target)

    def use(self):
        self.wine.set_value(INSTALL_KEY, "INSTALL_PATH", self.install)
        self.wine.set_value(LOG_KEY, "LogDir", self.logs)

    def out_log(self):
        return read_text(os.path.join(self.log_dir, "RedfishServer.out.log"))

    def trace_log(self):
        return read_text(os.path.join(self.log_dir, "RedfishClientTrace.log"))

    def plugin_log(self):
        # The bundled log plug-in writes beside the install path's folders.
        return read_text(self.wine.unix_path(self.install + "logs\\RedfishServer.log"))

    def answers(self):
        return http(self.port, "/redfish", tls=self.tls, timeout=2).status == 200


class Foreground:
    """`tolvaneredfishserver.exe run`, ended by killing its process."""

    def __init__(self, tree):
        self.tree = tree
        tree.use()
        self.output_path = os.path.join(tree.wine.root, "run-%d.out" % tree.port)
        self.process = tree.wine.spawn([tree.exe, "run"], self.output_path)

    def output(self):
        return read_text(self.output_path)

    def wait_answers(self):
        def ready():
            expect(self.process.poll() is None,
                   "the program ended with %s: %r" % (self.process.returncode, self.output()))
            return self.tree.answers()
        wait_until(ready, "an answer to /redfish on port %d" % self.tree.port)

    def wait_exit(self):
        try:
            return self.process.wait(timeout=DEADLINE_S)
        except subprocess.TimeoutExpired:
            raise CheckFailed("the program still runs after %ds: %r" % (DEADLINE_S, self.output()))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=DEADLINE_S)


# --- checks -----------------------------------------------------------------

def check_version_and_service_root(tree):
    with Foreground(tree) as run:
        run.wait_answers()
        version = http(tree.port, "/redfish", tls=tree.tls)
        expect(version.status == 200 and version.json() == {"v1": "/redfish/v1/"},
               "/redfish: %s %r" % (version.status, version.body))
        root = http(tree.port, "/redfish/v1", tls=tree.tls)
        expect(root.status == 200 and (root.json() or {}).get("@odata.id") == "/redfish/v1",
               "/redfish/v1: %s %r" % (root.status, root.body[:200]))


def run_over_http_answers_version_and_service_root(ctx):
    check_version_and_service_root(Tree(ctx, "plain"))


def run_over_https_answers_version_and_service_root(ctx):
    tree = Tree(ctx, "tls", tls=True)
    check_version_and_service_root(tree)
    expect(os.path.exists(os.path.join(tree.server_dir, "server.pem")),
           "no server.pem made by the first HTTPS start")


def served(ctx):
    """The HTTPS run with the bundled plug-ins that two checks share."""
    if ctx.served_error:
        raise CheckFailed(ctx.served_error)
    if ctx.served is None:
        tree = Tree(ctx, "served", tls=True)
        ctx.served_run = Foreground(tree)
        try:
            ctx.served_run.wait_answers()
        except CheckFailed as e:
            ctx.served_error = "the HTTPS run with the bundled plug-ins did not start: %s" % e
            raise CheckFailed(ctx.served_error)
        ctx.served = tree
    return ctx.served


def login_with_bundled_plugin_then_plugin_get_over_https(ctx):
    tree = served(ctx)
    password = read_text(os.path.join(tree.server_dir, "InitialAdminPassword.txt")).strip()
    expect(password, "the bundled plug-in left no InitialAdminPassword.txt")
    login = http(tree.port, "/redfish/v1/SessionService/Sessions", tls=True, method="POST",
                 headers=["Content-Type: application/json"],
                 body=json.dumps({"UserName": "admin", "Password": password}))
    token = login.headers.get("x-auth-token", "")
    expect(login.status == 201 and token, "login: %s %r" % (login.status, login.body[:200]))
    expect(login.headers.get("location", "").startswith("/redfish/v1/SessionService/Sessions/"),
           "login without Location: %r" % login.headers)
    storage = http(tree.port, "/redfish/v1/Systems/1/Storage/1", tls=True,
                   headers=["X-Auth-Token: " + token])
    expect(storage.status == 200 and
           (storage.json() or {}).get("@odata.id") == "/redfish/v1/Systems/1/Storage/1",
           "plug-in GET: %s %r" % (storage.status, storage.body[:200]))
    refused = http(tree.port, "/redfish/v1/Systems/1/Storage/1", tls=True)
    expect(refused.status == 401, "plug-in GET without a session: %s" % refused.status)


def trace_file_and_output_log_where_registry_says(ctx):
    tree = served(ctx)
    trace = wait_until(lambda: "/redfish/v1/Systems/1/Storage/1" in tree.trace_log() and tree.trace_log(),
                       "the plug-in GET's record in %s" % tree.logs)
    expect("Request URL           : /redfish/v1/Systems/1/Storage/1" in trace,
           "trace file without the request record: %r" % trace[:300])
    out = tree.out_log().replace("\r\n", "\n")
    expected = "Starting Redfish Server....\nRedfish server started : https://X.X.X.X:%ds/redfish\n" % tree.port
    expect(out.endswith(expected), "output log: %r" % out)


# Like every other start-up failure, the process ends with exit code 1, so a
# service manager sees it end instead of a service that serves nothing.
def missing_or_broken_log_plugin_ends_start_with_message_and_exit_1(ctx):
    for name, plugin in (("nolog", None), ("badlog", NOT_A_DLL)):
        tree = Tree(ctx, name, log_plugin=plugin)
        with Foreground(tree) as run:
            code = run.wait_exit()
        out = tree.out_log().replace("\r\n", "\n")
        expect(code == 1, "%s: exit code %s" % (name, code))
        expect(out == LOG_PLUGIN_FAILED, "%s: output log %r" % (name, out))


def missing_or_broken_resource_plugin_exits_1_with_messages(ctx):
    for name, plugin, printed in (("nores", None, RESOURCE_PLUGIN_MISSING),
                                  ("badres", NOT_A_DLL, RESOURCE_PLUGIN_UNLOADABLE)):
        tree = Tree(ctx, name, resource_plugin=plugin)
        with Foreground(tree) as run:
            code = run.wait_exit()
            output = run.output().replace("\r\n", "\n")
        expect(code == 1, "%s: exit code %s, output %r" % (name, code, output))
        expect(printed in output, "%s: %r not printed: %r" % (name, printed, output))
        log = tree.plugin_log()
        for line in RESOURCE_PLUGIN_LOG_LINES:
            expect(line in log, "%s: log line %r missing: %r" % (name, line, log[-600:]))


def plugins_built_against_either_printlog_declaration_load(ctx):
    for kind in ("Enum", "Int"):
        plugin = os.path.join(ctx.plugins, "%sKindPlugin.dll" % kind)
        tree = Tree(ctx, kind.lower() + "kind", resource_plugin=plugin)
        with Foreground(tree) as run:
            run.wait_answers()
        # Made through the exported HTTP library and wrapper class as well.
        marker = "kind plug-in (%s) linked: a%%20b 1.15" % kind.lower()
        expect(marker in tree.trace_log(), "%s: trace file %r" % (kind, tree.trace_log()[:300]))


def sc(ctx, *args):
    return ctx.wine.wine(["sc"] + list(args) + [SERVICE])


def service_state(ctx):
    for line in sc(ctx, "query").stdout.splitlines():
        if line.strip().startswith("STATE"):
            return line.split()[-1]
    return None


def service_install_sets_name_and_description_once(ctx):
    tree = ctx.service_tree
    tree.use()
    r = ctx.wine.wine([tree.exe, "install"])
    expect(r.stdout.replace("\r\n", "\n") == "Service installed successfully\n", "install: %r" % r.stdout)
    expect(service_state(ctx) == "STOPPED", "the new service is not there, stopped")
    q = ctx.wine.wine(["reg", "query", SERVICE_KEY, "/v", "Description"])
    expect("Tolvane Redfish Server" in q.stdout, "description: %r" % q.stdout)
    # ERROR_SERVICE_EXISTS
    again = ctx.wine.wine([tree.exe, "install"])
    expect(again.stdout.replace("\r\n", "\n") == "CreateService failed (1073)\n",
           "second install: %r" % again.stdout)


def service_sc_start_runs_and_answers(ctx):
    tree = ctx.service_tree
    r = sc(ctx, "start")
    expect(r.returncode == 0, "sc start: %r" % (r.stdout + r.stderr))
    wait_until(lambda: service_state(ctx) == "RUNNING", "the service to run")
    wait_until(tree.answers, "the service's answer on port %d" % tree.port)


def service_sc_stop_in_order_with_one_plugin_shutdown(ctx):
    tree = ctx.service_tree
    r = sc(ctx, "stop")
    # The control handler's second stop-pending report: check point 3,
    # after start pending (1) and the first stop pending (2).
    expect("STOP_PENDING" in r.stdout and "CHECKPOINT         : 0x3" in r.stdout,
           "sc stop: %r" % r.stdout)
    wait_until(lambda: service_state(ctx) == "STOPPED", "the service to stop")
    expect(not tree.answers(), "the stopped service still answers")
    out = tree.out_log().replace("\r\n", "\n")
    expect(out == "Starting Redfish Server....\nRedfish server started : https://X.X.X.X:%d/redfish\n"
           "Exit!\n" % tree.port, "output log: %r" % out)
    calls = read_text(os.path.join(tree.server_dir, "PluginCalls.txt")).replace("\r\n", "\n")
    expect(calls == "initializeAllPlugins\nuninitializeAllPlugins\n", "plug-in calls: %r" % calls)


def service_uninstall_removes_it(ctx):
    tree = ctx.service_tree
    r = ctx.wine.wine([tree.exe, "uninstall"])
    expect(r.stdout.replace("\r\n", "\n") == RESOURCE_PLUGIN_UNLOADABLE + "Service deleted successfully\n",
           "uninstall: %r" % r.stdout)
    wait_until(lambda: service_state(ctx) is None, "the service to be gone")
    again = ctx.wine.wine([tree.exe, "uninstall"])
    expect(again.stdout == "", "uninstall of no service printed %r" % again.stdout)


CHECKS = [
    run_over_http_answers_version_and_service_root,
    run_over_https_answers_version_and_service_root,
    login_with_bundled_plugin_then_plugin_get_over_https,
    trace_file_and_output_log_where_registry_says,
    missing_or_broken_log_plugin_ends_start_with_message_and_exit_1,
    missing_or_broken_resource_plugin_exits_1_with_messages,
    plugins_built_against_either_printlog_declaration_load,
    service_install_sets_name_and_description_once,
    service_sc_start_runs_and_answers,
    service_sc_stop_in_order_with_one_plugin_shutdown,
    service_uninstall_removes_it,
]


class Context:
    def __init__(self, stage, plugins, wine):
        self.stage = stage
        self.plugins = plugins
        self.wine = wine
        self.served = None
        self.served_run = None
        self.served_error = None
        self.service_tree = None


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    stage, plugins = (os.path.abspath(a) for a in sys.argv[1:])
    root = tempfile.mkdtemp(prefix="tolvane-wine-")
    wine = Wine(root)
    failures = 0
    started = time.monotonic()
    ctx = None
    try:
        wine.start()
        ctx = Context(stage, plugins, wine)
        ctx.service_tree = Tree(ctx, "service", resource_plugin=os.path.join(plugins, "RecordingPlugin.dll"))
        for check in CHECKS:
            try:
                check(ctx)
                print("ok    %s" % check.__name__, flush=True)
            except CheckFailed as e:
                failures += 1
                print("FAIL  %s: %s" % (check.__name__, e), flush=True)
            except Exception:
                failures += 1
                print("FAIL  %s: %s" % (check.__name__, traceback.format_exc()), flush=True)
    finally:
        if ctx and ctx.served_run:
            ctx.served_run.__exit__()
        wine.close()
        shutil.rmtree(root, ignore_errors=True)
    print("wine run: %d of %d checks failed (%.0f s)" % (failures, len(CHECKS), time.monotonic() - started))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
