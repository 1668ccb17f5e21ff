"""Start-up as a parent program meets it: options from the parent's command line only, the log
(where the parent could write it, outside texts kept inside their lines), libraries named bare
from the system folder, the parent's path, the operating-system stop (string 118), planted
resource libraries, an unknown own folder. Every run_app checks exit code 0, %temp% unchanged,
stamps."""
import os
import re
import shutil
import unittest

from harness import LAUNCHER, PRODUCT_EXE, PRODUCT_UI, TEST_EXE, Prefix, driver, tool

MANIFEST = ("<locations><manufacturerName>%s</manufacturerName><defaultProductName>%s"
            "</defaultProductName><x86><base_url>http://127.0.0.1:9/kit</base_url></x86>"
            "<x64><base_url>http://127.0.0.1:9/kit</base_url></x64></locations>")
NAMES = ("Example Maker", "Example Product")  # the manifest's maker and product
STAMP = re.compile(r"^\[\d\d:\d\d:\d\d:\d\d\d\] ")
OS_TEXT = "%s cannot be installed on your operating system."
OS_LINE = ("[SETUP] OS Version (0 - unknown, 1 - XP, 2 - VISTA no sp, 3 - VISTA with sp, "
           "4 - Win 7): 0")
REFUSED = ("[WENVAROTH] Text 118 of the resource library does not take the program's values; "
           "the program's own text is used")
TRANSLATION = "%s kann auf diesem Rechner nicht laufen, leider."
FOLDER_TEXT = ("This program cannot run from its current folder. Please move it to a folder with "
               "a shorter path and start it again.")


def setUpModule():
    global prefix
    prefix = Prefix("startup")


def tearDownModule():
    prefix.close()


def planted_ui(text):
    """The shipped resource library with string 118 replaced by `text` of the same length."""
    with open(PRODUCT_UI, "rb") as f:
        data = f.read()
    old, new = OS_TEXT.encode("utf-16-le"), text.encode("utf-16-le")
    assert len(new) == len(old) and data.count(old) == 1, text
    return data.replace(old, new)


def new_app(exe=None, ui=None, names=NAMES):
    app = prefix.new_app(exe=exe)
    app.write("locations.xml", MANIFEST % names)
    if ui is not None:
        app.write("wenvaroth.ui", ui)
    return app


class Startup(unittest.TestCase):
    def run_app(self, options="/silent", exe=None, ui=None, names=NAMES, **kwargs):
        app = new_app(exe, ui, names)
        before = prefix.temp_entries()
        result = app.run(options, timeout=60, **kwargs)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(prefix.temp_entries(), before)
        for line in app.log_text().splitlines():
            self.assertRegex(line, STAMP)
        return app, app.log_lines()

    def answer_box(self, running, caption):
        """Presses OK on the message box titled `caption`; its text once the program has ended."""
        try:
            code, box = driver(prefix, "answer", caption, "ok", "30000")
            self.assertEqual(code, 0)
            self.assertEqual(running.wait(60).returncode, 0)
        finally:
            running.kill()
        return box["text"]

    def test_options_and_path_come_from_the_parent(self):
        for parent in ("launcher.exe", "my vendor app/run me.exe", "product[partner7].exe"):
            with self.subTest(parent=parent):
                app, lines = self.run_app(parent_name=parent)
                self.assertEqual(lines[0], "[WENVAROTH] is Silent Install")
                self.assertIn("[WENVAROTH] HIDE WINDOW", lines)
                named = [l for l in lines if l.startswith("[WENVAROTH] Parent process name: ")]
                self.assertEqual(len(named), 1, lines)
                self.assertRegex(named[0], re.escape(parent.replace("/", "\\")) + r" with pid \d+$")

    def test_logging_stays_off(self):
        # Options on its own command line, a missing folder, a path too long for its buffer; a
        # folder the parent may not add to, a file it may not append to (Unix modes, which Wine
        # reads back as their security; root, which Wine runs as here, could write both), a
        # folder that is a link (to Wine, a Unix symbolic link is a reparse point).
        places = [os.path.join(prefix.drive_c, name) for name in ("sealed", "kept", "target")]
        for folder in places:
            os.makedirs(folder)
        with open(os.path.join(places[1], "old.log"), "w") as f:
            f.write("old\n")
        os.chmod(os.path.join(places[1], "old.log"), 0o444)
        os.chmod(places[0], 0o555)
        os.symlink(places[2], os.path.join(prefix.drive_c, "linked"))
        for options, own_args in (("/silent", "/log:C:\\own.log"),
                                  ("/silent /log:C:\\no\\such\\folder\\x.log", ""),
                                  ("/silent /log:C:\\" + "x" * 300 + ".log", ""),
                                  ("/silent /log:C:\\sealed\\x.log", ""),
                                  ("/silent /log:C:\\kept\\old.log", ""),
                                  ("/silent /log:C:\\linked\\x.log", "")):
            with self.subTest(options=options[:60], own_args=own_args):
                before = set(os.listdir(prefix.drive_c))
                app, _ = self.run_app(options, own_args=own_args, log=False)
                self.assertEqual(set(os.listdir(prefix.drive_c)) - before,
                                 {os.path.basename(app.folder)})
                self.assertFalse(os.path.exists(os.path.join(app.folder, "downloaderlog.txt")))
        self.assertEqual([os.listdir(folder) for folder in places], [[], ["old.log"], []])
        with open(os.path.join(places[1], "old.log")) as f:
            self.assertEqual(f.read(), "old\n")

    def test_log_without_value_goes_to_the_current_folder_and_appends(self):
        app = new_app()
        work, linked = os.path.join(app.folder, "work"), os.path.join(app.folder, "linked")
        log = os.path.join(work, "downloaderlog.txt")
        os.makedirs(work)
        os.makedirs(linked)
        for _ in range(2):
            self.assertEqual(prefix.run(LAUNCHER, prefix.win(app.exe), "/log", "/silent",
                                        cwd=work).returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(app.folder, "downloaderlog.txt")))
        with open(log, "rb") as f:
            text = f.read()
        self.assertEqual(text.count(b"[WENVAROTH] is Silent Install\r\n"), 2)
        # A second name for a file (a planted hard link) is never appended through.
        os.link(log, os.path.join(linked, "downloaderlog.txt"))
        self.assertEqual(prefix.run(LAUNCHER, prefix.win(app.exe), "/log", "/silent",
                                    cwd=linked).returncode, 0)
        with open(log, "rb") as f:
            self.assertEqual(f.read(), text)

    def test_operating_system_stop_with_its_own_or_a_fitting_translated_text(self):
        # The test variant stops for each unsupported answer. Wine answers the server query with
        # yes, so the shipped program stops too; a planted library's string 118 is taken only
        # with the program's own conversions: with any other it would read or write through
        # made-up arguments.
        rows = [(TEST_EXE, answers, None, True)
                for answers in ("0,5,0,1,", "0,6,2,1,", "0,6,1,3,", "1,6,1,1,")]
        rows += [(PRODUCT_EXE, None, text, taken) for text, taken in (
            (OS_TEXT, True), ("%s cannot be installed on %s operating system!!!", False),
            ("%s cannot be installed on your operating syst%n.", False),
            ("%d cannot be installed on your operating system.", False), (TRANSLATION, True))]
        for exe, answers, text, taken in rows:
            with self.subTest(answers=answers, text=text):
                _, lines = self.run_app(exe=exe, ui=text and planted_ui(text),
                                        env=answers and {"WENVAROTH_TEST_OS": answers})
                self.assertIn(OS_LINE, lines)
                shown = (text if taken and text else OS_TEXT) % "Example Product"
                self.assertIn("[WENVAROTH] MessageBox(%s, Example Maker)" % shown, lines)
                self.assertEqual([l for l in lines if "resource library" in l],
                                 [] if taken else [REFUSED])
                self.assertNotIn("[WENVAROTH] HIDE WINDOW", lines)  # no worker, no dialog
                self.assertEqual(lines[-1], "[WENVAROTH] Run ended: refused: the operating system")

    def test_libraries_named_bare_come_from_the_system_folder_after_start_up(self):
        # A real run (test_runs) loads nothing from its folder either way: the program's own loads
        # name the system folder, and so do their own imports. What the system loads later by
        # bare name, after the program's start-up routine, proves that routine here.
        app = prefix.new_app(exe=tool("searchprobe"))
        for name in ("dwmapi.dll", "winmm.dll"):
            shutil.copy(PRODUCT_UI, os.path.join(app.folder, name))
        result = prefix.run(app.exe, "dwmapi.dll", "winmm.dll")
        self.assertEqual(result.stdout.split(), ["C:\\windows\\system32\\dwmapi.dll",
                                                 "C:\\windows\\system32\\winmm.dll"])

    def test_manifest_texts_never_start_a_log_line(self):
        # CR LF, a tab, DEL, NEL (a line end to some readers) and C1 characters inside the names;
        # run_app sees every line start with a stamp.
        _, lines = self.run_app(exe=PRODUCT_EXE, names=(
            "Maker&#13;&#10;[00:00:00:000] forged&#133;&#159;", "Product&#9;&#127;&#128;&#160;"))
        self.assertIn("[WENVAROTH] MessageBox(%s, Maker??[00:00:00:000] forged??)"
                      % (OS_TEXT % "Product???\xa0"), lines)

    def test_an_unknown_own_folder_reads_loads_and_writes_nothing(self):
        # A path of 260 characters does not fit its buffer (259 do): the own folder unknown,
        # every file would be looked up by bare name, in the current folder first. Wine starts a
        # program from such a path only from the Linux side: no Windows parent, no option.
        work = os.path.join(prefix.drive_c, "work")
        for length, caption, text in ((259, "Planted Maker", TRANSLATION % "Planted Product"),
                                      (260, "", FOLDER_TEXT)):
            deep = os.path.join(prefix.drive_c, str(length) * 40, "x" * (length - 138))
            for folder in (deep, work):
                os.makedirs(folder, exist_ok=True)
                with open(os.path.join(folder, "locations.xml"), "w") as f:
                    f.write(MANIFEST % ("Planted Maker", "Planted Product"))
                with open(os.path.join(folder, "wenvaroth.ui"), "wb") as f:
                    f.write(planted_ui(TRANSLATION))
            shutil.copy(PRODUCT_EXE, os.path.join(deep, "wenvaroth.exe"))
            running = prefix.start(os.path.join(deep, "wenvaroth.exe"), cwd=work)
            self.assertEqual(self.answer_box(running, caption), text)
            self.assertEqual(sorted(os.listdir(work)), ["locations.xml", "wenvaroth.ui"])


if __name__ == "__main__":
    unittest.main()
