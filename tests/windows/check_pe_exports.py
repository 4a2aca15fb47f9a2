#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks the export directory of Quorvane2.dll: module name, ordinal base 1
and exactly the 13 exports with their fixed ordinals.

  check_pe_exports.py Quorvane2.dll
"""
import sys

import pefile

EXPECTED = {
    1: "FTPServerFiles", 2: "FTPFileDownload", 3: "FTPFileUpload", 4: "FTPFileDelete",
    5: "FTPFolderCreate", 6: "FTPFolderDelete", 7: "FTPFileRename", 8: "FTPServerLogIn",
    9: "FTPServerLogOut", 10: "_ZN9CQuorvaneC1Ev", 11: "_ZN9CQuorvaneaSERKS_",
    12: "_Z10fnQuorvanev", 13: "nQuorvane",
}


def main():
    pe = pefile.PE(sys.argv[1], fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])
    exports = pe.DIRECTORY_ENTRY_EXPORT
    problems = []
    name = pe.get_string_at_rva(exports.struct.Name).decode()
    if name != "Quorvane2.dll":
        problems.append("module name %r, not 'Quorvane2.dll'" % name)
    if exports.struct.Base != 1:
        problems.append("ordinal base %d, not 1" % exports.struct.Base)
    actual = {symbol.ordinal: symbol.name.decode() if symbol.name else None
              for symbol in exports.symbols}
    if actual != EXPECTED:
        problems.append("exports %s, expected %s" % (sorted(actual.items()), sorted(EXPECTED.items())))
    data = pe.get_section_by_rva(
        next(s.address for s in exports.symbols if s.ordinal == 13))
    if data is None or data.Characteristics & 0x20000000:  # IMAGE_SCN_MEM_EXECUTE
        problems.append("nQuorvane does not lie in a data section")
    for problem in problems:
        print("FAIL", problem)
    if not problems:
        print("export directory of %s: %s, base 1, %d exports as expected" %
              (sys.argv[1], name, len(actual)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
