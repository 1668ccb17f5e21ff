"""What a vendor ships: both builds' executables and resource libraries, inspected as files."""
import os
import re
import subprocess
import unittest

import peimports
from harness import HERE, PRODUCT_EXE, TEST_EXE

DIST = os.path.dirname(os.path.dirname(PRODUCT_EXE))
XP_EXPORTS = os.path.join(os.path.dirname(HERE), "data", "xp-exports")
OBJDUMP = {"x86": "i686-w64-mingw32-objdump", "x64": "x86_64-w64-mingw32-objdump"}
# Only libraries that the loader never takes from the executable's own folder: the system's known
# libraries, and common controls, which the application manifest binds to the side-by-side copy.
# Windows Installer's and the process status library are loaded from the system folder instead,
# since a copy planted in a downloads folder would otherwise run elevated.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
               "oleaut32.dll", "urlmon.dll", "wininet.dll", "comctl32.dll", "msvcrt.dll",
               "advapi32.dll", "gdi32.dll"}


def dump(arch, name):
    return subprocess.run([OBJDUMP[arch], "-p", os.path.join(DIST, arch, name)],
                          stdout=subprocess.PIPE, text=True, check=True).stdout


class ShippedFiles(unittest.TestCase):
    def test_gui_executables_importing_system_dlls_only(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                info = dump(arch, "wenvaroth.exe")
                self.assertRegex(info, r"Subsystem\s+00000002")  # Windows GUI
                dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", info)}
                self.assertTrue(dlls, info)
                self.assertLessEqual(dlls, SYSTEM_DLLS)

    def test_product_imports_only_what_windows_xp_exports(self):
        # The 32-bit build cannot run here, so its import tables are the proof that Windows XP SP3
        # (and so Vista and 7) will load it: the loader refuses a file that names one function
        # the system's DLL lacks.
        lists = peimports.read_export_lists(XP_EXPORTS)
        total, problems = 0, []
        for name in ("wenvaroth.exe", "wenvaroth.ui"):
            checked, missing = peimports.unlisted(os.path.join(DIST, "x86", name), lists)
            total += checked
            problems += missing
        print("\n%d imported names checked against the Windows XP SP3 export lists" % total)
        self.assertEqual(problems, [], "imports Windows XP SP3 lacks:\n" + "\n".join(problems))
        # XP (5.1) refuses an executable whose header asks for a later subsystem version.
        info = dump("x86", "wenvaroth.exe")
        version = tuple(int(re.search(r"%sSubsystemVersion\s+(\d+)" % part, info).group(1))
                        for part in ("Major", "Minor"))
        self.assertLessEqual(version, (5, 1))

    def test_no_dll_is_named_beyond_the_import_tables(self):
        # A delay-load library made by dlltool leaves its DLL's name in the file, but the GNU
        # linker files it in neither table read above. The one known name is the shared GCC
        # library, which the runtime only asks whether it is loaded and does without.
        for name in ("wenvaroth.exe", "wenvaroth.ui"):
            path = os.path.join(DIST, "x86", name)
            imported = {dll.lower() for dll, _ in peimports.imports(path)}
            unexplained = peimports.named_dlls(path) - imported - {"libgcc_s_dw2-1.dll"}
            self.assertEqual(unexplained, set(), name)

    def test_import_reader_agrees_with_objdump(self):
        # A reader that found nothing would let every import through.
        info = dump("x86", "wenvaroth.exe")
        listed = set()
        for block in info.split("DLL Name: ")[1:]:
            dll = block.split()[0].lower()
            names = re.findall(r"^\t[0-9a-f]+\s+\d+\s+(\S+)$", block, re.M)
            listed |= {dll + "!" + n for n in names}
        read = {dll.lower() + "!" + n for dll, names in
                peimports.imports(os.path.join(DIST, "x86", "wenvaroth.exe")) for n in names}
        self.assertGreater(len(read), 50)
        self.assertEqual(read, listed)

    def test_application_manifest_is_embedded(self):
        for arch in ("x86", "x64"):
            with open(os.path.join(DIST, arch, "wenvaroth.exe"), "rb") as f:
                data = f.read()
            for text in (b'level="requireAdministrator"',
                         b"{e2011457-1546-43c5-a5fe-008deee3d3f0}",
                         b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                         b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'):
                self.assertIn(text, data, arch)

    def test_resource_library_has_no_code(self):
        for arch in ("x86", "x64"):
            info = dump(arch, "wenvaroth.ui")
            self.assertRegex(info, r"AddressOfEntryPoint\s+0+\s")
            self.assertNotRegex(info, r"DLL Name:")
            with open(os.path.join(DIST, arch, "wenvaroth.ui"), "rb") as f:
                data = f.read()
            self.assertIn("Downloading installer:".encode("utf-16-le"), data)

    def test_shipped_files_carry_no_test_hook(self):
        hook = "WENVAROTH_TEST_OS"
        with open(TEST_EXE, "rb") as f:
            self.assertIn(hook.encode("utf-16-le"), f.read())
        for arch in ("x86", "x64"):
            for name in ("wenvaroth.exe", "wenvaroth.ui"):
                with open(os.path.join(DIST, arch, name), "rb") as f:
                    data = f.read()
                self.assertNotIn(hook.encode("utf-16-le"), data, arch + "/" + name)
                self.assertNotIn(hook.encode("ascii"), data, arch + "/" + name)

    def test_product_size(self):
        size = os.path.getsize(os.path.join(DIST, "x86", "wenvaroth.exe"))
        print("\ndist/x86/wenvaroth.exe: %d bytes" % size)
        self.assertLess(size, 200 * 1024)


if __name__ == "__main__":
    unittest.main()
