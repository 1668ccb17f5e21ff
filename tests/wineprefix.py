#!/usr/bin/env python3
"""Wine prefixes for the tests: one template per build tree, one cheap copy per suite.

Usage:
  wineprefix.py template            make the template if it is missing
  wineprefix.py run EXE [ARGS...]   run EXE in a fresh prefix of its own, then remove the prefix
"""
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
# The large, never-written files of a prefix are hard-linked from the template; everything else
# (registry, ini files, user folders) is copied, so no test can change the template.
LINKED_SUFFIXES = (".dll", ".exe", ".drv", ".sys", ".acm", ".ocx", ".cpl", ".tlb", ".ax", ".ds",
                   ".msstyles", ".nls", ".ttf", ".fon")


def build_dir():
    return os.environ.get("WENVAROTH_BUILD") or os.getcwd()


def base_env(prefix):
    return {**os.environ, "WINEPREFIX": prefix, "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml="}


def wine(prefix, *args, **kwargs):
    return subprocess.run([WINE, *args], env=base_env(prefix), **kwargs)


def stop_server(prefix):
    for option in ("-k", "-w"):  # kill, then wait until it is gone
        subprocess.run([WINESERVER, option], env=base_env(prefix), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


def ensure_template():
    path = os.path.join(build_dir(), "wine-template")
    os.makedirs(build_dir(), exist_ok=True)
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(os.path.join(path, ".ready")):
            return path
        shutil.rmtree(path, ignore_errors=True)
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wine(path, "wineboot", "-i", **quiet)
        # No crash dialog that would wait for a click, and Wine draws the title bars itself, so
        # screenshots under a bare X server show the whole window.
        wine(path, "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t",
             "REG_DWORD", "/d", "0", "/f", **quiet)
        wine(path, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N",
             "/f", **quiet)
        # Wine looks for the caption-button and dialog fonts only among the prefix's own fonts.
        fonts = os.path.join(path, "drive_c", "windows", "Fonts")
        for name in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf"):
            source = os.path.join("/usr/share/wine/fonts", name)
            if os.path.exists(source) and os.path.isdir(fonts):
                shutil.copy(source, fonts)
        stop_server(path)
        open(os.path.join(path, ".ready"), "w").close()
        return path


def make_prefix(name):
    """A fresh prefix copied from the template under the build tree."""
    template = ensure_template()
    root = os.path.join(build_dir(), "prefixes")
    os.makedirs(root, exist_ok=True)
    prefix = tempfile.mkdtemp(prefix=name + ".", dir=root)

    def link_or_copy(source, target):
        if source.lower().endswith(LINKED_SUFFIXES):
            os.link(source, target)
        else:
            shutil.copy2(source, target)

    shutil.copytree(template, prefix, symlinks=True, copy_function=link_or_copy,
                    dirs_exist_ok=True)
    return prefix


def remove_prefix(prefix):
    stop_server(prefix)
    shutil.rmtree(prefix, ignore_errors=True)


def main(argv):
    if len(argv) >= 2 and argv[1] == "template":
        ensure_template()
        return 0
    if len(argv) >= 3 and argv[1] == "run":
        exe = argv[2]
        prefix = make_prefix(os.path.splitext(os.path.basename(exe))[0])
        try:
            # A suite that crashes can still end with code 0 under Wine (seen while another of its
            # threads was blocked in the platform): a run counts only once gtest wrote its report.
            os.environ["GTEST_OUTPUT"] = "xml:C:\\gtest.xml"
            code = wine(prefix, exe, *argv[3:]).returncode
            reported = os.path.exists(os.path.join(prefix, "drive_c", "gtest.xml"))
            return code if code or reported else 1
        finally:
            remove_prefix(prefix)
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
