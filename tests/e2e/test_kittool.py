"""The vendor's kit tool, the test build's wenvaroth-kit.exe (the shipped one's sources): `make`
writes a kit list that a real run takes, and `check` passes the demo kit and names each mistake
vendors make, one finding per line."""
import hashlib
import os
import re
import shutil
import unittest

from harness import BUILD, SOURCE, Kit, KitRun, KitServer, Prefix, tool

KIT_TOOL = os.path.join(BUILD, "wenvaroth-kit.exe")
DEMO = os.path.join(SOURCE, "scripts", "demo-kit")
DEMO_PRODUCT = b"{6F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9}"
DATA1_MD5 = "26767a42a8606bd1e1a596ca1adc9b72"


def setUpModule():
    global prefix, server
    prefix, server = Prefix("kittool"), KitServer()


def tearDownModule():
    server.close()
    prefix.close()


def kit_tool(*args):
    """Runs the tool: its exit code and output lines. Every failing verdict of the tool says why:
    a failure without a word is Wine's own start failing (seen once under load), run once more."""
    for attempt in range(2):
        result = prefix.run(KIT_TOOL, *args, timeout=60)
        if result.stdout or result.returncode == 0:
            break
    output = result.stdout.encode("latin-1").decode("utf-8")  # read as Latin-1, written as UTF-8
    return result.returncode, output.replace("\r", "").splitlines()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def edit(path, old, new, count=-1):
    data = read(path)
    assert old in data, (path, old)
    write(path, data.replace(old, new, count))


def demo_kit(name):
    """The demo kit as a vendor's build holds it: its tree, the stand-in installer as setup.exe and
    prepare.exe, their size and checksum in the kit list. The application and kit folders."""
    root = os.path.join(prefix.drive_c, name)
    shutil.copytree(DEMO, root)
    app, kit = os.path.join(root, "app"), os.path.join(root, "server", "kit")
    standin = read(tool("fakesetup"))
    for program in ("setup.exe", "prepare.exe"):
        write(os.path.join(kit, program), standin)
    edit(os.path.join(kit, "kitmd5.dat"), b"@STANDIN_SIZE@", b"%d" % len(standin))
    edit(os.path.join(kit, "kitmd5.dat"), b"@STANDIN_MD5@",
         hashlib.md5(standin).hexdigest().encode())
    return app, kit


def in_x64(app, old, new):
    x86, x64 = read(os.path.join(app, "locations.xml")).split(b"<x64>")
    write(os.path.join(app, "locations.xml"), x86 + b"<x64>" + x64.replace(old, new))


MANIFEST, LIST, SETUP_XML = "locations.xml", "kitmd5.dat", "setup.xml"


def change(where, old, new):
    return lambda app, kit: edit(os.path.join(app if where == MANIFEST else kit, where), old, new)


def remove(path):
    return lambda app, kit: os.remove(os.path.join(kit, path))


# (mistake, change(app, kit), extra arguments, exit code, lines the output must hold; a line
# ending in "…" is a start).
MISTAKES = [
    ("none", lambda app, kit: None, (), 0, ["0 findings"]),
    ("misspelt attribute", change(MANIFEST, b'"data1.cab" relative_path', b'"data1.cab" relative_pth'),
     (), 1, ["locations.xml: Dropped manifest entry 3 of x86/downloadable_files (data1.cab): no "
             "attribute relative_path (attributes not read: relative_pth)",
             "locations.xml: Dropped manifest entry 3 of x64/downloadable_files (data1.cab): no "
             "attribute relative_path (attributes not read: relative_pth)",
             "kitmd5.dat: data1.cab is named by no file entry of the manifest"]),
    ("kit-list name with its folder", change(LIST, b"\ndata1.cab ", b"\ndata/core/data1.cab "), (),
     1, ["x86/downloadable_files: file data1.cab is not in kitmd5.dat and is never downloaded",
         "kitmd5.dat: data/core/data1.cab is named by no file entry of the manifest"]),
    ("os in another letter case", change(MANIFEST, b'os="all"', b'os="All"'), (), 1,
     ['locations.xml: Dropped manifest entry 1 of x86/dependencies (runtime.msi): unknown os '
      '"All" (all, xp, vista or win7, in lower case)']),
    ("kit list without setup.exe", lambda app, kit: write(os.path.join(kit, LIST), re.sub(
        rb"\nsetup\.exe [^\n]*", b"", read(os.path.join(kit, LIST)))), (), 1,
     ["x64/downloadable_files: file setup.exe is not in kitmd5.dat and is never downloaded",
      "x86: the kit has no setup.exe at its top", "x64: the kit has no setup.exe at its top"]),
    ("kit list saved with a byte order mark", change(LIST, b"{6F1E", b"\xef\xbb\xbf{6F1E"), (), 0,
     ["note: kitmd5.dat starts with a UTF-8 byte order mark, skipped"]),
    ("kit list cut inside its last record", lambda app, kit: write(os.path.join(kit, LIST), read(
        os.path.join(kit, LIST)).rstrip()[:-33]), (), 1,
     ["kitmd5.dat: line 6: the list ends after a size, without its checksum"]),
    ("setup.xml not well-formed", lambda app, kit: write(os.path.join(kit, SETUP_XML), read(
        os.path.join(kit, SETUP_XML))[:100]), (), 1,
     ["setup.xml is not well-formed: line …", "setup.xml: the kit list says 178 bytes, the file "
                                              "has 100"]),
    ("size differs", change(LIST, b"data1.cab 20000", b"data1.cab 20001"), (), 1,
     ["data1.cab: the kit list says 20001 bytes, the file has 20000"]),
    ("checksum differs", change(LIST, DATA1_MD5.encode(), b"f" * 32), (), 1,
     ["data1.cab: the kit list's checksum %s differs from the file's MD5 %s" % ("f" * 32,
                                                                                DATA1_MD5)]),
    ("checksum of zeros", change(LIST, DATA1_MD5.encode(), b"0" * 32), (), 0,
     ['note: data1.cab: checksum "%s" is no digest: unchecked' % ("0" * 32)]),
    ("x64 section without one file", lambda app, kit: in_x64(app, b'<file name="readme.txt"',
                                                              b'<file name="readme.txt.old"'),
     (), 1, ['x86/downloadable_files: file readme.txt (relative_path "") is not in x64',
             'x64/downloadable_files: file readme.txt.old (relative_path "") is not in x86']),
    ("prerequisite missing", remove("dependencies/runtime.msi"), (), 1,
     ["x86/dependencies: runtime.msi (os all) is missing from the dependencies folder"]),
    ("kit file missing", remove("data/data1.cab"), (), 1, ["data1.cab: listed, but …"]),
    ("manifest not well-formed", change(MANIFEST, b"</locations>", b""), (), 1,
     ["locations.xml: Cannot load the manifest …"]),
    # The longest path is %TEMP%\talvotempdir01\dependencies\xpupdate.exe: 41 characters more.
    ("path budget at its limit", lambda app, kit: None, ("--temp-chars", "218"), 0,
     ["note: longest path %TEMP%\\talvotempdir01\\dependencies\\xpupdate.exe: 259 characters with "
      "a %TEMP% of 218 (limit 259)"]),
    ("path budget one over", lambda app, kit: None, ("--temp-chars", "219"), 1,
     ["%TEMP%\\talvotempdir01\\dependencies\\xpupdate.exe: 260 characters with a %TEMP% of 219, "
      "over the limit of 259"]),
    ("no temp length", lambda app, kit: None, ("--temp-chars",), 2, ["usage: …"]),
]


class KitTool(KitRun):
    def assert_lines(self, output, lines):
        for line in lines:
            found = [l for l in output if l == line or line.endswith("…") and
                     l.startswith(line[:-1])]
            self.assertTrue(found, "%s\nnot in:\n%s" % (line, "\n".join(output)))

    def test_check_names_each_mistake(self):
        # The clean demo kit gives the guide's example.
        with open(os.path.join(SOURCE, "docs", "deploying.md"), encoding="utf-8") as f:
            example = f.read().split("For the demo kit")[1].split("\n\n")[1]
        MISTAKES[0] = MISTAKES[0][:4] + ([line[4:] for line in example.splitlines()],)
        for n, (mistake, make_it, args, code, lines) in enumerate(MISTAKES):
            with self.subTest(mistake):
                app, kit = demo_kit("check%02d" % n)
                make_it(app, kit)
                found, output = kit_tool("check", prefix.win(app), prefix.win(kit), *args)
                self.assertEqual(found, code, "\n".join(output))
                self.assert_lines(output, lines)

    def test_check_asks_the_server_given_a_base_address(self):
        app, kit = demo_kit("served")
        base, mirror = "/served/kit/", "/served/mirror/"
        for here, _, names in os.walk(os.path.dirname(kit)):
            for name in names:
                path = os.path.join(here, name)
                server.files["/served/" + os.path.relpath(path, os.path.dirname(kit))] = read(path)
        edit(os.path.join(app, MANIFEST), b"@MIRROR@", server.url(mirror).encode())
        code, output = kit_tool("check", prefix.win(app), server.url(base))
        self.assertEqual(code, 0, "\n".join(output))
        del server.files[base + "data/data1.cab"]
        code, output = kit_tool("check", prefix.win(app), server.url(base))
        self.assertEqual(code, 1, "\n".join(output))
        self.assert_lines(output, ["data1.cab: listed, but %s gives no length …"
                                   % server.url(base + "data/data1.cab")])

    def test_made_kit_list_is_taken_by_a_real_run(self):
        kit = Kit(prefix, server)
        kit.files["data/deep/data2.cab"] = b"second cabinet"
        folder = os.path.join(prefix.drive_c, "made")
        for path, data in kit.files.items():
            write(os.path.join(folder, path), data)
        # Neither the prerequisites nor an old kit list are kit files.
        write(os.path.join(folder, "dependencies", "runtime.msi"), b"prerequisite")
        write(os.path.join(folder, LIST), b"old list")
        code, output = kit_tool("make", prefix.win(folder), kit.product)
        self.assertEqual(code, 0, "\n".join(output))
        made = read(os.path.join(folder, LIST))
        records = sorted((p.replace("/", "\\"), p.rsplit("/", 1)[-1], d)
                         for p, d in kit.files.items())
        self.assertEqual(made, (kit.product + "\r\n" + "".join(
            "%s %d %s\r\n" % (name, len(data), hashlib.md5(data).hexdigest())
            for _, name, data in records)).encode())
        kit.kit_list = made
        kit.serve()
        self.run_kit(kit, "handed")

    def test_make_refuses_what_the_program_would(self):
        folder = os.path.join(prefix.drive_c, "refused")
        good = {"\u00e9t\u00e9.cab": b"latin", "a/same.cab": b"same", "b/same.cab": b"same"}
        bad = {"a b.cab": "a blank would split the name in the kit list",
               "\u0109.cab": "a character of the name has no single-byte form in the kit list",
               "c/same.cab": "another file of this name, a\\same.cab, has other contents"}
        for path in list(good) + list(bad):
            write(os.path.join(folder, path), good.get(path, b"other"))
        code, output = kit_tool("make", prefix.win(folder), DEMO_PRODUCT.decode())
        self.assertEqual(code, 1, "\n".join(output))
        self.assert_lines(output, ["%s: %s" % (p.replace("/", "\\"), why) for p, why in bad.items()])
        self.assertFalse(os.path.exists(os.path.join(folder, LIST)))
        for path in bad:
            os.remove(os.path.join(folder, path))
        self.assertEqual(kit_tool("make", prefix.win(folder), "{not-a-code}")[0], 2)
        self.assertEqual(kit_tool("make", prefix.win(folder), DEMO_PRODUCT.decode())[0], 0)
        self.assertIn(b"\n\xe9t\xe9.cab 5 ", read(os.path.join(folder, LIST)))
        self.assertEqual(read(os.path.join(folder, LIST)).count(b"same.cab"), 1)


if __name__ == "__main__":
    unittest.main()
