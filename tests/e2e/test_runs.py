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
import hashlib
import os
import random
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import (CAPTION, FAILED_TEXT, LAUNCHER, MISSING_PRODUCT, PARENT, PENDING, PRODUCT_UI,
                     RNG, STALL_MS, Kit, KitRun, KitServer, Prefix, quit_with_yes, tool, wait_for)

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
        prefix.temp = os.path.join(prefix.drive_c, "users", "First Last", "Temp")
        set_temp(prefix.win(prefix.temp))
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
    # Checked files (data2.cab's digest in capitals), and two without a digest.
    kit.digests = {"part.cab": "0" * 32, "mirror.bin": "-",
                   "data2.cab": hashlib.md5(kit.files["data/data2.cab"]).hexdigest().upper()}
    return kit


def set_kit_list(text):
    return lambda kit: setattr(kit, "kit_list", text(kit) if callable(text) else text)


def set_manifest(text):
    return lambda kit: setattr(kit, "manifest_text", text(kit))


def misspell(kit):
    """data1.cab's relative_path misspelt in the x64 section, which the test build reads: the
    entry is dropped, so the file is neither fetched nor handed over."""
    x86, x64 = kit.manifest().split("<x64>")
    kit.manifest_text = x86 + "<x64>" + x64.replace('relative_path="data"', 'relative_pth="data"', 1)
    kit.files.pop("data/data1.cab")


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


def slowed_kit_folder(kit):
    """Slows the first kit file; gives the function that, once it is on its way, names the kit
    folder (under %temp%, or `temp`)."""
    kit.fault("data/data1.cab", rate=100 * 1024)

    def folder(temp=None):
        wait_for(lambda: kit.base + "data/data1.cab" in [p for _, p, _ in server.requests],
                 "transfer")
        return glob.glob(os.path.join(temp or prefix.temp, "talvotempdir*"))[0]
    return folder


def plant_folder_links(kit):
    """The unelevated program: while a slowed kit file arrives, the prerequisites' folder name in
    the kit folder becomes a Unix symbolic link (a reparse point to Wine) to a folder of the
    user's, and another name one to an empty folder."""
    outside = os.path.join(prefix.drive_c, "outside%02d" % Kit.count)
    os.makedirs(os.path.join(outside, "empty"))
    open(os.path.join(outside, "own.txt"), "w").close()
    folder = slowed_kit_folder(kit)

    def plant(kit, running):
        os.symlink(outside, os.path.join(folder(), "dependencies"))
        os.symlink(os.path.join(outside, "empty"), os.path.join(folder(), "spare"))
    kit.during, kit.left = plant, True


def plant_libraries(kit):
    """Libraries beside the executable under names loaded by bare name once the program runs:
    the installer library's imports (cabinet and the cryptography under Wine), the installer's,
    the taskbar's, the themes' (Wine loads uxtheme and shcore before any code of the program
    runs: not planted)."""
    for name in ("dwmapi", "cryptbase", "bcrypt", "crypt32", "wintrust", "msi", "psapi",
                 "msxml3", "explorerframe", "winmm", "cabinet"):
        shutil.copy(PRODUCT_UI, os.path.join(kit.app.folder, name + ".dll"))


def plant_plain_folder(kit):
    """The same program plants a plain folder under the prerequisites' folder name."""
    folder = slowed_kit_folder(kit)
    kit.during = lambda kit, running: os.makedirs(os.path.join(folder(), "dependencies"))


def rename_kit_folder(kit):
    """Another Windows program of the user renames the kit folder while a slowed file arrives:
    the folder is held, so the system refuses (32, in use)."""
    folder = slowed_kit_folder(kit)

    kit.during = lambda kit, running: assert_equal(prefix.run(
        tool("fakesetup"), "/move", prefix.win(folder()), prefix.win(folder()) + "x").returncode, 32)


def rewrite_cache_file(path, found):
    """The unelevated program: while the server holds the last bytes of `path` back, every cache
    file of it (`found` of them) is written over."""
    def change(kit):
        server.proceed.clear()
        kit.fault(path, hold_after=len(kit.files[path]) - 1000, first=1)

        def rewrite(kit, running):
            # Only this run's: earlier rows leave cache files of the same name.
            since, stem = time.time() - 0.5, path.rsplit("/", 1)[-1].split(".")[0]
            wait_for(lambda: kit.base + path in server.held, "held transfer")
            time.sleep(1)
            cached = [f for f in glob.glob(os.path.join(glob.escape(prefix.drive_c), "users", "*",
                                                        "**", stem + "*"), recursive=True)
                      if "INetCache" in f and os.path.getmtime(f) > since
                      and 0 < os.path.getsize(f) < len(kit.files[path])]
            rewritten = [prefix.run(tool("fakesetup"), "/rewrite", prefix.win(f)).returncode
                         for f in cached]
            server.proceed.set()
            assert rewritten == [0] * found, (rewritten, cached)
        kit.during = rewrite
    return change


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
FULL = ["kitmd5.dat", PREREQ, "setup.exe", "setup.xml", "data/data1.cab", "data/data2.cab",
        "prepare.exe", "cabs/part.cab", PREREQ]
MiB = 1 << 20


def cut_list(at_line_end):
    """The kit list announced whole and cut short: in its last record, or right before it."""
    def change(kit):
        text = kit.listed()
        kit.fault("kitmd5.dat", cut_after=text.rindex(b"\n", 0, -1) + (1 if at_line_end else 9))
    return change

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
            "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
            "[WENVAROTH] Not in the kit list, not downloaded: notlisted.bin",
            "[WENVAROTH] Prerequisite xponly.msi skipped: it is for os xp, this system is 4",
            "[WENVAROTH] Prerequisite have.msi skipped: install state 5, installed"])
        self.assertEqual(log[-1], "[WENVAROTH] Run ended: handed over; setup.exe exited with "
                                  "code 0")
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
            "[WENVAROTH] Cannot download file @data/data1.cab@. Error :%d" % DOWNLOAD_FAILURE,
            "[WENVAROTH] Run ended: failed: the transfer of data1.cab"),
        # The length announces the whole file, the server ends half way: S_OK under Wine.
        row("body shorter than its length", lambda k: k.fault("cabs/part.cab", cut_after=25000),
            "failed"),
        row("unchecked file of another size than listed", set_kit_list(lambda k: k.listed().replace(
            b"part.cab 51200 ", b"part.cab 51199 ")), "failed",
            "[WENVAROTH] Received 51200 bytes of @cabs/part.cab@, expected 51199"),
        # Asked for identity; a compressed body's length says nothing of the file's.
        row("prerequisite compressed anyway", lambda k: k.fault(PREREQ, headers={
            "Content-Encoding": "gzip"}), "failed",
            "[WENVAROTH] The server sent @%s@ compressed, although asked not to" % PREREQ),
        row("prerequisite without length", lambda k: k.fault(PREREQ, no_length=True),
            "handed", "[WENVAROTH] Downloading: @%s@ (size 0)" % PREREQ),
        row("kit list moved", lambda k: k.fault("kitmd5.dat", hops=1), "handed"),
        # A failure ends the run wherever it stands in the queue: the good one after it is not
        # fetched.
        row("prerequisite failing before a good one", lambda k: k.dependencies.insert(
            1, ("gone.msi", MISSING_PRODUCT, "all")), "failed",
            "[WENVAROTH] The server answered 404 for @dependencies/gone.msi@"),
        # Wine follows redirects without end: the program bounds each fetch's (at the server: the
        # size query follows 20, not 21, then its transfer's own; a transfer ends at its 51st
        # request). No byte arrives meanwhile: the stall bound is set past the run's time limit.
        row("kit list redirected without end", lambda k: k.fault("kitmd5.dat", hops=10**6),
            "failed_list", env=LONG_STALL),
        row("size query through 20 redirects", lambda k: k.fault(PREREQ, hops=20), "handed",
            "[WENVAROTH] Downloading: @%s@ (size %d)" % (PREREQ, len(PREREQ_BYTES)),
            requested={PREREQ: 21 + 21}),
        # Past the bound the size is unknown, and the prerequisite's own read, which follows
        # redirects by hand under the same bound, fails.
        row("size query through 21 redirects", lambda k: k.fault(PREREQ, hops=21), "failed",
            requested={PREREQ: 21 + 21}),
        row("kit file through 49 redirects", lambda k: k.fault("data/data1.cab", hops=49),
            "handed", requested={"data/data1.cab": 50}),
        row("kit file through 50 redirects", lambda k: k.fault("data/data1.cab", hops=50),
            "failed", requested={"data/data1.cab": 51}),
        row("prerequisite redirected without end", lambda k: k.fault(PREREQ, hops=10**6),
            "failed", env=LONG_STALL),
        # The cap through the fetch itself: 1 MiB is read, a byte more is refused, also when the
        # first MiB ends with a whole record.
        row("kit list of exactly 1 MiB", set_kit_list(lambda k: k.listed().ljust(MiB)), "handed"),
        row("kit list of 1 MiB and a byte", set_kit_list(lambda k: k.listed().ljust(MiB + 1)),
            "failed_list", "[WENVAROTH] The kit list @app@\\kitmd5.dat is malformed",
            requested=LIST_ONLY),
        row("kit list over 1 MiB, its first MiB ending a line", set_kit_list(
            lambda k: k.listed().ljust(MiB - 1) + b"\nx.bin 1 0\n"), "failed_list",
            "[WENVAROTH] The kit list @app@\\kitmd5.dat is malformed", requested=LIST_ONLY),
        # The fetch itself must fail: what arrived may parse.
        row("kit list cut inside a line", cut_list(False), "failed_list",
            "[WENVAROTH] Received ", "[WENVAROTH] Cannot download file. Error :%d" %
            DOWNLOAD_FAILURE, requested=LIST_ONLY),
        row("kit list cut at a line end", cut_list(True), "failed_list",
            "[WENVAROTH] Received ", "[WENVAROTH] Cannot download file. Error :%d" %
            DOWNLOAD_FAILURE, requested=LIST_ONLY),
        # A rewritten cache file fails its check and is fetched again; a file without a digest
        # has no cache file to rewrite.
        row("cache file rewritten during its transfer", rewrite_cache_file("data/data1.cab", 1),
            "handed", "[WENVAROTH] Checksum mismatch for @data/data1.cab@: expected ",
            requested=FULL[:5] + FULL[4:]),
        row("no cache file of an unchecked file to rewrite", rewrite_cache_file(
            "cabs/part.cab", 0), "handed", "[WENVAROTH] No checksum for part.cab: taken from the "
            "connection", requested=FULL),
        row("kit list with a wrong checksum", lambda k: k.digests.update(
            {"data2.cab": "0123456789abcdef" * 2}), "failed",
            "[WENVAROTH] Checksum mismatch for @data/data2.cab@: expected "
            "0123456789abcdef0123456789abcdef, received ", requested=FULL[:6] + FULL[5:6]),
        row("kit list of binary garbage", set_kit_list(random.Random(64).randbytes(64 * 1024)),
            "failed_list", requested=LIST_ONLY),
        # Whatever the reader makes of the overlong start, it must not misread the real records
        # that follow into a wrong size or a file outside the kit.
        row("kit list with overlong tokens", set_kit_list(lambda k: b"".join(
            [b"{" + b"A" * 5000 + b"}\n", b"n" * 10000 + b".bin 12 " + b"f" * 40 + b"\n",
             b"data1.cab " + b"9" * 300 + b" " + b"e" * 2000 + b"\n"])
            + k.listed().split(b"\n", 1)[1] + b"setup.exe"), "failed_list",
            "[WENVAROTH] The kit list @app@\\kitmd5.dat, line 1: a product code longer than 39 "
            "characters", "[WENVAROTH] Run ended: failed: the kit list", requested=LIST_ONLY),
        # As Notepad saves it.
        row("kit list with a UTF-8 byte order mark", set_kit_list(lambda k: b"\xef\xbb\xbf" +
            k.listed()), "handed", "[WENVAROTH] The kit list @app@\\kitmd5.dat starts with a "
            "UTF-8 byte order mark, skipped"),
        # Autorun programs may make it, so it is looked for after the last of them.
        row("kit without setup.exe", lambda k: k.files.pop("setup.exe"), "failed",
            "[WENVAROTH] The kit folder C:\\users\\First Last\\Temp\\talvotempdir01 holds no "
            "setup.exe", "[WENVAROTH] Run ended: failed: no setup.exe in the kit"),
        row("misspelt attribute", misspell, "handed", "[WENVAROTH] Dropped manifest entry 3 of x64/downloadable_files "
            "(data1.cab): no attribute relative_path (attributes not read: relative_pth)"),
        row("os in another letter case", lambda k: k.dependencies.append(
            ("caps.msi", MISSING_PRODUCT, "All")), "handed",
            '[WENVAROTH] Dropped manifest entry 4 of x64/dependencies (caps.msi): unknown os '
            '"All" (all, xp, vista or win7, in lower case)'),
        # One character over: the kit folder's path (39 characters) and 221 more.
        row("destination path too long", lambda k: k.files.update(
            {"d" * 110 + "/" + "e" * 100 + "/long.cab": b"long"}), "failed",
            "[WENVAROTH] Destination path too long for long.cab: C:\\users\\First Last\\Temp\\"
            "talvotempdir01\\%s\\%s\\long.cab is 260 characters, at most 259 fit"
            % ("d" * 110, "e" * 100)),
        # A log-in page answered with 200 that happens to split into whole records.
        row("captive portal kit list", set_kit_list(
            b"<html> <body> Please log in </body> </html>\n"), "failed_list",
            "[WENVAROTH] The kit list @app@\\kitmd5.dat names no product code",
            requested=LIST_ONLY),
        # The runner's check that nothing outside the kit folder changed covers the link's target.
        row("kit list name planted as a link, and swapped in while it arrives", swap_kit_list,
            "handed"),
        row("libraries planted beside the executable", plant_libraries, "handed",
            env={"WINEDEBUG": "+loaddll"}),
        row("application folder not writable", seal_app_folder, "unwritable",
            "[WENVAROTH] Cannot create local file @app@\\kitmd5.dat",
            "[WENVAROTH] MessageBox(%s, %s)" % (UNWRITABLE_TEXT, CAPTION), requested=[]),
        # Refused where the kit needs it, and never removed through (Wine removes no such link).
        row("kit folder's links planted while it fills", plant_folder_links, "failed",
            "[WENVAROTH] Refusing link ", "[WENVAROTH] Link left: ",
            "[WENVAROTH] Folder left, kept by a link in it: "),
        row("kit folder's plain folder planted while it fills", plant_plain_folder, "failed",
            "[WENVAROTH] Refusing folder "),
        row("kit folder renamed while it fills", rename_kit_folder, "handed"),
        # A hard link could name any file of the user's: refused like a missing one.
        row("contacts.xml with a second name", lambda k: setattr(k, "contacts_link", True),
            "handed", "[WENVAROTH] Copy file @app@\\contacts.xml to "),
        row("manifest not well formed", set_manifest(lambda k: k.manifest()[:200]),
            "failed_list", "[WENVAROTH] Cannot load the manifest @app@\\locations.xml: line ",
            requested=[]),
        row("manifest without base address", set_manifest(lambda k: re.sub(
            "<base_url>[^<]*</base_url>", "", k.manifest())), "failed_list",
            "[WENVAROTH] The manifest names no download address", requested=[]),
        row("manifest in UTF-16", set_manifest(
            lambda k: b"\xff\xfe" + k.manifest("UTF-16").encode("utf-16-le")), "handed"),
        row("kit setup.xml not well formed", lambda k: (
            k.files.update({"setup.xml": b"<setup><install><mode>full</mode></install>"}),
            setattr(k, "setup_xml", k.files["setup.xml"])), "handed",
            "[WENVAROTH] Cannot load xml ", "[WENVAROTH] The parser's reason: line "),
        row("kit product installed", lambda k: setattr(k, "product", INSTALLED),
            "declined", "[WENVAROTH] Product %s installstate: 5" % INSTALLED,
            "[WENVAROTH] MessageBox(%s, %s). Silent Action taken: NO" % (INSTALLED_TEXT, CAPTION),
            "[WENVAROTH] Run ended: declined: the product is installed", requested=LIST_ONLY),
        row("name leaving the kit folder", lambda k: k.files.update({"..\\evil.exe": b"evil"}),
            "failed", "[WENVAROTH] Refusing file ..\\evil.exe", requested=LIST_ONLY),
        row("relative path leaving the kit folder",
            lambda k: k.files.update({"a\\..\\../evil.exe": b"evil"}), "failed",
            "[WENVAROTH] Refusing file evil.exe", requested=LIST_ONLY),
        row("device name", lambda k: k.files.update({"lpt1/con.txt": b"device"}), "failed",
            "[WENVAROTH] Refusing file con.txt in lpt1", requested=LIST_ONLY),
        # The mirrored file's address: the longest that fits, and one character more.
        row("kit file address of 259 characters", lambda k: setattr(k, "mirror", "/%s/" % (
            "m" * (258 - len(server.url("/mirror.bin"))))), "handed"),
        row("kit file address of 260 characters", lambda k: setattr(k, "mirror", "/%s/" % (
            "m" * (259 - len(server.url("/mirror.bin"))))), "failed",
            "[WENVAROTH] Download address too long for mirror.bin"),
        row("relative paths with empty and dot segments", lambda k: (
            k.files.update({"x/y/nested.cab": b"nested"}),
            setattr(k, "manifest_text", k.manifest().replace('"cabs"', '"./cabs\\"')
                    .replace('"data"', '"data/"').replace('"x/y"', '"x//./y/"'))), "handed"),
        # A folder takes the name a kit file is copied to.
        row("copy that fails", lambda k: k.files.update(
            {"x.d/data1.cab": k.files.pop("data/data1.cab"), "x.d": b"file"}), "failed",
            "[WENVAROTH] Copy file "),
        row("stall in the kit list", lambda k: k.fault("kitmd5.dat", stall_after=60),
            "failed_list", "[WENVAROTH] Nothing received for 4 s from @kitmd5.dat@"),
        row("stall in a kit file", lambda k: k.fault("data/data1.cab", stall_after=10240),
            "failed", "[WENVAROTH] Nothing received for 4 s from @data/data1.cab@"),
        row("stall in an unchecked kit file", lambda k: k.fault("cabs/part.cab",
            stall_after=10240), "failed", "[WENVAROTH] Nothing received for 4 s from "
            "@cabs/part.cab@"),
        # A prerequisite's first request is its size query: one that fails or never answers
        # leaves the size unknown, and the transfer's own length decides.
        row("stall in a size query", lambda k: k.fault(PREREQ, stall_before_headers=True, first=1),
            "handed", "[WENVAROTH] Nothing received for 4 s from @%s@" % PREREQ),
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
                if "redirect" in name or "slow" in name:
                    self.assertLess(kit.ended - kit.started_at, 15)

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
        # Through the URL cache (a checked file) and from the connection (an unchecked one).
        for path in ("data/data1.cab", "cabs/part.cab"):
            with self.subTest(path):
                kit = full_kit()
                kit.fault(path, stall_after=10240)
                kit.serve()

                def quit_during_the_stall(kit, running):
                    wait_for(lambda: kit.base + path in server.stalls, "stall")
                    kit.answered = quit_with_yes(prefix)

                # A bound far beyond the test's length: only the quit can end this transfer.
                log = self.run_kit(kit, "cancelled", options="", during=quit_during_the_stall,
                                   env=LONG_STALL)
                self.assertEqual(log[-1], "[WENVAROTH] Run ended: cancelled by the user")
                # From the window's end to the transfer's end.
                self.assertLess(log_ms(kit, "Download canceled!") -
                                log_ms(kit, "DESTROY WINDOW DONE"), 2000)
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
        # The held file could not go at once: scheduled for the next start. Its folder is not
        # (nothing is deleted by the folder's path then): it stays, empty after the restart.
        self.assertTrue(os.path.exists(held))
        pending = prefix.run("reg", "query", PENDING[0], "/v", PENDING[1]).stdout
        self.assertIn("held.dat", pending)
        self.assertEqual([e for e in pending.split("\\0") if leaf in e and
                          not e.endswith("held.dat")], [], pending)
        self.assertIn("[WENVAROTH] Kit folder %s left (" % prefix.win(
            os.path.join(prefix.temp, leaf)), kit.app.log_text())
        holder.wait(30)
        prefix.run("wineboot", "-r", timeout=120)
        self.assertEqual(os.listdir(os.path.join(prefix.temp, leaf)), [])
        os.rmdir(os.path.join(prefix.temp, leaf))
        self.assertEqual(prefix.temp_entries(), temp_before)

    def test_folder_above_renamed_and_a_lookalike_planted_starts_nothing(self):
        """Wine lets a folder above the held kit folder be renamed (NTFS does not): with %temp%
        below a folder of the test's own, another program renames that folder while a slowed file
        arrives and plants a kit folder of its own under the old path, its setup.exe and autorun
        program included. Neither may start: a run with an autorun program still due fails, one
        without hands nothing over; the real kit folder is left where it went."""
        base, moved = (os.path.join(prefix.drive_c, name) for name in ("tmpbase", "tmpmoved"))
        for autorun in (True, False):
            kit = full_kit()
            kit.autorun = kit.autorun if autorun else set()
            folder = slowed_kit_folder(kit)
            kit.serve()
            for made in (os.path.join(base, "t"), kit.snapshot):
                os.makedirs(made)
            set_temp("C:\\tmpbase\\t")
            running = kit.app.start("/silent", parent_name=PARENT, env={
                "WENVAROTH_SETUP_REPORT": prefix.win(os.path.join(kit.snapshot, "setup"))})
            try:
                lookalike = folder(os.path.join(base, "t"))
                assert_equal(prefix.run(tool("fakesetup"), "/move", "C:\\tmpbase",
                                        "C:\\tmpmoved").returncode, 0)
                os.makedirs(lookalike)
                for name in ("setup.exe", "prepare.exe"):
                    shutil.copy(tool("fakesetup"), os.path.join(lookalike, name))
                self.assertEqual(running.wait(120).returncode, 0)
                log = kit.app.log_lines()
                self.assertIn("[WENVAROTH] Kit folder %s: no longer the folder this run made; "
                              "nothing is started from it" % prefix.win(lookalike), log)
                self.assertEqual(os.listdir(kit.snapshot), [])  # neither planted program ran
                self.assertEqual(any(line.startswith("[WENVAROTH] MessageBox(" + FAILED_TEXT)
                                     for line in log), autorun)
                self.assertTrue(os.path.exists(os.path.join(
                    moved, "t", os.path.basename(lookalike), "setup.exe")))
            finally:
                running.kill()
                set_temp(prefix.win(prefix.temp))
                shutil.rmtree(base, ignore_errors=True)
                shutil.rmtree(moved, ignore_errors=True)


def assert_equal(found, expected):
    assert found == expected, (found, expected)


def set_temp(folder):
    for name in ("TEMP", "TMP"):
        assert prefix.run("reg", "add", "HKCU\\Environment", "/v", name, "/t", "REG_SZ", "/d",
                          folder, "/f").returncode == 0


def log_ms(kit, ending):
    """The time stamp, in milliseconds of the day, of the first log line ending so."""
    line = next(l for l in kit.app.log_text().splitlines() if l.endswith(ending))
    h, m, s, ms = (int(v) for v in line[1:13].split(":"))
    return ((h * 60 + m) * 60 + s) * 1000 + ms


if __name__ == "__main__":
    unittest.main()
