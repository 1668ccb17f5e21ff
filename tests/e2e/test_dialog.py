"""The progress window as a user meets it: the real program downloads a kit from a slow local
server while the UI driver reads the window, closes it and answers the quit question. The
harness's runner makes the standing checks of every run (a silent one shows no window at all)."""
import os
import subprocess
import unittest

from harness import (CAPTION, PRODUCT, QUESTION, Kit, KitRun, KitServer, Prefix, driver,
                     quit_with_yes, wait_for)

FORCED_CLOSE_LINE = "[WENVAROTH] MessageBox(%s, %s). Action taken: YES" % (QUESTION, CAPTION)


def setUpModule():
    global prefix, server
    prefix, server = Prefix("dialog"), KitServer()


def tearDownModule():
    server.close()
    prefix.close()


class DialogDuringADownload(KitRun):
    def run_slowly(self, outcome, options, during):
        """A run whose data file takes about 16 s, the user played by `during`."""
        kit = Kit(prefix, server)
        kit.files["data/data1.cab"] = os.urandom(1600000)
        kit.fault("data/data1.cab", rate=100000)
        kit.serve()
        log = self.run_kit(kit, outcome, options=options, during=during)
        # The worker's own close at the end is the only forced close; a user's Yes is not logged.
        self.assertEqual(log.count(FORCED_CLOSE_LINE), 0 if outcome == "cancelled" else 1, log)
        return kit, log

    @staticmethod
    def transferring(kit):
        return kit.base + "data/data1.cab" in [p for _, p, _ in server.requests]

    def test_no_keeps_the_download_going(self):
        def read_close_and_say_no(kit, running):
            texts = {}

            def shows_progress():
                texts.update(driver(prefix, "find", PRODUCT, "2000")[1])
                return "Estimating..." not in (texts.get("control 1005"), texts.get("control -1"))

            wait_for(shows_progress, "speed and time left")
            self.assertEqual(texts["visible"], "1")
            self.assertEqual(texts["control 1004"], "Downloading installer:")
            self.assertEqual(texts["control 1002"], "Download speed:")
            self.assertEqual(texts["control 1003"], "Estimated time left:")
            self.assertRegex(texts["control 1005"], r"^\d+\.\d\d (KB/s|MB/s)$")
            self.assertRegex(texts["control -1"], r"^(\d+ minutes? and )?\d+ seconds?$")
            if os.environ.get("WENVAROTH_SCREENSHOT"):  # scripts/screenshot's command
                subprocess.run([*os.environ["WENVAROTH_SCREENSHOT"].split(), texts["rect"]],
                               check=True, timeout=60)
            self.assertEqual(driver(prefix, "close", PRODUCT)[0], 0)
            code, box = driver(prefix, "answer", CAPTION, "no", "10000")
            self.assertEqual((code, box.get("text")), (0, QUESTION))
            code, texts = driver(prefix, "find", PRODUCT, "2000")
            self.assertEqual((code, texts.get("visible")), (0, "1"))

        self.run_slowly("handed", "", read_close_and_say_no)

    def test_yes_cancels_without_hand_over(self):
        def say_yes(kit, running):
            wait_for(lambda: self.transferring(kit), "transfer")
            kit.answered = quit_with_yes(prefix)

        kit, _ = self.run_slowly("cancelled", "", say_yes)
        self.assertLess(kit.ended - kit.answered, 4)
        self.assertEqual(kit.requests.count("data/data1.cab"), 1)


if __name__ == "__main__":
    unittest.main()
