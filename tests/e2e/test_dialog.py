"""The progress window as a user meets it: the real program downloads a kit from a slow local
server while a UI driver reads the window, closes it and answers the quit question."""
import os
import subprocess
import time
import unittest

from harness import LAUNCHER, KitServer, Prefix, tool

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
        self.kits_before = self.kit_folders()
        self.running = None

    def tearDown(self):
        if self.running is not None:
            self.running.kill()
        self.server.close()

    def kit_folders(self):
        return [e for e in prefix.temp_entries() if e.startswith("talvotempdir")]

    def start(self, options=""):
        self.running = self.app.start(options)

    def fail_if_ended_early(self):
        """A run that ended before any transfer never showed its window to a user."""
        if not self.running.running() and not self.server.requests:
            self.fail("the run ended before any transfer")

    def wait_for_estimate(self, timeout=30):
        """The window's texts once the first speed sample has replaced "Estimating..."."""
        deadline = time.time() + timeout
        texts = {}
        while time.time() < deadline:
            self.fail_if_ended_early()
            code, texts = driver("find", PRODUCT, "2000")
            if code == 0 and texts.get("control 1005", "Estimating...") != "Estimating...":
                return texts
            time.sleep(0.5)
        self.fail("no speed shown within %d s: %r" % (timeout, texts))

    def finish(self, timeout=90):
        code = self.running.wait(timeout=timeout)
        self.assertEqual(code, 0, self.running.stderr)
        return self.app.log_lines()

    def test_shows_progress_and_no_keeps_the_download_going(self):
        self.start()
        texts = self.wait_for_estimate()
        self.assertEqual(texts["visible"], "1")
        self.assertEqual(texts["title"], PRODUCT)
        self.assertEqual(texts["control 1004"], "Downloading installer:")
        self.assertEqual(texts["control 1002"], "Download speed:")
        self.assertEqual(texts["control 1003"], "Estimated time left:")
        self.assertRegex(texts["control 1005"], r"^\d+\.\d\d (KB/s|MB/s)$")
        self.assertRegex(texts["control -1"],
                         r"^(\d+ seconds?|\d+ minutes? and \d+ seconds?|Estimating\.\.\.)$")
        shot = os.environ.get("WENVAROTH_SCREENSHOT")
        if shot:
            take_screenshot(shot, texts["rect"])

        self.assertEqual(driver("close", PRODUCT)[0], 0)
        code, box = driver("answer", MAKER, "no", "10000")
        self.assertEqual(code, 0, "no quit question appeared")
        self.assertEqual(box["text"], QUESTION)
        code, texts = driver("find", PRODUCT, "2000")
        self.assertEqual(code, 0)
        self.assertEqual(texts["visible"], "1")

        lines = self.finish()
        self.assertNotIn("[WENVAROTH] Download canceled!", lines)
        self.assertTrue(any(l.startswith("[WENVAROTH] setupCommandLine(") for l in lines), lines)
        # The worker's own close at the end is the only forced close.
        self.assertEqual(lines.count(FORCED_CLOSE_LINE), 1, lines)
        self.assertEqual(self.kit_folders(), self.kits_before)

    def test_yes_cancels_without_hand_over(self):
        self.start()
        self.wait_for_estimate()
        self.assertEqual(driver("close", PRODUCT)[0], 0)
        code, box = driver("answer", MAKER, "yes", "10000")
        self.assertEqual(code, 0, "no quit question appeared")
        self.assertEqual(box["text"], QUESTION)
        self.assertEqual(driver("gone", PRODUCT, "5000")[0], 0)
        # The user chose to quit: no download problem may be reported to them afterwards.
        others = []
        deadline = time.time() + 30
        while self.running.running() and time.time() < deadline:
            code, box = driver("answer", MAKER, "ok", "1000")
            if code == 0:
                others.append(box.get("text"))
        lines = self.finish()
        self.assertEqual(others, [])
        self.assertIn("[WENVAROTH] Download canceled!", lines)
        self.assertFalse(any(l.startswith("[WENVAROTH] setupCommandLine(") for l in lines), lines)
        # A user's Yes is not logged, and the worker finds no window left to close.
        self.assertNotIn(FORCED_CLOSE_LINE, lines)
        self.assertEqual(self.kit_folders(), self.kits_before)
        served = sum(1 for method, path in self.server.requests if path == "/kit/data1.cab")
        self.assertEqual(served, 1)

    def test_silent_run_shows_nothing_and_asks_nothing(self):
        self.start("/silent")
        deadline = time.time() + 30
        seen = None
        while time.time() < deadline and self.running.running():
            code, texts = driver("find", PRODUCT, "500")
            if code == 0:
                seen = texts
                self.assertEqual(texts["visible"], "0")
            self.assertNotEqual(driver("answer", MAKER, "no", "0")[0], 0, "a question was shown")
            if seen and any(path == "/kit/data1.cab" for _, path in self.server.requests):
                break
            time.sleep(0.3)
        self.fail_if_ended_early()
        self.assertIsNotNone(seen, "the hidden window was never found")
        lines = self.finish()
        self.assertIn("[WENVAROTH] HIDE WINDOW", lines)
        self.assertEqual(lines.count(FORCED_CLOSE_LINE), 1, lines)
        self.assertTrue(any(l.startswith("[WENVAROTH] setupCommandLine(") and "/silent" in l
                            for l in lines), lines)


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
