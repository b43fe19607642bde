#!/usr/bin/env python3
"""Makes the zip archives the reader tests use, with Python's zipfile, into
the folder given on the command line. Faulty archives are made by patching
the bytes of sound ones, the way damage and hostile tools produce them."""
import os
import random
import struct
import sys
import zipfile

DOS_DATE_TIME = (2001, 2, 3, 4, 5, 6)  # even seconds: the DOS time holds it
UT_MTIME, UT_ATIME, UT_CTIME = 1234567890, 1300000000, 1000000000
FILE = 0o100644 << 16
STORED, DEFLATED = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED


def info(name, attr=FILE, method=STORED, system=3, extra=b''):
    zi = zipfile.ZipInfo(name, date_time=DOS_DATE_TIME)
    zi.compress_type, zi.create_system, zi.external_attr, zi.extra = method, system, attr, extra
    return zi


def write(out, name, members, comment=b''):
    path = os.path.join(out, name)
    with zipfile.ZipFile(path, 'w') as zf:
        for zi, payload in members:
            zf.writestr(zi, payload)
        zf.comment = comment
    with open(path, 'rb') as f:
        return path, f.read()


def headers(data, name):
    """Offsets of the local header and central record of a member."""
    name = name.encode()
    loc = [i for i in range(len(data)) if data.startswith(b'PK\x03\x04', i)
           and data[i + 30:i + 30 + len(name)] == name]
    cen = [i for i in range(len(data)) if data.startswith(b'PK\x01\x02', i)
           and data[i + 46:i + 46 + len(name)] == name]
    assert len(loc) == 1 and len(cen) == 1, name
    return loc[0], cen[0]


def set_field(data, name, local_off, central_off, fmt, value, central=True):
    data = bytearray(data)
    loc, cen = headers(bytes(data), name)
    struct.pack_into(fmt, data, loc + local_off, value)
    if central:
        struct.pack_into(fmt, data, cen + central_off, value)
    return bytes(data)


def ut_block(flags, *times):
    body = struct.pack('<B', flags) + b''.join(struct.pack('<i', t) for t in times)
    return struct.pack('<HH', 0x5455, len(body)) + body


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    # Made on DOS: read-only by the DOS bit; on Unix the owner-write bit
    # decides and the DOS bit can add. Folders by "/", DOS bit or Unix bit.
    write(out, 'py_attrs.zip', [
        (info('dos_ro.txt', 0x21, system=0), b'x'), (info('dos_rw.txt', 0x20, system=0), b'x'),
        (info('unix_ro.txt', 0o100444 << 16), b'x'), (info('unix_ro_dos.txt', FILE | 1), b'x'),
        (info('unix_exec.sh', 0o100755 << 16), b'x'), (info('hidden_sys.txt', 6, system=0), b'x'),
        (info('slash_dir/', 0), b''), (info('dos_dir', 0x10, system=0), b''),
        (info('unix_dir/', 0o40755 << 16), b'')])
    # "UT" blocks; an unknown 300-byte block ahead of one (its size needs
    # both bytes); a block claiming more bytes than the field holds.
    write(out, 'py_times.zip', [
        (info('dos_only.txt'), b'dos time\n'),
        (info('ut_mtime.txt', extra=ut_block(1, UT_MTIME)), b'x'),
        (info('ut_all.txt', extra=ut_block(7, UT_MTIME, UT_ATIME, UT_CTIME)), b'x'),
        (info('ut_after_big.txt', extra=struct.pack('<HH', 0xCAFE, 300) + bytes(300) +
              ut_block(1, UT_MTIME)), b'x'),
        (info('ut_overrun.txt', extra=struct.pack('<HH', 0xCAFE, 60000) + ut_block(1, UT_MTIME)),
         b'x')])
    # Korean Windows tools store code page 949 without the UTF-8 flag; 0x82
    # is "e acute" in code page 437 and no valid code page 949 text.
    path, sound = write(out, 'py_names.zip', [
        (info('XXXX.txt'), b'cp949 name\n'), (info('유니코드.txt'), b'utf-8 name\n'),
        (info('cafY.txt'), b'cp437 name\n'), (info('win\\back.txt'), b'backslash name\n')])
    sound = sound.replace(b'XXXX.txt', '한글.txt'.encode('cp949'))
    sound = sound.replace(b'cafY.txt', b'caf\x82.txt')
    open(path, 'wb').write(sound)
    write(out, 'py_evil.zip', [(info(name), b'escaped\n') for name in (
        'ok.txt', '../evil.txt', '/abs.txt', 'a/../../b.txt', 'C:/drive.txt', '../evil_dir/')])

    payload = b'0123456789' * 1000
    path, data = write(out, 'py_damaged.zip', [
        (info('good.txt'), b'good\n'), (info('stored_bad.txt'), payload),
        (info('local_mismatch.txt'), b'local header differs\n'),
        (info('bomb.bin', method=DEFLATED), bytes(10_000_000)),
        (info('short.bin', method=DEFLATED), bytes(5000)),
        (info('cut.bin', method=DEFLATED), random.Random(3).randbytes(50_000)),
        (info('method12.bin'), b'claims bzip2\n'),
        (info('deflated_bad.txt', method=DEFLATED), payload),
        (info('garbage.bin', method=DEFLATED), payload)])
    # A flipped data byte (headers agree, the CRC fails); a wrong CRC in both
    # headers; only the local header's CRC differs; declared sizes below and above what the data
    # inflates to; the compressed size cut short; an unsupported method;
    # deflate data overwritten with no deflate stream.
    loc, _ = headers(data, 'stored_bad.txt')
    start = loc + 30 + len('stored_bad.txt') + 100
    data = data[:start] + b'X' + data[start + 1:]
    data = set_field(data, 'deflated_bad.txt', 14, 16, '<I', 0x12345678)
    data = set_field(data, 'local_mismatch.txt', 14, 16, '<I', 0xDEADBEEF, central=False)
    data = set_field(data, 'bomb.bin', 22, 24, '<I', 1000)
    data = set_field(data, 'short.bin', 22, 24, '<I', 6000)
    comp = struct.unpack_from('<I', data, headers(data, 'cut.bin')[1] + 20)[0]
    data = set_field(data, 'cut.bin', 18, 20, '<I', comp // 2)
    data = set_field(data, 'method12.bin', 8, 10, '<H', 12)
    start = headers(data, 'garbage.bin')[0] + 30 + len('garbage.bin')
    data = data[:start] + b'\xff' * 16 + data[start + 16:]
    open(path, 'wb').write(data)

    # Cut short; an end record pointing past the file; a comment holding a
    # false end signature after the real one.
    end = sound.rindex(b'PK\x05\x06')
    bad_offset = bytearray(sound)
    struct.pack_into('<I', bad_offset, end + 16, len(sound) + 100)
    for name, content in (('truncated.zip', sound[:len(sound) // 2]), ('empty.zip', b''),
                          ('bad_offset.zip', bytes(bad_offset))):
        open(os.path.join(out, name), 'wb').write(content)
    write(out, 'comment.zip', [(info('c.txt'), b'comment archive\n')],
          comment=b'PK\x05\x06 not an end record')

    # Lowered limits make zipfile write every zip64 structure on a small archive.
    saved = zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT
    zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = 64, 4
    try:
        _, data = write(out, 'py_zip64.zip', [
            (info('z64/m%02d.txt' % i, method=DEFLATED if i % 2 else STORED),
             b'%d' % i * (1000 + i * 37)) for i in range(10)])
    finally:
        zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = saved
    assert b'PK\x06\x06' in data and b'PK\x06\x07' in data


if __name__ == '__main__':
    main()
