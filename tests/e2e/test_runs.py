"""Whole runs against a local web server, sound or hostile: the test variant fetches a kit from
127.0.0.1 and hands it to the stand-in setup.exe, which copies the kit folder it was given; a test
MSI (wixl) makes a product installed. Each row is a kit, a server behaviour and an expected
outcome; the harness's runner makes the standing checks of every run.

The prefix's %temp% is "C:\\users\\First Last\\Temp" (HKCU\\Environment TEMP and TMP), as under
"C:\\Documents and Settings": Windows, searching along an unquoted path with a blank, would start
"C:\\users\\First.exe", where a copy of the stand-in waits; the runner sees any program but the
kit's that ran.
"""
import glob
import os
import random
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import (CAPTION, LAUNCHER, MISSING_PRODUCT, PARENT, PENDING, RNG, STALL_MS, Kit,
                     KitRun, KitServer, Prefix, quit_with_yes, tool, wait_for)

INSTALLED = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E5F}"  # installed in setUpModule
INSTALLED_TEXT = ("This program is already installed on your system. "
                  "Are you sure you want to continue?")
UNWRITABLE_TEXT = ("This program cannot write to its own folder. Please copy it, with the files "
                   "beside it, to a folder you can write to and start it again.")
DOWNLOAD_FAILURE = 0x800C0008  # an HTTP error answer or a short body
PREREQ, PREREQ_BYTES = "dependencies/prereq.msi", RNG.randbytes(40 * 1024)
WXS = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Product Id="%s" Name="wv" Language="1033"
 Version="1.0.0" Manufacturer="Test" UpgradeCode="%s"><Package InstallerVersion="200"
 Compressed="yes"/><Media Id="1" Cabinet="a.cab" EmbedCab="yes"/><Directory Id="TARGETDIR"
 Name="SourceDir"><Directory Id="ProgramFilesFolder"><Directory Id="INSTALLDIR" Name="wvtest">
 <Component Id="c" Guid="%s"><File Id="f" Source="p.wxs"/></Component></Directory></Directory>
 </Directory><Feature Id="F" Level="1"><ComponentRef Id="c"/></Feature></Product></Wix>"""


def setUpModule():
    global prefix, server
    prefix, server = Prefix("runs"), KitServer()
    msi_dir = tempfile.mkdtemp(prefix="wvmsi.")
    try:
        for name in ("TEMP", "TMP"):
            assert prefix.run("reg", "add", "HKCU\\Environment", "/v", name, "/t", "REG_SZ",
                              "/d", "C:\\users\\First Last\\Temp", "/f").returncode == 0
        prefix.temp = os.path.join(prefix.drive_c, "users", "First Last", "Temp")
        os.makedirs(prefix.temp, exist_ok=True)
        shutil.copy(tool("fakesetup"), os.path.join(prefix.drive_c, "users", "First.exe"))
        with open(os.path.join(msi_dir, "p.wxs"), "w") as f:
            f.write(WXS % (INSTALLED, INSTALLED, INSTALLED))
        subprocess.run(["wixl", "-o", "p.msi", "p.wxs"], check=True, cwd=msi_dir,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        result = prefix.run("msiexec", "/i", prefix.win(os.path.join(msi_dir, "p.msi")), "/qn")
        assert result.returncode == 0, result.stdout + result.stderr
    except BaseException:
        tearDownModule()
        raise
    finally:
        shutil.rmtree(msi_dir, ignore_errors=True)


def tearDownModule():
    server.close()
    prefix.close()


def full_kit():
    """A kit with every kind of entry: nested and existing folders, an autorun program, a
    mirrored file, an unlisted one, prerequisites missing, installed and for another system."""
    kit = Kit(prefix, server)
    kit.files.update({"data/data2.cab": RNG.randbytes(1000), "prepare.exe": kit.files["setup.exe"],
                      "cabs/part.cab": RNG.randbytes(50 * 1024)})
    kit.mirrored = {"mirror.bin": b"mirror bytes\n" * 100}
    kit.autorun = {"prepare.exe"}
    kit.others = [("notlisted.bin", "", False)]
    kit.dependencies = [("xponly.msi", "{0}", "xp"), ("prereq.msi", MISSING_PRODUCT, "all"),
                        ("have.msi", INSTALLED, "all")]
    kit.prereqs = {PREREQ: PREREQ_BYTES}
    return kit


def redirect(kit, path, loop=False):
    moved = kit.base + path if loop else kit.base + "moved/" + path
    server.files[moved] = kit.prereqs.get(path) or kit.files.get(path) or kit.listed()
    kit.fault(path, status=302, headers={"Location": moved})


def set_kit_list(text):
    return lambda kit: setattr(kit, "kit_list", text(kit) if callable(text) else text)


def set_manifest(text):
    return lambda kit: setattr(kit, "manifest_text", text(kit))


def plant_link(kit):
    """A hard link beside the executable under the kit list's name, to a file of the user's."""
    victim = os.path.join(prefix.drive_c, "victim%02d.txt" % Kit.count)
    with open(victim, "w") as f:
        f.write("the user's own file\n")
    os.link(victim, os.path.join(kit.app.folder, "kitmd5.dat"))
    return victim


def swap_kit_list(kit):
    """The unelevated program: a link planted under the kit list's name, and while the slowed
    list arrives, the copy made anew in its place swapped for the link again."""
    kit.fault("kitmd5.dat", rate=100)
    local, victim = os.path.join(kit.app.folder, "kitmd5.dat"), plant_link(kit)

    def swap(kit, running):
        wait_for(lambda: os.path.exists(local) and os.stat(local).st_nlink == 1, "a new copy")
        os.unlink(local)
        os.link(victim, local)
    kit.during = swap


def plant_folder_links(kit):
    """The unelevated program: while a slowed kit file arrives, the prerequisites' folder name in
    the kit folder becomes a Unix symbolic link (a reparse point to Wine) to a folder of the
    user's, and another name one to an empty folder."""
    outside = os.path.join(prefix.drive_c, "outside%02d" % Kit.count)
    os.makedirs(os.path.join(outside, "empty"))
    open(os.path.join(outside, "own.txt"), "w").close()
    kit.fault("data/data1.cab", rate=100 * 1024)

    def plant(kit, running):
        wait_for(lambda: kit.base + "data/data1.cab" in [p for _, p, _ in server.requests],
                 "transfer")
        folder = glob.glob(os.path.join(prefix.temp, "talvotempdir*"))[0]
        os.symlink(outside, os.path.join(folder, "dependencies"))
        os.symlink(os.path.join(outside, "empty"), os.path.join(folder, "spare"))
    kit.during, kit.left = plant, True


def seal_app_folder(kit):
    """The application folder made read-only (Linux's immutable flag: Wine runs as root here),
    with the log file and the parent program made beforehand."""
    kit.app.write("test.log", "")
    os.makedirs(os.path.join(kit.app.folder, "parent"))
    shutil.copy(LAUNCHER, os.path.join(kit.app.folder, "parent", PARENT))
    kit.sealed = True


def row(name, change, outcome, *lines, requested=None, env=None):
    return name, change, outcome, lines, requested, env


LIST_ONLY = ["kitmd5.dat"]
LONG_STALL = {"WENVAROTH_TEST_STALL_MS": "60000"}  # only the quit or another bound ends a run


class Runs(KitRun):
    def test_sound_kit_is_handed_over_whole(self):
        kit = full_kit()
        kit.serve()
        log = self.run_kit(kit, "handed", [
            "[WENVAROTH] Downloading: @data/data1.cab@ (size %d)" % (300 * 1024),
            "[WENVAROTH] Downloading: @%s@ (size %d)" % (PREREQ, len(PREREQ_BYTES)),
            "[WENVAROTH] Product %s installstate: 5" % INSTALLED,
            "[WENVAROTH] Product %s installstate: -1" % MISSING_PRODUCT,
            "[WENVAROTH] Kit folder C:\\users\\First Last\\Temp\\talvotempdir01: protected, "
            "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"])
        command, folder = kit.started()
        # Wine keeps only what Unix permissions can hold: the protected folder reads back without
        # the Everyone entry that a folder of default security carries.
        with open(os.path.join(kit.snapshot, "setup"), encoding="utf-8") as f:
            security = f.read().splitlines()[2]
        self.assertTrue(security.startswith("D:(A;OICI;FA;;;SY)") and ";WD)" not in security,
                        security)
        self.assertEqual(folder, "C:\\users\\First Last\\Temp\\talvotempdir01")
        self.assertEqual(command, '%s\\setup.exe /silent /parent_process:"%s"' % (
            folder, prefix.win(os.path.join(kit.app.folder, "parent", PARENT))))
        # The autorun program ran in the kit folder, by its bare path, before the hand-over;
        # each program received the command line the log shows.
        self.assertEqual(kit.started(".prepare.exe"), (folder + "\\prepare.exe", folder))
        logged = [re.sub(r"^\[WENVAROTH\] (RunCommand\(cmd=|setupCommandLine\()", "", line)
                  .rsplit(", wait=", 1)[0].rstrip(")") for line in log
                  if re.match(r"\[WENVAROTH\] (RunCommand|setupCommandLine)\(", line)]
        self.assertEqual(logged, [folder + "\\prepare.exe", command, command])
        # A 64-bit process has no file-system redirection to switch around the programs it starts.
        self.assertEqual([l for l in log if l.startswith("[WENVAROTH] Starting ")], [
            "[WENVAROTH] Starting %s\\%s (no redirection)" % (folder, n)
            for n in ("prepare.exe", "setup.exe")])
        # What the server received: the kit list, the missing prerequisite's size query (with its
        # own user agent), the listed kit files in the manifest's order, the mirrored one from its
        # own base, then the prerequisite; nothing installed, for another system or unlisted.
        paths = ["kitmd5.dat", PREREQ] + list(kit.files) + ["mirror.bin", PREREQ]
        self.assertEqual([(method, path.split("/", 2)[2], agent == "TalvoDownload")
                          for method, path, agent in kit.served],
                         [("GET", path, n == 1) for n, path in enumerate(paths)])
        self.assertEqual(kit.served[-2][1], kit.mirror + "mirror.bin")

    # Kit list, kit files and prerequisites take three paths: the kit list its own transfer to a
    # file, kit files and prerequisites one transfer to the cache, prerequisites first a size
    # query of their own. A fault of the transfer itself has a row for each distinct path.
    ROWS = [
        row("kit list answered 500", lambda k: k.fault("kitmd5.dat", status=500), "failed_list",
            "[WENVAROTH] The server answered 500 for @kitmd5.dat@",
            "[WENVAROTH] Cannot download file. Error :%d" % DOWNLOAD_FAILURE, requested=LIST_ONLY),
        row("kit file answered 404", lambda k: k.fault("data/data1.cab", status=404), "failed",
            "[WENVAROTH] The server answered 404 for @data/data1.cab@",
            "[WENVAROTH] Cannot download file @data/data1.cab@. Error :%d" % DOWNLOAD_FAILURE),
        # The length announces the whole file, the server ends half way: S_OK under Wine.
        row("body shorter than its length", lambda k: k.fault("cabs/part.cab", cut_after=25000),
            "failed"),
        row("prerequisite without length", lambda k: k.fault(PREREQ, no_length=True),
            "handed", "[WENVAROTH] Downloading: @%s@ (size 0)" % PREREQ),
        row("kit list moved", lambda k: redirect(k, "kitmd5.dat"), "handed"),
        row("prerequisite moved", lambda k: redirect(k, PREREQ), "handed"),
        # A failure ends the run wherever it stands in the queue: the good one after it is not
        # fetched.
        row("prerequisite failing before a good one", lambda k: k.dependencies.insert(
            1, ("gone.msi", MISSING_PRODUCT, "all")), "failed",
            "[WENVAROTH] The server answered 404 for @dependencies/gone.msi@"),
        # Wine follows a redirect to itself without end: the program bounds every fetch's. No
        # byte arrives meanwhile, so the stall bound is set beyond the run's time limit.
        row("kit list redirected to itself", lambda k: redirect(k, "kitmd5.dat", loop=True),
            "failed_list", env=LONG_STALL),
        row("prerequisite redirected to itself", lambda k: redirect(k, PREREQ, loop=True),
            "failed", env=LONG_STALL),
        row("kit list of many megabytes", set_kit_list(lambda k: k.listed() + b"".join(
            b"junk%07d.bin %d %032x\n" % (i, i, i) for i in range(160000))), "failed_list",
            requested=LIST_ONLY),
        row("kit list of binary garbage", set_kit_list(random.Random(64).randbytes(64 * 1024)),
            "failed_list", requested=LIST_ONLY),
        # Whatever the reader makes of the overlong start, it must not misread the real records
        # that follow into a wrong size or a file outside the kit.
        row("kit list with overlong tokens", set_kit_list(lambda k: b"".join(
            [b"{" + b"A" * 5000 + b"}\n", b"n" * 10000 + b".bin 12 " + b"f" * 40 + b"\n",
             b"data1.cab " + b"9" * 300 + b" " + b"e" * 2000 + b"\n"])
            + k.listed().split(b"\n", 1)[1] + b"setup.exe"), "failed_list", requested=LIST_ONLY),
        # A log-in page answered with 200 that happens to split into whole records.
        row("captive portal kit list", set_kit_list(
            b"<html> <body> Please log in </body> </html>\n"), "failed_list",
            "[WENVAROTH] The kit list @app@\\kitmd5.dat names no product code",
            requested=LIST_ONLY),
        # The runner's check that nothing outside the kit folder changed covers the link's target.
        row("kit list name planted as a link, and swapped in while it arrives", swap_kit_list,
            "handed"),
        row("application folder not writable", seal_app_folder, "unwritable",
            "[WENVAROTH] Cannot create local file @app@\\kitmd5.dat",
            "[WENVAROTH] MessageBox(%s, %s)" % (UNWRITABLE_TEXT, CAPTION), requested=[]),
        # Refused where the kit needs it, and never removed through (Wine removes no such link).
        row("kit folder's links planted while it fills", plant_folder_links, "failed",
            "[WENVAROTH] Refusing link ", "[WENVAROTH] Link left: ",
            "[WENVAROTH] Folder left, kept by a link in it: "),
        row("manifest not well formed", set_manifest(lambda k: k.manifest()[:200]),
            "failed_list", requested=[]),
        row("manifest without base address", set_manifest(lambda k: re.sub(
            "<base_url>[^<]*</base_url>", "", k.manifest())), "failed_list",
            "[WENVAROTH] The manifest names no download address", requested=[]),
        row("manifest in UTF-16", set_manifest(
            lambda k: b"\xff\xfe" + k.manifest("UTF-16").encode("utf-16-le")), "handed"),
        row("kit setup.xml not well formed", lambda k: (
            k.files.update({"setup.xml": b"<setup><install><mode>full</mode></install>"}),
            setattr(k, "setup_xml", k.files["setup.xml"])), "handed",
            "[WENVAROTH] Cannot load xml "),
        row("kit product installed", lambda k: setattr(k, "product", INSTALLED),
            "declined", "[WENVAROTH] Product %s installstate: 5" % INSTALLED,
            "[WENVAROTH] MessageBox(%s, %s). Silent Action taken: NO" % (INSTALLED_TEXT, CAPTION),
            requested=LIST_ONLY),
        row("name leaving the kit folder", lambda k: k.files.update({"..\\evil.exe": b"evil"}),
            "failed", "[WENVAROTH] Refusing file ..\\evil.exe", requested=LIST_ONLY),
        row("relative path leaving the kit folder",
            lambda k: k.files.update({"a\\..\\../evil.exe": b"evil"}), "failed",
            "[WENVAROTH] Refusing file evil.exe", requested=LIST_ONLY),
        row("device name", lambda k: k.files.update({"lpt1/con.txt": b"device"}), "failed",
            "[WENVAROTH] Refusing file con.txt in lpt1", requested=LIST_ONLY),
        row("kit file address over 259 characters", lambda k: k.others.append(
            ("long.bin", server.url("/" + "a" * 240), True)), "failed",
            "[WENVAROTH] Download address too long for long.bin"),
        row("nested relative folder", lambda k: k.files.update(
            {"data/deep/er/data1.cab": k.files.pop("data/data1.cab")}), "handed"),
        row("relative paths with empty and dot segments", lambda k: (
            k.files.update({"x/y/nested.cab": b"nested"}),
            setattr(k, "manifest_text", k.manifest().replace('"cabs"', '"./cabs\\"')
                    .replace('"data"', '"data/"').replace('"x/y"', '"x//./y/"'))), "handed"),
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
        # A prerequisite's first request is its size query: one that fails or never answers
        # leaves the size unknown, and the transfer's own length decides.
        row("stall in a size query", lambda k: k.fault(PREREQ, stall_before_headers=True, first=1),
            "handed", "[WENVAROTH] Nothing received for 4 s from @%s@" % PREREQ),
        row("size query answered 404", lambda k: k.fault(PREREQ, status=404, first=1), "handed",
            "[WENVAROTH] Downloading: @%s@ (size 0)" % PREREQ),
        row("size query answered 500", lambda k: k.fault(PREREQ, status=500, first=1), "handed",
            "[WENVAROTH] Downloading: @%s@ (size 0)" % PREREQ),
        # Sizes that can't be real ones: the transfer's own length decides.
        row("kit list sizes 0 and 2147483647", set_kit_list(lambda k: k.listed().replace(
            b"data2.cab 1000 ", b"data2.cab 0 ").replace(b"part.cab 51200 ",
                                                          b"part.cab 2147483647 ")), "handed",
            "[WENVAROTH] Downloading: @cabs/part.cab@ (size 2147483647)"),
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
                kit = full_kit()
                change(kit)
                kit.serve()
                if kit.sealed and subprocess.run(["chattr", "+i", kit.app.folder]).returncode:
                    self.skipTest("this file system cannot make a folder read-only for root")
                try:
                    self.run_kit(kit, outcome, lines, requested, env=env, during=kit.during,
                                 left=kit.left)
                finally:
                    if kit.sealed:
                        subprocess.run(["chattr", "-i", kit.app.folder], check=True)
                # From the stall's last byte to the end of the run: the bound and little more.
                for path, stalled in server.stalls.items():
                    if path.startswith(kit.base):
                        self.assertLess(kit.ended - stalled, STALL_MS / 1000 + 4)
                if "moved" in name:
                    self.assertIn("moved/", " ".join(kit.requests))
                if "redirect" in name or "slow" in name:
                    self.assertLess(kit.ended - kit.started_at, 15)

    def test_kit_folder_takes_the_first_free_number_and_leaves_others_alone(self):
        for taken, outcome in ((5, "handed"), (99, "failed")):
            made = [os.path.join(prefix.temp, "talvotempdir%02d" % n) for n in range(1, taken + 1)]
            for folder in made:
                os.makedirs(folder)
                with open(os.path.join(folder, "keep.txt"), "w") as f:
                    f.write("mine")
            try:
                kit = full_kit()
                kit.serve()
                self.run_kit(kit, outcome, [] if taken == 5 else [
                    "[WENVAROTH] Cannot create a kit folder under "])
                if taken == 5:
                    self.assertTrue(kit.started()[1].endswith("\\talvotempdir06"))
                for folder in made:
                    self.assertEqual(os.listdir(folder), ["keep.txt"])
            finally:
                for folder in made:
                    shutil.rmtree(folder, ignore_errors=True)

    def test_second_run_after_a_failure_hands_over(self):
        # The first run leaves its kit-list copy and the URL cache behind; the second run in the
        # same folder must replace the one and, where the client revalidates, take a 304 answer
        # for a cached copy that is whole (Wine sends no conditional request: the unit suite
        # sees the 304 itself).
        kit = full_kit()
        kit.fault("data/data1.cab", status=404)
        kit.serve()
        self.run_kit(kit, "failed")
        for path in list(kit.files) + list(kit.prereqs) + ["kitmd5.dat"]:
            kit.fault(path, revalidate=True)
        kit.snapshot += "b"
        self.run_kit(kit, "handed")

    def test_yes_during_a_stall_ends_the_run_at_once(self):
        kit = full_kit()
        kit.fault("data/data1.cab", stall_after=10240)
        kit.serve()

        def quit_during_the_stall(kit, running):
            wait_for(lambda: kit.base + "data/data1.cab" in server.stalls, "stall")
            kit.answered = quit_with_yes(prefix)

        # A bound far beyond the test's length: only the quit can end this transfer.
        self.run_kit(kit, "cancelled", options="", during=quit_during_the_stall,
                     env=LONG_STALL)
        # From the window's end to the transfer's end.
        self.assertLess(log_ms(kit, "Download canceled!") - log_ms(kit, "DESTROY WINDOW DONE"),
                        2000)
        self.assertLess(kit.ended - kit.answered, 4)

    def test_yes_during_the_last_autorun_program_means_no_hand_over(self):
        kit = full_kit()
        kit.dependencies, kit.prereqs, kit.mirrored = [], {}, {}  # the autorun program is last
        kit.serve()
        release = os.path.join(kit.snapshot, "release")

        def quit_while_it_runs(kit, running):
            wait_for(lambda: os.path.exists(os.path.join(kit.snapshot, "setup.prepare.exe")),
                     "autorun program")
            quit_with_yes(prefix)
            open(release, "w").close()

        self.run_kit(kit, "cancelled", options="", during=quit_while_it_runs,
                     env={"WENVAROTH_AUTORUN_RELEASE": prefix.win(release)})

    def test_file_held_open_is_scheduled_and_gone_after_restart(self):
        kit = full_kit()
        kit.serve()
        report, release = (os.path.join(kit.snapshot, name) for name in ("setup", "release"))
        os.makedirs(kit.snapshot)
        temp_before = prefix.temp_entries()
        running = kit.app.start("/silent", env={"WENVAROTH_SETUP_REPORT": prefix.win(report),
                                                "WENVAROTH_AUTORUN_RELEASE": prefix.win(release)})
        # While the autorun program waits, another program takes a file in the kit folder.
        wait_for(lambda: os.path.exists(report + ".prepare.exe") and
                 os.path.getsize(report + ".prepare.exe") > 0, "autorun report written")
        leaf = kit.started(".prepare.exe")[1].split("\\")[-1]
        held = os.path.join(prefix.temp, leaf, "held.dat")
        holder = prefix.start(tool("fakesetup"), "/hold:6", prefix.win(held))
        wait_for(lambda: os.path.exists(held), "held file")
        open(release, "w").close()
        self.assertEqual(running.wait(120).returncode, 0)
        # The held file (and so its folder) could not go at once: scheduled for the next start.
        self.assertTrue(os.path.exists(held))
        pending = prefix.run("reg", "query", PENDING[0], "/v", PENDING[1]).stdout
        self.assertIn("held.dat", pending)
        self.assertIn(leaf, pending)
        holder.wait(30)
        prefix.run("wineboot", "-r", timeout=120)
        self.assertEqual(prefix.temp_entries(), temp_before)


def log_ms(kit, ending):
    """The time stamp, in milliseconds of the day, of the first log line ending so."""
    line = next(l for l in kit.app.log_text().splitlines() if l.endswith(ending))
    h, m, s, ms = (int(v) for v in line[1:13].split(":"))
    return ((h * 60 + m) * 60 + s) * 1000 + ms


if __name__ == "__main__":
    unittest.main()
