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


def logged(lines, start, end):
    """The texts between `start` and `end` of the log lines that have them."""
    return [l[len(start):len(l) - len(end)] for l in lines if l.startswith(start) and
            l.endswith(end)]


class BlankInTheKitFolder(unittest.TestCase):
    def test_only_the_kits_programs_run_with_the_logged_command_lines(self):
        temp = os.path.join(prefix.drive_c, "users", "First Last", "Temp")
        os.makedirs(temp, exist_ok=True)
        shutil.copy(tool("fakesetup"), os.path.join(prefix.drive_c, "users", "First.exe"))
        with open(tool("fakesetup"), "rb") as f:
            program = f.read()
        files = {"setup.exe": program, "setup.xml": b"<setup/>", "prepare.exe": program}
        server.files["/kit/kitmd5.dat"] = ("%s\n" % PRODUCT + "".join(
            "%s %d 0123456789abcdef0123456789abcdef\n" % (n, len(b)) for n, b in files.items())
        ).encode()
        for name, body in files.items():
            server.files["/kit/" + name] = body
        entries = "".join('<file name="%s" relative_path="" autorun="%s" base_url=""/>'
                          % (n, str(n == "prepare.exe").lower()) for n in files)
        section = ("<base_url>%s</base_url><downloadable_files>%s</downloadable_files>"
                   % (server.url("kit"), entries))
        app = prefix.new_app()
        app.write("locations.xml", "<locations><manufacturerName>M</manufacturerName>"
                  "<x86>%s</x86><x64>%s</x64></locations>" % (section, section))
        # The parent's path holds blanks too: it reaches setup.exe in quotes.
        parent = os.path.join(app.folder, "parent", "my vendor app", "run me.exe")
        os.makedirs(os.path.dirname(parent))
        shutil.copy(LAUNCHER, parent)
        report = os.path.join(app.folder, "report")
        result = app.run("/silent", parent_name=os.path.join("my vendor app", "run me.exe"),
                         env={"WENVAROTH_SETUP_REPORT": prefix.win(report)})
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = app.log_lines()

        received = {}
        for name in ("", ".prepare.exe", ".First.exe"):
            if os.path.exists(report + name):
                with open(report + name, encoding="utf-8") as f:
                    received[name] = f.read().splitlines()[0]
        setup = logged(lines, "[WENVAROTH] setupCommandLine(", ")")
        started = logged(lines, "[WENVAROTH] RunCommand(cmd=", ")")
        self.assertEqual(len(setup), 1, lines)
        self.assertTrue(setup[0].startswith(TEMP + "\\talvotempdir"), setup)
        self.assertTrue(setup[0].endswith('\\setup.exe /silent /parent_process:"%s"'
                                          % prefix.win(parent)), setup)
        prepare = setup[0].split(" /silent")[0].replace("setup.exe", "prepare.exe")
        self.assertEqual([s.split(", wait=-1, dir=")[0] for s in started],
                         [prepare, setup[0]])
        # As Windows hands the command lines over, byte for byte; the marker never ran.
        self.assertEqual(received, {"": "cmd=" + setup[0], ".prepare.exe": "cmd=" + prepare})
        self.assertEqual(os.listdir(temp), [])


if __name__ == "__main__":
    unittest.main()
