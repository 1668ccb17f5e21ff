"""The vendors' guide (docs/deploying.md) stays true to the program: its manifest and kit list are
the demo's own files, every log line of its troubleshooting table is one the program writes, every
message it quotes is the string table's text under that id, and its sample launcher compiles. (The
kit tool's suite checks the guide's example of the tool's output.)"""
import hashlib
import os
import re
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def read(*path):
    with open(os.path.join(ROOT, *path), encoding="utf-8") as f:
        return f.read()


GUIDE = read("docs", "deploying.md")


def section(number):
    return GUIDE.split("\n## %d. " % number)[1].split("\n## ")[0]


def program_texts():
    """Every wide text literal of the program, adjacent pieces joined and escapes undone."""
    code = "".join(read(folder, name) for folder in ("app", "base", "download", "log", "manifest",
                                                      "sys", "ui")
                   for name in sorted(os.listdir(os.path.join(ROOT, folder)))
                   if name.endswith((".cpp", ".h")))
    code = re.sub(r'"\s*L"', "", code)
    return {text.replace("\\\\", "\\") for text in re.findall(r'L"((?:[^"\\]|\\.)*)"', code)}


class Guide(unittest.TestCase):
    def test_examples_are_the_demos_own_files(self):
        blocks = re.findall(r"^```[a-z]*\n(.*?)^```$", GUIDE, re.S | re.M)
        for path in (("app", "locations.xml"), ("server", "kit", "kitmd5.dat")):
            self.assertTrue(read("scripts", "demo-kit", *path) in blocks, "/".join(path))
        # The kit list's sizes and checksums are those of the files the demo serves.
        served = os.path.join(ROOT, "scripts", "demo-kit", "server")
        files = {name: os.path.join(here, name) for here, _, names in os.walk(served)
                 for name in names}
        for name, size, digest in re.findall(r"^(\S+) (\d+) (\w+)$", blocks[-1], re.M):
            with open(files[name], "rb") as f:
                data = f.read()
            self.assertEqual((len(data), hashlib.md5(data).hexdigest()), (int(size), digest), name)

    def test_every_troubleshooting_line_is_one_the_program_writes(self):
        lines = re.findall(r"^\| `(\[(?:WENVAROTH|SETUP)\][^`]*)` \|", section(6), re.M)
        self.assertGreater(len(lines), 15)
        texts = program_texts()
        self.assertEqual([line for line in lines if line not in texts], [])

    def test_sample_launcher_compiles_against_the_products_headers(self):
        (code,) = re.findall(r"^```cpp\n(.*?)^```$", GUIDE, re.S | re.M)
        with tempfile.NamedTemporaryFile("w", suffix=".cpp") as source:
            source.write(code)
            source.flush()
            result = subprocess.run(
                ["i686-w64-mingw32-g++", "-fsyntax-only", "-Wall", "-Wextra", "-Werror",
                 "-municode", "-D_WIN32_WINNT=0x0501", source.name],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_every_message_is_the_string_tables(self):
        ids = dict(re.findall(r"#define (IDS_\w+) (\d+)", read("res", "resource.h")))
        table = {ids[name]: text for name, text in
                 re.findall(r'^\s+(IDS_\w+) "(.*)"$', read("res", "strings.rc"), re.M)}
        quoted = re.findall(r'^\| "([^"]+)" \((\d+)', section(5), re.M)
        self.assertEqual(len(quoted), 7)
        for text, number in quoted:
            self.assertEqual(table.get(number), text, number)


if __name__ == "__main__":
    unittest.main()
