"""The download side and the hand-over, end to end: the real test-variant executable in /silent
mode under Wine, started by the launcher, against a kit served from 127.0.0.1; a stand-in
setup.exe reports what it received; test MSIs (wixl) make products and prerequisites installed.

Every run asserts exit code 0 and that the run left nothing in the prefix's %temp%.
"""
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
import uuid

from harness import KitServer, Prefix, tool

INSTALLED_PRODUCT = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E5F}"      # installed in setUpModule
INSTALLED_PREREQ = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E60}"       # installed in setUpModule
MISSING_PRODUCT = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E61}"        # never installed
MISSING_PREREQ = "{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E62}"

FAILED_TEXT = ("There was a problem with downloading one of the installatiion files. "
               "Please check your connection and try again later.")
INSTALLED_TEXT = "This program is already installed on your system. Are you sure you want to continue?"
CAPTION = "Example Maker"
DOWNLOAD_FAILURE = 0x800C0008  # INET_E_DOWNLOAD_FAILURE: HTTP error answer or short body

SETUP_XML = (b'<?xml version="1.0"?>\n<setup><install><mode>ask</mode>'
             b'<affiliate_source>none</affiliate_source></install></setup>\n')

WXS = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="%(code)s" Name="Wenvaroth test %(n)s" Language="1033" Version="1.0.0"
           Manufacturer="Test" UpgradeCode="%(upgrade)s">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="a.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder"><Directory Id="INSTALLDIR" Name="wvtest%(n)s">
        <Component Id="c" Guid="%(component)s"><File Id="f" Source="%(file)s"/></Component>
      </Directory></Directory>
    </Directory>
    <Feature Id="F" Level="1"><ComponentRef Id="c"/></Feature>
  </Product>
</Wix>
"""


def build_msi(folder, code, n):
    """A small MSI with the given product code, built with wixl."""
    payload = os.path.join(folder, "payload%d.txt" % n)
    with open(payload, "w") as f:
        f.write("payload %d\n" % n)
    source = os.path.join(folder, "p%d.wxs" % n)
    with open(source, "w") as f:
        f.write(WXS % dict(code=code, n=n, upgrade="{%s}" % str(uuid.uuid4()).upper(),
                           component="{%s}" % str(uuid.uuid4()).upper(),
                           file=os.path.basename(payload)))
    msi = os.path.join(folder, "p%d.msi" % n)
    subprocess.run(["wixl", "-o", msi, source], check=True, cwd=folder,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return msi


def setUpModule():
    global prefix, server, msi_dir, prereq_msi
    prefix = Prefix("download")
    server = KitServer()
    msi_dir = tempfile.mkdtemp(prefix="wvmsi.")
    try:
        for n, code in enumerate([INSTALLED_PRODUCT, INSTALLED_PREREQ]):
            msi = build_msi(msi_dir, code, n)
            result = prefix.run("msiexec", "/i", prefix.win(msi), "/qn")
            assert result.returncode == 0, result
        # A prerequisite package that is served (never installed by the run itself).
        prereq_msi = open(build_msi(msi_dir, MISSING_PREREQ, 2), "rb").read()
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    server.close()
    prefix.close()
    shutil.rmtree(msi_dir, ignore_errors=True)


def manifest(base, files="", dependencies="", patches=""):
    base_xml = "<base_url>%s</base_url>" % base if base is not None else ""
    section = ("%s<downloadable_files>%s</downloadable_files><dependencies>%s</dependencies>"
               % (base_xml, files, dependencies))
    return ("<?xml version=\"1.0\"?><locations><manufacturerName>%s</manufacturerName>"
            "<defaultProductName>Example Product</defaultProductName><x86>%s</x86><x64>%s</x64>"
            "<modifies>%s</modifies></locations>" % (CAPTION, section, section, patches))


def entry(name, relative="", autorun=False, base=""):
    return ('<file name="%s" relative_path="%s" autorun="%s" base_url="%s"/>'
            % (name, relative, "true" if autorun else "false", base))


def kit_list(product, files):
    lines = [product]
    for name, body in files:
        lines.append("%s %d 0123456789abcdef0123456789abcdef" % (name, len(body)))
    return ("\n".join(lines) + "\n").encode()


class Run:
    """One bootstrapper run: app folder, kit served under /<kit>/, report file, temp snapshot."""

    def __init__(self, test, kit_files, manifest_files=None, product=MISSING_PRODUCT,
                 dependencies="", contacts=True, kit_list_bytes=None, base="default"):
        self.test = test
        self.kit = "kit%s" % uuid.uuid4().hex[:8]
        self.app = prefix.new_app()
        for name, body in kit_files:
            server.files["/%s/%s" % (self.kit, name.replace("\\", "/"))] = body
        listed = [(n.split("/")[-1], b) for n, b in kit_files]
        server.files["/%s/kitmd5.dat" % self.kit] = (kit_list_bytes if kit_list_bytes is not None
                                                    else kit_list(product, listed))
        self.base = server.url(self.kit) if base == "default" else base
        self.app.write("locations.xml", manifest(self.base, manifest_files or "", dependencies,
                                                  '<modify path="/setup/install/mode" new_val="full"/>'))
        if contacts:
            self.app.write("contacts.xml", "<contacts/>")
        self.report = os.path.join(self.app.folder, "setup-report.txt")
        self.temp_before = prefix.temp_entries()

    def url(self, path):
        return server.url("%s/%s" % (self.kit, path))

    def run(self, parent_name="launcher.exe", env=None, check_temp=True):
        extra = {"WENVAROTH_SETUP_REPORT": prefix.win(self.report)}
        extra.update(env or {})
        self.result = self.app.run("/silent", parent_name=parent_name, env=extra)
        self.test.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.lines = self.app.log_lines()
        if check_temp:
            self.test.assertEqual(prefix.temp_entries(), self.temp_before, self.lines)
        return self

    def requested(self):
        prefix_path = "/%s/" % self.kit
        return [p[len(prefix_path):] for _, p in server.requests if p.startswith(prefix_path)]

    def setup_report(self, name=None):
        path = self.report + ("." + name if name else "")
        if not os.path.exists(path):
            return None
        data = {"file": []}
        with open(path, encoding="utf-8") as f:
            for line in f.read().splitlines():
                key, _, value = line.partition("=")
                if key == "file":
                    data["file"].append(value)
                else:
                    data[key] = value
        return data

    def assert_failed_transfer(self, list_failure=False):
        suffix = "" if list_failure else " "
        self.test.assertIn("[WENVAROTH] MessageBox(%s, %s)%s" % (FAILED_TEXT, CAPTION, suffix),
                           self.lines)
        self.test.assertIsNone(self.setup_report())
        self.test.assertFalse(any("setupCommandLine" in l for l in self.lines), self.lines)


def temp_kit(report):
    return report["kit"].split("\\")[-1]


class CompleteRun(unittest.TestCase):
    def test_files_paths_bases_prerequisites_autorun_and_hand_over(self):
        setup = open(tool("fakesetup"), "rb").read()
        data = os.urandom(300000)
        mirror = b"mirror bytes\n" * 100
        files = [("setup.exe", setup), ("setup.xml", SETUP_XML), ("data/data1.cab", data),
                 ("prepare.exe", setup)]
        run = Run(self, files, manifest_files="".join([
            entry("setup.exe"), entry("setup.xml"), entry("data1.cab", relative="data"),
            entry("mirror.bin", base=server.url("mirror")), entry("prepare.exe", autorun=True),
            entry("notlisted.bin")]),
            dependencies=(
                '<dependency filename="prereq.msi" product_code="%s" arguments="/qn" os="all"/>'
                '<dependency filename="have.msi" product_code="%s" arguments="" os="all"/>'
                '<dependency filename="xponly.msi" product_code="{0}" arguments="" os="xp"/>'
                % (MISSING_PREREQ, INSTALLED_PREREQ)))
        server.files["/%s/dependencies/prereq.msi" % run.kit] = prereq_msi
        server.files["/mirror/mirror.bin"] = mirror
        # mirror.bin is listed in the kit list although served from its own base.
        server.files["/%s/kitmd5.dat" % run.kit] = kit_list(
            MISSING_PRODUCT, [(n.split("/")[-1], b) for n, b in files] + [("mirror.bin", mirror)])
        parent = "product[partner7].exe"
        run.run(parent_name=parent)

        report = run.setup_report()
        self.assertIsNotNone(report, run.lines)
        self.assertRegex(temp_kit(report), r"^talvotempdir\d\d$")
        parent_path = prefix.win(os.path.join(run.app.folder, "parent", parent))
        self.assertEqual(report["cmd"], "%s\\setup.exe /silent /parent_process:\"%s\""
                         % (report["kit"], parent_path))
        self.assertEqual(report["cwd"].rstrip("\\"), report["kit"])
        self.assertEqual(sorted(report["file"]), sorted([
            "setup.exe|%d" % len(setup), "setup.xml|%d" % os.path.getsize(run.report + ".setup.xml"),
            "data\\data1.cab|%d" % len(data), "mirror.bin|%d" % len(mirror),
            "dependencies\\prereq.msi|%d" % len(prereq_msi), "contacts.xml|11"]))
        self.assertEqual(report["contacts"], "1")
        patched = open(run.report + ".setup.xml", encoding="utf-8").read()
        self.assertIn("<affiliate_source>partner7</affiliate_source>", patched)
        self.assertIn("<mode>full</mode>", patched)

        # The autorun program ran in the kit folder and was gone before the hand-over.
        prepare = run.setup_report("prepare.exe")
        self.assertIsNotNone(prepare, run.lines)
        self.assertEqual(prepare["cmd"], report["kit"] + "\\prepare.exe")
        self.assertEqual(prepare["cwd"].rstrip("\\"), report["kit"])

        requested = run.requested()
        self.assertEqual(requested[0], "kitmd5.dat")
        self.assertIn("data/data1.cab", requested)
        self.assertIn("dependencies/prereq.msi", requested)
        self.assertNotIn("dependencies/have.msi", requested)
        self.assertNotIn("dependencies/xponly.msi", requested)
        self.assertNotIn("notlisted.bin", requested)
        self.assertIn(("GET", "/mirror/mirror.bin"), server.requests)
        self.assertIn("[WENVAROTH] Downloading: %s (size %d)" % (run.url("data/data1.cab"), len(data)),
                      run.lines)
        self.assertIn("[WENVAROTH] Downloading: %s (size %d)"
                      % (run.url("dependencies/prereq.msi"), len(prereq_msi)), run.lines)
        self.assertIn("[WENVAROTH] Product %s installstate: 5" % INSTALLED_PREREQ, run.lines)
        self.assertIn("[WENVAROTH] Product %s installstate: -1" % MISSING_PRODUCT, run.lines)


class Failures(unittest.TestCase):
    def _setup_only(self, **kwargs):
        setup = open(tool("fakesetup"), "rb").read()
        return Run(self, [("setup.exe", setup)], manifest_files=entry("setup.exe"), **kwargs)

    def test_kit_list_missing_or_error_page(self):
        for status in (404, 500):
            with self.subTest(status=status):
                run = self._setup_only()
                server.faults["/%s/kitmd5.dat" % run.kit] = {"status": status}
                run.run()
                self.assertIn("[WENVAROTH] The server answered %d for %s"
                              % (status, run.url("kitmd5.dat")), run.lines)
                self.assertIn("[WENVAROTH] Cannot download file. Error :%d" % DOWNLOAD_FAILURE,
                              run.lines)
                run.assert_failed_transfer(list_failure=True)
                self.assertNotIn(INSTALLED_TEXT, "\n".join(run.lines))
                self.assertEqual(run.requested(), ["kitmd5.dat"])

    def test_kit_file_missing(self):
        run = self._setup_only()
        del server.files["/%s/setup.exe" % run.kit]
        run.run()
        self.assertIn("[WENVAROTH] Cannot download file %s. Error :%d"
                      % (run.url("setup.exe"), DOWNLOAD_FAILURE), run.lines)
        run.assert_failed_transfer()

    def test_kit_product_installed_silent_abandons_before_any_kit_folder(self):
        run = self._setup_only(product=INSTALLED_PRODUCT)
        run.run()
        self.assertIn("[WENVAROTH] Product %s installstate: 5" % INSTALLED_PRODUCT, run.lines)
        self.assertIn("[WENVAROTH] MessageBox(%s, %s). Silent Action taken: NO"
                      % (INSTALLED_TEXT, CAPTION), run.lines)
        self.assertIsNone(run.setup_report())
        self.assertEqual(run.requested(), ["kitmd5.dat"])

    def test_empty_kit_list_is_not_an_installed_product(self):
        run = self._setup_only(kit_list_bytes=b"")
        run.run()
        self.assertIn("[WENVAROTH] No product code in the kit list; installed check skipped", run.lines)
        self.assertNotIn(INSTALLED_TEXT, "\n".join(run.lines))
        self.assertEqual(run.requested(), ["kitmd5.dat"])  # no kit file is named

    def test_no_base_address(self):
        run = self._setup_only(base=None)
        run.run()
        self.assertIn("[WENVAROTH] The manifest names no download address", run.lines)
        # Without a base address the manifest loader stops early, so the caption is empty.
        self.assertTrue(any(l.startswith("[WENVAROTH] MessageBox(%s, " % FAILED_TEXT)
                            for l in run.lines), run.lines)
        self.assertIsNone(run.setup_report())
        self.assertEqual(run.requested(), [])

    def test_unsafe_names_are_refused_before_anything_is_written(self):
        setup = open(tool("fakesetup"), "rb").read()
        for name, relative in (("..\\evil.exe", ""), ("evil.exe", ".."), ("evil.exe", "a\\..\\.."),
                               ("evil.exe", "C:\\Windows"), ("evil.exe", "\\abs"), ("x:y", ""),
                               ("evil.exe", "..."), ("/evil.exe", "")):
            with self.subTest(name=name, relative=relative):
                run = Run(self, [("setup.exe", setup)],
                          manifest_files=entry("setup.exe") + entry(name, relative=relative),
                          kit_list_bytes=kit_list(MISSING_PRODUCT, [("setup.exe", setup),
                                                                    (name, b"evil")]))
                run.run()
                self.assertTrue(any(l.startswith("[WENVAROTH] Refusing file") for l in run.lines),
                                run.lines)
                run.assert_failed_transfer()
                self.assertEqual(run.requested(), ["kitmd5.dat"])
                self.assertFalse(os.path.exists(os.path.join(prefix.temp, "evil.exe")))
                self.assertFalse(os.path.exists(os.path.join(prefix.drive_c, "evil.exe")))


class KitFolder(unittest.TestCase):
    def _make(self, names):
        made = []
        for name in names:
            path = os.path.join(prefix.temp, name)
            os.makedirs(path)
            with open(os.path.join(path, "keep.txt"), "w") as f:
                f.write("mine")
            made.append(path)
        return made

    def _cleanup(self, made):
        for path in made:
            shutil.rmtree(path, ignore_errors=True)

    def test_existing_folders_01_to_05_give_06_and_stay_untouched(self):
        made = self._make(["talvotempdir%02d" % n for n in range(1, 6)])
        try:
            setup = open(tool("fakesetup"), "rb").read()
            run = Run(self, [("setup.exe", setup)], manifest_files=entry("setup.exe")).run()
            report = run.setup_report()
            self.assertEqual(temp_kit(report), "talvotempdir06")
            for path in made:
                self.assertEqual(os.listdir(path), ["keep.txt"])
        finally:
            self._cleanup(made)

    def test_all_99_names_taken_abandons_and_removes_nothing(self):
        made = self._make(["talvotempdir%02d" % n for n in range(1, 100)])
        try:
            setup = open(tool("fakesetup"), "rb").read()
            run = Run(self, [("setup.exe", setup)], manifest_files=entry("setup.exe")).run()
            self.assertTrue(any(l.startswith("[WENVAROTH] Cannot create a kit folder under ")
                                for l in run.lines), run.lines)
            run.assert_failed_transfer()
            for path in made:
                self.assertEqual(os.listdir(path), ["keep.txt"])
            self.assertEqual(run.requested(), ["kitmd5.dat"])
        finally:
            self._cleanup(made)


class Removal(unittest.TestCase):
    def test_file_held_open_is_scheduled_and_gone_after_restart(self):
        setup = open(tool("fakesetup"), "rb").read()
        run = Run(self, [("setup.exe", setup)], manifest_files=entry("setup.exe"))
        run.run(env={"WENVAROTH_SETUP_HOLD": "6"}, check_temp=False)
        report = run.setup_report()
        kit = os.path.join(prefix.temp, temp_kit(report))
        # The held file (and so its folder) could not go at once: scheduled for the next start.
        self.assertTrue(os.path.exists(os.path.join(kit, "held.dat")), run.lines)
        pending = prefix.run("reg", "query", r"HKLM\System\CurrentControlSet\Control\Session Manager",
                             "/v", "PendingFileRenameOperations")
        self.assertIn("held.dat", pending.stdout)
        self.assertIn(temp_kit(report), pending.stdout)
        time.sleep(7)  # the holder ends
        prefix.run("wineboot", "-r", timeout=120)
        self.assertEqual(prefix.temp_entries(), run.temp_before)


if __name__ == "__main__":
    unittest.main()
