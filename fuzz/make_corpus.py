#!/usr/bin/env python3
"""Builds the fuzz targets' seed corpora from the sample files in tests/data.

Each target's input starts with a few bytes that steer it (see the comment at the top of each
fuzz/<target>.cpp); the rest are records or data areas cut from the samples, some of them altered
to reach rarer paths (little-endian, blockette 1001, unknown encoding, gaps, odd rates).
Run from anywhere: python3 fuzz/make_corpus.py
"""
import os
import shutil
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests", "data")
OUT = os.path.join(ROOT, "fuzz", "corpus")


def sample(name):
    with open(os.path.join(DATA, name), "rb") as f:
        return f.read()


def records(data, length, count=None):
    recs = [data[i:i + length] for i in range(0, len(data) - length + 1, length)]
    return recs if count is None else recs[:count]


STEIM1 = records(sample("reference-testdata-steim1.mseed2"), 512)
STEIM2_LE = records(sample("reference-testdata-steim2-LE.mseed2"), 512)
INT32 = records(sample("reference-testdata-int32.mseed2"), 512)
BW = records(sample("BW.BGLD.__.EHE.D.2008.001.first_10_records"), 512)
BALST = records(sample("CH.BALST..LHE.D.2025.314"), 512, 8)
CER = records(sample("2005-07-23-1452-04S.CER___030.mseed"), 4096, 2)
THREE = records(sample("testdata-3channel-signal.mseed2"), 512, 8)


def mseed3_records(data):
    """The miniSEED 3 records of a file, each as long as its header says."""
    out = []
    at = 0
    while at + 40 <= len(data):
        ident, extra, payload = data[at + 33], struct.unpack("<H", data[at + 34:at + 36])[0], \
            struct.unpack("<I", data[at + 36:at + 40])[0]
        length = 40 + ident + extra + payload
        out.append(data[at:at + length])
        at += length
    return out


def crc32c(data):
    r = 0xFFFFFFFF
    for byte in data:
        r ^= byte
        for _ in range(8):
            r = (r >> 1) ^ (0x82F63B78 if r & 1 else 0)
    return r ^ 0xFFFFFFFF


def with_crc(rec):
    zeroed = rec[:28] + b"\0\0\0\0" + rec[32:]
    return rec[:28] + struct.pack("<I", crc32c(zeroed)) + rec[32:]


V3_THREE = mseed3_records(sample("testdata-3channel-signal.mseed3"))
V3 = {name: mseed3_records(sample("reference-testdata-%s.mseed3" % name))
      for name in ("steim1", "steim2", "int16", "int32", "float32", "float64")}


def patch(rec, offset, raw):
    return rec[:offset] + raw + rec[offset + len(raw):]


def as_data(rec):
    return patch(rec, 6, b"D")


def int32_to_little(rec):
    """A big-endian INT32 record with blockette 1000 at 48, turned little-endian."""
    out = bytearray(rec)
    for off in (30, 32, 34, 44, 46, 20, 22, 28, 48, 50):
        out[off:off + 2] = out[off:off + 2][::-1]
    out[40:44] = out[40:44][::-1]
    out[53] = 0
    bod = struct.unpack(">H", rec[44:46])[0]
    n = struct.unpack(">H", rec[30:32])[0]
    for i in range(n):
        p = bod + 4 * i
        if p + 4 <= len(out):
            out[p:p + 4] = out[p:p + 4][::-1]
    return bytes(out)


def rates(rec, factor, multiplier):
    return patch(rec, 32, struct.pack(">hh", factor, multiplier))


def write(target, name, content):
    folder = os.path.join(OUT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(content)


def record_corpus():
    # selector (0..4: 128, 256, 512, 1024, 4096; else raw), flags, raw length (16 bits)
    def head(selector, flags=0, raw=0):
        return bytes([selector, flags]) + struct.pack(">H", raw)

    t = "record_fuzz"
    write(t, "steim1_be", head(2) + b"".join(STEIM1))
    write(t, "steim2_le", head(2) + b"".join(STEIM2_LE))
    write(t, "int32_be", head(2) + b"".join(INT32))
    write(t, "int32_le", head(2) + b"".join(int32_to_little(r) for r in INT32))
    write(t, "steim1_real", head(2) + b"".join(BW[:4]))
    write(t, "steim2_real", head(2) + b"".join(BALST[:4]))
    write(t, "three_channels", head(2) + b"".join(as_data(r) for r in THREE[:6]))
    write(t, "steim2_4096", head(4) + b"".join(CER))
    write(t, "listing", head(2, 1) + b"".join(BW[:4]))
    write(t, "listing_three", head(2, 1) + b"".join(as_data(r) for r in THREE[:6]))
    # window and filter: begin and end as 32-bit epoch seconds, then three patterns
    window = struct.pack(">II", 1199145600 + 1, 1199145600 + 60)
    patterns = b"".join(bytes([len(p)]) + p for p in (b"BGLD", b"EH?", b"??"))
    write(t, "window_filter", head(2, 0x0E) + window + patterns + b"".join(BW[:4]))
    star = b"".join(bytes([len(p)]) + p for p in (b"T*", b"B*", b"*"))
    write(t, "filter_star", head(2, 0x08) + star + b"".join(STEIM1[:2]))
    write(t, "blockette1001", head(2) + patch(STEIM1[0], 48, struct.pack(">H", 1001)))
    write(t, "unknown_encoding", head(2) + patch(BALST[0], 52, b"\x00") + patch(BW[0], 52, b"\x00"))
    write(t, "gap_rejoin", head(2) + BW[0] + BW[2] + BW[1] + BW[3])
    write(t, "odd_rates", head(2) + rates(BW[0], -10, 1) + rates(BW[1], 1, -10) +
          rates(BW[2], -10, -10) + rates(BW[3], 0, 5) + rates(BW[4], 40, 1))
    write(t, "short_128", head(0) + BW[0])
    write(t, "short_256", head(1) + BW[0] + BW[1][:256])
    write(t, "long_1024", head(3) + b"".join(BW[:4]))
    write(t, "raw_60", head(5, 0, 60) + BW[0][:240])
    write(t, "raw_48", head(6, 1, 48) + BW[0][:192])


def mseed3_corpus():
    # flags (bit 0 listing, 1 window begin, 2 window end, 3 filter, 4 matching CRC, 5 signature),
    # then records
    t = "mseed3_record_fuzz"
    for name, recs in V3.items():
        write(t, name, b"\x00" + b"".join(recs))
    write(t, "three_channels", b"\x00" + b"".join(V3_THREE[:8]))
    write(t, "listing", b"\x01" + b"".join(V3_THREE[:8]))
    window = struct.pack(">II", 1267253400 + 100, 1267253400 + 400)
    patterns = b"".join(bytes([len(p)]) + p for p in (b"COLA", b"LH?", b"00"))
    write(t, "window_filter", b"\x0E" + window + patterns + b"".join(V3_THREE[:8]))
    # Fields changed with the CRC made to match again: an unknown encoding, a period, a
    # station code too long for the store, a bad CRC.
    rec = V3["steim2"][0]
    write(t, "steim3", b"\x10" + rec[:15] + b"\x13" + rec[16:])
    write(t, "period", b"\x10" + rec[:16] + struct.pack("<d", -10.0) + rec[24:])
    long_id = b"FDSN:XX_TOOLONG__B_H_Z"
    ident = rec[33]
    write(t, "long_station", b"\x10" + rec[:33] + bytes([len(long_id)]) + rec[34:40] + long_id +
          rec[40 + ident:])
    write(t, "bad_crc", b"\x00" + rec[:60] + bytes([rec[60] ^ 1]) + rec[61:])


def steim_corpus():
    # flags (bit 0 Steim2, bit 1 big-endian), announced count, frame count, record length,
    # beginning of data, then the data area
    def case(rec, steim2, big, count_delta=0, frames=None, zero=False):
        bod = struct.unpack(">H" if big else "<H", rec[44:46])[0]
        n = struct.unpack(">H" if big else "<H", rec[30:32])[0]
        n = 0 if zero else max(0, n + count_delta)
        length = len(rec)
        if frames is None:
            frames = (length - bod) // 64 if steim2 else (length - 64) // 64
        head = bytes([(1 if steim2 else 0) | (2 if big else 0)]) + struct.pack(">H", n)
        head += struct.pack(">b", max(-128, min(127, frames))) + struct.pack(">hH", length, bod)
        return head + rec[bod:]

    t = "steim_fuzz"
    write(t, "steim1_be", case(STEIM1[0], False, True))
    write(t, "steim1_real", case(BW[0], False, True))
    write(t, "steim2_le", case(STEIM2_LE[0], True, False))
    write(t, "steim2_be", case(BALST[0], True, True))
    write(t, "steim2_4096", case(CER[0], True, True))
    write(t, "steim2_three", case(THREE[0], True, True))
    write(t, "steim1_surplus", case(BW[1], False, True, -2))
    write(t, "steim2_missing", case(BALST[1], True, True, +2))
    write(t, "steim2_none_announced", case(BALST[2], True, True, zero=True))
    write(t, "steim1_negative_frames", case(BW[2], False, True, frames=-3))


def record_length_corpus():
    # the piece that fails (0: none), then the file
    t = "record_length_fuzz"
    write(t, "blockette1000_512", b"\x00" + b"".join(BW[:2]))
    write(t, "blockette1000_le", b"\x00" + STEIM2_LE[0])
    write(t, "blockette1000_4096", b"\x00" + CER[0][:1024])
    write(t, "read_failure", b"\x02" + b"".join(BW[:2]))
    write(t, "short_file", b"\x00" + BW[0][:100])
    write(t, "volume_header", b"\x00" + patch(BW[0], 6, b"V"))
    header = bytearray(256)
    header[0:8] = b"000001V "
    write(t, "zero_first_blockette", b"\x00" + bytes(header) + BW[0])
    chained = patch(patch(STEIM1[0], 48, struct.pack(">HH", 1001, 56)),
                    56, struct.pack(">HHBBBB", 1000, 0, 10, 1, 9, 0))
    write(t, "blockette1001_then_1000", b"\x00" + chained)
    write(t, "mseed3_short", b"\x00" + V3["int16"][0][:200])


def css_corpus():
    t = "css_conversion_fuzz"
    write(t, "steim1_be", b"".join(STEIM1))
    write(t, "steim2_le", b"".join(STEIM2_LE))
    write(t, "int32_be", b"".join(INT32))
    write(t, "steim1_real", b"".join(BW))
    write(t, "steim2_4096", b"".join(CER))
    write(t, "three_channels", b"".join(as_data(r) for r in THREE))
    write(t, "steim2_real_gap", BALST[0] + BALST[1] + BALST[3] + BALST[2])
    write(t, "empty", b"")
    write(t, "mseed3_three", b"".join(V3_THREE[:10]))
    write(t, "mixed_versions", b"".join(STEIM1) + b"".join(V3["int16"]) + b"".join(BW[:2]) +
          b"".join(V3["float64"]))


if __name__ == "__main__":
    shutil.rmtree(OUT, ignore_errors=True)
    record_corpus()
    steim_corpus()
    record_length_corpus()
    mseed3_corpus()
    css_corpus()
