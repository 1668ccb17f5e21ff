"""Shared pieces of the end-to-end suites: a Wine prefix per suite, an application folder per test
with the bootstrapper beside its manifest, a launcher playing the parent, and a local web server.

Each suite makes one Prefix (a copy of the build's template), and every test in it gets a fresh
App folder inside that prefix's drive C:. Everything is removed when the suite ends.
"""
import glob
import http.server
import os
import shutil
import socket
import socketserver
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import wineprefix  # noqa: E402

BUILD = os.environ.get("WENVAROTH_BUILD") or os.path.join(HERE, "..", "..", "build", "x64")
os.environ.setdefault("WENVAROTH_BUILD", BUILD)
SOURCE = os.environ.get("WENVAROTH_SOURCE") or os.path.abspath(os.path.join(HERE, "..", ".."))


def build_file(*parts):
    return os.path.join(BUILD, *parts)


PRODUCT_EXE = os.path.join(SOURCE, "dist", "x64", "wenvaroth.exe")
PRODUCT_UI = os.path.join(SOURCE, "dist", "x64", "wenvaroth.ui")
TEST_EXE = build_file("tests", "wenvaroth_testos.exe")
LAUNCHER = build_file("tests", "launcher.exe")


def tool(name):
    return build_file("tests", name + ".exe")


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
        user = os.environ.get("USER") or "root"
        temps = [p for p in glob.glob(os.path.join(self.drive_c, "users", "*", "Temp"))
                 if "/Public/" not in p]
        preferred = os.path.join(self.drive_c, "users", user, "Temp")
        self.temp = preferred if os.path.isdir(preferred) else (temps[0] if temps else preferred)
        self._apps = 0

    def env(self, extra=None):
        env = wineprefix.base_env(self.path)
        if extra:
            env.update(extra)
        return env

    def win(self, linux_path):
        """The Windows path of a file inside this prefix's drive C:, or on Z: otherwise."""
        path = os.path.abspath(linux_path)
        if path.startswith(self.drive_c + os.sep) or path == self.drive_c:
            rest = os.path.relpath(path, self.drive_c)
            return "C:\\" + ("" if rest == "." else rest.replace("/", "\\"))
        return "Z:" + path.replace("/", "\\")

    def run(self, *args, env=None, cwd=None, timeout=120):
        # Output goes to files, not pipes: Wine's helper processes inherit the handles and
        # outlive the program, so reading a pipe to its end would wait for them.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.Popen([wineprefix.WINE, *args], env=self.env(env), cwd=cwd,
                                       stdout=out, stderr=err)
            try:
                code = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                raise
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(process.args, code, out.read().decode("latin-1"),
                                               err.read().decode("latin-1"))

    def start(self, *args, env=None, cwd=None):
        """Starts a program and returns at once: a Running to drive while it goes on."""
        return Running([wineprefix.WINE, *args], self.env(env), cwd)

    def temp_entries(self):
        return sorted(os.listdir(self.temp)) if os.path.isdir(self.temp) else []

    def new_app(self, exe=None, with_ui=False):
        self._apps += 1
        return App(self, os.path.join(self.drive_c, "app%02d" % self._apps), exe or TEST_EXE,
                   with_ui)

    def close(self):
        wineprefix.remove_prefix(self.path)


class App:
    """An application folder: the bootstrapper with its manifest, as a vendor ships it."""

    def __init__(self, prefix, folder, exe, with_ui):
        self.prefix = prefix
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.exe = os.path.join(folder, "wenvaroth.exe")
        shutil.copy(exe, self.exe)
        if with_ui:
            shutil.copy(PRODUCT_UI, os.path.join(folder, "wenvaroth.ui"))
        self.log = os.path.join(folder, "test.log")

    def write(self, name, text):
        path = os.path.join(self.folder, name)
        mode = "wb" if isinstance(text, bytes) else "w"
        with open(path, mode) as f:
            f.write(text)
        return path

    def run(self, options="", parent_name="launcher.exe", own_args="", env=None, timeout=180,
            log=True):
        """Starts the bootstrapper through a launcher named parent_name whose command line carries
        `options` (and "/log:<test.log>" unless log is False). Returns the CompletedProcess."""
        return self.prefix.run(*self._launch_args(options, parent_name, own_args, log),
                               env=self._launch_env(own_args, env), cwd=self.folder,
                               timeout=timeout)

    def start(self, options="", parent_name="launcher.exe", own_args="", env=None, log=True):
        """Like run, but returns at once with a Running (wait(timeout) gives the exit code)."""
        return self.prefix.start(*self._launch_args(options, parent_name, own_args, log),
                                 env=self._launch_env(own_args, env), cwd=self.folder)

    def _launch_args(self, options, parent_name, own_args, log):
        parent_dir = os.path.join(self.folder, "parent")
        os.makedirs(parent_dir, exist_ok=True)
        parent = os.path.join(parent_dir, parent_name)
        if not os.path.exists(parent):
            shutil.copy(LAUNCHER, parent)
        words = [options] if options else []
        if log:
            words.append("/log:" + self.prefix.win(self.log))
        args = [parent, self.prefix.win(self.exe)] + " ".join(words).split(" ")
        return [a for a in args if a != ""]

    @staticmethod
    def _launch_env(own_args, env):
        extra = {"WENVAROTH_OWN_ARGS": own_args}
        if env:
            extra.update(env)
        return extra

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
    """A program started by Prefix.start, its output going to temporary files."""

    def __init__(self, args, env, cwd):
        self._out = tempfile.TemporaryFile()
        self._err = tempfile.TemporaryFile()
        self.process = subprocess.Popen(args, env=env, cwd=cwd, stdout=self._out,
                                        stderr=self._err)
        self.returncode = None
        self.stdout = self.stderr = ""

    def running(self):
        return self.process.poll() is None

    def wait(self, timeout):
        """The exit code; kills the program and raises TimeoutExpired after `timeout` seconds."""
        try:
            self.returncode = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        self._collect()
        return self.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self._collect()

    def _collect(self):
        if self._out.closed:
            return
        self._out.seek(0)
        self._err.seek(0)
        self.stdout = self._out.read().decode("latin-1")
        self.stderr = self._err.read().decode("latin-1")
        self._out.close()
        self._err.close()


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        self._serve(head=True)

    def do_GET(self):
        self._serve(head=False)

    def _serve(self, head):
        server = self.server.owner
        path = self.path.split("?")[0]
        server.requests.append((self.command, path))
        fault = server.faults.get(path, {})
        # The size query is the only request that names itself "TalvoDownload".
        if "size_query" in fault and fault["size_query"] != (
                self.headers.get("User-Agent") == "TalvoDownload"):
            fault = {}
        if fault.get("stall_before_headers"):
            server.stall(path)
            self.close_connection = True
            return
        validators = {"ETag": '"v1"', "Last-Modified": "Mon, 01 Jan 2024 00:00:00 GMT",
                      "Cache-Control": "no-cache"} if fault.get("revalidate") else {}
        if validators and (self.headers.get("If-None-Match") or
                           self.headers.get("If-Modified-Since")):
            server.not_modified.append(path)
            self.send_response(304)
            for k, v in validators.items():
                self.send_header(k, v)
            self.end_headers()
            return
        if "status" in fault:
            body = fault.get("body", b"<html>error</html>")
            self.send_response(fault["status"])
            for k, v in fault.get("headers", {}).items():
                self.send_header(k, v)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if not head:
                self.wfile.write(body)
            return
        body = server.files.get(path)
        if body is None:
            self.send_response(404)
            self.send_header("Content-Length", "9")
            self.end_headers()
            if not head:
                self.wfile.write(b"not found")
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        for k, v in validators.items():
            self.send_header(k, v)
        length = fault.get("content_length", len(body))
        if length is not None:
            self.send_header("Content-Length", str(length))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if head:
            return
        if length is not None and length != len(body):
            # The announced length is a lie: only closing tells the client that nothing follows.
            self.close_connection = True
        reset = fault.get("reset_after")
        cut = fault.get("cut_after") if reset is None else reset
        stall = fault.get("stall_after")
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
                    if reset is not None:
                        # Linger with a zero time-out: the close sends a reset, not a clean end.
                        self.wfile.flush()
                        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                                   struct.pack("ii", 1, 0))
                        self.server.reset_requests.add(self.connection)
                    return
                part = body[sent:sent + chunk]
                for limit in (cut, stall):
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

    def __init__(self, *args):
        super().__init__(*args)
        self.reset_requests = set()

    def handle_error(self, request, client_address):
        # A client that drops the connection (a stopped run, a cancelled transfer) is expected.
        if isinstance(sys.exc_info()[1], (ConnectionResetError, BrokenPipeError)):
            return
        super().handle_error(request, client_address)

    def shutdown_request(self, request):
        # A connection to be reset is closed at once: the usual orderly shutdown would send a
        # clean end of stream before the reset.
        if request in self.reset_requests:
            self.reset_requests.discard(request)
            self.close_request(request)
            return
        super().shutdown_request(request)


class KitServer:
    """A web server on 127.0.0.1 serving `files` (URL path -> bytes), with per-path faults:
    {"status": 404} answers an error page; {"cut_after": n} closes after n body bytes;
    {"reset_after": n} sends n body bytes, then resets the connection;
    {"content_length": n} announces n bytes (None: no header; a length other than the body's
    closes the connection after the body); {"rate": bytes_per_second}.
    A redirect is a status fault: {"status": 302, "headers": {"Location": "/elsewhere"}}.
    {"stall_after": n} sends the headers and n body bytes, {"stall_before_headers": True} nothing,
    then holds the connection open without a byte more (stalls[path] = when the last byte went).
    {"revalidate": True} serves with validators and "Cache-Control: no-cache" and answers a
    conditional request with 304 (not_modified lists those paths).
    {"size_query": True/False, ...} applies the fault only to the size query / only to the others."""

    def __init__(self):
        self.files = {}
        self.faults = {}
        self.requests = []
        self.stalls = {}
        self.not_modified = []
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
        self._server.shutdown()
        self._server.server_close()
