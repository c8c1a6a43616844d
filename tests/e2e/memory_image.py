"""Where a secret's bytes are in a running program's memory, found in a memory image.

Root only: the program makes itself undumpable, so only a tracer with CAP_SYS_PTRACE may
read it. `search(pid, secret)` takes an image with gcore into a root-only folder in memory
(/dev/shm), searches it for the secret in UTF-8 and in UTF-16 (Qt's strings), deletes it
at once, and returns only counts, addresses and the names of the mappings hit. Pages that
the program keeps out of images (MADV_DONTDUMP: its own secret buffers) are not in the
image; they are read straight from /proc/PID/mem, in memory only.

Nothing returned holds the secret or bytes around it: only the printable words found near
a hit, with any piece of the secret masked.
"""

import os
import re
import shutil
import struct
import subprocess
import tempfile

# Past this tail's start a freed malloc block still holds the secret: an allocator writes
# its list pointers over a freed block's first 16 bytes.
FREED_OVERWRITE = 16


class Mapping:
    def __init__(self, line):
        fields = line.split(None, 5)
        start, end = fields[0].split("-")
        self.start, self.end = int(start, 16), int(end, 16)
        self.perms = fields[1]
        self.name = fields[5].strip() if len(fields) > 5 else ""
        self.dontdump = False

    def label(self):
        if self.dontdump:
            return "secret pages (locked, kept out of images)"
        if self.name:
            return self.name
        return "anonymous"


def mappings(pid):
    """The process's mappings, each marked when the kernel keeps it out of core dumps."""
    found, current = [], None
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            if re.match(r"^[0-9a-f]+-[0-9a-f]+ ", line):
                current = Mapping(line)
                found.append(current)
            elif line.startswith("VmFlags:") and current is not None:
                current.dontdump = " dd" in line
    return found


def mapping_of(maps, address):
    for m in maps:
        if m.start <= address < m.end:
            return m
    return None


def load_segments(image):
    """(file offset, address, size) of each PT_LOAD segment of an ELF64 core image."""
    if image[:4] != b"\x7fELF" or image[4] != 2:
        raise ValueError("not an ELF64 core image")
    phoff = struct.unpack_from("<Q", image, 0x20)[0]
    phentsize, phnum = struct.unpack_from("<HH", image, 0x36)
    segments = []
    for i in range(phnum):
        p_type, _, offset, vaddr, _, filesz = struct.unpack_from("<IIQQQQ", image,
                                                                 phoff + i * phentsize)
        if p_type == 1 and filesz:
            segments.append((offset, vaddr, filesz))
    return segments


def _find_all(data, needle):
    hits, i = [], data.find(needle)
    while i != -1:
        hits.append(i)
        i = data.find(needle, i + 1)
    return hits


def _words_near(data, at, length, secret_forms):
    """Printable words (6+ characters) within 256 bytes of a hit, any piece of the secret
    masked: enough to tell a D-Bus message from a widget's text."""
    window = bytes(data[max(0, at - 256):at + length + 256])
    for form in secret_forms:
        window = window.replace(form, b"\0")
        # A piece of the secret that a freed block kept: mask every 8-byte run of it.
        for k in range(0, max(1, len(form) - 7)):
            window = window.replace(form[k:k + 8], b"\0" * 8)
    words = re.findall(rb"[\x20-\x7e]{6,}", window)
    return [w.decode("ascii")[:48] for w in words[:5]]


def _shape(data, at, length, form):
    """What the bytes before a hit say about its buffer."""
    if at < 16:
        return "?"
    before = struct.unpack_from("<Q", data, at - 8)[0]
    after = data[at + length] if at + length < len(data) else None
    chunk = before & ~0x7
    wanted = max(32, (length + 1 + 8 + 15) // 16 * 16)
    if at % 16 == 0 and chunk == wanted and after == 0:
        return "malloc block of its own (a std::string or C string)"
    units = length if form == "utf-8" else length // 2
    if units <= before <= units + 4096:
        return "after a Qt array header (QByteArray/QString data)"
    return "inside a larger buffer"


def _scan(data, base, maps, forms, secret_forms, where):
    hits = []
    for form, needle in forms:
        for at in _find_all(data, needle):
            address = base + at
            m = mapping_of(maps, address)
            hits.append({
                "form": form,
                "address": hex(address),
                "mapping": m.label() if m else "?",
                "shape": _shape(data, at, len(needle), form.split()[0]),
                "near": _words_near(data, at, len(needle), secret_forms),
                "source": where,
            })
    return hits


def _forms(secret):
    """The byte forms searched for: whole in UTF-8 and UTF-16, and the tail a freed malloc
    block keeps (counted only where no whole copy is)."""
    utf8, utf16 = secret.encode("utf-8"), secret.encode("utf-16-le")
    whole = [("utf-8", utf8), ("utf-16", utf16)]
    tails = []
    if len(utf8) > FREED_OVERWRITE + 8:
        tails.append(("utf-8 tail (freed block)", utf8[FREED_OVERWRITE:]))
    if len(utf16) > FREED_OVERWRITE + 16:
        tails.append(("utf-16 tail (freed block)", utf16[FREED_OVERWRITE:]))
    return whole, tails, [utf8, utf16]


def _drop_tails_of_whole(hits):
    """A tail hit inside a whole copy is that copy, not a freed block."""
    whole = {(int(h["address"], 16), h["form"]) for h in hits if "tail" not in h["form"]}
    kept = []
    for h in hits:
        if "tail" in h["form"]:
            start = int(h["address"], 16) - FREED_OVERWRITE
            form = h["form"].split()[0]
            if (start, form) in whole:
                continue
            h["shape"] = "freed or overwritten block" if h["shape"] != "?" else "?"
        kept.append(h)
    return kept


def search(pid, secret, folder=None):
    """Every copy of secret in the process's memory, as a list of dicts (form, address,
    mapping, shape, near, source). The image is gone when this returns."""
    if os.geteuid() != 0:
        raise PermissionError("memory images need root")
    maps = mappings(pid)
    whole, tails, secret_forms = _forms(secret)
    forms = whole + tails
    folder = tempfile.mkdtemp(prefix="quorlen-image-",
                              dir=folder or ("/dev/shm" if os.path.isdir("/dev/shm") else None))
    os.chmod(folder, 0o700)
    hits = []
    try:
        prefix = os.path.join(folder, "core")
        run = subprocess.run(["gcore", "-o", prefix, str(pid)], capture_output=True,
                             text=True, timeout=120)
        image_path = f"{prefix}.{pid}"
        if run.returncode != 0 or not os.path.exists(image_path):
            raise RuntimeError(f"gcore failed ({run.returncode}): {run.stderr[-400:]}")
        with open(image_path, "rb") as f:
            image = f.read()
        os.unlink(image_path)
        try:
            for offset, vaddr, size in load_segments(image):
                hits += _scan(memoryview(image)[offset:offset + size].tobytes(), vaddr, maps,
                              forms, secret_forms, "image")
        finally:
            del image
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    # The pages kept out of the image: read in place.
    with open(f"/proc/{pid}/mem", "rb", buffering=0) as mem:
        for m in maps:
            if not m.dontdump or "r" not in m.perms:
                continue
            try:
                mem.seek(m.start)
                data = mem.read(m.end - m.start)
            except OSError:
                continue
            hits += _scan(data, m.start, maps, forms, secret_forms, "secret pages")
    return _drop_tails_of_whole(hits)
