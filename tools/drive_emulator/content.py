"""File contents served by the emulator.

Generated contents are deterministic and cheap: every file owns a seeded 1 MiB
block, and block i of the file is that block rotated by a per-block offset, so
no two 1 MiB blocks of a file are equal (a piece written at the wrong 1 MiB
offset is caught) while serving needs no copying: each chunk is a memoryview
slice of the doubled block.
"""

import collections
import hashlib
import os
import random
import tempfile
import threading

BLOCK = 1 << 20
# Odd, so the rotations of 2**20 consecutive blocks are all different.
_ROTATION_STEP = 0x9E3B

_cache_lock = threading.Lock()
_cache = collections.OrderedDict()
_CACHE_FILES = 48


class _Block:
    """A file's doubled block, in memory and, on first use, in an anonymous
    in-memory file that sendfile can serve without copying through Python.
    Evicting it from the cache never closes a file in use: the holder's
    reference keeps it open."""

    def __init__(self, key):
        seed = int.from_bytes(hashlib.sha256(b"block:" + key).digest(), "big")
        one = random.Random(seed).randbytes(BLOCK)
        self.view = memoryview(one + one)
        self._file = None
        self._lock = threading.Lock()

    def file(self):
        with self._lock:
            if self._file is None:
                if hasattr(os, "memfd_create"):
                    f = os.fdopen(os.memfd_create("drive-block", os.MFD_CLOEXEC), "w+b")
                else:
                    f = tempfile.TemporaryFile()
                f.write(self.view)
                f.flush()
                self._file = f
            return self._file


def _block(key):
    with _cache_lock:
        block = _cache.get(key)
        if block is not None:
            _cache.move_to_end(key)
            return block
    block = _Block(key)
    with _cache_lock:
        block = _cache.setdefault(key, block)
        while len(_cache) > _CACHE_FILES:
            _cache.popitem(last=False)
    return block


class GeneratedContent:
    """size bytes derived from key (bytes); the same key always gives the same bytes."""

    def __init__(self, key, size):
        self.key = key
        self.size = size
        self._first_rotation = int.from_bytes(hashlib.sha256(b"rot:" + key).digest()[:4], "big") % BLOCK

    def _spans(self, start, end):
        """(offset in the doubled block, length) pieces covering [start, end)."""
        end = min(end, self.size)
        pos = start
        while pos < end:
            index = pos >> 20
            inner = pos & (BLOCK - 1)
            rotation = (self._first_rotation + index * _ROTATION_STEP) % BLOCK
            take = min(BLOCK - inner, end - pos)
            yield rotation + inner, take
            pos += take

    def chunks(self, start, end):
        """Yields memoryviews covering [start, end), none longer than one block."""
        if start >= min(end, self.size):
            return
        view = _block(self.key).view
        for offset, take in self._spans(start, end):
            yield view[offset:offset + take]

    def file_spans(self, start, end):
        """(file, offset, length) pieces covering [start, end), for sendfile."""
        if start >= min(end, self.size):
            return
        block = _block(self.key)
        f = block.file()
        for offset, take in self._spans(start, end):
            yield f, offset, take

    def read(self, start, length):
        return b"".join(bytes(c) for c in self.chunks(start, start + length))

    def sha256(self):
        digest = hashlib.sha256()
        for chunk in self.chunks(0, self.size):
            digest.update(chunk)
        return digest.hexdigest()


class BytesContent:
    """Contents held in memory, e.g. an installer read from disk."""

    def __init__(self, data):
        self.data = memoryview(bytes(data))
        self.size = len(data)

    def chunks(self, start, end):
        end = min(end, self.size)
        pos = start
        while pos < end:
            take = min(BLOCK, end - pos)
            yield self.data[pos:pos + take]
            pos += take

    def read(self, start, length):
        return bytes(self.data[start:start + length])

    def sha256(self):
        return hashlib.sha256(self.data).hexdigest()


class Corrupted:
    """Another content's bytes with the middle one changed: a stream of the right length that
    is not the file."""

    def __init__(self, data):
        self.data = data
        self.size = data.size
        self.at = data.size // 2

    def chunks(self, start, end):
        pos = start
        for chunk in self.data.chunks(start, end):
            if pos <= self.at < pos + len(chunk):
                changed = bytearray(chunk)
                changed[self.at - pos] ^= 0xFF
                chunk = bytes(changed)
            pos += len(chunk)
            yield chunk
