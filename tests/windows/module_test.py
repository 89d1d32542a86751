#!/usr/bin/env python3
"""Checks the shape of TarvolaCrypt.dll that host applications and
installers rely on: its format and machine, its exports, the DLLs it imports
and its version resource, the same for the 32-bit and the 64-bit DLL.
Usage: module_test.py PATH/TO/TarvolaCrypt.dll i686|x86_64"""

import sys
import unittest

import pefile

DLL_PATH = ""
ARCHITECTURE = ""

# Per architecture: the machine field and the optional header's format
# (PE32 for 32-bit, PE32+ for 64-bit).
MACHINES = {
    "i686": ("IMAGE_FILE_MACHINE_I386", pefile.OPTIONAL_HEADER_MAGIC_PE),
    "x86_64": ("IMAGE_FILE_MACHINE_AMD64", pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS),
}

EXPECTED_STRINGS = {
    "CompanyName": "TarvolaCrypt developers",
    "FileDescription": "Cryptography Library for Tarvola",
    "FileVersion": "2018.27.0.1",
    "InternalName": "TarvolaCrypt.dll",
    "LegalCopyright": "Copyright (C) 2018-2026 TarvolaCrypt developers",
    "OriginalFilename": "TarvolaCrypt.dll",
    "ProductName": "TarvolaCrypt",
    "ProductVersion": "2018.27.0.1",
}
# US English, Unicode: the language the version block is written in.
STRING_TABLE = "000904b0"
VERSION_MS = (2018 << 16) | 27
VERSION_LS = (0 << 16) | 1


class ModuleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(DLL_PATH)

    def test_is_a_dll_for_the_architecture(self):
        machine, magic = MACHINES[ARCHITECTURE]
        self.assertEqual(self.pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE[machine])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, magic)
        self.assertTrue(self.pe.is_dll())

    def test_exports_exactly_decrypt_and_encrypt_by_ordinal(self):
        exports = self.pe.DIRECTORY_ENTRY_EXPORT
        self.assertEqual(exports.name, b"TarvolaCrypt.dll")
        self.assertEqual(exports.struct.Base, 1)
        self.assertEqual(
            sorted((s.ordinal, s.name) for s in exports.symbols),
            [(1, b"Decrypt"), (2, b"Encrypt")],
        )
        self.assertTrue(all(s.forwarder is None for s in exports.symbols))

    def test_imports_only_system_dlls(self):
        # No compiler runtime DLL (libgcc, libstdc++, winpthread) may be
        # needed: the DLL must load where only the system's DLLs exist.
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertEqual(imported, {"bcrypt.dll", "crypt32.dll", "kernel32.dll", "msvcrt.dll"})

    def test_fixed_version_info(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (VERSION_MS, VERSION_LS))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (VERSION_MS, VERSION_LS))
        self.assertEqual(fixed.FileType, 2)  # VFT_DLL
        self.assertEqual(fixed.FileFlags & fixed.FileFlagsMask, 0)  # not debug, not prerelease

    def test_version_strings_and_translation(self):
        tables = {}
        translations = []
        for info in self.pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                for table in info.StringTable:
                    tables[table.LangID.decode()] = {
                        k.decode(): v.decode() for k, v in table.entries.items()
                    }
            elif info.Key == b"VarFileInfo":
                translations += [var.entry.get(b"Translation") for var in info.Var]
        self.assertEqual(list(tables), [STRING_TABLE])
        self.assertEqual(tables[STRING_TABLE], EXPECTED_STRINGS)
        self.assertEqual(translations, ["0x0009 0x04b0"])

    def test_version_resource_language(self):
        rt_version = pefile.RESOURCE_TYPE["RT_VERSION"]
        languages = [
            (lang.data.lang, lang.data.sublang)
            for rtype in self.pe.DIRECTORY_ENTRY_RESOURCE.entries
            if rtype.id == rt_version
            for name in rtype.directory.entries
            for lang in name.directory.entries
        ]
        self.assertEqual(languages, [(9, 0)])


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[2] not in MACHINES:
        sys.exit(__doc__)
    ARCHITECTURE = sys.argv.pop()
    DLL_PATH = sys.argv.pop()
    unittest.main(verbosity=2)
