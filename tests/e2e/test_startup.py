"""Start-up as a parent program meets it: options from the parent's command line only, the log,
the parent's path, and the operating-system stop as Wine really answers."""
import os
import re
import unittest

from harness import PRODUCT_EXE, Prefix, tool

MANIFEST = """<?xml version="1.0"?>
<locations>
  <manufacturerName>Example Maker</manufacturerName>
  <defaultProductName>Example Product</defaultProductName>
  <x86><base_url>http://127.0.0.1:9/kit</base_url></x86>
  <x64><base_url>http://127.0.0.1:9/kit</base_url></x64>
</locations>
"""

STAMP = re.compile(r"^\[\d\d:\d\d:\d\d:\d\d\d\] ")


def setUpModule():
    global prefix
    prefix = Prefix("startup")


def tearDownModule():
    prefix.close()


class OptionsComeFromTheParent(unittest.TestCase):
    def test_silent_and_log_on_the_parents_command_line(self):
        app = prefix.new_app()
        app.write("locations.xml", MANIFEST)
        result = app.run("/silent")
        self.assertEqual(result.returncode, 0, result.stderr)
        text = app.log_text()
        for line in text.splitlines():
            self.assertRegex(line, STAMP)
        lines = app.log_lines()
        self.assertEqual(lines[0], "[WENVAROTH] is Silent Install")
        self.assertIn("[WENVAROTH] HIDE WINDOW", lines)
        parent = [l for l in lines if l.startswith("[WENVAROTH] Parent process name: ")]
        self.assertEqual(len(parent), 1)
        self.assertRegex(parent[0], r"parent\\launcher\.exe with pid \d+$")

    def test_options_on_its_own_command_line_have_no_effect(self):
        app = prefix.new_app()
        app.write("locations.xml", MANIFEST)
        own_log = os.path.join(app.folder, "own.log")
        result = app.run("/silent", own_args="/log:" + prefix.win(own_log), log=False)
        self.assertEqual(result.returncode, 0)
        self.assertFalse(os.path.exists(own_log))
        self.assertFalse(os.path.exists(os.path.join(app.folder, "downloaderlog.txt")))

    def test_quoted_parent_path_with_spaces_then_silent(self):
        app = prefix.new_app()
        app.write("locations.xml", MANIFEST)
        parent_dir = os.path.join(app.folder, "parent", "my vendor app")
        os.makedirs(parent_dir)
        from harness import LAUNCHER
        import shutil
        shutil.copy(LAUNCHER, os.path.join(parent_dir, "run me.exe"))
        result = app.run("/silent", parent_name=os.path.join("my vendor app", "run me.exe"))
        self.assertEqual(result.returncode, 0)
        lines = app.log_lines()
        self.assertIn("[WENVAROTH] is Silent Install", lines)
        self.assertTrue(any(l.endswith("\\my vendor app\\run me.exe with pid " + l.split()[-1])
                            for l in lines if "Parent process name" in l), lines)

    def test_log_without_value_goes_to_the_current_folder_and_appends(self):
        app = prefix.new_app()
        app.write("locations.xml", MANIFEST)
        work = os.path.join(app.folder, "work")
        os.makedirs(work)
        for _ in range(2):
            result = prefix.run(os.path.join(app.folder, "parent", "launcher.exe")
                                if os.path.exists(os.path.join(app.folder, "parent", "launcher.exe"))
                                else self._launcher(app), prefix.win(app.exe), "/log", "/silent",
                                cwd=work)
            self.assertEqual(result.returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(app.folder, "downloaderlog.txt")))
        with open(os.path.join(work, "downloaderlog.txt"), "rb") as f:
            text = f.read().decode("latin-1")
        self.assertEqual(text.count("[WENVAROTH] is Silent Install"), 2)
        self.assertIn("\r\n", text)

    def test_log_in_a_missing_folder_turns_logging_off(self):
        app = prefix.new_app()
        app.write("locations.xml", MANIFEST)
        result = app.run("/silent /log:C:\\no\\such\\folder\\x.log", log=False)
        self.assertEqual(result.returncode, 0)

    def test_log_path_too_long_turns_logging_off(self):
        app = prefix.new_app()
        app.write("locations.xml", MANIFEST)
        long_path = "C:\\" + "x" * 300 + ".log"
        result = app.run("/silent /log:" + long_path, log=False)
        self.assertEqual(result.returncode, 0)
        self.assertEqual([f for f in os.listdir(os.path.join(prefix.drive_c)) if f.startswith("xxx")],
                         [])

    @staticmethod
    def _launcher(app):
        from harness import LAUNCHER
        import shutil
        os.makedirs(os.path.join(app.folder, "parent"), exist_ok=True)
        path = os.path.join(app.folder, "parent", "launcher.exe")
        shutil.copy(LAUNCHER, path)
        return path


class OperatingSystemStop(unittest.TestCase):
    def test_the_shipped_program_stops_as_wine_answers(self):
        # Wine answers the server query with yes on every system, so the shipped program must
        # refuse to go on, with string 118 in the log, and still end with 0.
        app = prefix.new_app(exe=PRODUCT_EXE, with_ui=True)
        app.write("locations.xml", MANIFEST)
        before = prefix.temp_entries()
        result = app.run("/silent", parent_name="product[partner7].exe",
                         env={"WENVAROTH_TEST_OS": "0,6,1,1,"})
        self.assertEqual(result.returncode, 0)
        lines = app.log_lines()
        self.assertIn("[SETUP] OS Version (0 - unknown, 1 - XP, 2 - VISTA no sp, "
                      "3 - VISTA with sp, 4 - Win 7): 0", lines)
        self.assertTrue(any(l.startswith("[WENVAROTH] MessageBox(") and
                            "cannot be installed on your operating system." in l for l in lines),
                        lines)
        self.assertTrue(any(l.endswith("product[partner7].exe with pid " + l.split()[-1])
                            for l in lines if "Parent process name" in l))
        self.assertNotIn("[WENVAROTH] HIDE WINDOW", lines)  # no worker, no dialog
        self.assertEqual(prefix.temp_entries(), before)

    def test_unsupported_system_shows_its_message_box(self):
        app = prefix.new_app(exe=PRODUCT_EXE)
        app.write("locations.xml", MANIFEST)
        running = app.start("")
        try:
            answer = prefix.run(tool("uidriver"), "answer", "Example Maker", "ok", "30000",
                                timeout=60)
            self.assertEqual(answer.returncode, 0, answer.stdout + answer.stderr)
            self.assertIn("text=Example Product cannot be installed on your operating system.",
                          answer.stdout)
            self.assertEqual(running.wait(60), 0)
        finally:
            running.kill()
        self.assertFalse(any(l.startswith("[WENVAROTH] MessageBox(") for l in app.log_lines()))

    def test_unsupported_codes_of_the_test_variant(self):
        for answers in ("0,5,0,1,", "0,6,2,1,", "0,6,1,3,", "1,6,1,1,"):
            with self.subTest(answers=answers):
                app = prefix.new_app()
                app.write("locations.xml", MANIFEST)
                result = app.run("/silent", env={"WENVAROTH_TEST_OS": answers})
                self.assertEqual(result.returncode, 0)
                lines = app.log_lines()
                self.assertIn("[SETUP] OS Version (0 - unknown, 1 - XP, 2 - VISTA no sp, "
                              "3 - VISTA with sp, 4 - Win 7): 0", lines)
                self.assertNotIn("[WENVAROTH] HIDE WINDOW", lines)


if __name__ == "__main__":
    unittest.main()
