"""The progress window as a user meets it: the real program downloads a kit from a slow local
server while a UI driver reads the window, closes it and answers the quit question."""
import os
import subprocess
import time
import unittest

from harness import LAUNCHER, KitServer, Prefix, tool, wineprefix

PRODUCT = "Example Product"
MAKER = "Example Maker"
QUESTION = "Are you sure you want to quit?"
FORCED_CLOSE_LINE = "[WENVAROTH] MessageBox(%s, %s). Action taken: YES" % (QUESTION, MAKER)
DATA_SIZE = 1600000
DATA_RATE = 100000  # bytes per second: the data file takes about 16 s

MANIFEST = """<?xml version="1.0"?>
<locations>
  <manufacturerName>%s</manufacturerName>
  <defaultProductName>%s</defaultProductName>
  <x64>
    <base_url>%%s</base_url>
    <downloadable_files>
      <file name="setup.exe" relative_path="" autorun="false" base_url=""/>
      <file name="setup.xml" relative_path="" autorun="false" base_url=""/>
      <file name="data1.cab" relative_path="" autorun="false" base_url=""/>
    </downloadable_files>
  </x64>
</locations>
""" % (MAKER, PRODUCT)


def setUpModule():
    global prefix
    prefix = Prefix("dialog")


def tearDownModule():
    prefix.close()


def driver(*args, timeout=60):
    """Runs the UI driver; returns (exit code, {key: value} of its output lines)."""
    result = prefix.run(tool("uidriver"), *args, timeout=timeout)
    values = {}
    for line in result.stdout.splitlines():
        key, sep, value = line.partition("=")
        if sep:
            values[key] = value.rstrip("\r")
    return result.returncode, values


class DialogDuringADownload(unittest.TestCase):
    def setUp(self):
        self.server = KitServer()
        with open(LAUNCHER, "rb") as f:
            setup = f.read()  # any Windows program will do as the kit's installer
        files = {"setup.exe": setup, "setup.xml": b"<?xml version=\"1.0\"?><setup/>",
                 "data1.cab": os.urandom(DATA_SIZE)}
        lines = ["{6A1D7C52-93E1-4F0B-8D3C-2B7E5F4A9C10}"]
        for name, body in files.items():
            self.server.files["/kit/" + name] = body
            lines.append("%s %d %s" % (name, len(body), "0" * 32))
        self.server.files["/kit/kitmd5.dat"] = ("\r\n".join(lines) + "\r\n").encode()
        self.server.faults["/kit/data1.cab"] = {"rate": DATA_RATE}
        self.app = prefix.new_app()
        self.app.write("locations.xml", MANIFEST % self.server.url("kit"))
        self.temp_before = prefix.temp_entries()
        self.running = None

    def tearDown(self):
        if self.running is not None and self.running.running():
            # A row that failed midway: its run would go on beside the next row's.
            self.running.kill()
            wineprefix.stop_server(prefix.path)
        self.server.close()

    def wait_for_window(self, visible, timeout=30):
        """The window's texts once it has shown a speed and a time left (visible), or once it was
        found while the data file is on its way (silent, when no question may ever show)."""
        deadline = time.time() + timeout
        texts = {}
        while time.time() < deadline:
            if not self.running.running() and not self.server.requests:
                self.fail("the run ended before any transfer")
            code, texts = driver("find", PRODUCT, "2000" if visible else "500")
            if not visible:
                self.assertNotEqual(driver("answer", MAKER, "no", "0")[0], 0, "a question showed")
                if code == 0 and any(p == "/kit/data1.cab" for _, p in self.server.requests):
                    return texts
            elif code == 0 and "Estimating..." not in (texts["control 1005"], texts["control -1"]):
                return texts
            time.sleep(0.3)
        self.fail("window not seen as expected within %d s: %r" % (timeout, texts))

    def check(self, options, answer):
        """Runs the bootstrapper; answers the quit question with `answer` (None: never closes
        the window); then the checks every row shares."""
        visible = options != "/silent"
        self.running = self.app.start(options)
        texts = self.wait_for_window(visible)
        self.assertEqual(texts["visible"], "1" if visible else "0")
        if visible:
            self.assertEqual(texts["title"], PRODUCT)
            self.assertEqual(texts["control 1004"], "Downloading installer:")
            self.assertEqual(texts["control 1002"], "Download speed:")
            self.assertEqual(texts["control 1003"], "Estimated time left:")
            self.assertRegex(texts["control 1005"], r"^\d+\.\d\d (KB/s|MB/s)$")
            self.assertRegex(texts["control -1"], r"^(\d+ minutes? and )?\d+ seconds?$")
            if os.environ.get("WENVAROTH_SCREENSHOT"):
                take_screenshot(os.environ["WENVAROTH_SCREENSHOT"], texts["rect"])
        others = []
        if answer:
            self.assertEqual(driver("close", PRODUCT)[0], 0)
            code, box = driver("answer", MAKER, answer, "10000")
            self.assertEqual(code, 0, "no quit question appeared")
            self.assertEqual(box["text"], QUESTION)
        if answer == "no":
            code, texts = driver("find", PRODUCT, "2000")
            self.assertEqual((code, texts.get("visible")), (0, "1"))
        elif answer == "yes":
            self.assertEqual(driver("gone", PRODUCT, "5000")[0], 0)
            # The user chose to quit: no download problem may be reported to them afterwards.
            deadline = time.time() + 30
            while self.running.running() and time.time() < deadline:
                code, box = driver("answer", MAKER, "ok", "1000")
                if code == 0:
                    others.append(box.get("text"))

        code = self.running.wait(timeout=90)
        self.assertEqual(code, 0, self.running.stderr)
        lines = self.app.log_lines()
        self.assertEqual(others, [])
        self.assertEqual(prefix.temp_entries(), self.temp_before)
        cancelled = answer == "yes"
        self.assertEqual("[WENVAROTH] Download canceled!" in lines, cancelled, lines)
        handed = [l for l in lines if l.startswith("[WENVAROTH] setupCommandLine(")]
        self.assertEqual(len(handed), 0 if cancelled else 1, lines)
        # The worker's own close at the end is the only forced close; a user's Yes is not logged.
        self.assertEqual(lines.count(FORCED_CLOSE_LINE), 0 if cancelled else 1, lines)
        if cancelled:
            served = [p for _, p in self.server.requests if p == "/kit/data1.cab"]
            self.assertEqual(len(served), 1)
        if not visible:
            self.assertIn("[WENVAROTH] HIDE WINDOW", lines)
            self.assertIn("/silent", handed[0])


# name: the parent's options, the answer to the quit question (None: the window is never closed)
ROWS = {
    "no_keeps_the_download_going": ("", "no"),
    "yes_cancels_without_hand_over": ("", "yes"),
    "silent_shows_nothing_and_asks_nothing": ("/silent", None),
}
for _name, _row in ROWS.items():
    setattr(DialogDuringADownload, "test_" + _name, lambda self, row=_row: self.check(*row))


def take_screenshot(path, rect):
    """The whole virtual screen, cropped to the dialog."""
    left, top, right, bottom = (int(v) for v in rect.split(","))
    time.sleep(1.5)  # one more tick, so the texts are drawn
    whole = path + ".full.png"
    subprocess.run(["import", "-window", "root", whole], check=True, timeout=30)
    subprocess.run(["convert", whole, "-crop", "%dx%d+%d+%d" % (right - left, bottom - top,
                    left, top), "+repage", path], check=True, timeout=30)
    os.remove(whole)


if __name__ == "__main__":
    unittest.main()
