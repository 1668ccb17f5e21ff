"""Shared pieces of the end-to-end suites: a Wine prefix per suite, an application folder per test
with the bootstrapper beside its manifest, a launcher playing the parent, a local web server, the
UI driver, and whole runs of a kit with the checks that every run must pass.

Each suite makes one Prefix (a copy of the build's template), and every test in it gets a fresh
App folder inside that prefix's drive C:. Everything is removed when the suite ends.
"""
import contextlib
import glob
import hashlib
import http.server
import os
import random
import re
import shutil
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import wineprefix  # noqa: E402

BUILD = os.path.abspath(os.environ.get("WENVAROTH_BUILD") or
                        os.path.join(HERE, "..", "..", "build", "x64"))
os.environ.setdefault("WENVAROTH_BUILD", BUILD)
SOURCE = os.environ.get("WENVAROTH_SOURCE") or os.path.abspath(os.path.join(HERE, "..", ".."))
PRODUCT_EXE = os.path.join(SOURCE, "dist", "x64", "wenvaroth.exe")
PRODUCT_UI = os.path.join(SOURCE, "dist", "x64", "wenvaroth.ui")
TEST_EXE = os.path.join(BUILD, "tests", "wenvaroth_testos.exe")
LAUNCHER = os.path.join(BUILD, "tests", "launcher.exe")

PRODUCT, CAPTION = "Example Product", "Example Maker"  # what every Kit's manifest names
QUESTION = "Are you sure you want to quit?"
FAILED_TEXT = ("There was a problem with downloading one of the installation files. "
               "Please check your connection and try again later.")
MISSING_PRODUCT = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E61}"  # installed in no prefix
SETUP_XML = (b'<?xml version="1.0"?>\r\n<setup><install><mode>ask</mode>'
             b'<affiliate_source>none</affiliate_source></install></setup>\r\n')
PARENT = "product[partner7].exe"  # every Kit run's parent, named with an affiliate
STALL_MS = 4000  # the test variant's stall bound in Kit runs
RUN_SECONDS = 60  # a Kit run's bound (runs in an emulated machine take far longer)
# The platform's own folders, which its transfer calls write to.
PLATFORM_FOLDERS = ("INetCache", "Temporary Internet Files", "INetCookies", "Cookies", "History",
                    "IECompatCache", "IEDownloadHistory")
RNG = random.Random(6)
DEADLINE = time.monotonic() + 480  # for every run of a suite: before ctest's end at 600 s
CRASH = re.compile(r"^(?:wine: )?Unhandled .*$", re.M)
# Where Windows keeps the deletions to carry out at the next start.
PENDING = (r"HKLM\System\CurrentControlSet\Control\Session Manager",
           "PendingFileRenameOperations")


def tool(name):
    return os.path.join(BUILD, "tests", name + ".exe")


class Prefix:
    """A Wine prefix of its own for one suite."""

    def __init__(self, name):
        self.path = wineprefix.make_prefix(name)
        # A server that stays up makes each program start cost a fraction of a second.
        # It must not hold the caller's output open, or a reader of that pipe would wait for it.
        subprocess.run([wineprefix.WINESERVER, "-p"], env=wineprefix.base_env(self.path),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        self.drive_c = os.path.join(self.path, "drive_c")
        # The template has one user with a temporary folder: the one Wine runs as.
        self.temp = glob.glob(os.path.join(self.drive_c, "users", "*", "Temp"))[0]
        self._apps = 0

    def win(self, linux_path):
        """The Windows path of a file inside this prefix's drive C:, or on Z: otherwise."""
        path = os.path.abspath(linux_path)
        if path.startswith(self.drive_c + os.sep) or path == self.drive_c:
            rest = os.path.relpath(path, self.drive_c)
            return "C:\\" + ("" if rest == "." else rest.replace("/", "\\"))
        return "Z:" + path.replace("/", "\\")

    def start(self, *args, env=None, cwd=None, silent=False):
        """Starts a program and returns at once: a Running to drive while it goes on."""
        return Running([wineprefix.WINE, *args], {**wineprefix.base_env(self.path), **(env or {})},
                       cwd, self, silent)

    def run(self, *args, env=None, cwd=None, timeout=120):
        """Runs a program to its end: the Running, with its returncode, stdout and stderr."""
        return self.start(*args, env=env, cwd=cwd).wait(timeout)

    def temp_entries(self):
        return sorted(os.listdir(self.temp)) if os.path.isdir(self.temp) else []

    def new_app(self, exe=None):
        self._apps += 1
        return App(self, os.path.join(self.drive_c, "app%02d" % self._apps), exe or TEST_EXE)

    def close(self):
        wineprefix.remove_prefix(self.path)


class App:
    """An application folder: the bootstrapper with its manifest, as a vendor ships it."""

    def __init__(self, prefix, folder, exe):
        self.prefix = prefix
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.exe = os.path.join(folder, "wenvaroth.exe")
        shutil.copy(exe, self.exe)
        self.log = os.path.join(folder, "test.log")

    def write(self, name, text):
        with open(os.path.join(self.folder, name), "wb" if isinstance(text, bytes) else "w") as f:
            f.write(text)

    def start(self, options="", parent_name="launcher.exe", own_args="", env=None, log=True):
        """Starts the bootstrapper through a launcher named parent_name (below the folder
        "parent") whose command line carries `options` (and "/log:<test.log>" unless log is
        False), with `own_args` on the bootstrapper's own command line. Returns a Running."""
        parent = os.path.join(self.folder, "parent", parent_name)
        if not os.path.exists(parent):
            os.makedirs(os.path.dirname(parent), exist_ok=True)
            shutil.copy(LAUNCHER, parent)
        words = options.split() + (["/log:" + self.prefix.win(self.log)] if log else [])
        return self.prefix.start(parent, self.prefix.win(self.exe), *words, cwd=self.folder,
                                 env={"WENVAROTH_OWN_ARGS": own_args, **(env or {})},
                                 silent="/silent" in words)

    def run(self, *args, timeout=180, **kwargs):
        """Like start, but waits for the end: the Running, with its returncode."""
        return self.start(*args, **kwargs).wait(timeout)

    def log_text(self):
        if not os.path.exists(self.log):
            return ""
        with open(self.log, "rb") as f:
            return f.read().decode("latin-1")

    def log_lines(self):
        """Log lines without their time stamps."""
        return [line[15:] if line.startswith("[") and line[14:15] == " " else line
                for line in self.log_text().splitlines()]


class Running:
    """A program started by Prefix.start. Its output goes to files, not pipes: Wine's helper
    processes inherit the handles and outlive the program, so reading a pipe to its end would
    wait for them. Each process of the run carries the run's mark in its environment."""

    def __init__(self, args, env, cwd, prefix, silent):
        mark = "%d.%d" % (os.getpid(), id(self))
        self.mark = b"WENVAROTH_RUN=" + mark.encode()
        self._out, self._err, self._seen = (tempfile.TemporaryFile() for _ in range(3))
        self.process = subprocess.Popen(args, env={**env, "WENVAROTH_RUN": mark}, cwd=cwd,
                                        stdout=self._out, stderr=self._err)
        # Silent, nothing may show: any visible window is one it was not asked to show.
        self.watcher = silent and subprocess.Popen(
            [wineprefix.WINE, tool("uidriver"), "watch", "600000"], stdout=self._seen,
            env=wineprefix.base_env(prefix.path), stderr=subprocess.DEVNULL)
        self.returncode, self.stdout, self.stderr = None, "", ""

    def wait(self, timeout):
        """Itself, ended; fails past `timeout` s, at a window if silent (at once), at a crash."""
        deadline = time.monotonic() + timeout
        try:
            while self.process.poll() is None:
                shown = self.watcher and self.watcher.poll() == 0
                assert not shown, "a silent run showed a %s; its programs: %s" % (os.pread(
                    self._seen.fileno(), 999, 0).decode("latin-1").strip(), self.programs())
                assert time.monotonic() < deadline, "still running after %d s: %s" % (
                    timeout, self.programs())
                time.sleep(0.1)
            self.returncode = self.process.returncode
        finally:
            self.kill()
        # Wine's line goes to the crashed program's error output, its debugger's report (naming
        # it: "(D)") to the standard output. Wine's own services write neither anywhere.
        crash = CRASH.findall(self.stderr + self.stdout)
        assert not crash, "a program of the run crashed %s:\n%s\n%s" % (
            re.findall(r"^\w+ \(D\) (.*)$", self.stdout, re.M), "\n".join(crash),
            self.stdout[self.stdout.find("Backtrace:"):self.stdout.find("Modules:")])
        return self

    def programs(self):
        """{pid: command line} of the run's programs, Wine's own left out."""
        found = {}
        for pid in filter(str.isdigit, os.listdir("/proc")):
            with contextlib.suppress(OSError), open("/proc/%s/environ" % pid, "rb") as env, \
                    open("/proc/%s/cmdline" % pid, "rb") as line:
                command = line.read().replace(b"\0", b" ").decode("latin-1").strip()
                if (self.mark in env.read().split(b"\0") and
                        re.match(r"(?!c:\\windows\\).*?\.exe( |$)", command, re.I)):
                    found[int(pid)] = command
        return found

    def kill(self):
        for pid in self.programs():
            with contextlib.suppress(OSError):
                os.kill(pid, 9)
        for process in (self.process, self.watcher):
            if process and process.poll() is None:
                process.kill()
                process.wait()
        if not self._out.closed:
            self.stdout, self.stderr = (os.pread(f.fileno(), 1 << 26, 0).decode("latin-1")
                                        for f in (self._out, self._err))
            for f in (self._out, self._err, self._seen):
                f.close()


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        server = self.server.owner
        path = self.path.split("?")[0]
        server.requests.append((self.command, path, self.headers.get("User-Agent", "")))
        fault = server.faults.get(path, {})
        if "first" in fault and [p for _, p, _ in server.requests].count(path) > fault["first"]:
            fault = {}
        hop = int(self.path.partition("?hop=")[2] or 0)
        if hop < fault.get("hops", 0):
            fault = {"status": 302, "headers": {"Location": "%s?hop=%d" % (path, hop + 1)}}
        if fault.get("stall_before_headers"):
            server.stall(path)
            self.close_connection = True
            return
        body = server.files.get(path)
        status = fault.get("status", 200 if body is not None else 404)
        if status != 200:
            body = b"<html>error</html>"
        headers = {"Content-Type": "application/octet-stream", **fault.get("headers", {})}
        if fault.get("revalidate") and body is not None:
            # Answers a conditional request for a copy the client already holds with 304.
            headers["Last-Modified"] = "Mon, 07 Dec 2026 00:00:00 GMT"
            if self.headers.get("If-Modified-Since") or self.headers.get("If-None-Match"):
                status, body = 304, b""
        self.send_response(status)
        if fault.get("no_length"):
            headers["Connection"] = "close"
        else:
            headers["Content-Length"] = str(len(body))
        for k, v in headers.items():
            self.send_header(k, v)
        self.end_headers()
        self.close_connection = bool(fault.get("no_length"))
        cut, stall, hold = (fault.get(k) for k in ("cut_after", "stall_after", "hold_after"))
        rate = fault.get("rate")  # bytes per second
        chunk = 16384 if not rate else max(1, min(16384, rate // 4))
        sent = 0
        try:
            while sent < len(body):
                if stall is not None and sent >= stall:
                    self.wfile.flush()
                    server.stall(path)
                    self.close_connection = True
                    return
                if cut is not None and sent >= cut:
                    self.close_connection = True
                    return
                if hold is not None and sent >= hold:
                    self.wfile.flush()
                    server.held[path] = time.monotonic()
                    server.proceed.wait(30)
                    hold = None
                part = body[sent:sent + chunk]
                for limit in (cut, stall, hold):
                    if limit is not None:
                        part = part[:limit - sent]
                self.wfile.write(part)
                sent += len(part)
                if rate:
                    time.sleep(len(part) / rate)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # A client that drops the connection (a stopped run, a cancelled transfer) is expected.
        if isinstance(sys.exc_info()[1], (ConnectionResetError, BrokenPipeError)):
            return
        super().handle_error(request, client_address)


class KitServer:
    """A web server on 127.0.0.1 serving `files` (URL path -> bytes), with per-path faults:
    {"status": 404} answers an error page (with {"headers": {...}}: a redirect);
    {"cut_after": n} closes after n body bytes (a reset instead would make no difference: Wine
    reports both as a whole transfer); {"no_length": True} announces no length; {"hops": n}
    redirects n times before the answer;
    {"rate": bytes_per_second}.
    {"stall_after": n} sends the headers and n body bytes, {"stall_before_headers": True} nothing,
    then holds the connection open without a byte more (stalls[path] = when the last byte went).
    {"hold_after": n} sends n body bytes, notes when (held[path]), and the rest once `proceed` is
    set.
    {"first": n, ...}: the fault meets only the first n requests of the path.
    `requests` lists (method, path, user agent) of every request, in order."""

    def __init__(self):
        self.files = {}
        self.faults = {}
        self.requests = []
        self.stalls, self.held, self.proceed = {}, {}, threading.Event()
        self._release = threading.Event()
        self._server = _Server(("127.0.0.1", 0), _Handler)
        self._server.owner = self
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def url(self, path=""):
        return "http://127.0.0.1:%d/%s" % (self.port, path.lstrip("/"))

    def stall(self, path, hold=120):
        """Notes when a stalled answer sent its last byte, then holds its connection."""
        self.stalls[path] = time.monotonic()
        self._release.wait(hold)

    def close(self):
        self._release.set()
        self.proceed.set()
        self._server.shutdown()
        self._server.server_close()


def driver(prefix, *args):
    """Runs the UI driver (tests/tools/uidriver.cpp); returns (exit code, {key: value})."""
    result = prefix.run(tool("uidriver"), *args, timeout=60)
    return result.returncode, dict(line.rstrip("\r").partition("=")[::2]
                                   for line in result.stdout.splitlines() if "=" in line)


def wait_for(condition, what, seconds=30):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, "no %s within %d s" % (what, seconds)
        time.sleep(0.1)


def quit_with_yes(prefix):
    """Closes the window and answers Yes, as a user does; then no message may follow. Returns
    when the answer was given."""
    assert driver(prefix, "close", PRODUCT)[0] == 0, "no progress window to close"
    code, box = driver(prefix, "answer", CAPTION, "yes", "10000")
    assert code == 0 and box["text"] == QUESTION, box
    answered = time.monotonic()
    code, box = driver(prefix, "answer", CAPTION, "ok", "1500")
    assert code != 0, "a message after the user's own quit: %r" % box
    return answered


class Kit:
    """A kit served under a path of its own, so that no run meets another's URL cache, and the
    application folder whose manifest names it. Tests change it before it is served."""
    count = 0

    def __init__(self, prefix, server):
        Kit.count += 1
        self.prefix, self.server, self.app = prefix, server, prefix.new_app()
        self.base, self.mirror = "/k%02d/" % Kit.count, "/m%02d/" % Kit.count
        with open(tool("fakesetup"), "rb") as f:
            standin = f.read()
        # Kit files, served below the base and listed: path -> bytes.
        self.files = {"setup.exe": standin, "setup.xml": SETUP_XML,
                      "data/data1.cab": RNG.randbytes(300 * 1024)}
        self.mirrored = {}  # name -> bytes, served from a base of their own
        self.autorun = set()
        self.digests = {}  # name -> the kit list's checksum token instead of the file's MD5
        self.others = []  # (name, base, listed): in the manifest, served nowhere
        # (file name, product code, os); with none the manifest has no dependencies section, and
        # its patches must still be applied.
        self.dependencies = []
        self.prereqs = {}  # path -> bytes, served below the base
        self.product, self.kit_list, self.manifest_text = MISSING_PRODUCT, None, None
        self.setup_xml = None  # what setup.exe must find; None: the kit's own, patched
        self.during, self.left, self.sealed = None, False, False  # see run_kit; a read-only app
        self.contacts_link = False  # contacts.xml one of two names of a file
        # Where the stand-in setup.exe reports (and its copy of the kit goes).
        self.snapshot = os.path.join(prefix.drive_c, "snapshot%02d" % Kit.count)

    def fault(self, path, **fault):
        self.server.faults[self.base + path] = fault

    def listed(self):
        files = {**{p.rsplit("/", 1)[-1]: d for p, d in self.files.items()}, **self.mirrored}
        files.update({n: b"?" for n, _, listed in self.others if listed})
        return ("\n".join([self.product] + ["%s %d %s" % (n, len(d), self.digests.get(
            n, hashlib.md5(d).hexdigest())) for n, d in files.items()]) + "\n").encode()

    def manifest(self, encoding="utf-8"):
        entries = [(p.rsplit("/", 1)[-1], p.rsplit("/", 1)[0] if "/" in p else "", "")
                   for p in self.files]
        entries += [(n, "", self.server.url(self.mirror)) for n in self.mirrored]
        entries += [(n, "", base) for n, base, _ in self.others]
        files = "".join('<file name="%s" relative_path="%s" autorun="%s" base_url="%s"/>'
                        % (n, r, str(n in self.autorun).lower(), b) for n, r, b in entries)
        dependencies = "".join('<dependency filename="%s" product_code="%s" arguments="" '
                               'os="%s"/>' % d for d in self.dependencies)
        # The test build runs on 64-bit Windows: a kit that read the x86 section would ask for
        # everything below "x86/", which is served nowhere.
        section = lambda base: (
            "<base_url>%s</base_url><downloadable_files>%s</downloadable_files>%s"
            % (self.server.url(base), files,
               dependencies and "<dependencies>%s</dependencies>" % dependencies))
        return ('<?xml version="1.0" encoding="%s"?>\n<locations><manufacturerName>%s'
                '</manufacturerName><defaultProductName>%s</defaultProductName><x86>%s</x86>'
                '<x64>%s</x64><modifies><modify path="/setup/install/mode" new_val="patched"/>'
                '</modifies></locations>\n' % (encoding, CAPTION, PRODUCT,
                                                 section(self.base + "x86/"), section(self.base)))

    def serve(self):
        served = self.server.files
        served.update((self.base + p, data) for p, data in {**self.files, **self.prereqs}.items())
        served.update((self.mirror + name, data) for name, data in self.mirrored.items())
        served[self.base + "kitmd5.dat"] = self.listed() if self.kit_list is None else self.kit_list
        self.app.write("locations.xml", self.manifest() if self.manifest_text is None
                       else self.manifest_text)
        self.app.write("contacts.xml", "<contacts/>")
        if self.contacts_link:
            contacts = os.path.join(self.app.folder, "contacts.xml")
            os.link(contacts, contacts + ".other")

    def expected_kit(self):
        """Every file but the autorun ones, the prerequisites, the mirrored files, contacts.xml
        (unless refused)."""
        kit = {p: d for p, d in self.files.items() if p.rsplit("/", 1)[-1] not in self.autorun}
        kit.update(self.prereqs, **self.mirrored)
        if not self.contacts_link:
            kit["contacts.xml"] = b"<contacts/>"
        return kit

    def started(self, name=""):
        """The command line and current folder of setup.exe, or of the program `name`."""
        with open(os.path.join(self.snapshot, "setup" + name), encoding="utf-8") as f:
            command, folder = f.read().splitlines()[:2]
        return command, folder.rstrip("\\")


class KitRun(unittest.TestCase):
    """Whole runs of a Kit, each with the checks every run must pass."""

    def run_kit(self, kit, outcome, lines=(), requested=None, options="/silent", env=None,
                during=None, left=False):
        """One run, its log lines returned, with the standing checks: exit code 0; nothing written
        outside the kit folder (the URL cache, the kit list's copy and the log aside); %temp% as
        before; setup.exe started only for a whole kit, byte for byte what the server holds, and
        no program but the kit's; the failure message once for a failure, else never.
        `outcome`: "handed", "failed" (a kit file or later), "failed_list" (the kit list or
        earlier), "unwritable" (its own folder), "declined" or "cancelled". Each of `lines` starts
        a log line ("@path@": the kit's URL of path, "@app@": the application folder); `requested`:
        the exact kit paths fetched, or {path: requests it met}; `during(kit, running)` plays the
        user meanwhile; `left`: links planted in the kit folder, which Wine cannot remove, keep it
        (holding nothing else, scheduled for nothing)."""
        prefix, server = kit.prefix, kit.server
        os.makedirs(kit.snapshot, exist_ok=True)
        temp_before, drive_before = prefix.temp_entries(), self.drive_c_state(kit)
        first_line, first_request = len(kit.app.log_lines()), len(server.requests)  # re-runs
        env = {"WENVAROTH_SETUP_REPORT": prefix.win(os.path.join(kit.snapshot, "setup")),
               "WENVAROTH_TEST_STALL_MS": str(STALL_MS), **(env or {})}
        kit.started_at = time.monotonic()
        running = kit.app.start(options, parent_name=PARENT, env=env)
        try:
            if during:
                during(kit, running)
            code = running.wait(max(0, min(RUN_SECONDS, DEADLINE - time.monotonic()))).returncode
        finally:
            running.kill()
        kit.ended = time.monotonic()
        kit.served = server.requests[first_request:]
        kit.requests = [p[len(kit.base):] for _, p, _ in kit.served if p.startswith(kit.base)]
        log = kit.app.log_lines()[first_line:]
        context = "\n".join(log[-30:])
        self.assertEqual(code, 0, context + running.stderr[-1000:])
        if left:
            (folder,) = set(prefix.temp_entries()) - set(temp_before)
            folder = os.path.join(prefix.temp, folder)
            self.assertTrue(all(os.path.islink(os.path.join(folder, n)) for n in os.listdir(folder)))
            pending = prefix.run("reg", "query", PENDING[0], "/v", PENDING[1]).stdout
            self.assertNotIn(os.path.basename(folder), pending)
            shutil.rmtree(folder)
        self.assertEqual(prefix.temp_entries(), temp_before, context)
        # With Wine's library trace on (WINEDEBUG=+loaddll), no library came from the application
        # folder, where the user's programs plant files.
        own = 'Loaded L"%s\\\\' % prefix.win(kit.app.folder).replace("\\", "\\\\")
        self.assertEqual([l for l in running.stderr.splitlines()
                          if own in l and '.exe"' not in l], [])
        drive_after = self.drive_c_state(kit)
        self.assertEqual(sorted(p for p in set(drive_before) | set(drive_after)
                                if drive_before.get(p) != drive_after.get(p)), [],
                         "written outside the kit folder\n" + context)
        started = os.path.exists(os.path.join(kit.snapshot, "setup"))
        self.assertEqual(started, outcome == "handed", "setup.exe started: %s\n%s"
                         % (started, context))
        self.assertEqual(any("setupCommandLine(" in line for line in log), started, context)
        # Only setup.exe and the kit's autorun programs ever ran.
        ran = {n for n in os.listdir(kit.snapshot) if n.startswith("setup.")} - {"setup.kit"}
        self.assertLessEqual(ran, {"setup." + name for name in kit.autorun})
        if started:
            self.assert_kit_arrived_whole(kit)
            self.assertEqual(" /silent /parent_process:" in kit.started()[0],
                             "/silent" in options.split(), kit.started()[0])
        reported = [l for l in log if l.startswith("[WENVAROTH] MessageBox(%s, " % FAILED_TEXT)]
        self.assertEqual(len(reported), 1 if outcome.startswith("failed") else 0, context)
        if reported and kit.manifest_text is None:
            self.assertEqual(reported[0], "[WENVAROTH] MessageBox(%s, %s)%s" % (
                FAILED_TEXT, CAPTION, "" if outcome == "failed_list" else " "))
        self.assertEqual("[WENVAROTH] Download canceled!" in log, outcome == "cancelled", context)
        for line in lines:
            line = re.sub(r"@([^@]*)@", lambda m: prefix.win(kit.app.folder)
                          if m.group(1) == "app" else server.url(kit.base + m.group(1)), line)
            self.assertTrue(any(l.startswith(line) for l in log), line + "\n" + context)
        if requested is not None:
            self.assertEqual(kit.requests if isinstance(requested, list) else
                             {p: kit.requests.count(p) for p in requested}, requested)
        return log

    def drive_c_state(self, kit):
        state = {}
        skip = {os.path.join(kit.app.folder, name) for name in ("kitmd5.dat", "test.log")}
        for here, dirs, files in os.walk(kit.prefix.drive_c):
            dirs[:] = [d for d in dirs if d not in PLATFORM_FOLDERS and os.path.join(here, d) not in
                       (kit.prefix.temp, kit.snapshot, os.path.join(kit.app.folder, "parent"))]
            state.update((os.path.join(here, d), "folder") for d in dirs)
            for path in (os.path.join(here, name) for name in files):
                if path not in skip and os.path.lexists(path):
                    info = os.lstat(path)
                    state[path] = (info.st_size, info.st_mtime_ns)
        return state

    def assert_kit_arrived_whole(self, kit):
        root, found = os.path.join(kit.snapshot, "setup.kit"), {}
        for here, _, files in os.walk(root):
            for name in files:
                with open(os.path.join(here, name), "rb") as f:
                    found[os.path.relpath(f.name, root).replace(os.sep, "/")] = f.read()
        expected = kit.expected_kit()
        self.assertEqual(sorted(found), sorted(expected), "setup.exe saw another set of files")
        for path, data in expected.items():
            self.assertTrue(path == "setup.xml" or found[path] == data,
                            "%s arrived changed (%d of %d bytes)"
                            % (path, len(found[path]), len(data)))
        if kit.setup_xml is not None:
            self.assertEqual(found["setup.xml"], kit.setup_xml)
        else:
            self.assertIn(b"<mode>patched</mode>", found["setup.xml"])
            self.assertIn(b"<affiliate_source>partner7</affiliate_source>", found["setup.xml"])
