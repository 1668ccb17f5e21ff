"""The scenarios of scripts/test-x86, run inside the emulated guest by its service: the 32-bit test
variant and the 32-bit shipped executable under 32-bit Wine, in a 64-bit prefix (a 32-bit process
on 64-bit Windows) and in a 32-bit one (WINEARCH=win32, as on 32-bit Windows). The runs and their
standing checks are the end-to-end harness's; this file only adds what the 32-bit side changes.

The host lays out /share/in (this file, harness.py, wineprefix.py, tests/*.exe of both widths,
the shipped files, prefixes cached by earlier runs) and reads /share/out: results.json (rewritten
after every scenario, so that a hang still leaves the scenarios done before it), every scenario's
log and the stand-in installer's report, the window's screen dump, new prefix archives.
Standard library only: the guest has Debian's python3 and nothing else.
"""
import filecmp
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import time
import traceback
import unittest

# Elsewhere than in the guest (the same scenarios with the 64-bit builds, to compare logs):
# WENVAROTH_X86_DIRS="IN OUT RUN".
IN, OUT, RUN = os.environ.get("WENVAROTH_X86_DIRS", "/share/in /share/out /root/run").split()
sys.path.insert(0, os.path.join(IN, "e2e"))
os.makedirs(os.path.join(RUN, "tests"), exist_ok=True)
for exe in glob.glob(os.path.join(IN, "tests", "*")):
    shutil.copy(exe, os.path.join(RUN, "tests"))
os.environ["WENVAROTH_BUILD"] = RUN
for name, value in (("HOME", "/root"), ("USER", "root"), ("LANG", "C.UTF-8")):
    os.environ.setdefault(name, value)  # a service starts without them
import harness  # noqa: E402
import wineprefix  # noqa: E402
from harness import CAPTION, PRODUCT, QUESTION, Kit, KitServer, wait_for  # noqa: E402

WINE32, WINE64 = "/usr/lib/wine/wine", "/usr/lib/wine/wine64"
WINE_LIBS = glob.glob("/usr/lib/*-linux-gnu/wine/*-windows")  # Wine's own Windows libraries
harness.RUN_SECONDS = 900  # a run of three to five Wine programs under emulation
harness.DEADLINE = float("inf")  # the guest's own bound ends a hang
SHIPPED_STALL = {"WENVAROTH_TEST_STALL_MS": "60000"}
STALL_MS = 10000  # the stall scenario's bound
SHIPPED_EXE = os.path.join(IN, "dist", "wenvaroth.exe")
STARTED = re.compile(r"^\[WENVAROTH\] Starting (.*) \(([^)]*)\)$")
server = KitServer()
prefixes = {}


def prefix(arch):
    """The scenario's prefix, "w64" or "w32": unpacked from the host's cache, or made (minutes
    under emulation) and packed for the host to cache."""
    wineprefix.WINE = WINE32 if arch == "w32" else WINE64
    if arch in prefixes:
        return prefixes[arch]
    build = os.path.join(RUN, arch)
    if os.path.exists(os.path.join(IN, "prefix-%s.links" % arch)):
        unpack(build, arch)
    made = not os.path.exists(os.path.join(build, "wine-template", ".ready"))
    os.environ["WENVAROTH_BUILD"] = build
    if arch == "w32":
        os.environ["WINEARCH"] = "win32"  # read once, when the prefix is made
    try:
        prefixes[arch] = harness.Prefix(arch)
    finally:
        os.environ.pop("WINEARCH", None)
    if made:
        pack(build, arch)
    return prefixes[arch]


def pack(build, arch):
    """The template as an archive without the libraries Wine copied from its own (more than a
    gigabyte for a 64-bit prefix), and the list of those, linked again when it is unpacked."""
    linked = []
    for here, _, names in os.walk(os.path.join(build, "wine-template")):
        for name in names:
            path = os.path.join(here, name)
            for source in (os.path.join(folder, name) for folder in WINE_LIBS):
                if (not os.path.islink(path) and os.path.isfile(source)
                        and filecmp.cmp(path, source, shallow=False)):
                    linked.append([os.path.relpath(path, build), source])
                    break
    with open(os.path.join(RUN, "excluded"), "w") as f:
        f.write("".join("./%s\n" % rel for rel, _ in linked))
    subprocess.run(["tar", "-cf", os.path.join(OUT, "prefix-%s.tar" % arch), "-C", build,
                    "--no-wildcards", "--exclude-from", os.path.join(RUN, "excluded"),
                    "./wine-template"], check=True, timeout=1200)
    with open(os.path.join(OUT, "prefix-%s.links" % arch), "w") as f:  # last: the pair is whole
        json.dump(linked, f)


def unpack(build, arch):
    os.makedirs(build, exist_ok=True)
    subprocess.run(["tar", "-xf", os.path.join(IN, "prefix-%s.tar" % arch), "-C", build],
                   check=True, timeout=1200)
    with open(os.path.join(IN, "prefix-%s.links" % arch)) as f:
        for rel, source in json.load(f):
            os.link(source, os.path.join(build, rel))


def driver(prefix, *args):
    """The harness's UI driver, with a bound for a Wine program's start under emulation."""
    result = prefix.run(harness.tool("uidriver"), *args, timeout=300)
    return result.returncode, dict(line.rstrip("\r").partition("=")[::2]
                                   for line in result.stdout.splitlines() if "=" in line)


def standin():
    with open(harness.tool("fakesetup"), "rb") as f:
        return f.read()


class Scenarios(harness.KitRun):
    def keep(self, kit, name):
        """The run's log and what the stand-in installer received, for the host."""
        if os.path.exists(kit.app.log):
            shutil.copy(kit.app.log, os.path.join(OUT, name + ".log"))
        for report in glob.glob(os.path.join(kit.snapshot, "setup*")):
            if os.path.isfile(report):
                shutil.copy(report, os.path.join(OUT, name + "." + os.path.basename(report)))

    def drive_c_state(self, kit):
        # Wine's device set-up writes its .pnf files into C:\windows\inf at some moment after a
        # prefix's first program started; with a fresh prefix that may fall into a checked run.
        inf = os.path.join(kit.prefix.drive_c, "windows", "inf") + os.sep
        return {path: state for path, state in super().drive_c_state(kit).items()
                if not (path.startswith(inf) and path.endswith(".pnf"))}

    def started_programs(self, log):
        """{program's file name: redirection state} of every "Starting" line."""
        found = [STARTED.match(line) for line in log]
        return {m.group(1).rsplit("\\", 1)[-1]: m.group(2) for m in found if m}

    def kit(self, arch, autorun=False):
        kit = Kit(prefix(arch), server)
        if autorun:
            kit.files["prepare.exe"] = standin()
            kit.autorun = {"prepare.exe"}
        return kit

    def hand_over(self, name, arch, autorun=False, x86=False, launcher=None):
        kit = self.kit(arch, autorun)
        kit.serve()
        if x86:
            # On 32-bit Windows only the x86 sections count: the kit lies only below "x86/".
            for path in [p for p in server.files if p.startswith(kit.base)]:
                server.files[kit.base + "x86/" + path[len(kit.base):]] = server.files.pop(path)
        saved = harness.LAUNCHER
        harness.LAUNCHER = launcher or saved
        try:
            log = self.run_kit(kit, "handed", env=SHIPPED_STALL)
        finally:
            harness.LAUNCHER = saved
            self.keep(kit, name)
        self.assertTrue(kit.requests and all(r.startswith("x86/") == x86 for r in kit.requests),
                        kit.requests)
        state = "no redirection" if x86 else "file-system redirection off"
        expected = {"setup.exe": state, **({"prepare.exe": state} if autorun else {})}
        self.assertEqual(self.started_programs(log), expected)
        if autorun:
            self.assertEqual(kit.started(".prepare.exe")[1], kit.started()[1])  # the kit folder
        return kit, log

    def test_handover_wow64(self):
        self.hand_over("handover_wow64", "w64")

    def test_handover_win32(self):
        self.hand_over("handover_win32", "w32", autorun=True, x86=True)

    def test_parent64_wow64(self):
        # From a 64-bit parent the options come through the WOW64 calls for 64-bit processes.
        # Where the system lacks them they are lost (the log option with them, so no log can
        # say so): then only the parent's path and the affiliate tag of its name arrive.
        ntdll = os.path.join(prefix("w64").drive_c, "windows", "syswow64", "ntdll.dll")
        with open(ntdll, "rb") as f:
            lacking = b"\0NtWow64QueryInformationProcess64\0" not in f.read()
        if not lacking:
            self.hand_over("parent64_wow64", "w64", launcher=harness.tool("launcher64"))
            return
        kit = self.kit("w64")
        kit.serve()
        os.makedirs(kit.snapshot)
        saved, harness.LAUNCHER = harness.LAUNCHER, harness.tool("launcher64")
        try:
            running = kit.app.start("/silent", parent_name=harness.PARENT, env={
                "WENVAROTH_SETUP_REPORT": kit.prefix.win(os.path.join(kit.snapshot, "setup")),
                **SHIPPED_STALL})
            # The lost /silent makes the window show: that is this scenario's point, not a fault.
            running.watcher.kill()
            running.watcher.wait()
            running.watcher = None
            code = running.wait(harness.RUN_SECONDS).returncode
        finally:
            harness.LAUNCHER = saved
            self.keep(kit, "parent64_wow64")
        parent = kit.prefix.win(os.path.join(kit.app.folder, "parent", harness.PARENT))
        self.assertEqual((code, os.path.exists(kit.app.log)), (0, False))
        self.assertTrue(kit.started()[0].endswith('setup.exe /parent_process:"%s"' % parent),
                        kit.started()[0])
        self.assert_kit_arrived_whole(kit)  # the affiliate tag too
        self.note = ("Wine's 32-bit ntdll exports no NtWow64QueryInformationProcess64: the 64-bit "
                     "parent's options (/silent, /log) were lost, its path and tag arrived")

    def test_autorun_wow64(self):
        self.hand_over("autorun_wow64", "w64", autorun=True)

    def test_window_wow64(self):
        kit = self.kit("w64")
        kit.files["data/data1.cab"] = os.urandom(2000000)
        kit.fault("data/data1.cab", rate=40000)  # about 50 s: time for the driver and the dump
        kit.serve()

        def dump_the_window(kit, running):
            texts = {}

            def shown():
                texts.update(driver(kit.prefix, "find", PRODUCT, "20000")[1])
                return texts.get("visible") == "1"

            wait_for(shown, "a visible progress window", 300)
            self.assertEqual(texts["control 1004"], "Downloading installer:")
            time.sleep(3)  # a tick more, so the figures are drawn
            with open(os.path.join(OUT, "window.xwd"), "wb") as f:
                subprocess.run(["xwd", "-root", "-silent"], stdout=f, check=True, timeout=120)
            with open(os.path.join(OUT, "window.txt"), "w") as f:
                f.write("".join("%s=%s\n" % item for item in sorted(texts.items())))

        try:
            self.run_kit(kit, "handed", options="", during=dump_the_window, env=SHIPPED_STALL)
        finally:
            self.keep(kit, "window_wow64")

    def test_stall_wow64(self):
        kit = self.kit("w64")
        kit.fault("data/data1.cab", stall_after=10240)
        kit.serve()
        try:
            self.run_kit(kit, "failed", env={"WENVAROTH_TEST_STALL_MS": str(STALL_MS)},
                         lines=["[WENVAROTH] Nothing received for 10 s from @data/data1.cab@"])
        finally:
            self.keep(kit, "stall_wow64")
        # The bound, not less; and then an end (the emulated run's own slowness on top).
        waited = kit.ended - server.stalls[kit.base + "data/data1.cab"]
        self.assertGreater(waited, STALL_MS / 1000)
        self.assertLess(waited, STALL_MS / 1000 + 90)

    def test_quit_wow64(self):
        kit = self.kit("w64")
        kit.fault("data/data1.cab", stall_after=10240)
        kit.serve()

        def quit_during_the_stall(kit, running):
            wait_for(lambda: kit.base + "data/data1.cab" in server.stalls, "stall", 300)
            self.assertEqual(driver(kit.prefix, "close", PRODUCT)[0], 0, "no window to close")
            code, box = driver(kit.prefix, "answer", CAPTION, "yes", "60000")
            self.assertEqual((code, box.get("text")), (0, QUESTION))
            kit.answered = time.monotonic()

        try:
            self.run_kit(kit, "cancelled", options="", during=quit_during_the_stall,
                         env=SHIPPED_STALL)
        finally:
            self.keep(kit, "quit_wow64")
        # At once, in the program's own time: not at the shipped stall bound's end.
        stamps = {}
        for line in kit.app.log_text().splitlines():
            for ending in ("DESTROY WINDOW DONE", "Download canceled!"):
                if line.endswith(ending) and ending not in stamps:
                    h, m, s, ms = (int(v) for v in line[1:13].split(":"))
                    stamps[ending] = ((h * 60 + m) * 60 + s) * 1000 + ms
        self.assertLess(abs(stamps["Download canceled!"] - stamps["DESTROY WINDOW DONE"]), 5000)
        self.assertLess(kit.ended - kit.answered, 45)

    def test_shipped_wow64(self):
        app = prefix("w64").new_app(exe=SHIPPED_EXE)
        section = "<base_url>http://127.0.0.1:9/kit</base_url>"
        app.write("locations.xml", "<locations><manufacturerName>%s</manufacturerName>"
                  "<defaultProductName>%s</defaultProductName><x86>%s</x86><x64>%s</x64>"
                  "</locations>" % (CAPTION, PRODUCT, section, section))
        try:
            result = app.run("/silent", timeout=harness.RUN_SECONDS)
        finally:
            if os.path.exists(app.log):
                shutil.copy(app.log, os.path.join(OUT, "shipped_wow64.log"))
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        lines = app.log_lines()
        self.assertIn("[WENVAROTH] MessageBox(%s cannot be installed on your operating system., "
                      "%s)" % (PRODUCT, CAPTION), lines)
        parent = app.prefix.win(os.path.join(app.folder, "parent", "launcher.exe"))
        self.assertEqual(lines[0], "[WENVAROTH] is Silent Install")  # options from a 32-bit parent
        self.assertTrue(lines[1].startswith("[WENVAROTH] Parent process name: %s with pid "
                                            % parent), lines)


ORDER = ["shipped_wow64", "handover_wow64", "autorun_wow64", "parent64_wow64", "window_wow64",
         "stall_wow64", "quit_wow64", "handover_win32"]


def main():
    with open(os.path.join(IN, "scenarios")) as f:
        wanted = f.read().split()  # none: all
    chosen = [n for n in ORDER if not wanted or n in wanted]
    results = []

    def step(name, action):
        print("%s: start" % name, flush=True)
        started = time.monotonic()
        outcome, detail = action()
        results.append({"scenario": name, "outcome": outcome, "detail": detail[-3000:],
                        "seconds": round(time.monotonic() - started)})
        print("%s: %s\n%s" % (name, outcome, detail[-3000:]), flush=True)
        with open(os.path.join(OUT, "results.json"), "w") as f:
            json.dump(results, f, indent=1)

    def make_prefix(arch):
        cached = os.path.exists(os.path.join(IN, "prefix-%s.links" % arch))
        try:
            prefix(arch)
            return "cached" if cached else "made", ""
        except Exception:
            return "fail", traceback.format_exc()

    def scenario(name):
        result, test = unittest.TestResult(), Scenarios("test_" + name)
        test.run(result)
        problems = result.errors + result.failures
        return ("fail", problems[0][1]) if problems else ("pass", getattr(test, "note", ""))

    xvfb = subprocess.Popen(["Xvfb", ":7", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = ":7"
    try:
        for arch in sorted({"w32" if n.endswith("win32") else "w64" for n in chosen}, reverse=True):
            step("prefix_" + arch, lambda: make_prefix(arch))
        for name in chosen:
            step(name, lambda: scenario(name))
    except Exception:
        traceback.print_exc()
        raise
    finally:
        server.close()
        for made in prefixes.values():
            wineprefix.stop_server(made.path)
        xvfb.kill()


if __name__ == "__main__":
    main()
