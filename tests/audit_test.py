#!/usr/bin/env python3
"""The test Audit.each_rule_fails (tests/CMakeLists.txt): every rule of scripts/audit-dll.py
rejects a DLL that lacks what the rule checks, and names that rule.

Usage: audit_test.py <source-dir> <build-dir> <OrvlHook.dll> <probe-dir>
       audit_test.py guard <source-dir> <build-dir> <OrvlHook.dll> <probe-dir> <wine-run.sh> <guard_check.exe>

Two kinds of faulty DLLs, each with the rules it must fail (and no other):
 - copies of the built module with one field or a few bytes patched the way a linker without the
   protection would have written them (a flag cleared, a section flag set, a name import, a
   second ordinal, a path string in a section's padding); the PE checksum is then set right again,
   so that only the patched promise is broken (except where the checksum is what is broken);
 - small DLLs from tests/audit/probe_dll.cpp built without one protection (no stack protector,
   an SEH handler of their own, a second export, debug information, coverage counters), beside
   the same DLL built with everything, which must pass.
A signed copy (throwaway certificate) must verify against its certificate only, and a byte
changed after signing must break the signature.

"guard" (the test Audit.stack_guard_in_process) runs DLLs under Wine with
tests/audit/guard_check.cpp: the function every canary check fails into (found by the audit)
must end its process at once with STATUS_STACK_BUFFER_OVERRUN (0xC0000409) and print nothing, and
loading the DLL must bring in no crypto provider. The probe linked with libssp's guard must be
told apart on both counts.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

guard_mode = len(sys.argv) > 1 and sys.argv[1] == "guard"
if guard_mode:
    sys.argv.pop(1)
source_dir, build_dir, module_dll, probe_dir = sys.argv[1:5]
audit_script = os.path.join(source_dir, "scripts", "audit-dll.py")
scratch = tempfile.mkdtemp(prefix="audit-test.", dir=build_dir)
failures = []


# ---- The PE fields the patches touch, read here independently of the audit tool --------------
def headers(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    table = optional + optional_size
    sections = {}
    for i in range(count):
        at = table + 40 * i
        name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
        vsize, vaddr, raw_size, raw_pointer = struct.unpack_from("<IIII", data, at + 8)
        sections[name] = dict(header=at, vsize=vsize, vaddr=vaddr, raw_size=raw_size, raw_pointer=raw_pointer)
    return pe, optional, sections


def file_offset(data, rva):
    for section in headers(data)[2].values():
        if section["vaddr"] <= rva < section["vaddr"] + section["raw_size"]:
            return section["raw_pointer"] + rva - section["vaddr"]
    raise ValueError("RVA 0x%x is in no section" % rva)


def reference_checksum(data, field):
    """The PE checksum, word by word with the carry folded in at every step."""
    total = 0
    for at in range(0, len(data), 2):
        if field <= at < field + 4:
            continue
        word = data[at] | (data[at + 1] << 8 if at + 1 < len(data) else 0)
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total & 0xFFFF) + len(data)


def fix_checksum(data):
    field = headers(data)[1] + 64
    struct.pack_into("<I", data, field, reference_checksum(data, field))


def put16(data, at, value):
    struct.pack_into("<H", data, at, value)


def put32(data, at, value):
    struct.pack_into("<I", data, at, value)


def get16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def get32(data, at):
    return struct.unpack_from("<I", data, at)[0]


# ---- Patches: each takes the module's bytes and breaks one promise --------------------------
def dll_characteristics_without(bit):
    def patch(data):
        at = headers(data)[1] + 70
        put16(data, at, get16(data, at) & ~bit)
    return patch


def file_characteristics_with(bit):
    def patch(data):
        at = headers(data)[0] + 22
        put16(data, at, get16(data, at) | bit)
    return patch


def no_relocation_directory(data):
    at = headers(data)[1] + 96 + 8 * 5
    put32(data, at, 0)
    put32(data, at + 4, 0)


def console_subsystem(data):
    put16(data, headers(data)[1] + 68, 3)


def section_flags_with(name, bits):
    def patch(data):
        at = headers(data)[2][name]["header"] + 36
        put32(data, at, get32(data, at) | bits)
    return patch


def imports(data):
    """[(name offset, name, lookup RVA, first thunk RVA)] of the import directory."""
    rva = get32(data, headers(data)[1] + 96 + 8 * 1)
    found = []
    while True:
        at = file_offset(data, rva)
        lookup, _, _, name_rva, first_thunk = struct.unpack_from("<IIIII", data, at)
        if not name_rva:
            return found
        name_at = file_offset(data, name_rva)
        name = bytes(data[name_at:data.index(b"\0", name_at)]).decode("latin-1")
        found.append((name_at, name, lookup, first_thunk))
        rva += 20


def import_renamed(old, new):
    """A DLL that does not come with Windows in place of one that does (names of equal length)."""
    def patch(data):
        for name_at, name, _, _ in imports(data):
            if name.lower() == old.lower():
                assert len(new) == len(name)
                data[name_at:name_at + len(new)] = new.encode()
                return
        raise AssertionError("the module imports no %s" % old)
    return patch


def mapi32_by_name(data):
    """MAPI32's first import turned into one by name (the hint/name entry of a KERNEL32 import)."""
    table = {name.lower(): (lookup, first_thunk) for _, name, lookup, first_thunk in imports(data)}
    kernel_lookup = table["kernel32.dll"][0]
    by_name = get32(data, file_offset(data, kernel_lookup))
    assert not by_name & 0x80000000
    for thunk in table["mapi32.dll"]:
        put32(data, file_offset(data, thunk), by_name)


def export_ordinal_base(base):
    def patch(data):
        export_rva = get32(data, headers(data)[1] + 96)
        put32(data, file_offset(data, export_rva) + 16, base)
    return patch


def planted(text, encoding="utf-8"):
    """A string written into the zero padding that ends a section's file data: the section with
    the most of it, since how much each has changes with the code."""
    def patch(data):
        section = max(headers(data)[2].values(), key=lambda s: s["raw_size"] - s["vsize"] if s["raw_size"] else 0)
        blob = text.encode(encoding)
        at = section["raw_pointer"] + section["vsize"] + 16
        assert at + len(blob) <= section["raw_pointer"] + section["raw_size"], "no room in any section's padding"
        assert not any(data[at:at + len(blob)])
        data[at:at + len(blob)] = blob
    return patch


def symbol_table(data):
    """One empty symbol and an empty string table, appended to the file and named in its header."""
    pe = headers(data)[0]
    put32(data, pe + 12, len(data))
    put32(data, pe + 16, 1)
    data += bytes(18) + (4).to_bytes(4, "little")


def padding_byte_changed(data):
    section = headers(data)[2][".rdata"]
    data[section["raw_pointer"] + section["raw_size"] - 1] ^= 0x5A


def checksum_off_by_one(data):
    at = headers(data)[1] + 64
    put32(data, at, get32(data, at) + 1)


def checksum_zero(data):
    put32(data, headers(data)[1] + 64, 0)


# ---- Running the audit ------------------------------------------------------------------------
def audit(path, *options, environment=None):
    """The set of rules the audit fails, and its output."""
    run = subprocess.run([sys.executable, audit_script] + list(options) + [path],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120,
                         env=environment or os.environ)
    out = run.stdout.decode("utf-8", "replace")
    failed = {line.split()[1].rstrip(":") for line in out.splitlines() if line.startswith("FAIL ")}
    if run.returncode not in (0, 1) or (run.returncode == 1) != bool(failed):
        failed.add("exit %d" % run.returncode)
    return failed, out


def expect(what, path, wanted, *options, environment=None):
    failed, out = audit(path, *options, environment=environment)
    verdict = "ok" if failed == set(wanted) else "WRONG"
    print("[%s] %s: fails %s (expected %s)" % (verdict, what, sorted(failed) or "nothing", sorted(wanted) or "nothing"))
    if verdict != "ok":
        print("  " + out.replace("\n", "\n  "))
        failures.append(what)


def patched(name, *patches, fix=True):
    data = bytearray(open(module_dll, "rb").read())
    for patch in patches:
        patch(data)
    if fix:
        fix_checksum(data)
    path = os.path.join(scratch, name + ".dll")
    with open(path, "wb") as f:
        f.write(data)
    return path


# ---- In a live process (guard) -------------------------------------------------------------
CRYPTO_PROVIDERS = {"rsaenh.dll", "crypt32.dll", "bcrypt.dll", "cryptsp.dll", "cryptbase.dll", "dssenh.dll"}
# What the module loads only when first needed (help, a screen reader's first question), never with
# itself.
FIRST_NEED = {"hhctrl.ocx", "oleacc.dll", "oleaut32.dll"}


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def in_wine(*arguments):
    run = subprocess.run([wine_run, guard_check] + list(arguments), stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=240)
    return run.returncode, run.stdout.decode("latin-1").replace("\r\n", "\n")


def failure_rva(path):
    """The RVA of the function the canary checks fail into, as the audit finds it."""
    _, out = audit(path)
    match = re.search(r"stack-protector: \d+ canary checks against 0x[0-9a-f]+, failing into 0x([0-9a-f]+)", out)
    if not match:
        return None
    data = open(path, "rb").read()
    image_base = get32(data, headers(data)[1] + 28)
    return int(match.group(1), 16) - image_base


def guard_case(what, path, own_guard):
    """own_guard: the DLL must end silently with 0xC0000409 and load no crypto provider; otherwise
    (libssp) it must not, or the checks could not tell the two apart."""
    rva = failure_rva(path)
    if rva is None:
        print("[WRONG] %s: the audit finds no canary check" % what)
        failures.append(what)
        return
    code, out = in_wine("fail", windows_path(path), "%x" % rva)
    exit_match = re.search(r"^EXIT 0x([0-9a-f]{8})$", out, re.M)
    output_match = re.search(r"^OUTPUT (\d+)$", out, re.M)
    if code != 0 or not exit_match or not output_match:
        print("[WRONG] %s: guard_check fail did not run (exit %d):\n  %s" % (what, code, out.replace("\n", "\n  ")))
        failures.append(what)
        return
    status, printed = int(exit_match.group(1), 16), int(output_match.group(1))
    silent_overrun = status == 0xC0000409 and printed == 0
    code, out = in_wine("loads", windows_path(path))
    loaded = re.findall(r"^LOADED (\S+)$", out, re.M)
    if code != 0 or "DONE" not in out:
        print("[WRONG] %s: guard_check loads did not run (exit %d):\n  %s" % (what, code, out.replace("\n", "\n  ")))
        failures.append(what)
        return
    crypto = sorted({name.lower() for name in loaded} & CRYPTO_PROVIDERS)
    early = sorted({name.lower() for name in loaded} & FIRST_NEED)
    ok = (silent_overrun and not crypto if own_guard else not silent_overrun and crypto) and not early
    print("[%s] %s: the failure function at RVA 0x%x ended the process with 0x%08x after %d bytes of "
          "output; loading it loaded %s%s" % ("ok" if ok else "WRONG", what, rva, status, printed,
                                               ", ".join(loaded) or "nothing", " (crypto: %s)" % ", ".join(crypto) if crypto else "")
          + (" (loaded before they are needed: %s)" % ", ".join(early) if early else ""))
    if not ok:
        failures.append(what)


if guard_mode:
    wine_run, guard_check = sys.argv[5:7]
    guard_case("the module", module_dll, True)
    guard_case("the probe DLL with everything", os.path.join(probe_dir, "audit_probe.dll"), True)
    guard_case("the probe DLL with libssp's guard", os.path.join(probe_dir, "audit_probe_libssp.dll"), False)
    shutil.rmtree(scratch, ignore_errors=True)
    if failures:
        print("FAILED: %d of the cases above: %s" % (len(failures), "; ".join(failures)))
        sys.exit(1)
    print("passed: a smashed canary ends the process silently with 0xC0000409; no crypto provider, help or "
          "accessibility library is loaded")
    sys.exit(0)

forbid = ["--forbid", source_dir, "--forbid", build_dir]
no_user = {key: value for key, value in os.environ.items() if key not in ("USER", "LOGNAME")}
DYNAMIC_BASE, NX_COMPAT, NO_SEH, RELOCS_STRIPPED = 0x40, 0x100, 0x400, 0x1
WRITE, EXECUTE, SHARED = 0x80000000, 0x20000000, 0x10000000

# The reference checksum agrees with the one the linker wrote, or every fixed copy would be wrong.
original = bytearray(open(module_dll, "rb").read())
field = headers(original)[1] + 64
if reference_checksum(original, field) != get32(original, field):
    print("[WRONG] the linker's checksum 0x%08x is not the reference one 0x%08x"
          % (get32(original, field), reference_checksum(original, field)))
    failures.append("reference checksum")

table = [
    ("the module as built", patched("unchanged"), []),
    ("DYNAMIC_BASE cleared", patched("no-dynamic-base", dll_characteristics_without(DYNAMIC_BASE)), ["dynamic-base"]),
    ("no relocation table", patched("no-relocations", no_relocation_directory), ["dynamic-base"]),
    ("relocations stripped", patched("relocs-stripped", file_characteristics_with(RELOCS_STRIPPED)), ["dynamic-base"]),
    ("NX_COMPAT cleared", patched("no-nx", dll_characteristics_without(NX_COMPAT)), ["nx-compat"]),
    ("console subsystem", patched("console", console_subsystem), ["gui-subsystem"]),
    ("writable code", patched("writable-text", section_flags_with(".text", WRITE)), ["sections"]),
    ("writable executable resources", patched("executable-rsrc", section_flags_with(".rsrc", WRITE | EXECUTE)), ["sections"]),
    ("a writable shared section", patched("shared-rsrc", section_flags_with(".rsrc", WRITE | SHARED)), ["sections"]),
    ("NO_SEH cleared", patched("seh-allowed", dll_characteristics_without(NO_SEH)), ["no-seh"]),
    ("a DLL that is not Windows's", patched("foreign-import", import_renamed("comctl32.dll", "libssp-0.dll")), ["imports"]),
    ("MAPI32 imported by name", patched("mapi-by-name", mapi32_by_name), ["imports"]),
    ("the export at ordinal 2", patched("ordinal-2", export_ordinal_base(2)), ["exports"]),
    ("the source folder planted", patched("source-path", planted(source_dir)), ["build-path"]),
    ("the build folder planted, UTF-16", patched("build-path-wide", planted(build_dir, "utf-16-le")), ["build-path"]),
    ("a home folder planted", patched("home", planted("C:/home/builder/")), ["build-path"]),
    ("root's home planted", patched("root-home", planted("/root/.wine")), ["build-path"]),
    ("a source file's path planted", patched("source-file", planted("D:\\b\\orvl\\host\\menu.cpp")), ["build-path"]),
    ("a COFF symbol table", patched("symbols", symbol_table), ["release-build"]),
    ("checksum off by one", patched("checksum-plus-one", checksum_off_by_one, fix=False), ["checksum"]),
    ("checksum zero", patched("checksum-zero", checksum_zero, fix=False), ["checksum"]),
    ("a byte changed after linking", patched("changed-byte", padding_byte_changed, fix=False), ["checksum"]),
]
for what, path, wanted in table:
    expect(what, path, wanted, *forbid, environment=no_user)

# The user's name: planted, it fails only while it is the name of the user who runs the audit.
user_path = patched("user-name", planted("orvlbuilder", "utf-16-le"))
expect("the user's name planted", user_path, ["build-path"], *forbid, environment=dict(no_user, USER="orvlbuilder"))
expect("another user's name planted", user_path, [], *forbid, environment=dict(no_user, USER="someoneelse"))

# Small DLLs built with and without one protection each.
probes = [
    ("audit_probe", [], "everything"),
    ("audit_probe_unprotected", ["stack-protector"], "built without -fstack-protector-strong"),
    ("audit_probe_libssp", ["stack-guard"], "libssp's guard (seeded through CryptGenRandom, abort() on failure)"),
    ("audit_probe_seh_handler", ["no-seh"], "an SEH handler of its own, marked NO_SEH"),
    ("audit_probe_two_exports", ["exports"], "a second export"),
    ("audit_probe_debug", ["release-build", "build-path"], "debug information"),
    ("audit_probe_coverage", ["release-build", "build-path"], "coverage counters"),
]
for name, wanted, what in probes:
    expect("probe DLL with %s" % what, os.path.join(probe_dir, name + ".dll"), wanted, *forbid, environment=no_user)

# Signed with a throwaway certificate: verifies against it only; a change after signing breaks it.
def tool(*command):
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=True)


if shutil.which("openssl") and shutil.which("osslsigncode"):
    for who in ("signer", "stranger"):
        tool("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
             "/CN=Orvella audit test " + who, "-keyout", os.path.join(scratch, who + ".key"),
             "-out", os.path.join(scratch, who + ".pem"))
    tool("openssl", "pkcs12", "-export", "-inkey", os.path.join(scratch, "signer.key"),
         "-in", os.path.join(scratch, "signer.pem"), "-out", os.path.join(scratch, "signer.p12"), "-passout", "pass:x")
    signed = os.path.join(scratch, "signed.dll")
    tool("osslsigncode", "sign", "-pkcs12", os.path.join(scratch, "signer.p12"), "-pass", "x", "-h", "sha256",
         "-in", os.path.join(scratch, "unchanged.dll"), "-out", signed)
    signer = ["--ca-file", os.path.join(scratch, "signer.pem"), "--require-signature"]
    stranger = ["--ca-file", os.path.join(scratch, "stranger.pem"), "--require-signature"]
    expect("signed, checked against its certificate", signed, [], *forbid, *signer, environment=no_user)
    expect("signed, checked against another certificate", signed, ["signature"], *forbid, *stranger, environment=no_user)
    expect("unsigned where a signature is required", os.path.join(scratch, "unchanged.dll"), ["signature"],
           *forbid, *signer, environment=no_user)
    data = bytearray(open(signed, "rb").read())
    padding_byte_changed(data)
    fix_checksum(data)
    tampered = os.path.join(scratch, "signed-tampered.dll")
    with open(tampered, "wb") as f:
        f.write(data)
    expect("signed, a byte changed afterwards", tampered, ["signature"], *forbid, *signer, environment=no_user)
else:
    print("[WRONG] openssl or osslsigncode is missing (scripts/setup.sh installs them)")
    failures.append("signature tools")

shutil.rmtree(scratch, ignore_errors=True)
if failures:
    print("FAILED: %d of the cases above: %s" % (len(failures), "; ".join(failures)))
    sys.exit(1)
print("passed: every rule rejects what lacks its protection")
