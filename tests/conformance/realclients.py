#!/usr/bin/env python3
"""Real Redfish clients against a running standard-profile server: sushy (the
library under Ironic's Redfish driver), Ansible's community.general Redfish
modules and redfishtool, each workflow with a session and with Basic
authentication. Prints one line per case and fails on a failed case that the
quirks file does not list with its reason.
  realclients.py BASE_URL ADMIN_PASSWORD QUIRKS_FILE
"""
import hashlib, http.server, json, os, subprocess, sys, tempfile, threading, time, warnings

import requests
import sushy
from sushy import auth as sushy_auth

BASE, PW, QUIRKS = sys.argv[1:4]
HOST = BASE.split('//', 1)[1]
SYS = '/redfish/v1/Systems/1'
VOLUMES = SYS + '/Storage/1/Volumes'
MIRROR = {'Drives': [{'@odata.id': '/redfish/v1/Chassis/1/Drives/%d' % i} for i in (0, 1)]}
GIB = 1024**3
VOLUME = {'Name': 'rt', 'RAIDType': 'RAID1', 'CapacityBytes': 20 * GIB, 'Links': MIRROR}
DRIVE = '/redfish/v1/Chassis/1/Drives/5'  # in no volume of any workflow
FIRMWARE = '/redfish/v1/UpdateService/FirmwareInventory/ControllerFirmware'
# Filled by main(): the controller's model and firmware version as shown, and
# the script's own image server on loopback that SimpleUpdate fetches from.
SITE = {}
# The server's certificate is its own, unverified by every client here.
os.environ['PYTHONWARNINGS'] = 'ignore:Unverified HTTPS request'
warnings.filterwarnings('ignore', 'Unverified HTTPS request')


def check(ok, what):
    if not ok:
        raise AssertionError(what)


# --- sushy: each workflow gets a root logged in as the case says -------------
def run_sushy(workflow, auth):
    # Closed on the way out: a root left to the garbage collector logs out
    # whenever that runs, in the middle of a later case.
    how = sushy_auth.SessionAuth if auth == 'session' else sushy_auth.BasicAuth
    with how('admin', PW) as login:
        WORKFLOWS[('sushy', workflow)](sushy.Sushy(BASE + '/redfish/v1', auth=login, verify=False))
        check(auth == 'basic' or login.get_session_key(), 'no session')


def sushy_reset(root):
    system = root.get_system(SYS)
    for reset, state in ((sushy.RESET_FORCE_OFF, sushy.POWER_STATE_OFF),
                         (sushy.RESET_ON, sushy.POWER_STATE_ON)):
        system.reset_system(reset)
        system.refresh()
        check(system.power_state == state, 'PowerState %s after %s' % (system.power_state, reset))


def sushy_storage(root):
    members = root.get_system(SYS).storage.get_members()
    check(members, 'no Storage')
    raid = [t.value for c in members[0].storage_controllers for t in c.raid_types]
    check('RAID1' in raid, 'controller RAID types %s' % raid)
    check(members[0].drives, 'no drives')


def sushy_volume(root):
    volumes = root.get_system(SYS).storage.get_members()[0].volumes
    # As Ironic's RAID code builds it for a RAID 1 logical disk.
    volume = volumes.create({'Encrypted': False, 'VolumeType': 'Mirrored', 'RAIDType': 'RAID1',
                             'CapacityBytes': 20 * GIB, 'Links': MIRROR})
    check(volume is not None and volume.capacity_bytes == 20 * GIB, 'created %r' % volume)
    monitor = volume.initialize(sushy.VOLUME_INIT_TYPE_FAST)
    check(monitor, 'Initialize answered no task')
    follow(root._conn, monitor.response)
    volume.delete()
    volumes.refresh()
    check(volume.path not in volumes.members_identities, 'volume still listed')


def follow(conn, started, seconds=60):
    """A long operation: 202 with its task monitor in Location; the monitor
    answers 202 with Retry-After while it runs, then the operation's answer,
    and the Task ends Completed. (sushy's own TaskMonitor takes the Task's
    @odata.id for the monitor: its wait ends at once.)"""
    monitor, task = started.headers.get('Location'), started.json().get('@odata.id')
    check(started.status_code == 202 and monitor and task, 'no task: %d' % started.status_code)
    answer, deadline = started, time.time() + seconds
    while answer.status_code == 202:
        check(answer.headers.get('Retry-After', '').isdigit(), 'no Retry-After from %s' % monitor)
        check(time.time() < deadline, '%s never ended' % monitor)
        time.sleep(0.1)  # a client's polling of the task monitor
        answer = conn.get(monitor)
    state = conn.get(task).json().get('TaskState')
    check(answer.status_code == 200 and state == 'Completed', 'ended %d, %s' % (
        answer.status_code, state))


def sushy_erase(root):
    follow(root._conn, root._conn.post(DRIVE + '/Actions/Drive.SecureErase', data={}))
    state = root._conn.get(DRIVE).json()['Status']['State']
    check(state == 'Enabled', 'drive %s after the erase' % state)


def image(version, size=64):
    payload = bytes(size)
    header = {'Component': 'Firmware', 'Model': SITE['model'], 'Version': version,
              'PayloadSize': size, 'PayloadSHA256': hashlib.sha256(payload).hexdigest()}
    return b'VELTRANO-IMAGE 1\n' + json.dumps(header).encode() + b'\n' + payload


def newer(version, step=1):
    major, minor, patch = version.split('.')
    return '%s.%s.%d' % (major, minor, int(patch) + step)


def sushy_push(root):
    update = root.get_update_service()
    firmware = update.firmware_inventory.get_member(FIRMWARE)
    version = newer(firmware.version)
    # 6 MB flash for 1.5 s: time to find that an update cannot be cancelled.
    started = root._conn.post(update.json['MultipartHttpPushUri'], data=None, files={
        'UpdateFile': ('firmware.img', image(version, 6000000), 'application/octet-stream')})
    try:
        refused = 'taken'
        root._conn.delete(started.headers.get('Location', ''))
    except sushy.exceptions.HTTPError as e:
        refused = e.status_code
    check(refused == 405, 'DELETE of a running update: %s' % refused)
    follow(root._conn, started)
    firmware.refresh()
    check(firmware.version == version, 'firmware %s, not %s' % (firmware.version, version))


def sushy_events(root):
    root.get_event_service().submit_test_event(
        '1', '2026-01-01T00:00:00Z', 'Alert', 'test', [], 'Base.1.0.Success', SYS, 'OK')


def sushy_sessions(root):
    service = root.get_session_service()
    check(service.session_timeout and service.session_timeout > 0, 'no SessionTimeout')
    service.sessions.get_members()


# --- Ansible: one playbook, one play per case, run once ----------------------
def ansible_steps(workflow, auth):
    """(module, arguments, check of its result) for each step of a workflow."""
    def info(category, command, key, shown, **args):
        # Non-empty: a property of an inventoried resource is in the facts.
        return ('redfish_info', dict(category=category, command=command, **args), lambda r: check(
            r['redfish_facts'][key]['ret'] and '"%s"' % shown in json.dumps(r['redfish_facts']),
            '%s: no %s in %s' % (key, shown, r['redfish_facts'])))
    # Each command must change something; the auths set different values.
    def cmd(module, category, command, **args):
        return (module, dict(category=category, command=command, **args),
                lambda r: check(r['changed'], 'changed nothing: %s' % r.get('msg')))
    value = {'session': 0, 'basic': 1}[auth]
    user = {'new_username': 'ansuser'}
    # Each auth installs its own version, newer than the one before.
    version = newer(SITE['firmware'], 1 + value)
    return {
        'inventory': [info('Systems', 'GetSystemInventory', 'system', 'PowerState'),
                      info('Systems', 'GetStorageControllerInventory', 'storage_controller',
                           'SerialNumber'),
                      info('Systems', 'GetDiskInventory', 'disk', 'MediaType'),
                      info('Systems', 'GetVolumeInventory', 'volume', 'RAIDType'),
                      info('Chassis', 'GetChassisInventory', 'chassis', 'ChassisType'),
                      info('Manager', 'GetManagerInventory', 'manager', 'ManagerType'),
                      info('Accounts', 'ListUsers', 'user', 'UserName'),
                      info('Sessions', 'GetSessions', 'session', 'UserName')],
        'accounts': [cmd('redfish_command', 'Accounts', 'AddUser', new_password='Ansible-pw-1',
                         roleid='Operator', **user),
                     cmd('redfish_command', 'Accounts', 'UpdateUserPassword',
                         new_password='Ansible-pw-2', **user),
                     cmd('redfish_command', 'Accounts', 'DisableUser', **user),
                     cmd('redfish_command', 'Accounts', 'DeleteUser', **user)],
        'sessions': [cmd('redfish_command', 'Sessions', 'CreateSession', as_login=True),
                     cmd('redfish_command', 'Sessions', 'DeleteSession',
                         session_uri='{{ rCreateSession.session.uri }}')],
        'account-service': [cmd('redfish_command', 'Accounts', 'UpdateAccountServiceProperties',
                                account_properties={'AccountLockoutThreshold': 7 + value})],
        'session-service': [cmd('redfish_config', 'Sessions', 'SetSessionService',
                                sessions_config={'SessionTimeout': 600 + value})],
        'update': [info('Update', 'GetFirmwareInventory', 'firmware', 'Version'),
                   cmd('redfish_command', 'Update', 'SimpleUpdate',
                       update_image_uri='%s/%s.img' % (SITE['images_url'], version)),
                   # Polled until the task monitor gives the update's answer.
                   info('Update', 'GetUpdateStatus', 'update_status', 'Completed',
                        update_handle='{{ rSimpleUpdate.return_values.update_status.handle }}',
                        until='rGetUpdateStatus.redfish_facts.update_status.status'
                              " | default('') != 'Running'"),
                   info('Update', 'GetFirmwareInventory', 'firmware', version)],
    }[workflow]


def ansible_results(cases):
    """Runs every Ansible case; returns {(workflow, auth): None or failure text}."""
    plays = []
    for _, workflow, auth in cases:
        login = {'baseuri': HOST, 'username': 'admin', 'password': PW}
        creds = login if auth == 'basic' else {'baseuri': HOST,
                                              'auth_token': '{{ login.session.token }}'}
        tasks = [] if auth == 'basic' else [{'community.general.redfish_command': dict(
            category='Sessions', command='CreateSession', **login), 'register': 'login'}]
        for module, args, _ in ansible_steps(workflow, auth):
            args.update(login if args.pop('as_login', False) else creds)
            until = args.pop('until', None)
            tasks.append(dict({'community.general.' + module: args, 'register': 'r' + args[
                'command']}, **({'until': until, 'retries': 60, 'delay': 1} if until else {})))
        plays.append({'name': workflow + '/' + auth, 'hosts': 'localhost',
                      'gather_facts': False, 'tasks': [{'block': tasks, 'rescue': [
                          {'ansible.builtin.debug': {'msg': 'failed'}}]}]})
    with tempfile.NamedTemporaryFile('w', suffix='.json') as book:
        json.dump(plays, book)
        book.flush()
        env = dict(os.environ, ANSIBLE_STDOUT_CALLBACK='json', ANSIBLE_LOCALHOST_WARNING='false',
                   ANSIBLE_INVENTORY_UNPARSED_WARNING='false', ANSIBLE_NOCOLOR='1',
                   ANSIBLE_PYTHON_INTERPRETER='/usr/bin/python3')
        out = subprocess.run(['ansible-playbook', '-i', 'localhost,', '-c', 'local', book.name],
                             env=env, capture_output=True, text=True, timeout=300)
    try:
        report = json.loads(out.stdout)
    except ValueError:
        sys.exit('ansible-playbook: %s%s' % (out.stdout, out.stderr))
    results = {}
    for play, (_, workflow, auth) in zip(report['plays'], cases):
        steps = [None] * (auth == 'session') + ansible_steps(workflow, auth)
        failure = None if len(play['tasks']) >= len(steps) else 'steps not run'
        for task, step in zip(play['tasks'], steps):
            r = task['hosts']['localhost']
            try:
                check(not r.get('failed'), r.get('msg'))
                if step and step[2]:
                    step[2](r)
            except (AssertionError, KeyError, TypeError) as e:
                failure = '%s: %s' % (step[0] if step else 'login', e)
                break
        results[(workflow, auth)] = failure
    return results


# --- redfishtool: one process per command ------------------------------------
def redfishtool(auth, *args):
    out = subprocess.run(['redfishtool', '-r', HOST, '-S', 'Always', '-A', auth.capitalize(),
                          '-u', 'admin', '-p', PW] + list(args),
                         capture_output=True, text=True, timeout=60)
    check(out.returncode == 0, '%s: exit %d %s' % (' '.join(args[:2]), out.returncode,
                                                    out.stderr.strip()[-300:]))
    return json.loads(out.stdout) if out.stdout.strip().startswith('{') else out.stdout


def rt_root(auth):
    check('Systems' in redfishtool(auth, 'root'), 'no Systems in the service root')


def rt_reset(auth):
    for reset, state in (('ForceOff', 'Off'), ('On', 'On')):
        redfishtool(auth, 'Systems', 'reset', reset)
        got = redfishtool(auth, 'Systems', '-1', '-P', 'PowerState')
        check(got.get('PowerState') == state, 'PowerState %s after %s' % (got, reset))


def rt_accounts(auth):
    redfishtool(auth, 'AccountService', 'adduser', 'rtuser', 'Redfishtool-pw-1', 'ReadOnly')
    users = json.dumps(redfishtool(auth, 'AccountService', 'Accounts', 'list'))
    check('"rtuser"' in users, 'accounts list %s' % users)
    redfishtool(auth, 'AccountService', 'deleteuser', 'rtuser')


def rt_volume(auth):
    created = redfishtool(auth, 'raw', 'POST', VOLUMES, '-d', json.dumps(VOLUME))
    uri = VOLUMES + '/' + created['Id']
    check(redfishtool(auth, 'raw', 'GET', uri)['RAIDType'] == 'RAID1', 'GET after POST')
    redfishtool(auth, 'raw', 'PATCH', uri, '-d', '{"DisplayName": "from redfishtool"}')
    check(redfishtool(auth, 'raw', 'GET', uri)['DisplayName'] == 'from redfishtool', 'PATCH')
    redfishtool(auth, 'raw', 'DELETE', uri)


WORKFLOWS = {('sushy', 'system-reset'): sushy_reset, ('sushy', 'storage'): sushy_storage,
             ('sushy', 'raid1-volume'): sushy_volume, ('sushy', 'events'): sushy_events,
             ('sushy', 'session-service'): sushy_sessions, ('sushy', 'secure-erase'): sushy_erase,
             ('sushy', 'firmware-push'): sushy_push,
             ('redfishtool', 'root'): rt_root, ('redfishtool', 'system-reset'): rt_reset,
             ('redfishtool', 'accounts'): rt_accounts, ('redfishtool', 'raw-volume'): rt_volume}
ANSIBLE = ['inventory', 'accounts', 'sessions', 'account-service', 'session-service', 'update']
CASES = [(client, workflow, auth) for auth in ('session', 'basic')
         for client, workflow in list(WORKFLOWS) + [('ansible', w) for w in ANSIBLE]]


class ImageSite(http.server.BaseHTTPRequestHandler):
    def do_GET(self):  # /<version>.img
        body = image(self.path.strip('/').removesuffix('.img'))
        self.send_response(200)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def serve_images():
    """The controller as the service shows it; images of any version for
    SimpleUpdate on a loopback HTTP server of the script's own."""
    shown = requests.get(BASE + SYS + '/Storage/1', auth=('admin', PW), verify=False).json()
    SITE['model'] = shown['StorageControllers'][0]['Model']
    SITE['firmware'] = requests.get(BASE + FIRMWARE, auth=('admin', PW),
                                    verify=False).json()['Version']
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), ImageSite)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    SITE['images_url'] = 'http://127.0.0.1:%d' % server.server_address[1]


def main():
    quirks = {}
    for line in open(QUIRKS):
        if line.strip() and not line.startswith('#'):
            client, workflow, auth, reason = line.rstrip('\n').split('\t')
            quirks[(client, workflow, auth)] = reason
    try:  # a volume for the inventories to list
        listed = dict(VOLUME, Name='listed')
        redfishtool('basic', 'raw', 'POST', VOLUMES, '-d', json.dumps(listed))
    except AssertionError as e:
        print('no volume for the inventories: %s' % e)
    serve_images()
    started = time.monotonic()
    ansible = ansible_results([c for c in CASES if c[0] == 'ansible'])
    print('ansible-playbook: %d plays in %.1f s' % (len(ansible), time.monotonic() - started))
    unexpected = 0
    for case in CASES:
        client, workflow, auth = case
        took = ''
        if client == 'ansible':
            failure = ansible[(workflow, auth)]
        else:
            started = time.monotonic()
            try:
                (run_sushy(workflow, auth) if client == 'sushy'
                 else WORKFLOWS[(client, workflow)](auth))
                failure = None
            except Exception as e:  # any client error is the case's outcome
                failure = '%s: %s' % (type(e).__name__, str(e).splitlines()[0][:300])
            took = '%4.1fs' % (time.monotonic() - started)
        known = quirks.pop(case, None)
        verdict = ('PASS' if not failure and not known else 'QUIRK' if failure and known
                   else 'FAIL' if failure else 'FIXED')
        unexpected += verdict in ('FAIL', 'FIXED')
        print('%-5s %-11s %-15s %-7s %5s %s' % (verdict, client, workflow, auth, took, failure or (
            known and 'now passes; drop its quirk') or ''), flush=True)
    for case in quirks:
        print('FAIL  quirk for an unknown case: %s' % (case,))
    unexpected += len(quirks)
    print('%d passed, %d failed' % (len(CASES) - unexpected, unexpected))
    return 1 if unexpected else 0


if __name__ == '__main__':
    sys.exit(main())
