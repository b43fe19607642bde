#!/usr/bin/env python3
"""Makes the zip archives the reader tests use, with Python's zipfile, into
the folder given on the command line. Faulty archives are made by patching
the bytes of sound ones, the way damage and hostile tools produce them."""
import os
import random
import struct
import sys
import zipfile

LOCAL_SIG = b'PK\x03\x04'
CENTRAL_SIG = b'PK\x01\x02'

# 2001-02-03 04:05:06, even seconds so that the DOS time holds it exactly.
DOS_DATE_TIME = (2001, 2, 3, 4, 5, 6)
UT_MTIME = 1234567890
UT_ATIME = 1300000000
UT_CTIME = 1000000000


def info(name, attr=None, date_time=DOS_DATE_TIME, method=zipfile.ZIP_STORED, system=3):
    zi = zipfile.ZipInfo(name, date_time=date_time)
    zi.compress_type = method
    zi.create_system = system
    if attr is not None:
        zi.external_attr = attr
    return zi


def text_data(size, stream):
    rnd = random.Random(stream)
    words = [b'alpha', b'beta', b'gamma', b'delta', b'update', b'folder', b'zip']
    out = bytearray()
    while len(out) < size:
        out += b' '.join(rnd.choice(words) for _ in range(12)) + b'\n'
    return bytes(out[:size])


def random_data(size, stream):
    return random.Random(stream).randbytes(size)


def patch_all(data, old, new):
    """Replaces every occurrence (local header and central record)."""
    assert len(old) == len(new) and data.count(old) >= 2, old
    return data.replace(old, new)


def headers(data, name):
    """Offsets of the local header and central record of a member."""
    name = name.encode()
    locals_ = [i for i in range(len(data)) if data.startswith(LOCAL_SIG, i)
               and data[i + 30:i + 30 + len(name)] == name]
    centrals = [i for i in range(len(data)) if data.startswith(CENTRAL_SIG, i)
                and data[i + 46:i + 46 + len(name)] == name]
    assert len(locals_) == 1 and len(centrals) == 1, name
    return locals_[0], centrals[0]


def set_field(data, name, local_off, central_off, fmt, value, local=True, central=True):
    data = bytearray(data)
    loc, cen = headers(bytes(data), name)
    if local:
        struct.pack_into(fmt, data, loc + local_off, value)
    if central:
        struct.pack_into(fmt, data, cen + central_off, value)
    return bytes(data)


def write(path, members, **kwargs):
    with zipfile.ZipFile(path, 'w', **kwargs) as zf:
        for zi, payload in members:
            zf.writestr(zi, payload)


def make_basic(out):
    # Stored and deflated, with members larger than one copy buffer.
    for method, name in ((zipfile.ZIP_STORED, 'py_stored.zip'),
                         (zipfile.ZIP_DEFLATED, 'py_deflated.zip')):
        write(os.path.join(out, name), [
            (info('hello.txt', 0o100644 << 16, method=method), b'hello, world\n'),
            (info('sub/', (0o40755 << 16) | 0x10), b''),
            (info('sub/text.txt', 0o100644 << 16, method=method), text_data(2_000_000, 1)),
            (info('sub/random.bin', 0o100644 << 16, method=method), random_data(700_000, 2)),
            (info('empty.txt', 0o100644 << 16, method=method), b''),
        ])


def make_attributes(out):
    write(os.path.join(out, 'py_attrs.zip'), [
        # Made on DOS: read-only by the DOS bit alone.
        (info('dos_ro.txt', 0x01 | 0x20, system=0), b'dos read-only\n'),
        (info('dos_rw.txt', 0x20, system=0), b'dos writable\n'),
        # Made on Unix: the owner-write bit decides, the DOS bit can add.
        (info('unix_ro.txt', 0o100444 << 16), b'unix read-only\n'),
        (info('unix_ro_dos.txt', (0o100644 << 16) | 0x01), b'dos bit on unix\n'),
        (info('unix_exec.sh', 0o100755 << 16), b'#!/bin/sh\necho hi\n'),
        (info('hidden_sys.txt', 0x02 | 0x04, system=0), b'hidden\n'),
        # Folders: a trailing "/", the DOS bit alone, the Unix bit alone.
        (info('slash_dir/', 0), b''),
        (info('dos_dir', 0x10, system=0), b''),
        (info('unix_dir/', 0o40755 << 16), b''),
    ])


def ut_block(flags, *times):
    body = struct.pack('<B', flags) + b''.join(struct.pack('<i', t) for t in times)
    return struct.pack('<HH', 0x5455, len(body)) + body


def make_times(out):
    only_mtime = info('ut_mtime.txt', 0o100644 << 16)
    only_mtime.extra = ut_block(1, UT_MTIME)
    all_times = info('ut_all.txt', 0o100644 << 16)
    all_times.extra = ut_block(7, UT_MTIME, UT_ATIME, UT_CTIME)
    # An unknown block of 300 bytes ahead of "UT": its size needs both bytes.
    after_big = info('ut_after_big.txt', 0o100644 << 16)
    after_big.extra = struct.pack('<HH', 0xCAFE, 300) + bytes(range(256)) + bytes(44) + \
        ut_block(1, UT_MTIME)
    # A block claiming more bytes than the field holds ends the walk.
    overrun = info('ut_overrun.txt', 0o100644 << 16)
    overrun.extra = struct.pack('<HH', 0xCAFE, 60000) + ut_block(1, UT_MTIME)
    write(os.path.join(out, 'py_times.zip'), [
        (info('dos_only.txt', 0o100644 << 16), b'dos time\n'),
        (only_mtime, b'ut mtime\n'),
        (all_times, b'ut all\n'),
        (after_big, b'ut after a big block\n'),
        (overrun, b'overrun\n'),
    ])


def make_names(out):
    path = os.path.join(out, 'py_names.zip')
    write(path, [
        (info('XXXX.txt', 0o100644 << 16), b'cp949 name\n'),
        (info('유니코드.txt', 0o100644 << 16), b'utf-8 name\n'),
        (info('cafY.txt', 0o100644 << 16), b'cp437 name\n'),
        (info('win\\back.txt', 0o100644 << 16), b'backslash name\n'),
    ])
    with open(path, 'rb') as f:
        data = f.read()
    # Korean Windows tools store code page 949 without the UTF-8 flag.
    data = patch_all(data, b'XXXX.txt', '한글.txt'.encode('cp949'))
    # 0x82 is "e acute" in code page 437 and no valid code page 949 text.
    data = patch_all(data, b'cafY.txt', b'caf\x82.txt')
    with open(path, 'wb') as f:
        f.write(data)


def make_hostile_names(out):
    write(os.path.join(out, 'py_evil.zip'), [
        (info('ok.txt', 0o100644 << 16), b'fine\n'),
        (info('../evil.txt', 0o100644 << 16), b'escaped\n'),
        (info('/abs.txt', 0o100644 << 16), b'absolute\n'),
        (info('a/../../b.txt', 0o100644 << 16), b'climbed\n'),
        (info('..\\win_evil.txt', 0o100644 << 16), b'backslash climb\n'),
        (info('C:/drive.txt', 0o100644 << 16), b'drive\n'),
        (info('../evil_dir/', (0o40755 << 16) | 0x10), b''),
    ])
    with zipfile.ZipFile(os.path.join(out, 'py_evil.zip')) as zf:
        assert '../evil.txt' in zf.namelist() and '/abs.txt' in zf.namelist()


def make_damaged(out):
    payload = b'0123456789' * 1000
    members = [
        (info('good.txt', 0o100644 << 16), b'good\n'),
        (info('stored_bad.txt', 0o100644 << 16), payload),
        (info('deflated_bad.txt', 0o100644 << 16, method=zipfile.ZIP_DEFLATED), payload),
        (info('local_mismatch.txt', 0o100644 << 16), b'local header differs\n'),
        (info('bomb.bin', 0o100644 << 16, method=zipfile.ZIP_DEFLATED), bytes(10_000_000)),
        (info('short.bin', 0o100644 << 16, method=zipfile.ZIP_DEFLATED), bytes(5000)),
        (info('cut.bin', 0o100644 << 16, method=zipfile.ZIP_DEFLATED), random_data(50_000, 3)),
        (info('method12.bin', 0o100644 << 16), b'claims bzip2\n'),
        (info('garbage.bin', 0o100644 << 16, method=zipfile.ZIP_DEFLATED), payload),
    ]
    path = os.path.join(out, 'py_damaged.zip')
    write(path, members)
    with open(path, 'rb') as f:
        data = f.read()
    # A flipped data byte in a stored member: headers agree, the CRC fails.
    loc, _ = headers(data, 'stored_bad.txt')
    start = loc + 30 + len('stored_bad.txt')
    data = data[:start + 100] + b'X' + data[start + 101:]
    # A deflated member whose recorded CRC is wrong in both headers.
    data = set_field(data, 'deflated_bad.txt', 14, 16, '<I', 0x12345678)
    # Only the local header's CRC differs from the directory.
    data = set_field(data, 'local_mismatch.txt', 14, 16, '<I', 0xDEADBEEF, central=False)
    # Declared sizes smaller and larger than what the data inflates to.
    data = set_field(data, 'bomb.bin', 22, 24, '<I', 1000)
    data = set_field(data, 'short.bin', 22, 24, '<I', 6000)
    # Compressed size cut short: the deflate stream ends early.
    loc, cen = headers(data, 'cut.bin')
    comp = struct.unpack_from('<I', data, cen + 20)[0]
    data = set_field(data, 'cut.bin', 18, 20, '<I', comp // 2)
    # An unsupported method number.
    data = set_field(data, 'method12.bin', 8, 10, '<H', 12)
    # Deflate data overwritten with bytes that are no deflate stream.
    loc, _ = headers(data, 'garbage.bin')
    start = loc + 30 + len('garbage.bin')
    data = data[:start] + b'\xff' * 16 + data[start + 16:]
    with open(path, 'wb') as f:
        f.write(data)

    # Whole-archive damage.
    with open(os.path.join(out, 'py_stored.zip'), 'rb') as f:
        sound = f.read()
    with open(os.path.join(out, 'truncated.zip'), 'wb') as f:
        f.write(sound[:len(sound) // 2])
    with open(os.path.join(out, 'no_end_record.zip'), 'wb') as f:
        f.write(sound[:-10])
    with open(os.path.join(out, 'not_a_zip.zip'), 'wb') as f:
        f.write(b'this is plain text, not an archive\n' * 10)
    open(os.path.join(out, 'empty.zip'), 'wb').close()
    # An end record whose directory offset points past the file.
    end = sound.rindex(b'PK\x05\x06')
    bad = bytearray(sound)
    struct.pack_into('<I', bad, end + 16, len(sound) + 100)
    with open(os.path.join(out, 'bad_offset.zip'), 'wb') as f:
        f.write(bytes(bad))
    # A comment holding a false end signature after the real one.
    with zipfile.ZipFile(os.path.join(out, 'comment.zip'), 'w') as zf:
        zf.writestr(info('c.txt', 0o100644 << 16), b'comment archive\n')
        zf.comment = b'PK\x05\x06 not an end record'


def make_zip64(out):
    # Lowering the limits makes zipfile write every zip64 structure (end
    # record, locator, central and local zip64 blocks) on a small archive.
    saved = zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT
    zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = 64, 4
    try:
        members = [(info('z64/m%02d.txt' % i, 0o100644 << 16,
                         method=zipfile.ZIP_DEFLATED if i % 2 else zipfile.ZIP_STORED),
                    text_data(1000 + i * 37, i)) for i in range(10)]
        write(os.path.join(out, 'py_zip64.zip'), members)
    finally:
        zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = saved
    with open(os.path.join(out, 'py_zip64.zip'), 'rb') as f:
        data = f.read()
    assert b'PK\x06\x06' in data and b'PK\x06\x07' in data


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    make_basic(out)
    make_attributes(out)
    make_times(out)
    make_names(out)
    make_hostile_names(out)
    make_damaged(out)
    make_zip64(out)


if __name__ == '__main__':
    main()
