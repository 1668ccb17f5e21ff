"""A kit folder whose path holds a blank, as under "C:\\Documents and Settings" or a user name with
a blank: only the kit's own programs run, each with the command line the log shows.

The prefix's %temp% is "C:\\users\\First Last\\Temp" (HKCU\\Environment TEMP and TMP), so Windows,
searching along an unquoted path, would try "C:\\users\\First.exe" first: a marker program
waits there and must never run."""
import os
import shutil
import unittest

from harness import LAUNCHER, KitServer, Prefix, tool

TEMP = "C:\\users\\First Last\\Temp"
PRODUCT = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E71}"  # never installed


def setUpModule():
    global prefix, server
    prefix = Prefix("blanktemp")
    server = KitServer()
    for name in ("TEMP", "TMP"):
        result = prefix.run("reg", "add", "HKCU\\Environment", "/v", name, "/t", "REG_SZ", "/d",
                            TEMP, "/f")
        assert result.returncode == 0, result.stdout + result.stderr


def tearDownModule():
    server.close()
    prefix.close()


class BlankInTheKitFolder(unittest.TestCase):
    def test_only_the_kits_programs_run_with_the_logged_command_lines(self):
        temp = os.path.join(prefix.drive_c, "users", "First Last", "Temp")
        os.makedirs(temp, exist_ok=True)
        shutil.copy(tool("fakesetup"), os.path.join(prefix.drive_c, "users", "First.exe"))
        with open(tool("fakesetup"), "rb") as f:
            files = {"setup.exe": f.read(), "setup.xml": b"<setup/>"}
        files["prepare.exe"] = files["setup.exe"]
        server.files["/kit/kitmd5.dat"] = (PRODUCT + "\n" + "".join(
            "%s %d 0123456789abcdef0123456789abcdef\n" % (n, len(b)) for n, b in files.items())
        ).encode()
        server.files.update(("/kit/" + name, body) for name, body in files.items())
        section = "<base_url>%s</base_url><downloadable_files>%s</downloadable_files>" % (
            server.url("kit"), "".join('<file name="%s" relative_path="" autorun="%s" base_url=""/>'
                                       % (n, str(n == "prepare.exe").lower()) for n in files))
        app = prefix.new_app()
        app.write("locations.xml", "<locations><manufacturerName>M</manufacturerName>"
                  "<x86>%s</x86><x64>%s</x64></locations>" % (section, section))
        # The parent's path holds blanks too: it reaches setup.exe in quotes.
        parent = os.path.join("my vendor app", "run me.exe")
        os.makedirs(os.path.join(app.folder, "parent", "my vendor app"))
        shutil.copy(LAUNCHER, os.path.join(app.folder, "parent", parent))
        report = os.path.join(app.folder, "report")
        result = app.run("/silent", parent_name=parent,
                         env={"WENVAROTH_SETUP_REPORT": prefix.win(report)})
        self.assertEqual(result.returncode, 0, result.stderr)

        # Each command line as the program received it, and as the log shows it.
        received = {}
        for name in ("", ".prepare.exe", ".First.exe"):
            if os.path.exists(report + name):
                with open(report + name, encoding="utf-8") as f:
                    received[name] = f.readline().rstrip("\n")[len("cmd="):]
        logged = [line[len(mark):line.rindex(end)] for line in app.log_lines()
                  for mark, end in (("[WENVAROTH] RunCommand(cmd=", ", wait=-1, dir="),
                                    ("[WENVAROTH] setupCommandLine(", ")"))
                  if line.startswith(mark)]
        kit = TEMP + "\\talvotempdir01\\"
        setup = kit + 'setup.exe /silent /parent_process:"%s"' % prefix.win(
            os.path.join(app.folder, "parent", parent))
        self.assertEqual(logged, [kit + "prepare.exe", setup, setup])
        self.assertEqual(received, {"": setup, ".prepare.exe": kit + "prepare.exe"})
        self.assertEqual(os.listdir(temp), [])


if __name__ == "__main__":
    unittest.main()
