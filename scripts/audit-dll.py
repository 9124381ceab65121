#!/usr/bin/env python3
"""Audits a 32-bit Windows DLL for what OrvlHook.dll promises about its binary.

Usage: scripts/audit-dll.py [options] DLL
  --forbid TEXT         a string that must not occur in the file (ASCII or UTF-16LE); repeatable.
                        Give the source and build folders. /root/, /home/ and the user's name
                        ($USER, $LOGNAME) are always forbidden.
  --ca-file PEM         verify an Authenticode signature against this certificate (osslsigncode)
  --require-signature   an unsigned file fails the signature rule
  --min-stack-checks N  how many canary checks the code must hold at least (default 1)
  --objdump CMD         the disassembler (default $OBJDUMP or i686-w64-mingw32-objdump)
  --osslsigncode CMD    the signature verifier (default osslsigncode)
Prints one line per rule, "PASS", "FAIL" or "SKIP" and the rule's name; exits 1 if any rule
fails, 2 if the file cannot be read as a PE32 DLL or a tool is missing.

The rules (names as printed):
  dynamic-base     DYNAMIC_BASE set, a base relocation table present, relocations not stripped
  nx-compat        NX_COMPAT set
  gui-subsystem    the Windows GUI subsystem (2)
  sections         no section both writable and executable, none both writable and shared
  stack-protector  the code checks stack canaries (heuristic below)
  no-seh           NO_SEH set, and no instruction stores to fs:0 (the head of the SEH chain)
  imports          only Windows system DLLs imported; MAPI32 by ordinal only
  exports          exactly one export, at ordinal 1
  build-path       no forbidden string, no absolute path of a source or object file
  release-build    no debug sections, no COFF symbol table, no coverage counters (gcov)
  checksum         the header's CheckSum is the file's PE checksum
  signature        an Authenticode signature, if present (or required), verifies

Stack-protector heuristic. MinGW's GCC keeps the canary in one global (__stack_chk_guard of
libssp), which is gone from a stripped file, so it is recognised by its use: a protected
function loads the global (mov G,%reg) into its frame on entry and, before it returns, compares
the frame's copy with it (sub, xor or cmp G,%reg) and branches to a call of the failure function
(__stack_chk_fail) if they differ. A check is one such comparison whose conditional jump leads,
directly (jne to the call) or by falling through (je over it), to a call of one function F, where
G is an address in a writable data section of the image that some instruction also loads. The
pair (G, F) met most often is the canary; its number of comparisons is the number of checks.
Without -fstack-protector (or -strong/-all) no code of the module compares against such a global.
"""
import argparse
import array
import os
import re
import struct
import subprocess
import sys

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_DLL = 0x2000
DLLCHAR_DYNAMIC_BASE = 0x0040
DLLCHAR_NX_COMPAT = 0x0100
DLLCHAR_NO_SEH = 0x0400
SCN_MEM_SHARED = 0x10000000
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
SUBSYSTEM_WINDOWS_GUI = 2
DIR_EXPORT, DIR_IMPORT, DIR_SECURITY, DIR_BASERELOC = 0, 1, 4, 5

# DLLs that Windows itself ships (lower case); anything else would have to travel with the module.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "gdi32.dll", "imm32.dll",
    "kernel32.dll", "mapi32.dll", "msvcrt.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll",
    "rpcrt4.dll", "secur32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "uxtheme.dll",
    "version.dll", "winmm.dll", "ws2_32.dll", "wsock32.dll", "hhctrl.ocx",
}
ORDINAL_ONLY_DLLS = {"mapi32.dll"}
SOURCE_PATH = re.compile(
    rb"(?:[A-Za-z]:)?[/\\](?:[\w.+-]+[/\\])+[\w.+-]+\.(?:c|cc|cpp|cxx|h|hpp|s|gcda|gcno|o|obj)\b")


class NotPe(Exception):
    pass


class Pe:
    """The parts of a PE32 file's headers that the rules read."""

    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise NotPe("no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if self.pe + 24 > len(data) or data[self.pe:self.pe + 4] != b"PE\0\0":
            raise NotPe("no PE signature")
        (self.machine, count, _, self.symbol_table, self.symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, self.pe + 4)
        self.optional = self.pe + 24
        if struct.unpack_from("<H", data, self.optional)[0] != 0x10B:
            raise NotPe("not a PE32 (32-bit) image")
        self.image_base = struct.unpack_from("<I", data, self.optional + 28)[0]
        self.checksum_offset = self.optional + 64
        self.checksum, self.subsystem, self.dll_characteristics = struct.unpack_from(
            "<IHH", data, self.checksum_offset)
        directory_count = struct.unpack_from("<I", data, self.optional + 92)[0]
        self.directories = [struct.unpack_from("<II", data, self.optional + 96 + 8 * i)
                            for i in range(min(directory_count, 16))]
        self.directories += [(0, 0)] * (16 - len(self.directories))
        self.sections = []
        table = self.optional + optional_size
        for i in range(count):
            name, vsize, vaddr, raw_size, raw_pointer = struct.unpack_from("<8sIIII", data, table + 40 * i)
            flags = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), vaddr, max(vsize, raw_size),
                                  raw_pointer, raw_size, flags))

    def offset(self, rva):
        for _, vaddr, size, raw_pointer, raw_size, _ in self.sections:
            if vaddr <= rva < vaddr + size and rva - vaddr < raw_size:
                return raw_pointer + rva - vaddr
        raise NotPe("RVA 0x%x lies in no section's file data" % rva)

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("latin-1")

    def section_of(self, rva):
        for section in self.sections:
            if section[1] <= rva < section[1] + section[2]:
                return section
        return None


def pe_checksum(data, checksum_offset):
    """The PE checksum: 16-bit one's-complement sum of the file (CheckSum read as 0) plus its length."""
    padded = data + b"\0" * (len(data) % 2)
    words = array.array("H")
    words.frombytes(padded)
    if sys.byteorder != "little":
        words.byteswap()
    total = sum(words) - words[checksum_offset // 2] - words[checksum_offset // 2 + 1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


class Audit:
    def __init__(self, path, options):
        self.path = path
        self.options = options
        with open(path, "rb") as f:
            self.data = f.read()
        self.pe = Pe(self.data)
        self.results = []
        self._disassembly = None

    def report(self, verdict, rule, detail):
        self.results.append((verdict, rule, detail))

    def check(self, rule, ok, detail):
        self.report("PASS" if ok else "FAIL", rule, detail)

    def disassembly(self):
        """[(address, mnemonic, operands)] of the code sections, from objdump."""
        if self._disassembly is None:
            command = self.options.objdump.split() + ["-d", "--no-show-raw-insn", self.path]
            try:
                out = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     timeout=120, check=True).stdout.decode("latin-1")
            except (OSError, subprocess.SubprocessError) as error:
                raise NotPe("cannot disassemble with %s: %s" % (command[0], error))
            line = re.compile(r"^\s*([0-9a-f]+):\s+(?:(?:lock|rep[a-z]*|data16|addr16|bnd|notrack)\s+)*([a-z][a-z0-9.]*)\s*(.*)$")
            self._disassembly = []
            for text in out.splitlines():
                match = line.match(text)
                if match:
                    self._disassembly.append((int(match.group(1), 16), match.group(2),
                                              match.group(3).split("#")[0].strip()))
        return self._disassembly

    # ---- Rules ------------------------------------------------------------------------------
    def rule_dynamic_base(self):
        relocations = self.pe.directories[DIR_BASERELOC]
        problems = []
        if not self.pe.dll_characteristics & DLLCHAR_DYNAMIC_BASE:
            problems.append("DYNAMIC_BASE not set")
        if relocations[0] == 0 or relocations[1] == 0:
            problems.append("no base relocation table")
        if self.pe.characteristics & IMAGE_FILE_RELOCS_STRIPPED:
            problems.append("marked RELOCS_STRIPPED")
        self.check("dynamic-base", not problems, "; ".join(problems) or
                   "DYNAMIC_BASE, %d bytes of base relocations" % relocations[1])

    def rule_nx_compat(self):
        ok = bool(self.pe.dll_characteristics & DLLCHAR_NX_COMPAT)
        self.check("nx-compat", ok, "NX_COMPAT set" if ok else
                   "NX_COMPAT not set (DllCharacteristics 0x%04x)" % self.pe.dll_characteristics)

    def rule_gui_subsystem(self):
        ok = self.pe.subsystem == SUBSYSTEM_WINDOWS_GUI
        self.check("gui-subsystem", ok, "subsystem %d%s" % (self.pe.subsystem, "" if ok else ", not 2 (Windows GUI)"))

    def rule_sections(self):
        problems = []
        for name, _, _, _, _, flags in self.pe.sections:
            if flags & SCN_MEM_WRITE and flags & SCN_MEM_EXECUTE:
                problems.append("%s is writable and executable" % name)
            if flags & SCN_MEM_WRITE and flags & SCN_MEM_SHARED:
                problems.append("%s is writable and shared" % name)
        self.check("sections", not problems, "; ".join(problems) or
                   "%d sections, none writable and executable or shared" % len(self.pe.sections))

    def stack_checks(self):
        """(guard address, failure function, number of canary comparisons), or None."""
        code = self.disassembly()
        index_of = {address: i for i, (address, _, _) in enumerate(code)}
        absolute = re.compile(r"^(?:%[a-z]s:)?0x([0-9a-f]+)$")

        def writable_data(address):
            section = self.pe.section_of(address - self.pe.image_base)
            return section is not None and section[5] & SCN_MEM_WRITE and not section[5] & SCN_MEM_EXECUTE

        def code_address(operands):
            match = re.match(r"^(?:0x)?([0-9a-f]+)\b", operands)
            return int(match.group(1), 16) if match else None

        def called(i):
            if 0 <= i < len(code) and code[i][1] in ("call", "calll"):
                return code_address(code[i][2])
            return None

        loaded = set()
        for _, mnemonic, operands in code:
            if mnemonic in ("mov", "movl"):
                parts = operands.split(",")
                match = absolute.match(parts[0]) if len(parts) == 2 else None
                if match and parts[1].startswith("%e"):
                    loaded.add(int(match.group(1), 16))
        sites = {}
        for i, (_, mnemonic, operands) in enumerate(code):
            if mnemonic not in ("sub", "subl", "xor", "xorl", "cmp", "cmpl"):
                continue
            parts = operands.split(",")
            if len(parts) != 2:
                continue
            match = absolute.match(parts[0]) or absolute.match(parts[1])
            if not match:
                continue
            guard = int(match.group(1), 16)
            if guard not in loaded or not writable_data(guard):
                continue
            for j in range(i + 1, min(i + 3, len(code))):
                jump, target = code[j][1], code_address(code[j][2])
                if jump in ("jne", "jnz") and target is not None:
                    failure = called(index_of.get(target, -1))
                elif jump in ("je", "jz"):
                    failure = called(j + 1)
                else:
                    continue
                if failure is not None:
                    sites[(guard, failure)] = sites.get((guard, failure), 0) + 1
                break
        if not sites:
            return None
        (guard, failure), count = max(sites.items(), key=lambda item: item[1])
        return guard, failure, count

    def rule_stack_protector(self):
        found = self.stack_checks()
        wanted = self.options.min_stack_checks
        if found is None:
            self.check("stack-protector", False, "no canary check in the code (built without -fstack-protector?)")
            return
        guard, failure, count = found
        self.check("stack-protector", count >= wanted,
                   "%d canary checks against 0x%08x, failing into 0x%08x%s" %
                   (count, guard, failure, "" if count >= wanted else ", fewer than %d" % wanted))

    def rule_no_seh(self):
        problems = []
        if not self.pe.dll_characteristics & DLLCHAR_NO_SEH:
            problems.append("NO_SEH not set")
        stores = ["0x%08x %s %s" % (address, mnemonic, operands)
                  for address, mnemonic, operands in self.disassembly()
                  if re.search(r",\s*%fs:0x0$|^%fs:0x0$", operands) and mnemonic not in ("cmp", "cmpl", "test", "push", "pushl")]
        if stores:
            problems.append("code stores to fs:0 (registers an SEH handler): " + "; ".join(stores[:3]))
        self.check("no-seh", not problems, "; ".join(problems) or "NO_SEH set, nothing stored to fs:0")

    def rule_imports(self):
        rva, size = self.pe.directories[DIR_IMPORT]
        problems, names = [], []
        if rva and size:
            entry = rva
            while True:
                lookup, _, _, name_rva, first_thunk = struct.unpack_from("<IIIII", self.data, self.pe.offset(entry))
                if name_rva == 0 and first_thunk == 0:
                    break
                dll = self.pe.string(name_rva)
                names.append(dll)
                if dll.lower() not in SYSTEM_DLLS:
                    problems.append("%s is not a Windows system DLL" % dll)
                thunk = lookup or first_thunk
                while True:
                    value = self.pe.u32(thunk)
                    if value == 0:
                        break
                    if dll.lower() in ORDINAL_ONLY_DLLS and not value & 0x80000000:
                        problems.append("%s!%s imported by name" % (dll, self.pe.string(value + 2)))
                    thunk += 4
                entry += 20
        self.check("imports", not problems, "; ".join(problems) or "%d DLLs: %s" % (len(names), " ".join(names)))

    def rule_exports(self):
        rva, size = self.pe.directories[DIR_EXPORT]
        if not rva or not size:
            self.check("exports", False, "no export table")
            return
        (_, _, _, _, _, base, functions, name_count, functions_rva, names_rva,
         ordinals_rva) = struct.unpack_from("<IIHHIIIIIII", self.data, self.pe.offset(rva))
        ordinals = [base + i for i in range(functions) if self.pe.u32(functions_rva + 4 * i)]
        names = [(self.pe.string(self.pe.u32(names_rva + 4 * i)),
                  base + struct.unpack_from("<H", self.data, self.pe.offset(ordinals_rva + 2 * i))[0])
                 for i in range(name_count)]
        ok = ordinals == [1]
        described = ", ".join("%s @%d" % named for named in names) or "no names"
        self.check("exports", ok, ("one export at ordinal 1 (%s)" if ok else
                                   "exports at ordinals %s, not exactly one at 1 (%%s)" % ordinals) % described)

    def rule_build_path(self):
        forbidden = ["/root/", "/home/"] + list(self.options.forbid)
        for variable in ("USER", "LOGNAME"):
            value = os.environ.get(variable, "")
            if len(value) >= 3:
                forbidden.append(value)
        problems = []
        for text in dict.fromkeys(forbidden):
            for encoding in ("utf-8", "utf-16-le"):
                at = self.data.find(text.encode(encoding))
                if at >= 0:
                    problems.append("%r (%s) at offset 0x%x" % (text, "UTF-16" if "16" in encoding else "ASCII", at))
        for match in SOURCE_PATH.finditer(self.data):
            problems.append("path %r at offset 0x%x" % (match.group().decode("latin-1"), match.start()))
        self.check("build-path", not problems, "; ".join(problems[:5]) or
                   "none of %d forbidden strings, no source path" % len(dict.fromkeys(forbidden)))

    def rule_release_build(self):
        problems = ["section %s" % name for name, *_ in self.pe.sections
                    if name.startswith(".debug") or re.match(r"^/\d+$", name)]
        if self.pe.symbol_table or self.pe.symbol_count:
            problems.append("a COFF symbol table of %d symbols" % self.pe.symbol_count)
        for marker in (b"__gcov", b".gcda", b"__llvm_profile"):
            if marker in self.data:
                problems.append("coverage counters (%s)" % marker.decode())
        self.check("release-build", not problems, "; ".join(problems[:5]) or "no debug sections, symbols or coverage counters")

    def rule_checksum(self):
        actual = pe_checksum(self.data, self.pe.checksum_offset)
        ok = self.pe.checksum == actual
        self.check("checksum", ok, "0x%08x%s" % (self.pe.checksum, "" if ok else
                                                   " in the header, 0x%08x computed" % actual))

    def rule_signature(self):
        offset, size = self.pe.directories[DIR_SECURITY]
        if not offset or not size:
            if self.options.require_signature:
                self.check("signature", False, "not signed")
            else:
                self.report("SKIP", "signature", "not signed")
            return
        if offset + size > len(self.data) or size < 8:
            self.check("signature", False, "the certificate table lies outside the file")
            return
        length, revision, kind = struct.unpack_from("<IHH", self.data, offset)
        if revision != 0x200 or kind != 2 or length > size:
            self.check("signature", False, "not a PKCS#7 Authenticode certificate (revision 0x%x, type %d)" % (revision, kind))
            return
        command = self.options.osslsigncode.split() + ["verify", "-in", self.path]
        if self.options.ca_file:
            command += ["-CAfile", self.options.ca_file]
        try:
            run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        except (OSError, subprocess.SubprocessError) as error:
            raise NotPe("cannot run %s: %s" % (command[0], error))
        out = run.stdout.decode("latin-1")
        ok = run.returncode == 0 and "Signature verification: ok" in out
        failed = [line.strip() for line in out.splitlines() if re.search(r"fail|mismatch|error", line, re.I)]
        self.check("signature", ok, "Authenticode verifies%s" % (" against " + self.options.ca_file if self.options.ca_file else "")
                   if ok else "does not verify: " + ("; ".join(failed[:3]) or "osslsigncode exit %d" % run.returncode))

    def run(self):
        if not self.pe.characteristics & IMAGE_FILE_DLL:
            raise NotPe("not a DLL")
        for rule in (self.rule_dynamic_base, self.rule_nx_compat, self.rule_gui_subsystem, self.rule_sections,
                     self.rule_stack_protector, self.rule_no_seh, self.rule_imports, self.rule_exports,
                     self.rule_build_path, self.rule_release_build, self.rule_checksum, self.rule_signature):
            rule()
        return self.results


def main():
    parser = argparse.ArgumentParser(description="Audits a 32-bit Windows DLL (see the file's header).")
    parser.add_argument("dll")
    parser.add_argument("--forbid", action="append", default=[])
    parser.add_argument("--ca-file")
    parser.add_argument("--require-signature", action="store_true")
    parser.add_argument("--min-stack-checks", type=int, default=1)
    parser.add_argument("--objdump", default=os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump"))
    parser.add_argument("--osslsigncode", default="osslsigncode")
    options = parser.parse_args()
    options.forbid = [text for text in options.forbid if text]
    try:
        results = Audit(options.dll, options).run()
    except (OSError, NotPe, struct.error, ValueError) as error:
        print("audit: %s: cannot audit: %s" % (options.dll, error), file=sys.stderr)
        return 2
    for verdict, rule, detail in results:
        print("%s %s: %s" % (verdict, rule, detail))
    failed = [rule for verdict, rule, _ in results if verdict == "FAIL"]
    print("audit: %s: %s" % (options.dll, "FAILED " + " ".join(failed) if failed else "passed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
