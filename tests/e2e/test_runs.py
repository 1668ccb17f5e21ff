"""Whole runs against a local web server, sound or hostile: the test variant fetches a kit from
127.0.0.1 and hands it to a stand-in setup.exe (kitsnapshot.exe) that copies the kit folder it
was given; test MSIs (wixl) make a product and a prerequisite installed.

Each row is a kit, a server behaviour and an expected outcome. One runner makes the standing
checks of every run: exit code 0; nothing written outside the kit folder (the URL cache, the copy
of the kit list and the log beside the executable aside); %temp% as before; setup.exe started
only for a whole kit, byte for byte what the server holds; the failure message (string 121, as
its silent log line) exactly once for a failure and never otherwise.
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

from harness import KitServer, Prefix, tool

RNG = random.Random(6)
STALL_MS = 4000  # the test variant's stall bound in these runs
INSTALLED_PRODUCT = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E5F}"  # installed in setUpModule
INSTALLED_PREREQ = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E60}"  # installed in setUpModule
MISSING_PRODUCT = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E61}"
MISSING_PREREQ = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E62}"
PRODUCT, CAPTION = "Example Product", "Example Maker"
FAILED_TEXT = ("There was a problem with downloading one of the installatiion files. "
               "Please check your connection and try again later.")
INSTALLED_TEXT = ("This program is already installed on your system. "
                  "Are you sure you want to continue?")
DOWNLOAD_FAILURE = 0x800C0008  # an HTTP error answer or a short body
SETUP_XML = (b'<?xml version="1.0"?>\r\n<setup><install><mode>ask</mode>'
             b'<affiliate_source>none</affiliate_source></install></setup>\r\n')
PARENT = "product[partner7].exe"
PREREQ, PREREQ_BYTES = "dependencies/prereq.msi", RNG.randbytes(40 * 1024)
# The platform's own folders, which its transfer calls write to.
PLATFORM_FOLDERS = ("INetCache", "Temporary Internet Files", "INetCookies", "Cookies", "History",
                    "IECompatCache", "IEDownloadHistory")
FIGURES = []
WXS = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Product Id="%(code)s" Name="wv%(n)d"
 Language="1033" Version="1.0.0" Manufacturer="Test" UpgradeCode="%(code)s">
 <Package InstallerVersion="200" Compressed="yes"/><Media Id="1" Cabinet="a.cab" EmbedCab="yes"/>
 <Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder"><Directory
  Id="INSTALLDIR" Name="wvtest%(n)d"><Component Id="c" Guid="%(code)s"><File Id="f"
  Source="payload.txt"/></Component></Directory></Directory></Directory>
 <Feature Id="F" Level="1"><ComponentRef Id="c"/></Feature></Product></Wix>"""


def setUpModule():
    global prefix, server, msi_dir, STANDIN
    prefix, server = Prefix("runs"), KitServer()
    msi_dir = tempfile.mkdtemp(prefix="wvmsi.")
    try:
        with open(os.path.join(msi_dir, "payload.txt"), "w") as f:
            f.write("payload\n")
        for n, code in enumerate([INSTALLED_PRODUCT, INSTALLED_PREREQ]):
            with open(os.path.join(msi_dir, "p.wxs"), "w") as f:
                f.write(WXS % dict(code=code, n=n))
            subprocess.run(["wixl", "-o", "p%d.msi" % n, "p.wxs"], check=True, cwd=msi_dir,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            result = prefix.run("msiexec", "/i", prefix.win(os.path.join(msi_dir, "p%d.msi" % n)),
                                "/qn")
            assert result.returncode == 0, result
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
        self.base, self.mirror = "/k%02d/" % Kit.count, "/m%02d/" % Kit.count
        # Kit files, served below the base and listed: path -> bytes.
        self.files = {"setup.exe": STANDIN, "setup.xml": SETUP_XML,
                      "data/data1.cab": RNG.randbytes(300 * 1024),
                      "data/data2.cab": RNG.randbytes(1000),  # into a folder that exists
                      "cabs/part.cab": RNG.randbytes(50 * 1024), "prepare.exe": STANDIN}
        self.mirrored = {"mirror.bin": b"mirror bytes\n" * 100}  # from a base of their own
        self.autorun = {"prepare.exe"}
        self.others = [("notlisted.bin", "", False)]  # (name, base, listed): served nowhere
        self.dependencies = [("prereq.msi", MISSING_PREREQ, "all"),
                             ("have.msi", INSTALLED_PREREQ, "all"), ("xponly.msi", "{0}", "xp")]
        self.prereqs = {PREREQ: PREREQ_BYTES}
        self.product, self.kit_list, self.manifest_text = MISSING_PRODUCT, None, None
        self.setup_xml = None  # what setup.exe must find; None: the kit's own, patched
        self.app = prefix.new_app()
        self.snapshot = os.path.join(prefix.drive_c, "snapshot%02d" % Kit.count)

    def url(self, path):
        return server.url(self.base + path)

    def fault(self, path, **fault):
        server.faults[self.base + path] = fault

    def redirect(self, path, loop=False):
        moved = self.base + path if loop else self.base + "moved/" + path
        server.files[moved] = (self.prereqs.get(path) or self.files.get(path) or self.listed())
        self.fault(path, status=302, headers={"Location": moved})

    def listed(self):
        sizes = {p.rsplit("/", 1)[-1]: len(d) for p, d in self.files.items()}
        sizes.update({n: len(d) for n, d in self.mirrored.items()})
        sizes.update({n: 1 for n, _, listed in self.others if listed})
        return ("\n".join([self.product] + ["%s %d %032x" % (n, size, i) for i, (n, size)
                                            in enumerate(sizes.items())]) + "\n").encode()

    def manifest(self, encoding="utf-8"):
        entries = [(p.rsplit("/", 1)[-1], p.rsplit("/", 1)[0] if "/" in p else "", "")
                   for p in self.files]
        entries += [(n, "", server.url(self.mirror)) for n in self.mirrored]
        entries += [(n, "", base) for n, base, _ in self.others]
        section = ("<base_url>%s</base_url><downloadable_files>%s</downloadable_files><dependencies>"
                   "%s</dependencies>" % (server.url(self.base), "".join(
                       '<file name="%s" relative_path="%s" autorun="%s" base_url="%s"/>' % (
                           n, r, "true" if n in self.autorun else "false", b)
                       for n, r, b in entries), "".join(
                       '<dependency filename="%s" product_code="%s" arguments="" os="%s"/>' % d
                       for d in self.dependencies)))
        return ('<?xml version="1.0" encoding="%s"?>\n<locations><manufacturerName>%s'
                '</manufacturerName><defaultProductName>%s</defaultProductName><x86>%s</x86>'
                '<x64>%s</x64><modifies><modify path="/setup/install/mode" new_val="patched"/>'
                '</modifies></locations>\n' % (encoding, CAPTION, PRODUCT, section, section))

    def serve(self):
        for path, data in list(self.files.items()) + list(self.prereqs.items()):
            server.files[self.base + path] = data
        for name, data in self.mirrored.items():
            server.files[self.mirror + name] = data
        server.files[self.base + "kitmd5.dat"] = (self.listed() if self.kit_list is None
                                                  else self.kit_list)
        self.app.write("locations.xml", self.manifest() if self.manifest_text is None
                       else self.manifest_text)
        self.app.write("contacts.xml", "<contacts/>")

    def expected_kit(self):
        """Every file but the autorun ones, the prerequisites, the mirrored files, contacts.xml."""
        kit = {p: d for p, d in self.files.items() if p.rsplit("/", 1)[-1] not in self.autorun}
        kit.update(self.prereqs, **self.mirrored)
        kit["contacts.xml"] = b"<contacts/>"
        return kit


def driver(*args):
    """Runs the UI driver (tests/tools/uidriver.cpp); returns (exit code, {key: value})."""
    result = prefix.run(tool("uidriver"), *args, timeout=60)
    return result.returncode, dict(line.rstrip("\r").partition("=")[::2]
                                   for line in result.stdout.splitlines() if "=" in line)


def wait_for(condition, what):
    deadline = time.monotonic() + 30
    while not condition():
        assert time.monotonic() < deadline, "no %s within 30 s" % what
        time.sleep(0.1)


def answer_quit_with_yes():
    """Closes the window and answers Yes, as a user does; then no message may follow."""
    assert driver("close", PRODUCT)[0] == 0, "no progress window to close"
    code, box = driver("answer", CAPTION, "yes", "10000")
    assert code == 0 and box["text"] == "Are you sure you want to quit?", box
    answered = time.monotonic()
    code, box = driver("answer", CAPTION, "ok", "1500")
    assert code != 0, "a message after the user's own quit: %r" % box
    return answered


def log_ms(kit, ending):
    """The time stamp, in milliseconds of the day, of the first log line ending so."""
    line = next(l for l in kit.app.log_text().splitlines() if l.endswith(ending))
    h, m, s, ms = (int(v) for v in line[1:13].split(":"))
    return ((h * 60 + m) * 60 + s) * 1000 + ms


def plant_link(kit):
    """A hard link beside the executable under the kit list's name, to a file of the user's."""
    victim = os.path.join(prefix.drive_c, "victim%02d.txt" % Kit.count)
    with open(victim, "w") as f:
        f.write("the user's own file\n")
    os.link(victim, os.path.join(kit.app.folder, "kitmd5.dat"))


def row(name, change, outcome, *lines, requested=None, env=None):
    return name, change, outcome, lines, requested, env


class Runs(unittest.TestCase):
    def run_kit(self, kit, outcome, lines=(), requested=None, options="/silent", env=None,
                during=None):
        """One run with the standing checks. `outcome`: "handed", "failed" (a kit file or later
        step), "failed_list" (the kit list or earlier), "declined" or "cancelled". Each of
        `lines` starts a log line ("@path@" is the kit's URL of path, "@app@" the application
        folder); `requested` is the exact list of kit paths fetched; `during(kit, running)`
        plays the user meanwhile."""
        temp_before, drive_before = prefix.temp_entries(), self.drive_c_state(kit)
        requests_before, lines_before = len(server.requests), len(kit.app.log_lines())
        extra = {"WENVAROTH_SNAPSHOT": prefix.win(kit.snapshot),
                 "WENVAROTH_TEST_STALL_MS": str(STALL_MS), **(env or {})}
        kit.started = time.monotonic()
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
        log = kit.app.log_lines()[lines_before:]  # a second run appends to the same log
        context = "\n".join(log[-30:])
        self.assertEqual(code, 0, context + running.stderr[-1000:])
        self.assertEqual(prefix.temp_entries(), temp_before, context)
        drive_after = self.drive_c_state(kit)
        self.assertEqual(sorted(p for p in set(drive_before) | set(drive_after)
                                if drive_before.get(p) != drive_after.get(p)), [],
                         "written outside the kit folder\n" + context)
        started = os.path.exists(os.path.join(kit.snapshot, "started.txt"))
        self.assertEqual(started, outcome == "handed", "setup.exe started: %s\n%s"
                         % (started, context))
        self.assertEqual(any("setupCommandLine" in line for line in log), started, context)
        if started:
            self.assert_kit_arrived_whole(kit)
        reported = [l for l in log if l.startswith("[WENVAROTH] MessageBox(%s, " % FAILED_TEXT)]
        self.assertEqual(len(reported), 1 if outcome.startswith("failed") else 0, context)
        if reported and kit.manifest_text is None:
            self.assertEqual(reported[0], "[WENVAROTH] MessageBox(%s, %s)%s" % (
                FAILED_TEXT, CAPTION, "" if outcome == "failed_list" else " "))
        if outcome == "cancelled":
            self.assertIn("[WENVAROTH] Download canceled!", log)
        for line in lines:
            line = re.sub(r"@([^@]*)@", lambda m: prefix.win(kit.app.folder)
                          if m.group(1) == "app" else kit.url(m.group(1)), line)
            self.assertTrue(any(l.startswith(line) for l in log), line + "\n" + context)
        if requested is not None:
            self.assertEqual(kit.requests, requested)
        for cache in glob.glob(os.path.join(prefix.drive_c, "users", "*", "AppData", "Local",
                                            "Microsoft", "Windows", "INetCache")):
            shutil.rmtree(cache, ignore_errors=True)

    def drive_c_state(self, kit):
        state = {}
        skip = {os.path.join(kit.app.folder, name) for name in ("kitmd5.dat", "test.log")}
        for here, dirs, files in os.walk(prefix.drive_c):
            dirs[:] = [d for d in dirs if d not in PLATFORM_FOLDERS and os.path.join(here, d)
                       not in (prefix.temp, kit.snapshot, os.path.join(kit.app.folder, "parent"))]
            for path in (os.path.join(here, name) for name in files):
                if path not in skip and os.path.lexists(path):
                    info = os.lstat(path)
                    state[path] = (info.st_size, info.st_mtime_ns)
        return state

    def assert_kit_arrived_whole(self, kit):
        root, found = os.path.join(kit.snapshot, "kit"), {}
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

    def started(self, kit, name="started.txt"):
        """The command line and current folder of setup.exe, or of an autorun program."""
        with open(os.path.join(kit.snapshot, name), "rb") as f:
            command, folder = f.read().decode("utf-16-le").splitlines()
        return command, folder.rstrip("\\")

    def test_sound_kit_is_handed_over_whole(self):
        kit = Kit()
        kit.serve()
        self.run_kit(kit, "handed", [
            "[WENVAROTH] Downloading: @data/data1.cab@ (size %d)" % (300 * 1024),
            "[WENVAROTH] Downloading: @%s@ (size %d)" % (PREREQ, len(PREREQ_BYTES)),
            "[WENVAROTH] Product %s installstate: 5" % INSTALLED_PREREQ,
            "[WENVAROTH] Product %s installstate: -1" % MISSING_PRODUCT])
        command, folder = self.started(kit)
        self.assertRegex(folder, r"\\talvotempdir\d\d$")
        self.assertEqual(command, '%s\\setup.exe /silent /parent_process:"%s"' % (
            folder, prefix.win(os.path.join(kit.app.folder, "parent", PARENT))))
        # The autorun program ran in the kit folder, by its bare path, before the hand-over.
        self.assertEqual(self.started(kit, "prepare.exe.txt"), (folder + "\\prepare.exe", folder))
        self.assertEqual(kit.requests[0], "kitmd5.dat")
        self.assertIn(PREREQ, kit.requests)
        for path in ("dependencies/have.msi", "dependencies/xponly.msi", "notlisted.bin"):
            self.assertNotIn(path, kit.requests)
        self.assertIn(("GET", kit.mirror + "mirror.bin"), server.requests)

    ROWS = [
        row("kit list answered 500", lambda k: k.fault("kitmd5.dat", status=500), "failed_list",
            "[WENVAROTH] The server answered 500 for @kitmd5.dat@",
            "[WENVAROTH] Cannot download file. Error :%d" % DOWNLOAD_FAILURE,
            requested=["kitmd5.dat"]),
        row("kit file answered 404", lambda k: k.fault("data/data1.cab", status=404), "failed",
            "[WENVAROTH] Cannot download file @data/data1.cab@. Error :%d" % DOWNLOAD_FAILURE),
        row("prerequisite answered 500", lambda k: k.fault(PREREQ, status=500), "failed"),
        row("kit file reset half way",
            lambda k: k.fault("data/data1.cab", reset_after=150 * 1024), "failed"),
        row("prerequisite reset half way", lambda k: k.fault(PREREQ, reset_after=20000), "failed"),
        # The length announces the whole file, the server ends cleanly half way: S_OK under Wine.
        row("body shorter than its length", lambda k: k.fault("cabs/part.cab", cut_after=25000),
            "failed"),
        row("prerequisite without length", lambda k: k.fault(PREREQ, content_length=None),
            "handed", "[WENVAROTH] Downloading: @%s@ (size 0)" % PREREQ),
        row("kit list moved", lambda k: k.redirect("kitmd5.dat"), "handed"),
        row("kit file moved", lambda k: k.redirect("data/data1.cab"), "handed"),
        row("prerequisite moved", lambda k: k.redirect(PREREQ), "handed"),
        # Wine follows a redirect to itself without end: the program bounds every fetch's.
        row("kit list redirected to itself", lambda k: k.redirect("kitmd5.dat", loop=True),
            "failed_list"),
        row("kit file redirected to itself", lambda k: k.redirect("data/data1.cab", loop=True),
            "failed"),
        row("prerequisite redirected to itself", lambda k: k.redirect(PREREQ, loop=True),
            "failed"),
        row("kit list of many megabytes", lambda k: setattr(k, "kit_list", k.listed() + b"".join(
            b"junk%07d.bin %d %032x\n" % (i, i, i) for i in range(160000))), "failed_list",
            requested=["kitmd5.dat"]),
        row("kit list of binary garbage", lambda k: setattr(
            k, "kit_list", random.Random(64).randbytes(64 * 1024)), "failed_list",
            requested=["kitmd5.dat"]),
        # Whatever the reader makes of the overlong start, it must not misread the real records
        # that follow into a wrong size or a file outside the kit.
        row("kit list with overlong tokens", lambda k: setattr(k, "kit_list", b"".join(
            [b"{" + b"A" * 5000 + b"}\n", b"n" * 10000 + b".bin 12 " + b"f" * 40 + b"\n",
             b"data1.cab " + b"9" * 300 + b" " + b"e" * 2000 + b"\n"])
            + k.listed().split(b"\n", 1)[1] + b"setup.exe"), "failed_list",
            requested=["kitmd5.dat"]),
        row("empty kit list", lambda k: setattr(k, "kit_list", b""), "failed_list",
            "[WENVAROTH] The kit list @app@\\kitmd5.dat names no product code",
            requested=["kitmd5.dat"]),
        # A log-in page answered with 200 that happens to split into whole records.
        row("captive portal kit list", lambda k: setattr(
            k, "kit_list", b"<html> <body> Please log in </body> </html>\n"), "failed_list",
            "[WENVAROTH] The kit list @app@\\kitmd5.dat names no product code",
            requested=["kitmd5.dat"]),
        # The runner's check that nothing outside the kit folder changed covers the link's target.
        row("kit list name planted as a link", plant_link, "handed"),
        row("manifest not well formed", lambda k: setattr(k, "manifest_text", k.manifest()[:200]),
            "failed_list", requested=[]),
        row("manifest empty", lambda k: setattr(k, "manifest_text", ""), "failed_list",
            requested=[]),
        row("manifest without base address", lambda k: setattr(k, "manifest_text", re.sub(
            "<base_url>[^<]*</base_url>", "", k.manifest())), "failed_list",
            "[WENVAROTH] The manifest names no download address", requested=[]),
        row("manifest in UTF-16", lambda k: setattr(k, "manifest_text", b"\xff\xfe" + k.manifest(
            "UTF-16").encode("utf-16-le")), "handed"),
        row("kit setup.xml not well formed", lambda k: (
            k.files.update({"setup.xml": b"<setup><install><mode>full</mode></install>"}),
            setattr(k, "setup_xml", k.files["setup.xml"])), "handed",
            "[WENVAROTH] Cannot load xml "),
        row("kit product installed", lambda k: setattr(k, "product", INSTALLED_PRODUCT),
            "declined", "[WENVAROTH] Product %s installstate: 5" % INSTALLED_PRODUCT,
            "[WENVAROTH] MessageBox(%s, %s). Silent Action taken: NO" % (INSTALLED_TEXT, CAPTION),
            requested=["kitmd5.dat"]),
        row("name leaving the kit folder", lambda k: k.files.update({"..\\evil.exe": b"evil"}),
            "failed", "[WENVAROTH] Refusing file ..\\evil.exe", requested=["kitmd5.dat"]),
        row("relative path leaving the kit folder",
            lambda k: k.files.update({"a\\..\\../evil.exe": b"evil"}), "failed",
            "[WENVAROTH] Refusing file evil.exe", requested=["kitmd5.dat"]),
        row("device name", lambda k: k.files.update({"lpt1/con.txt": b"device"}), "failed",
            "[WENVAROTH] Refusing file con.txt in lpt1", requested=["kitmd5.dat"]),
        row("kit file address over 259 characters", lambda k: k.others.append(
            ("long.bin", server.url("/" + "a" * 240), True)), "failed",
            "[WENVAROTH] Download address too long for long.bin"),
        row("nested relative folder", lambda k: k.files.update(
            {"data/deep/er/data1.cab": k.files.pop("data/data1.cab")}), "handed"),
        # A folder takes the name a kit file is copied to.
        row("copy that fails", lambda k: k.files.update(
            {"x.d/data1.cab": k.files.pop("data/data1.cab"), "x.d": b"file"}), "failed",
            "[WENVAROTH] Copy file "),
        # A file takes the name of a folder to be made.
        row("folder that cannot be made", lambda k: (k.files.update({"y.d": b"file"}),
            k.files.update({"y.d/data1.cab": k.files.pop("data/data1.cab")})), "failed",
            "[WENVAROTH] Cannot create folder "),
        row("stall in the kit list", lambda k: k.fault("kitmd5.dat", stall_after=60),
            "failed_list", "[WENVAROTH] Nothing received for 4 s from @kitmd5.dat@"),
        row("stall in a kit file", lambda k: k.fault("data/data1.cab", stall_after=10240),
            "failed", "[WENVAROTH] Nothing received for 4 s from @data/data1.cab@"),
        row("stall in a prerequisite", lambda k: k.fault(PREREQ, stall_after=4096,
                                                         size_query=False),
            "failed", "[WENVAROTH] Nothing received for 4 s from @%s@" % PREREQ),
        row("stall in a size query", lambda k: k.fault(PREREQ, stall_before_headers=True,
                                                       size_query=True),
            "failed", "[WENVAROTH] Nothing received for 4 s from @%s@" % PREREQ),
        # Without a display no window can be made; the transfers need none.
        row("silent run without a window", lambda k: None, "handed",
            "[WENVAROTH] Cannot create the progress window (", env={"DISPLAY": ""}),
        # Longer than the bound, but never a bound without bytes: never cut.
        row("slow transfer past the bound", lambda k: k.fault("cabs/part.cab", rate=8000),
            "handed"),
    ]

    def test_rows(self):
        for name, change, outcome, lines, requested, env in self.ROWS:
            with self.subTest(name):
                kit = Kit()
                change(kit)
                kit.serve()
                self.run_kit(kit, outcome, lines, requested, env=env)
                stalled = [t for p, t in server.stalls.items() if p.startswith(kit.base)]
                if stalled:
                    FIGURES.append("%s: %.1f s from the last byte to the end of the run (bound "
                                   "%.1f s)" % (name, kit.ended - stalled[0], STALL_MS / 1000))
                    self.assertLess(kit.ended - stalled[0], STALL_MS / 1000 + 4)
                if "moved" in name:
                    self.assertIn("moved/", " ".join(kit.requests))
                if "redirect" in name or "slow" in name:
                    FIGURES.append("%s: run took %.1f s" % (name, kit.ended - kit.started))
                    self.assertLess(kit.ended - kit.started, 15)

    def test_kit_folder_takes_the_first_free_number_and_leaves_others_alone(self):
        for taken, outcome in ((5, "handed"), (99, "failed")):
            made = [os.path.join(prefix.temp, "talvotempdir%02d" % n) for n in range(1, taken + 1)]
            for folder in made:
                os.makedirs(folder)
                with open(os.path.join(folder, "keep.txt"), "w") as f:
                    f.write("mine")
            try:
                kit = Kit()
                kit.serve()
                self.run_kit(kit, outcome, [] if taken == 5 else [
                    "[WENVAROTH] Cannot create a kit folder under "])
                if taken == 5:
                    self.assertTrue(self.started(kit)[1].endswith("\\talvotempdir06"))
                for folder in made:
                    self.assertEqual(os.listdir(folder), ["keep.txt"])
            finally:
                for folder in made:
                    shutil.rmtree(folder, ignore_errors=True)

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
        FIGURES.append("second run: %d answers 304"
                       % sum(p.startswith(kit.base) for p in server.not_modified))

    def test_yes_during_a_stall_ends_the_run_at_once(self):
        kit, times = Kit(), {}
        kit.fault("data/data1.cab", stall_after=10240)
        kit.serve()

        def quit_during_the_stall(kit, running):
            wait_for(lambda: kit.base + "data/data1.cab" in server.stalls, "stall")
            end = threading.Thread(target=lambda: times.update(end=(running.process.wait(),
                                                                    time.monotonic())[1]))
            end.start()
            times["yes"] = answer_quit_with_yes()
            end.join(10)

        # A bound far beyond the test's length: only the quit can end this transfer.
        self.run_kit(kit, "cancelled", options="", env={"WENVAROTH_TEST_STALL_MS": "60000"},
                     during=quit_during_the_stall)
        transfer = log_ms(kit, "Download canceled!") - log_ms(kit, "DESTROY WINDOW DONE")
        FIGURES.append("Yes during a stall: %d ms from the window's end to the transfer's end, "
                       "%.1f s from the answer to the end of the run"
                       % (transfer, times["end"] - times["yes"]))
        self.assertLess(transfer, 2000)
        self.assertLess(times["end"] - times["yes"], 4)

    def test_yes_during_the_last_autorun_program_means_no_hand_over(self):
        kit = Kit()
        kit.dependencies, kit.prereqs, kit.mirrored = [], {}, {}  # the autorun program is last
        kit.serve()
        release = os.path.join(kit.snapshot, "release")

        def quit_while_it_runs(kit, running):
            wait_for(lambda: os.path.exists(os.path.join(kit.snapshot, "prepare.exe.txt")),
                     "autorun program")
            answer_quit_with_yes()
            open(release, "w").close()

        self.run_kit(kit, "cancelled", options="", during=quit_while_it_runs,
                     env={"WENVAROTH_AUTORUN_RELEASE": prefix.win(release)})

    def test_file_held_open_is_scheduled_and_gone_after_restart(self):
        kit = Kit()
        kit.files["setup.exe"] = open(tool("fakesetup"), "rb").read()
        kit.serve()
        report, temp_before = os.path.join(kit.app.folder, "report.txt"), prefix.temp_entries()
        result = kit.app.run("/silent", env={"WENVAROTH_SETUP_HOLD": "6",
                                             "WENVAROTH_SETUP_REPORT": prefix.win(report)})
        self.assertEqual(result.returncode, 0)
        with open(report, encoding="utf-8") as f:
            leaf = next(l for l in f.read().splitlines() if l.startswith("kit=")).split("\\")[-1]
        # The held file (and so its folder) could not go at once: scheduled for the next start.
        self.assertTrue(os.path.exists(os.path.join(prefix.temp, leaf, "held.dat")))
        pending = prefix.run("reg", "query", r"HKLM\System\CurrentControlSet\Control\Session "
                             r"Manager", "/v", "PendingFileRenameOperations").stdout
        self.assertIn("held.dat", pending)
        self.assertIn(leaf, pending)
        time.sleep(7)  # the holder ends
        prefix.run("wineboot", "-r", timeout=120)
        self.assertEqual(prefix.temp_entries(), temp_before)


if __name__ == "__main__":
    unittest.main()
