#!/usr/bin/env python3
"""The disassembler library against objdump -M intel over the same bytes.

    disasm_vs_objdump.py LIBRARY [--strings N] [--seed S] [--bits 16,32,64] [--show K] [FILE...]

Random byte strings (half of them built from prefixes and the instructions prefixes change) and
any FILEs (boot records, listed at 7C00h as 16-bit code) are decoded by both, each string followed
by 16 NOPs so that both decoders start the next one in step. Compared: where each instruction
ends; and, where both find the same instruction, for string instructions and XLAT the segment,
address register and element size of each memory operand, the counter of LOOP and JCXZ, how much a
push or pop of a segment register or an immediate, a near or far return, a relative call, LEAVE and
ENTER move the stack, and the target of a relative branch (16-bit code: its low 16 bits only, as
objdump wraps some targets inside the segment and the listing, whose addresses are offsets on the
device, does not; objdump does not cut an 8-bit displacement's target to 16 bits in 32-bit code).

Where the two end an instruction in different places for a known reason (bytes objdump decodes
and the CPU rejects, such as LOCK on an instruction that cannot take it or ARPL in real mode), the
difference is counted under that reason. Prints the agreement rates and the first unexplained
differences; exits 1 when there is one, 77 when objdump is not installed.
"""
import argparse
import ctypes
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

MODES = {16: (3, "i8086", "intel"), 32: (1, "i386", "intel"), 64: (2, "i386:x86-64", "intel,intel64")}
PAD = b"\x90" * 16
LEGACY_PREFIXES = b"\x26\x2e\x36\x3e\x64\x65\x66\x67\xf0\xf2\xf3"
SALT_PREFIXES = LEGACY_PREFIXES.replace(b"\xf0", b"")  # LOCK only makes these instructions undefined
SALTS = [bytes([b]) for b in b"\xa4\xa5\xa6\xa7\xaa\xab\xac\xad\xae\xaf\x6c\x6d\x6e\x6f\xd7\xe0\xe1\xe2"
         b"\xe3\xca\xcb\xc2\xc3\x06\x07\x0e\x16\x17\x1e\x1f\xe8\xe9\xeb\x74\x6a\x68\xc8\xc9"]
SALTS += [b"\x0f" + bytes([b]) for b in b"\x34\x35\xa0\xa1\xa8\xa9\x84\x8f"]
STRING_OPS = {"lods", "stos", "movs", "cmps", "scas", "ins", "outs", "xlat"}
PREFIX_WORDS = {"rep", "repz", "repe", "repnz", "repne", "lock", "data16", "data32", "addr16", "addr32",
                "cs", "ds", "es", "ss", "fs", "gs", "bnd", "notrack", "xacquire", "xrelease"}
SEGMENT_REGISTERS = {"es", "cs", "ss", "ds", "fs", "gs"}
WIDTH = {"b": "byte", "w": "word", "d": "dword", "q": "qword"}
SUFFIX_BITS = {"w": 16, "d": 32, "q": 64}


def random_strings(count, seed):
    rng = random.Random(seed)
    for _ in range(count):
        if rng.random() < 0.5:
            yield bytes(rng.randrange(256) for _ in range(rng.randint(1, 32)))
            continue
        out = b""
        while len(out) < 24:
            out += bytes(rng.choice(SALT_PREFIXES) for _ in range(rng.choice((0, 1, 1, 2, 3))))
            out += rng.choice(SALTS) + bytes(rng.randrange(256) for _ in range(rng.randint(0, 4)))
        yield out


def ours(library, data, base, mode):
    """Address -> (length, text) of every instruction our library finds, decoding from the start."""
    buffer = (ctypes.c_ubyte * (len(data) + 16)).from_buffer_copy(data + bytes(16))
    text = ctypes.create_string_buffer(1024)
    record = ctypes.create_string_buffer(92)
    found, offset = {}, 0
    while offset < len(data):
        n = library.DisAssemble(ctypes.byref(buffer, offset), base + offset, text, record, mode)
        length = int.from_bytes(record.raw[88:92], "little", signed=True)
        found[base + offset] = (length, text.value[:n].decode().split("\t", 2)[2])
        offset += max(length, 1)
    return found


def theirs(data, base, bits):
    _, machine, options = MODES[bits]
    with tempfile.NamedTemporaryFile(suffix=".bin") as f:
        f.write(data)
        f.flush()
        listing = subprocess.run(["objdump", "-D", "-z", "-b", "binary", "-m", machine, "-M", options,
                                  "--insn-width=15", "--adjust-vma=%#x" % base, f.name],
                                 check=True, capture_output=True, text=True).stdout
    found = {}
    for m in re.finditer(r"^\s*([0-9a-f]+):\t([0-9a-f ]+?)\s*\t(.*)$", listing, re.M):
        found[int(m.group(1), 16)] = (len(m.group(2).split()), m.group(3).strip())
    return found


def split(text):
    """(prefix words, mnemonic, operands) in lower case, without objdump's comment."""
    words = text.split("#")[0].lower().split(None, 1)
    prefixes = []
    while len(words) == 2 and (words[0] in PREFIX_WORDS or words[0].startswith("rex")):
        prefixes.append(words[0])
        words = words[1].split(None, 1)
    operands = [o.strip() for o in words[1].split(",")] if len(words) == 2 else []
    return prefixes, (words[0] if words else ""), operands


def number(operand):
    m = re.fullmatch(r"0x([0-9a-f]+)|([0-9a-f]+)h", operand)
    return int(m.group(1) or m.group(2), 16) if m else None


def facts(text, bits, raw, objdump):
    """What one side says the instruction does, in the points compared."""
    prefixes, mnemonic, operands = split(text)
    wide = {16: "", 32: "e", 64: "r"}[bits]
    f = {}
    if mnemonic[:-1] in STRING_OPS - {"xlat"} and mnemonic[-1] in WIDTH and not operands:
        # Ours without operands: the defaults of the mode.
        mnemonic, size = mnemonic[:-1], WIDTH[mnemonic[-1]]
        source, destination = "%s ptr [%ssi]" % (size, wide), "%s ptr [%sdi]" % (size, wide)
        register = {"byte": "al", "word": "ax", "dword": "eax", "qword": "rax"}[size]
        operands = {"lods": [register, source], "stos": [destination, register],
                    "movs": [destination, source], "cmps": [source, destination],
                    "scas": [register, destination], "ins": [destination, "dx"],
                    "outs": ["dx", source]}[mnemonic]
    elif mnemonic == "xlat" and not operands:
        operands = ["byte ptr [%sbx]" % wide]
    if mnemonic in STRING_OPS:
        memory = []
        for o in operands:
            m = re.fullmatch(r"(\w+) ptr (?:([a-z]s):)?\[([a-z0-9]+)(?:\+al)?\]", o)
            if m:
                default = "es" if m.group(3).endswith("di") else "ds"
                segment = m.group(2) or default
                if bits == 64 and segment not in ("fs", "gs"):
                    segment = default
                memory.append((m.group(1), segment, m.group(3)))
            else:
                memory.append(o)
        f["memory operands"] = memory
    if mnemonic.startswith("loop"):
        counter = {16: "cx", 32: "ecx", 64: "rcx"}[bits]
        counter = "ecx" if "addr32" in prefixes else "cx" if "addr16" in prefixes else counter
        f["counter"] = operands[1] if len(operands) > 1 else counter
    if mnemonic in ("jcxz", "jecxz", "jrcxz"):
        f["counter"] = mnemonic[1:-1]
    stem = mnemonic if mnemonic in ("push", "pop", "ret", "retf", "leave", "enter", "call") else mnemonic[:-1]
    suffix = mnemonic[len(stem):]
    if suffix in ("", "w", "d", "q") and (
            stem in ("ret", "retf", "leave", "enter")
            or (stem in ("push", "pop") and len(operands) == 1
                and (operands[0] in SEGMENT_REGISTERS or number(operands[0]) is not None))
            or (stem == "call" and len(operands) == 1 and number(operands[0]) is not None)):
        f["stack operand bits"] = SUFFIX_BITS.get(suffix, 32 if stem == "retf" and bits == 64 else bits)
    branch = mnemonic.startswith("j") or mnemonic.startswith("loop") or stem == "call"
    if branch and operands and number(operands[0]) is not None:
        target = number(operands[0])
        legacy = legacy_prefixes(raw)
        if bits == 64:
            target &= 0xFFFFFFFF
        elif bits == 32 and 0x66 in legacy and objdump:
            target &= 0xFFFF  # the CPU cuts it; objdump does so for 16-bit displacements only
        elif bits == 16 and 0x66 not in legacy:
            target &= 0xFFFF  # the listing does not wrap inside the segment; objdump does, sometimes
        f["branch target"] = target
    return f


LOCKABLE = {"add", "adc", "and", "btc", "btr", "bts", "cmpxchg", "cmpxchg8b", "cmpxchg16b", "dec", "inc",
            "neg", "not", "or", "sbb", "sub", "xadd", "xchg", "xor"}
REAL_MODE_UNDEFINED = {"arpl", "sldt", "str", "lldt", "ltr", "verr", "verw", "lar", "lsl", "sysret", "getsec",
                       "stgi", "clgi", "skinit", "invlpga"}


def legacy_prefixes(code):
    return code[:next((i for i, b in enumerate(code) if b not in LEGACY_PREFIXES), len(code))]


def opcode(code):
    return code[len(legacy_prefixes(code)):][:1]


def known_difference(bits, text, objdump, code):
    """Why the two may rightly disagree on the length of the instruction at `code`, or None."""
    prefixes, mnemonic, operands = split(objdump)
    rejected = text.startswith("DB ")
    if rejected and ("(bad)" in objdump or "{bad}" in objdump or "?" in operands):
        return "both reject the bytes"
    if rejected and objdump.endswith("only)"):
        return "an instruction of one old x87 coprocessor"
    if rejected and (opcode(code) in (b"\xc4", b"\xc5", b"\x62", b"\x8f") or mnemonic.startswith("v")):
        return "VEX, EVEX or XOP forms objdump takes and the CPU does not (or newer than Zydis 4.0)"
    if "(bad)" in objdump and text.split()[0] in ("NOP", "LFENCE", "MFENCE", "SFENCE"):
        return "a hint NOP, or a fence whose r/m field the CPU ignores"
    if rejected and "lock" in prefixes and not (mnemonic in LOCKABLE and operands and "[" in operands[0]):
        return "LOCK on an instruction that cannot take it (#UD)"
    if rejected and bits == 16 and (mnemonic in REAL_MODE_UNDEFINED or mnemonic.startswith("vm")
                                    or opcode(code) in (b"\xc4", b"\xc5", b"\x8f", b"\x62")):
        return "no such instruction in real mode (VMX, VEX, XOP and EVEX included)"
    if rejected and mnemonic == "mov" and operands and operands[0] == "cs":
        return "MOV to CS (#UD)"
    if rejected and any(re.fullmatch(r"tr[0-7]|cr(1|[5-7]|9|1[0-5])|dr([89]|1[0-5])", o) for o in operands):
        return "a test register (386 and 486 only) or a control or debug register that does not exist"
    if text == "FWAIT" and opcode(code) == b"\x9b":
        return "objdump joins WAIT to the x87 instruction after it"
    if mnemonic.startswith("rex") and not operands:
        return "objdump lists a REX prefix before another prefix (ignored) by itself"
    return None


def compare(library, strings, base, bits, report):
    data = b"".join(s + PAD for s in strings)
    mine, other = ours(library, data, base, MODES[bits][0]), theirs(data, base, bits)
    stats = report["modes"].setdefault(bits, {"strings": 0, "strings agreeing": 0, "instructions": 0,
                                              "same boundary": 0, "known": 0, "checked": 0, "agreeing": 0})
    start = base
    for s in strings:
        whole, cause = True, None
        for address in range(start, start + len(s)):
            if address not in mine:
                continue
            stats["instructions"] += 1
            length, text = mine[address]
            raw = data[address - base:address - base + length]
            objdump = other.get(address)
            if objdump and objdump[0] == length:
                stats["same boundary"] += 1
                cause = None
                a, b = facts(text, bits, raw, False), facts(objdump[1], bits, raw, True)
                if a or b:
                    stats["checked"] += 1
                    if a == b:
                        stats["agreeing"] += 1
                    else:
                        report["meaning"].append("%d-bit %08X %s: ours %r %s, objdump %r %s"
                                                 % (bits, address, raw.hex(), text, a, objdump[1], b))
                continue
            whole = False
            if objdump:  # out of step after this, until both find an instruction at one address again
                cause = known_difference(bits, text, objdump[1], data[address - base:address - base + 15])
            if cause:
                stats["known"] += 1
                report["known"][cause] = report["known"].get(cause, 0) + 1
            else:
                code = data[address - base:address - base + 15].hex()
                report["boundary"].append("%d-bit %08X %s: ours %r, objdump %r"
                                          % (bits, address, code, text, objdump and objdump[1]))
        stats["strings"] += 1
        stats["strings agreeing"] += whole
        start += len(s) + len(PAD)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("library")
    parser.add_argument("files", nargs="*")
    parser.add_argument("--strings", type=int, default=20000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--bits", default="16,32,64")
    parser.add_argument("--show", type=int, default=10)
    args = parser.parse_intermixed_args()
    if not shutil.which("objdump"):
        print("skipped: objdump is not installed (binutils)")
        return 77
    library = ctypes.CDLL(os.path.abspath(args.library))
    library.DisAssemble.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_char_p, ctypes.c_void_p,
                                    ctypes.c_int32]
    library.DisAssemble.restype = ctypes.c_int32

    report = {"modes": {}, "known": {}, "boundary": [], "meaning": []}
    strings = list(random_strings(args.strings, args.seed))
    for bits in (int(b) for b in args.bits.split(",")):
        base = 0x10000 if bits != 64 else 0x12340000
        for at in range(0, len(strings), 5000):  # objdump lists 5000 strings in about 20 MB
            compare(library, strings[at:at + 5000], base, bits, report)
    for name in args.files:
        with open(name, "rb") as f:
            compare(library, [f.read()], 0x7C00, 16, report)

    for bits, s in report["modes"].items():
        share = lambda n: 100 * n / max(s["instructions"], 1)
        print("%2d-bit: %d strings, %.2f %% with every boundary agreeing; %d instructions: %.2f %% the same, "
              "%.2f %% known differences, %.2f %% unexplained; %d compared for prefixes and targets: "
              "%.2f %% agree" % (bits, s["strings"], 100 * s["strings agreeing"] / max(s["strings"], 1),
                                 s["instructions"], share(s["same boundary"]), share(s["known"]),
                                 share(s["instructions"] - s["same boundary"] - s["known"]), s["checked"],
                                 100 * s["agreeing"] / max(s["checked"], 1)))
    for cause, n in sorted(report["known"].items(), key=lambda kv: -kv[1]):
        print("known: %6d %s" % (n, cause))
    for kind in ("boundary", "meaning"):
        for line in report[kind][:args.show]:
            print(kind, line)
    return 1 if report["boundary"] or report["meaning"] else 0


if __name__ == "__main__":
    sys.exit(main())
