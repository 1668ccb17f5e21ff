#!/usr/bin/env python3
"""The demo's body (scripts/demo runs it after setup and build): serves scripts/demo-kit/server plus
the stand-in setup.exe from 127.0.0.1, puts scripts/demo-kit/app beside the bootstrapper, runs the
test variant of the bootstrapper under Wine in a temporary prefix through a parent launcher named
"product[demo].exe", prints the log and what the stand-in installer received, and removes
everything again. docs/deploying.md shows the same manifest and kit list."""
import hashlib
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.environ.setdefault("WENVAROTH_BUILD", os.path.join(ROOT, "build", "x64"))
os.environ.setdefault("WENVAROTH_SOURCE", ROOT)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from harness import KitServer, Prefix, tool  # noqa: E402

KIT = os.path.join(ROOT, "scripts", "demo-kit")


def read(*path):
    with open(os.path.join(KIT, *path), "rb") as f:
        return f.read()


def main():
    start = time.time()
    server = KitServer()
    prefix = Prefix("demo")
    try:
        # The server's tree as a vendor lays it out (demo-kit/server), plus the stand-in installer
        # as the kit's setup.exe and its autorun program, whose size and checksum the kit list
        # leaves to be filled in.
        served = os.path.join(KIT, "server")
        for here, _, names in os.walk(served):
            for name in names:
                rel = os.path.relpath(os.path.join(here, name), served).replace(os.sep, "/")
                server.files["/" + rel] = read("server", rel)
        with open(tool("fakesetup"), "rb") as f:
            standin = f.read()
        server.files["/kit/setup.exe"] = server.files["/kit/prepare.exe"] = standin
        server.files["/kit/kitmd5.dat"] = (
            server.files["/kit/kitmd5.dat"].replace(b"@STANDIN_SIZE@", b"%d" % len(standin))
            .replace(b"@STANDIN_MD5@", hashlib.md5(standin).hexdigest().encode()))

        app = prefix.new_app()
        app.write("locations.xml", read("app", "locations.xml").decode("utf-8")
                  .replace("@BASE@", server.url("kit")).replace("@MIRROR@", server.url("mirror")))
        app.write("contacts.xml", read("app", "contacts.xml"))
        report = os.path.join(app.folder, "setup-report.txt")
        result = app.run("/silent", parent_name="product[demo].exe",
                         env={"WENVAROTH_SETUP_REPORT": prefix.win(report)})

        print("== bootstrapper exit code: %d" % result.returncode)
        print("== log (%s)" % prefix.win(app.log))
        print(app.log_text().rstrip())
        print("== what the autorun program prepare.exe received (command line, current folder)")
        print("\n".join(open(report + ".prepare.exe", encoding="utf-8").read().splitlines()[:2])
              if os.path.exists(report + ".prepare.exe") else "(prepare.exe did not run)")
        print("== what the stand-in setup.exe received (command line, current folder, its folder's "
              "access list)")
        print(open(report, encoding="utf-8").read().rstrip() if os.path.exists(report)
              else "(setup.exe did not run)")
        kit = report + ".kit"  # the stand-in's copy of the kit folder it was handed
        if os.path.isdir(kit):
            print("== the kit folder as setup.exe saw it")
            for here, _, names in sorted(os.walk(kit)):
                for name in sorted(names):
                    path = os.path.join(here, name)
                    print("%s (%d bytes)" % (os.path.relpath(path, kit), os.path.getsize(path)))
            print("== setup.xml as setup.exe saw it")
            print(open(os.path.join(kit, "setup.xml"), encoding="utf-8").read().rstrip())
        print("== requests served: %s" % ", ".join(p for _, p, _ in server.requests))
        print("== left in %%temp%% afterwards: %s" % (prefix.temp_entries() or "nothing"))
        ok = result.returncode == 0 and os.path.exists(report)
    finally:
        server.close()
        prefix.close()
    print("== demo run took %.1f s" % (time.time() - start))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
