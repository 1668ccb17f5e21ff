"""Whole runs against a local web server, sound or hostile: the test variant of the executable,
started by the launcher, fetches a kit from 127.0.0.1 and hands it to a stand-in setup.exe
(kitsnapshot.exe) that copies the kit folder it was given; test MSIs (wixl) make a product and a
prerequisite installed.

Each row is a kit, a server behaviour and an expected outcome. One runner makes the standing
checks of every run: exit code 0; nothing written outside the kit folder (the URL cache, the copy
of the kit list and the log beside the executable aside); %temp% as before; setup.exe started
only for a whole kit, which must then be byte for byte what the server holds; the failure message
(string 121 as its silent log line) exactly once for a failure and never otherwise.
"""
import glob
import os
import random
import re
import shutil
import subprocess
import tempfile
import threading
import time
import unittest
import uuid

import harness
from harness import KitServer, Prefix, tool

RNG = random.Random(6)
STALL_MS = 4000  # the test variant's stall bound in these runs
INSTALLED_PRODUCT = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E5F}"  # installed in setUpModule
INSTALLED_PREREQ = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E60}"  # installed in setUpModule
MISSING_PRODUCT = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E61}"
MISSING_PREREQ = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E62}"
PRODUCT = "Example Product"
CAPTION = "Example Maker"
FAILED_TEXT = ("There was a problem with downloading one of the installatiion files. "
               "Please check your connection and try again later.")
INSTALLED_TEXT = ("This program is already installed on your system. "
                  "Are you sure you want to continue?")
DOWNLOAD_FAILURE = 0x800C0008  # an HTTP error answer or a short body
SETUP_XML = (b'<?xml version="1.0"?>\r\n<setup><install><mode>ask</mode>'
             b'<affiliate_source>none</affiliate_source></install></setup>\r\n')
PARENT = "product[partner7].exe"
PREREQ = "dependencies/prereq.msi"
# The platform's own folders, which its transfer calls write to.
PLATFORM_FOLDERS = ("INetCache", "Temporary Internet Files", "INetCookies", "Cookies", "History",
                    "IECompatCache", "IEDownloadHistory")
FIGURES = []

WXS = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="%(code)s" Name="Wenvaroth test %(n)s" Language="1033" Version="1.0.0"
           Manufacturer="Test" UpgradeCode="{%(upgrade)s}">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="a.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder"><Directory Id="INSTALLDIR" Name="wvtest%(n)s">
        <Component Id="c" Guid="{%(component)s}"><File Id="f" Source="payload.txt"/></Component>
      </Directory></Directory>
    </Directory>
    <Feature Id="F" Level="1"><ComponentRef Id="c"/></Feature>
  </Product>
</Wix>
"""


def build_msi(folder, code, n):
    with open(os.path.join(folder, "payload.txt"), "w") as f:
        f.write("payload\n")
    with open(os.path.join(folder, "p%d.wxs" % n), "w") as f:
        f.write(WXS % dict(code=code, n=n, upgrade=str(uuid.uuid4()).upper(),
                           component=str(uuid.uuid4()).upper()))
    subprocess.run(["wixl", "-o", "p%d.msi" % n, "p%d.wxs" % n], check=True, cwd=folder,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return os.path.join(folder, "p%d.msi" % n)


def setUpModule():
    global prefix, server, msi_dir, PREREQ_MSI, STANDIN
    prefix = Prefix("runs")
    server = KitServer()
    msi_dir = tempfile.mkdtemp(prefix="wvmsi.")
    try:
        for n, code in enumerate([INSTALLED_PRODUCT, INSTALLED_PREREQ]):
            result = prefix.run("msiexec", "/i", prefix.win(build_msi(msi_dir, code, n)), "/qn")
            assert result.returncode == 0, result
        with open(build_msi(msi_dir, MISSING_PREREQ, 2), "rb") as f:
            PREREQ_MSI = f.read()  # served, never installed
        with open(tool("kitsnapshot"), "rb") as f:
            STANDIN = f.read()
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    for figure in FIGURES:
        print("[ measured ] " + figure)
    server.close()
    prefix.close()
    shutil.rmtree(msi_dir, ignore_errors=True)


class Kit:
    """A kit served under a path of its own, so that no run meets another's URL cache, and the
    application folder whose manifest names it. Rows change it before it is served."""
    count = 0

    def __init__(self):
        Kit.count += 1
        self.base = "/k%02d/" % Kit.count
        self.mirror = "/m%02d/" % Kit.count
        # Served path below the kit -> bytes; every name of them is in the kit list.
        self.files = {"setup.exe": STANDIN, "setup.xml": SETUP_XML,
                      "data/data1.cab": RNG.randbytes(300 * 1024),
                      "data/data2.cab": RNG.randbytes(1000),  # into a folder that exists
                      "cabs/part.cab": RNG.randbytes(50 * 1024), "prepare.exe": STANDIN}
        self.mirrored = {"mirror.bin": b"mirror bytes\n" * 100}  # served from their own base
        self.autorun = {"prepare.exe"}
        self.unlisted = ["notlisted.bin"]  # in the manifest only: never fetched
        self.extra_entries = []  # (name, relative path, base): listed, but served nowhere
        self.dependencies = [("prereq.msi", MISSING_PREREQ, "all"),
                             ("have.msi", INSTALLED_PREREQ, "all"), ("xponly.msi", "{0}", "xp")]
        self.prereqs = {PREREQ: PREREQ_MSI}
        self.product = MISSING_PRODUCT
        self.kit_list = None  # bytes to serve instead of the list made from the files
        self.manifest_text = None  # text (or bytes) to write instead of the manifest
        self.expected_setup_xml = None  # None: the kit's setup.xml, patched
        self.app = prefix.new_app()
        self.snapshot = os.path.join(prefix.drive_c, "snapshot%02d" % Kit.count)

    def url(self, path):
        return server.url(self.base + path)

    def fault(self, path, **fault):
        server.faults[self.base + path] = fault

    def listed(self):
        sizes = {p.rsplit("/", 1)[-1]: len(d) for p, d in self.files.items()}
        sizes.update({n: len(d) for n, d in self.mirrored.items()})
        sizes.update({e[0]: 1 for e in self.extra_entries})
        return ("\n".join([self.product] + ["%s %d %032x" % (n, size, i) for i, (n, size)
                                            in enumerate(sizes.items())]) + "\n").encode()

    def manifest(self, encoding="utf-8"):
        def entry(name, relative="", base=""):
            return ('<file name="%s" relative_path="%s" autorun="%s" base_url="%s"/>'
                    % (name, relative, "true" if name in self.autorun else "false", base))
        entries = [entry(p.rsplit("/", 1)[-1], p.rsplit("/", 1)[0] if "/" in p else "")
                   for p in self.files]
        entries += [entry(n, base=server.url(self.mirror)) for n in self.mirrored]
        entries += [entry(n) for n in self.unlisted]
        entries += [entry(*e) for e in self.extra_entries]
        deps = "".join('<dependency filename="%s" product_code="%s" arguments="" os="%s"/>' % d
                       for d in self.dependencies)
        section = ("<base_url>%s</base_url><downloadable_files>%s</downloadable_files>"
                   "<dependencies>%s</dependencies>" % (server.url(self.base), "".join(entries),
                                                        deps))
        return ('<?xml version="1.0" encoding="%s"?>\n<locations><manufacturerName>%s'
                '</manufacturerName><defaultProductName>%s</defaultProductName><x86>%s</x86>'
                '<x64>%s</x64><modifies><modify path="/setup/install/mode" new_val="patched"/>'
                '</modifies></locations>\n' % (encoding, CAPTION, PRODUCT, section, section))

    def serve(self):
        for path, data in list(self.files.items()) + list(self.prereqs.items()):
            server.files[self.base + path] = data
        for name, data in self.mirrored.items():
            server.files[self.mirror + name] = data
        server.files[self.base + "kitmd5.dat"] = (self.kit_list if self.kit_list is not None
                                                  else self.listed())
        text = self.manifest_text if self.manifest_text is not None else self.manifest()
        self.app.write("locations.xml", text)
        self.app.write("contacts.xml", "<contacts/>")

    def expected_kit(self):
        """What setup.exe must find: every file but the autorun ones, the prerequisites, the
        mirrored files and contacts.xml."""
        kit = {p: d for p, d in self.files.items() if p.rsplit("/", 1)[-1] not in self.autorun}
        kit.update(self.prereqs)
        kit.update(self.mirrored)
        kit["contacts.xml"] = b"<contacts/>"
        return kit


def driver(*args, timeout=60):
    """Runs the UI driver (tests/tools/uidriver.cpp); returns (exit code, {key: value})."""
    result = prefix.run(tool("uidriver"), *args, timeout=timeout)
    values = dict(line.rstrip("\r").partition("=")[::2] for line in result.stdout.splitlines()
                  if "=" in line)
    return result.returncode, values


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("no %s within %d s" % (what, timeout))
        time.sleep(0.1)


def answer_quit_with_yes():
    """Closes the window and answers Yes, as a user does; the time of the answer."""
    assert driver("close", PRODUCT)[0] == 0, "no progress window to close"
    code, box = driver("answer", CAPTION, "yes", "10000")
    assert code == 0 and box["text"] == "Are you sure you want to quit?", box
    return time.monotonic()


def assert_no_message_box():
    """The user's own quit must not be answered with a failure message."""
    code, box = driver("answer", CAPTION, "ok", "1500")
    assert code != 0, "a message after the user's quit: %r" % box


def stamp_ms(line):
    h, m, s, ms = (int(v) for v in line[1:13].split(":"))
    return ((h * 60 + m) * 60 + s) * 1000 + ms


class Runs(unittest.TestCase):
    def run_kit(self, kit, outcome, lines=(), requested=None, options="/silent", env=None,
                during=None, caption=CAPTION):
        """Runs the kit once with the standing checks; `outcome` is "handed", "failed" (a kit
        file or later step), "failed_list" (the kit list or earlier), "declined" or "cancelled".
        `lines` must be in the log ("@path@" stands for the kit's URL of path); `requested` is
        the exact list of kit paths fetched; `during(kit, running)` plays the user meanwhile."""
        temp_before = prefix.temp_entries()
        drive_before = self.drive_c_state(kit)
        requests_before = len(server.requests)
        lines_before = len(kit.app.log_lines())  # a second run appends to the same log
        extra = {"WENVAROTH_SNAPSHOT": prefix.win(kit.snapshot),
                 "WENVAROTH_TEST_STALL_MS": str(STALL_MS)}
        extra.update(env or {})
        running = kit.app.start(options, parent_name=PARENT, env=extra)
        try:
            if during:
                during(kit, running)
            code = running.wait(timeout=120)
        finally:
            running.kill()
        kit.ended = time.monotonic()
        kit.requests = [p[len(kit.base):] for _, p in server.requests[requests_before:]
                        if p.startswith(kit.base)]
        log = kit.log = kit.app.log_lines()[lines_before:]
        context = "\n".join(log[-30:])
        self.assertEqual(code, 0, context + running.stderr[-1000:])
        self.assertEqual(prefix.temp_entries(), temp_before, context)
        drive_after = self.drive_c_state(kit)
        changed = sorted(p for p in set(drive_before) | set(drive_after)
                         if drive_before.get(p) != drive_after.get(p))
        self.assertEqual(changed, [], "written outside the kit folder\n" + context)

        started = os.path.exists(os.path.join(kit.snapshot, "started.txt"))
        self.assertEqual(started, outcome == "handed", "setup.exe started: %s\n%s"
                         % (started, context))
        self.assertEqual(any("setupCommandLine" in line for line in log), started, context)
        if started:
            self.assert_kit_arrived_whole(kit)
        reported = [line for line in log if line.startswith("[WENVAROTH] MessageBox(%s, "
                                                            % FAILED_TEXT)]
        if outcome.startswith("failed"):
            self.assertEqual(len(reported), 1, context)
            if caption is not None:
                self.assertEqual(reported[0], "[WENVAROTH] MessageBox(%s, %s)%s" % (
                    FAILED_TEXT, caption, "" if outcome == "failed_list" else " "))
        else:
            self.assertEqual(reported, [], context)
        if outcome == "cancelled":
            self.assertIn("[WENVAROTH] Download canceled!", log)
        for line in lines:
            line = re.sub(r"@([^@]*)@", lambda m: prefix.win(kit.app.folder) if m.group(1) ==
                          "app" else kit.url(m.group(1)), line)
            self.assertTrue(any(l.startswith(line) for l in log), line + "\n" + context)
        if requested is not None:
            self.assertEqual(kit.requests, requested)
        for cache in glob.glob(os.path.join(prefix.drive_c, "users", "*", "AppData", "Local",
                                            "Microsoft", "Windows", "INetCache")):
            shutil.rmtree(cache, ignore_errors=True)
        return kit

    def drive_c_state(self, kit):
        state = {}
        skip = {os.path.join(kit.app.folder, name) for name in ("kitmd5.dat", "test.log")}
        for here, dirs, files in os.walk(prefix.drive_c):
            dirs[:] = [d for d in dirs if d not in PLATFORM_FOLDERS and os.path.join(here, d)
                       not in (prefix.temp, kit.snapshot, os.path.join(kit.app.folder, "parent"))]
            for name in files:
                path = os.path.join(here, name)
                if path not in skip:
                    try:
                        info = os.lstat(path)
                    except FileNotFoundError:
                        continue
                    state[path] = (info.st_size, info.st_mtime_ns)
        return state

    def assert_kit_arrived_whole(self, kit):
        root = os.path.join(kit.snapshot, "kit")
        found = {}
        for here, _, files in os.walk(root):
            for name in files:
                with open(os.path.join(here, name), "rb") as f:
                    found[os.path.relpath(os.path.join(here, name), root).replace(os.sep, "/")] \
                        = f.read()
        expected = kit.expected_kit()
        self.assertEqual(sorted(found), sorted(expected), "setup.exe saw another set of files")
        for path, data in expected.items():
            if path != "setup.xml":
                self.assertTrue(found[path] == data, "%s arrived changed (%d of %d bytes)"
                                % (path, len(found[path]), len(data)))
        if kit.expected_setup_xml is not None:
            self.assertEqual(found["setup.xml"], kit.expected_setup_xml)
        else:
            self.assertIn(b"<mode>patched</mode>", found["setup.xml"])
            self.assertIn(b"<affiliate_source>partner7</affiliate_source>", found["setup.xml"])

    def started(self, kit, name="started.txt"):
        with open(os.path.join(kit.snapshot, name), "rb") as f:
            return f.read().decode("utf-16-le").splitlines()

    # --- a sound server, as the reference for everything below ------------------------------

    def test_sound_kit_is_handed_over_whole(self):
        kit = Kit()
        kit.serve()
        self.run_kit(kit, "handed", lines=[
            "[WENVAROTH] Downloading: @data/data1.cab@ (size %d)" % len(kit.files["data/data1.cab"]),
            "[WENVAROTH] Downloading: @%s@ (size %d)" % (PREREQ, len(PREREQ_MSI)),
            "[WENVAROTH] Product %s installstate: 5" % INSTALLED_PREREQ,
            "[WENVAROTH] Product %s installstate: -1" % MISSING_PRODUCT])
        command, folder = self.started(kit)
        self.assertRegex(folder, r"\\talvotempdir\d\d\\?$")
        folder = folder.rstrip("\\")
        self.assertEqual(command, '%s\\setup.exe /silent /parent_process:"%s"' % (
            folder, prefix.win(os.path.join(kit.app.folder, "parent", PARENT))))
        # The autorun program ran in the kit folder, by its bare path, before the hand-over.
        command, cwd = self.started(kit, "prepare.exe.txt")
        self.assertEqual((command, cwd.rstrip("\\")), (folder + "\\prepare.exe", folder))
        self.assertEqual(kit.requests[0], "kitmd5.dat")
        for path in ("data/data1.cab", PREREQ):
            self.assertIn(path, kit.requests)
        for path in ("dependencies/have.msi", "dependencies/xponly.msi", "notlisted.bin"):
            self.assertNotIn(path, kit.requests)
        self.assertIn(("GET", kit.mirror + "mirror.bin"), server.requests)

    # --- one row per hostile server or broken file ------------------------------------------

    ROWS = [
        # name, change to the kit, outcome, log lines, exact requests (None: not checked)
        ("kit list answered 500", lambda k: k.fault("kitmd5.dat", status=500),
         "failed_list", ["[WENVAROTH] The server answered 500 for @kitmd5.dat@",
                         "[WENVAROTH] Cannot download file. Error :%d" % DOWNLOAD_FAILURE],
         ["kitmd5.dat"]),
        ("kit file answered 404", lambda k: k.fault("data/data1.cab", status=404), "failed",
         ["[WENVAROTH] Cannot download file @data/data1.cab@. Error :%d" % DOWNLOAD_FAILURE],
         None),
        ("prerequisite answered 500", lambda k: k.fault(PREREQ, status=500), "failed", [], None),
        ("kit file reset half way",
         lambda k: k.fault("data/data1.cab", reset_after=150 * 1024), "failed", [], None),
        ("prerequisite reset half way",
         lambda k: k.fault(PREREQ, reset_after=len(PREREQ_MSI) // 2), "failed", [], None),
        # The header announces the whole file; the server ends the connection cleanly half way,
        # and under Wine the transfer call still answers S_OK.
        ("body shorter than its length", lambda k: k.fault("cabs/part.cab", cut_after=25000),
         "failed", [], None),
        ("prerequisite without length", lambda k: k.fault(PREREQ, content_length=None),
         "handed", ["[WENVAROTH] Downloading: @%s@ (size 0)" % PREREQ], None),
        ("kit list of many megabytes", lambda k: setattr(k, "kit_list", k.listed() + b"".join(
            b"junk%07d.bin %d %032x\n" % (i, i, i) for i in range(160000))),
         "failed_list", [], ["kitmd5.dat"]),
        ("kit list of binary garbage",
         lambda k: setattr(k, "kit_list", random.Random(64).randbytes(64 * 1024)),
         "failed_list", [], ["kitmd5.dat"]),
        # Whatever the reader makes of the overlong start, it must not misread the real records
        # that follow into a wrong size or a file outside the kit.
        ("kit list with overlong tokens", lambda k: setattr(k, "kit_list", b"".join(
            [b"{" + b"A" * 5000 + b"}\n", b"n" * 10000 + b".bin 12 " + b"f" * 40 + b"\n",
             b"data1.cab " + b"9" * 300 + b" " + b"e" * 2000 + b"\n"])
            + k.listed().split(b"\n", 1)[1] + b"setup.exe"),
         "failed_list", [], ["kitmd5.dat"]),
        ("empty kit list", lambda k: setattr(k, "kit_list", b""), "failed_list",
         ["[WENVAROTH] The kit list @app@\\kitmd5.dat names no product code"], ["kitmd5.dat"]),
        # A log-in page served with 200 that happens to split into whole records.
        ("captive portal kit list", lambda k: setattr(
            k, "kit_list", b"<html> <body> Please log in </body> </html>\n"),
         "failed_list", ["[WENVAROTH] The kit list @app@\\kitmd5.dat names no product code"],
         ["kitmd5.dat"]),
        ("manifest not well formed",
         lambda k: setattr(k, "manifest_text", k.manifest()[:200]), "failed_list", [], []),
        ("manifest empty", lambda k: setattr(k, "manifest_text", ""), "failed_list", [], []),
        ("manifest without base address",
         lambda k: setattr(k, "manifest_text", re.sub("<base_url>[^<]*</base_url>", "",
                                                      k.manifest())),
         "failed_list", ["[WENVAROTH] The manifest names no download address"], []),
        ("manifest in UTF-16", lambda k: setattr(k, "manifest_text", b"\xff\xfe" + k.manifest(
            "UTF-16").encode("utf-16-le")), "handed", [], None),
        ("kit setup.xml not well formed", lambda k: (
            k.files.update({"setup.xml": b"<setup><install><mode>full</mode></install>"}),
            setattr(k, "expected_setup_xml", b"<setup><install><mode>full</mode></install>")),
         "handed", ["[WENVAROTH] Cannot load xml "], None),
        ("kit product installed", lambda k: setattr(k, "product", INSTALLED_PRODUCT),
         "declined", ["[WENVAROTH] Product %s installstate: 5" % INSTALLED_PRODUCT,
                      "[WENVAROTH] MessageBox(%s, %s). Silent Action taken: NO"
                      % (INSTALLED_TEXT, CAPTION)], ["kitmd5.dat"]),
        ("name leaving the kit folder",
         lambda k: k.files.update({"..\\evil.exe": b"evil"}), "failed",
         ["[WENVAROTH] Refusing file ..\\evil.exe"], ["kitmd5.dat"]),
        ("relative path leaving the kit folder",
         lambda k: k.files.update({"a\\..\\../evil.exe": b"evil"}), "failed",
         ["[WENVAROTH] Refusing file evil.exe"], ["kitmd5.dat"]),
        ("device name", lambda k: k.files.update({"lpt1/con.txt": b"device"}), "failed",
         ["[WENVAROTH] Refusing file con.txt in lpt1"], ["kitmd5.dat"]),
        ("kit file address over 259 characters", lambda k: k.extra_entries.append(
            ("long.bin", "", server.url("/" + "a" * 240))),
         "failed", ["[WENVAROTH] Download address too long for long.bin"], None),
        ("nested relative folder", lambda k: k.files.update(
            {"data/deep/er/data1.cab": k.files.pop("data/data1.cab")}), "handed", [], None),
        # A folder takes the name a kit file is copied to.
        ("copy that fails", lambda k: k.files.update({"x.d/data1.cab": k.files.pop(
            "data/data1.cab"), "x.d": b"file"}), "failed",
         ["[WENVAROTH] Copy file "], None),
        # A file takes the name of a folder to be made.
        ("folder that cannot be made", lambda k: (
            k.files.update({"y.d": b"file"}),
            k.files.update({"y.d/data1.cab": k.files.pop("data/data1.cab")})), "failed",
         ["[WENVAROTH] Cannot create folder "], None),
        # The stall bound is STALL_MS; the time from the last byte to the end is measured below.
        ("stall in the kit list", lambda k: k.fault("kitmd5.dat", stall_after=60),
         "failed_list", ["[WENVAROTH] Nothing received for 4 s from @kitmd5.dat@"], None),
        ("stall in a kit file", lambda k: k.fault("data/data1.cab", stall_after=10240),
         "failed", ["[WENVAROTH] Nothing received for 4 s from @data/data1.cab@"], None),
        ("stall in a prerequisite",
         lambda k: k.fault(PREREQ, stall_after=4096, size_query=False), "failed",
         ["[WENVAROTH] Nothing received for 4 s from @%s@" % PREREQ], None),
        ("stall in a size query",
         lambda k: k.fault(PREREQ, stall_before_headers=True, size_query=True), "failed",
         ["[WENVAROTH] Nothing received for 4 s from @%s@" % PREREQ], None),
        # Longer than the bound, but never a bound without bytes: never cut.
        ("slow transfer past the bound", lambda k: k.fault("cabs/part.cab", rate=8000),
         "handed", [], None),
    ]

    def test_rows(self):
        for name, change, outcome, lines, requested in self.ROWS:
            with self.subTest(name):
                kit = Kit()
                change(kit)
                kit.serve()
                started = time.monotonic()
                self.run_kit(kit, outcome, lines, requested,
                             caption=None if name.startswith("manifest") else CAPTION)
                stalled = [server.stalls[kit.base + p] for p in
                           ("kitmd5.dat", "data/data1.cab", PREREQ) if kit.base + p in server.stalls]
                if stalled:
                    late = kit.ended - stalled[0]
                    FIGURES.append("%s: %.1f s from the last byte to the end of the run (bound "
                                   "%.1f s)" % (name, late, STALL_MS / 1000))
                    self.assertLess(late, STALL_MS / 1000 + 4)
                if name.startswith("slow"):
                    FIGURES.append("%s: run took %.1f s" % (name, kit.ended - started))

    def test_redirects_are_followed_and_loops_end(self):
        for path in ("kitmd5.dat", "data/data1.cab", PREREQ):
            with self.subTest(moved=path):
                kit = Kit()
                kit.serve()
                moved = kit.base + "moved/" + path
                server.files[moved] = server.files[kit.base + path]
                kit.fault(path, status=302, headers={"Location": moved})
                self.run_kit(kit, "handed")
                self.assertIn(("GET", moved), server.requests)
            # Wine's transfer calls and URL open follow a redirect to itself without end, so the
            # program bounds the requests of a transfer and follows the size query's itself.
            with self.subTest(loop=path):
                kit = Kit()
                kit.serve()
                kit.fault(path, status=302, headers={"Location": kit.base + path})
                started = time.monotonic()
                self.run_kit(kit, "failed_list" if path == "kitmd5.dat" else "failed")
                self.assertLess(kit.ended - started, 15)

    def test_kit_folder_takes_the_first_free_number_and_leaves_others_alone(self):
        for taken, outcome in ((5, "handed"), (99, "failed")):
            with self.subTest(taken=taken):
                made = ["talvotempdir%02d" % n for n in range(1, taken + 1)]
                for name in made:
                    os.makedirs(os.path.join(prefix.temp, name))
                    with open(os.path.join(prefix.temp, name, "keep.txt"), "w") as f:
                        f.write("mine")
                try:
                    kit = Kit()
                    kit.serve()
                    self.run_kit(kit, outcome, [] if taken == 5 else [
                        "[WENVAROTH] Cannot create a kit folder under "])
                    if taken == 5:
                        self.assertTrue(self.started(kit)[1].rstrip("\\").endswith(
                            "\\talvotempdir06"))
                    for name in made:
                        self.assertEqual(os.listdir(os.path.join(prefix.temp, name)),
                                         ["keep.txt"])
                finally:
                    for name in made:
                        shutil.rmtree(os.path.join(prefix.temp, name), ignore_errors=True)

    def test_second_run_after_a_stall_meets_revalidation(self):
        kit = Kit()
        kit.serve()
        kit.fault("data/data1.cab", stall_after=10240)
        self.run_kit(kit, "failed")
        for path in list(kit.files) + [PREREQ, "kitmd5.dat"]:
            kit.fault(path, revalidate=True)
        kit.snapshot += "b"
        self.run_kit(kit, "handed")
        # Wine sends no conditional request (measured), so there the 304 path is the unit
        # suite's; on Windows the cached copies of the first run come back as 304.
        FIGURES.append("second run: %d answers 304" % len(
            [p for p in server.not_modified if p.startswith(kit.base)]))

    def test_silent_run_without_a_window_goes_on(self):
        kit = Kit()
        kit.serve()
        # Without a display no window can be made; the transfers need none.
        self.run_kit(kit, "handed", ["[WENVAROTH] Cannot create the progress window ("],
                     env={"DISPLAY": ""})

    # --- the user in front of the window -----------------------------------------------------

    def test_yes_during_a_stall_ends_the_run_at_once(self):
        kit = Kit()
        kit.fault("data/data1.cab", stall_after=10240)
        kit.serve()
        times = {}

        def quit_during_the_stall(kit, running):
            wait_for(lambda: kit.base + "data/data1.cab" in server.stalls, 30, "stall")
            ended = threading.Thread(target=lambda: (running.process.wait(), times.update(
                end=time.monotonic())))
            ended.start()
            times["yes"] = answer_quit_with_yes()
            assert_no_message_box()
            ended.join(10)

        # A bound far beyond the test's length: only the quit can end this transfer.
        self.run_kit(kit, "cancelled", options="", env={"WENVAROTH_TEST_STALL_MS": "60000"},
                     during=quit_during_the_stall)
        closed = [stamp_ms(l) for l in kit.app.log_text().splitlines()
                  if l.endswith("DESTROY WINDOW DONE")]
        ended = [stamp_ms(l) for l in kit.app.log_text().splitlines()
                 if l.endswith("Download canceled!")]
        FIGURES.append("Yes during a stall: %d ms from the window's end to the transfer's end, "
                       "%.1f s from the answer to the end of the run"
                       % (ended[0] - closed[0], times["end"] - times["yes"]))
        self.assertLess(ended[0] - closed[0], 2000)
        self.assertLess(times["end"] - times["yes"], 4)

    def test_yes_during_the_last_autorun_program_means_no_hand_over(self):
        kit = Kit()
        kit.dependencies = []  # so the autorun program runs last
        kit.prereqs = {}
        kit.mirrored = {}
        kit.serve()
        release = os.path.join(kit.snapshot, "release")

        def quit_while_it_runs(kit, running):
            wait_for(lambda: os.path.exists(os.path.join(kit.snapshot, "prepare.exe.txt")), 30,
                     "autorun program")
            answer_quit_with_yes()
            with open(release, "w"):
                pass
            assert_no_message_box()

        self.run_kit(kit, "cancelled", options="", during=quit_while_it_runs,
                     env={"WENVAROTH_AUTORUN_RELEASE": prefix.win(release)})

    # --- the kit folder's removal -----------------------------------------------------------

    def test_file_held_open_is_scheduled_and_gone_after_restart(self):
        kit = Kit()
        kit.files["setup.exe"] = open(tool("fakesetup"), "rb").read()
        kit.serve()
        report = os.path.join(kit.app.folder, "setup-report.txt")
        temp_before = prefix.temp_entries()
        result = kit.app.run("/silent", env={"WENVAROTH_SETUP_HOLD": "6",
                                             "WENVAROTH_SETUP_REPORT": prefix.win(report)})
        self.assertEqual(result.returncode, 0)
        with open(report, encoding="utf-8") as f:
            leaf = [l for l in f.read().splitlines() if l.startswith("kit=")][0].split("\\")[-1]
        # The held file (and so its folder) could not go at once: scheduled for the next start.
        self.assertTrue(os.path.exists(os.path.join(prefix.temp, leaf, "held.dat")))
        pending = prefix.run("reg", "query", r"HKLM\System\CurrentControlSet\Control\Session "
                             r"Manager", "/v", "PendingFileRenameOperations")
        self.assertIn("held.dat", pending.stdout)
        self.assertIn(leaf, pending.stdout)
        time.sleep(7)  # the holder ends
        prefix.run("wineboot", "-r", timeout=120)
        self.assertEqual(prefix.temp_entries(), temp_before)


if __name__ == "__main__":
    unittest.main()
