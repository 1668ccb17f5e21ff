#!/usr/bin/env python3
"""The demo's body (scripts/demo runs it after setup and build): serves scripts/demo-kit plus the
stand-in setup.exe from 127.0.0.1, runs the test variant of the bootstrapper under Wine in a
temporary prefix through a parent launcher named "product[demo].exe", prints the log and what
the stand-in installer received, and removes everything again."""
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


def main():
    start = time.time()
    server = KitServer()
    prefix = Prefix("demo")
    try:
        files = {}
        for here, _, names in os.walk(KIT):
            for name in names:
                if name in ("locations.xml", "contacts.xml"):
                    continue
                rel = os.path.relpath(os.path.join(here, name), KIT).replace(os.sep, "/")
                files[rel] = open(os.path.join(here, name), "rb").read()
        files["setup.exe"] = open(tool("fakesetup"), "rb").read()
        lines = ["{6F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9}"]
        for rel, body in sorted(files.items()):
            server.files["/kit/" + rel] = body
            if rel.startswith("dependencies/"):
                continue  # prerequisites are not kit files: the manifest names them
            lines.append("%s %d %s" % (rel.split("/")[-1], len(body), hashlib.md5(body).hexdigest()))
        server.files["/kit/kitmd5.dat"] = ("\n".join(lines) + "\n").encode()

        app = prefix.new_app()
        app.write("locations.xml", open(os.path.join(KIT, "locations.xml")).read()
                  .replace("@BASE@", server.url("kit")))
        app.write("contacts.xml", open(os.path.join(KIT, "contacts.xml")).read())
        report = os.path.join(app.folder, "setup-report.txt")
        result = app.run("/silent", parent_name="product[demo].exe",
                         env={"WENVAROTH_SETUP_REPORT": prefix.win(report)})

        print("== bootstrapper exit code: %d" % result.returncode)
        print("== log (%s)" % prefix.win(app.log))
        print(app.log_text().rstrip())
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
