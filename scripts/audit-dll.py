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
  stack-guard      the canary is the module's own: no Crypt*/BCrypt*/SystemFunction036 import and no
                   crypto DLL imported (nothing seeds it through a provider), none of libssp's
                   messages in the bytes (its object, constructor and abort() path are not linked),
                   and the canary's failure function passes 0xc0000409 to TerminateProcess
  no-seh           NO_SEH set, and no instruction stores to fs:0 (the head of the SEH chain)
  imports          only Windows system DLLs imported; MAPI32 by ordinal only
  exports          exactly one export, at ordinal 1
  build-path       no forbidden string, no absolute path of a source or object file
  release-build    no debug sections, no COFF symbol table, no coverage counters (gcov)
  checksum         the header's CheckSum is the file's PE checksum
  signature        an Authenticode signature, if present (or required), verifies

Stack-protector heuristic. MinGW's GCC keeps the canary in one global (__stack_chk_guard, the
module's own, or libssp's), which is gone from a stripped file, so it is recognised by its use: a protected
function loads the global (mov G,%reg) into its frame on entry and, before it returns, compares
the frame's copy with it (sub, xor or cmp G,%reg) and branches to a call of the failure function
(__stack_chk_fail) if they differ. A check is one such comparison whose conditional jump leads,
directly (jne to the call) or by falling through (je over it), to a call of one function F, where
G is an address in a writable data section of the image that some instruction also loads. The
pair (G, F) met most often is the canary; its number of comparisons is the number of checks.
Without -fstack-protector (or -strong/-all) no code of the module compares against such a global.
"""
import argparse
import os
import re
import subprocess
import sys

try:
    import pefile
except ImportError:
    # pefile comes with Debian's python3-pefile (scripts/setup.sh), which only Debian's own
    # interpreter sees: another python3 first on PATH (pyenv, a venv) hands the audit over to it.
    SYSTEM_PYTHON = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON) and os.access(SYSTEM_PYTHON, os.X_OK):
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
    print("audit: cannot audit: Python's pefile is missing (Debian package python3-pefile)", file=sys.stderr)
    sys.exit(2)

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
# A canary guard seeded through these loads crypto providers while the module attaches.
CRYPTO_DLLS = {"crypt32.dll", "bcrypt.dll", "rsaenh.dll", "cryptsp.dll", "cryptbase.dll"}
# libssp's failure path (stderr, then abort()); its object also holds the CryptGenRandom seeding.
LIBSSP_MESSAGES = (b"*** stack smashing detected ***", b"*** buffer overflow detected ***")
SOURCE_PATH = re.compile(
    rb"(?:[A-Za-z]:)?[/\\](?:[\w.+-]+[/\\])+[\w.+-]+\.(?:c|cc|cpp|cxx|h|hpp|s|gcda|gcno|o|obj)\b")


class NotPe(Exception):
    pass


class Pe:
    """The parts of a PE32 file that the rules read, through pefile."""

    def __init__(self, data):
        self.data = data
        try:
            self.file = pefile.PE(data=data, fast_load=True)
        except pefile.PEFormatError as error:
            raise NotPe(str(error.value))
        header, optional = self.file.FILE_HEADER, self.file.OPTIONAL_HEADER
        if optional.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE:
            raise NotPe("not a PE32 (32-bit) image")
        self.machine = header.Machine
        self.characteristics = header.Characteristics
        self.symbol_table, self.symbol_count = header.PointerToSymbolTable, header.NumberOfSymbols
        self.image_base = optional.ImageBase
        self.checksum_offset = optional.get_field_absolute_offset("CheckSum")
        self.checksum, self.subsystem = optional.CheckSum, optional.Subsystem
        self.dll_characteristics = optional.DllCharacteristics
        self.directories = [(entry.VirtualAddress, entry.Size) for entry in optional.DATA_DIRECTORY[:16]]
        self.directories += [(0, 0)] * (16 - len(self.directories))
        self.sections = [(section.Name.rstrip(b"\0").decode("latin-1"), section.VirtualAddress,
                          max(section.Misc_VirtualSize, section.SizeOfRawData), section.PointerToRawData,
                          section.SizeOfRawData, section.Characteristics) for section in self.file.sections]
        self.file.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
                                                      pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])

    def imports(self):
        """[(DLL name, [(function name or None, ordinal or None, import address table slot (VA))])]"""
        found = []
        for entry in getattr(self.file, "DIRECTORY_ENTRY_IMPORT", []):
            found.append((entry.dll.decode("latin-1"),
                          [(function.name.decode("latin-1") if function.name else None,
                            function.ordinal if function.import_by_ordinal else None, function.address)
                           for function in entry.imports]))
        return found

    def exports(self):
        """(ordinal base, [(ordinal, name or None)] of the functions with an address), or None."""
        directory = getattr(self.file, "DIRECTORY_ENTRY_EXPORT", None)
        if directory is None:
            return None
        return directory.struct.Base, [(symbol.ordinal, symbol.name.decode("latin-1") if symbol.name else None)
                                       for symbol in directory.symbols if symbol.address]

    def pe_checksum(self):
        return self.file.generate_checksum()

    def section_of(self, rva):
        for section in self.sections:
            if section[1] <= rva < section[1] + section[2]:
                return section
        return None


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

    def ends_process(self, function):
        """Whether the code at function ends the process with STATUS_STACK_BUFFER_OVERRUN: it passes
        0xc0000409 to kernel32's TerminateProcess (called through its import slot) before any ret,
        following jumps and direct calls."""
        slots = {slot for dll, functions in self.pe.imports() if dll.lower() == "kernel32.dll"
                 for name, _, slot in functions if name == "TerminateProcess"}
        code = self.disassembly()
        index_of = {address: i for i, (address, _, _) in enumerate(code)}
        i, status, seen = index_of.get(function), False, 0
        while i is not None and i < len(code) and seen < 24:
            _, mnemonic, operands = code[i]
            seen += 1
            if re.search(r"\$0xc0000409\b", operands):
                status = True
            elif mnemonic in ("call", "calll") and status:
                match = re.match(r"^\*(?:%ds:)?0x([0-9a-f]+)$", operands)
                if match and int(match.group(1), 16) in slots:
                    return True
            elif mnemonic.startswith("ret"):
                return False
            # Followed: a jump, and a direct call (GCC folds the identical failure functions into
            # one that calls the other).
            match = re.match(r"^(?:0x)?([0-9a-f]+)\b", operands) if mnemonic in ("jmp", "jmpl", "call", "calll") else None
            i = index_of.get(int(match.group(1), 16)) if match else i + 1
        return False

    def rule_stack_guard(self):
        problems = []
        crypto = ["%s!%s" % (dll, name) for dll, functions in self.pe.imports() for name, _, _ in functions
                  if name and re.match(r"B?Crypt|SystemFunction036$", name)]
        crypto += [dll for dll, _ in self.pe.imports() if dll.lower() in CRYPTO_DLLS]
        if crypto:
            problems.append("imports %s (a guard seeded through a crypto provider)" % ", ".join(crypto))
        for message in LIBSSP_MESSAGES:
            if message in self.data:
                problems.append("libssp's message %r (its guard set-up and failure path are linked)" % message.decode())
        found = self.stack_checks()
        if found is not None and not self.ends_process(found[1]):
            problems.append("the canary's failure function 0x%08x does not end the process with 0xc0000409 "
                            "through TerminateProcess" % found[1])
        self.check("stack-guard", not problems, "; ".join(problems) or
                   ("the module's own guard: no crypto import, no libssp, " +
                    ("failing into TerminateProcess(0xc0000409)" if found else "no canary to check")))

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
        problems, names = [], []
        for dll, functions in self.pe.imports():
            names.append(dll)
            if dll.lower() not in SYSTEM_DLLS:
                problems.append("%s is not a Windows system DLL" % dll)
            if dll.lower() in ORDINAL_ONLY_DLLS:
                problems += ["%s!%s imported by name" % (dll, name) for name, ordinal, _ in functions if ordinal is None]
        self.check("imports", not problems, "; ".join(problems) or "%d DLLs: %s" % (len(names), " ".join(names)))

    def rule_exports(self):
        exports = self.pe.exports()
        if exports is None:
            self.check("exports", False, "no export table")
            return
        _, functions = exports
        ordinals = [ordinal for ordinal, _ in functions]
        ok = ordinals == [1]
        described = ", ".join("%s @%d" % (name, ordinal) for ordinal, name in functions if name) or "no names"
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
        actual = self.pe.pe_checksum()
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
        # The first WIN_CERTIFICATE's header (the security directory's address is a file offset).
        length = self.pe.file.get_dword_from_offset(offset)
        revision = self.pe.file.get_word_from_offset(offset + 4)
        kind = self.pe.file.get_word_from_offset(offset + 6)
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
                     self.rule_stack_protector, self.rule_stack_guard, self.rule_no_seh, self.rule_imports, self.rule_exports,
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
    except (OSError, NotPe, pefile.PEFormatError, ValueError) as error:
        print("audit: %s: cannot audit: %s" % (options.dll, error), file=sys.stderr)
        return 2
    for verdict, rule, detail in results:
        print("%s %s: %s" % (verdict, rule, detail))
    failed = [rule for verdict, rule, _ in results if verdict == "FAIL"]
    print("audit: %s: %s" % (options.dll, "FAILED " + " ".join(failed) if failed else "passed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
