"""What a vendor ships: both builds' executables, resource libraries and kit tools, inspected as
files."""
import os
import re
import subprocess
import unittest

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


def shipped(arch, name):
    with open(os.path.join(DIST, arch, name), "rb") as f:
        return f.read()


def dump(arch, name):
    """objdump's account of a file, and its import tables: {dll: [name or "#ordinal", ...]}."""
    info = subprocess.run([OBJDUMP[arch], "-p", os.path.join(DIST, arch, name)],
                          stdout=subprocess.PIPE, text=True, check=True).stdout
    imports = {}
    for block in info.split("\tDLL Name: ")[1:]:
        entries = re.findall(r"^\t[0-9a-f]+\s+(\d+)\s+(\S+)$", block.split("\n\n")[0], re.M)
        imports[block.split()[0].lower()] = ["#" + hint if entry == "<none>" else entry
                                             for hint, entry in entries]
    return info, imports


class ShippedFiles(unittest.TestCase):
    def test_product_imports_only_what_windows_xp_exports(self):
        # The 32-bit build cannot run here, so its import tables are the proof that Windows XP SP3
        # (and so Vista and 7) will load it and the kit tool: the loader refuses a file that names one function
        # the system's DLL lacks. A DLL without a list fails.
        lists = {}
        for entry in os.listdir(XP_EXPORTS):
            if entry.endswith(".txt"):
                with open(os.path.join(XP_EXPORTS, entry), encoding="ascii") as f:
                    lists[entry[:-4].lower() + ".dll"] = {line.strip() for line in f}
        total, problems = 0, []
        for name in ("wenvaroth.exe", "wenvaroth.ui", "wenvaroth-kit.exe"):
            info, imports = dump("x86", name)
            for dll, entries in imports.items():
                total += len(entries)
                problems += ["%s: %s!%s" % (name, dll, e) for e in entries
                             if e not in lists.get(dll, ())]
            # objdump does not list delay-load tables, so there must be none; and the GNU linker
            # files a delay-load library made by dlltool in neither table, leaving only its
            # DLL's name in the file. The one known name is the shared GCC library, which the
            # runtime only asks whether it is loaded and does without.
            self.assertRegex(info, r"Entry d 0+ 0+ Delay Import Directory")
            named = {m.decode().lower() for m in
                     re.findall(rb"[\w.-]+\.dll(?![\w.])", shipped("x86", name), re.I)}
            self.assertEqual(named - set(imports) - {"libgcc_s_dw2-1.dll"}, set(), name)
            # XP (5.1) refuses an executable whose header asks for a later subsystem version.
            version = tuple(int(re.search(r"%sSubsystemVersion\s+(\d+)" % part, info).group(1))
                            for part in ("Major", "Minor"))
            self.assertLessEqual(version, (5, 1), name)
        print("\n%d imported names checked against the Windows XP SP3 export lists" % total)
        self.assertGreater(total, 50)  # a reading that found nothing would let every import by
        self.assertEqual(problems, [], "imports Windows XP SP3 lacks:\n" + "\n".join(problems))

    def test_gui_program_of_system_dlls_with_its_manifest_code_free_library_no_test_hook(self):
        hooks = ("WENVAROTH_TEST_OS", "WENVAROTH_TEST_STALL_MS")
        with open(TEST_EXE, "rb") as f:
            variant = f.read()
        for hook in hooks:
            self.assertIn(hook.encode("utf-16-le"), variant)
        for arch in ("x86", "x64"):
            info, imports = dump(arch, "wenvaroth.exe")
            self.assertRegex(info, r"Subsystem\s+00000002")  # Windows GUI
            self.assertTrue(imports, info)
            self.assertLessEqual(set(imports), SYSTEM_DLLS, arch)
            exe, ui = shipped(arch, "wenvaroth.exe"), shipped(arch, "wenvaroth.ui")
            for text in (b'level="requireAdministrator"',
                         b"{e2011457-1546-43c5-a5fe-008deee3d3f0}",
                         b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                         b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'):
                self.assertIn(text, exe, arch)
            info, imports = dump(arch, "wenvaroth.ui")
            self.assertRegex(info, r"AddressOfEntryPoint\s+0+\s")
            self.assertEqual(imports, {})
            self.assertIn("Downloading installer:".encode("utf-16-le"), ui)
            for data, hook in ((data, hook) for data in (exe, ui) for hook in hooks):
                self.assertNotIn(hook.encode("utf-16-le"), data, arch)
                self.assertNotIn(hook.encode("ascii"), data, arch)
        size = len(shipped("x86", "wenvaroth.exe"))
        print("\ndist/x86/wenvaroth.exe: %d bytes" % size)
        self.assertLess(size, 200 * 1024)


if __name__ == "__main__":
    unittest.main()
