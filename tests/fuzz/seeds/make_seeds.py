#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets other than the protocol's (whose seeds are the
test frames in seeds/protocol): one folder per target, beside this script."""
import hashlib
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    os.makedirs(os.path.join(here, target), exist_ok=True)
    with open(os.path.join(here, target, name), "wb") as f:
        f.write(data)


def le16(v):
    return struct.pack("<H", v)


def le32(v):
    return struct.pack("<I", v)


# --- files: steps of start (op 0/1), data (2/3), end (4/5), delete (6/7); odd ops on TCP ---
def start(link, tag, size, name=0):
    return bytes([link, tag]) + le16(size) + bytes([0, name])


def data(link, off, piece):
    assert len(piece) % 4 == 0
    return bytes([2 | link]) + le16(off) + bytes([len(piece) // 4]) + piece


def end_good(link):
    return bytes([4 | link, 1])


alias = b'{"source":[{"id":1,"valid":"on","name":"PC"}]}'
alias += b" " * (-len(alias) % 4)
put("files", "alias", start(0, 0, len(alias)) + data(0, 0, alias) + end_good(0))
put("files", "crossed", start(1, 0, 8) + start(0, 9, 8, 1) + data(1, 0, b"abcdefgh") +
    data(0, 0, b"12345678") + end_good(1) + end_good(0) + bytes([6, 1]))
put("files", "resent", start(0, 8, 8, 2) + data(0, 0, b"abcd") + data(0, 0, b"abcdefgh") +
    bytes([4, 0x10]) + bytes([7, 0x82]) + b"qz")

# --- json: first byte 0 alias, 1 OSD menu, 2 a mode's OSD menu, 3 tcpip.ini ---
put("json", "alias", b"\x00" + b'{"source":[{"id":1,"valid":"on","name":"Camera"}],'
    b'"usermode":[{"id":2,"valid":"off","name":"x"}],"win":[],"crop":[{"id":5,"name":"c"}]}')
menu = (b'{"osdcount":1,"oactcount":1,"menu":[{"type":0,"status":"on","x":0,"y":0,"w":320,'
        b'"h":64,"effect":0,"speed":1,"staytime":5,"h_align":"center","v_align":"top",'
        b'"enable":"on","color":"00ff00","layer":"top","startx":0,"starty":0,"fontw":32,'
        b'"fonth":32,"wordspace":0,"verticalspace":0,"font_color":" 0xFF00ff",'
        b'"texts":"Hello\\nWorld \\u4e2d","start":0,"end":10}]}')
put("json", "omenu", b"\x01" + menu)
put("json", "mode_omenu", b"\x02" + menu.replace(b'"buttom"', b'"top"'))
put("json", "tcpip", b"\x03[config]\nTcpPort=5005\nIPAddress=192.168.0.10\n"
    b"WifiIPAddress=10.0.0.1\nSourceCheck=63\nZemLCDLang=65567\nusbupgradedir=ZEM-T73\n")

# --- edid: first byte the input ---
def block(b):
    b = bytearray(b)
    b[127] = (-sum(b[:127])) & 0xFF
    return bytes(b)


base = bytearray(128)
base[0:8] = b"\x00\xff\xff\xff\xff\xff\xff\x00"
base[18:20] = b"\x01\x03"
put("edid", "one_block", b"\x00" + block(base))
base[126] = 1
ext = bytearray(128)
ext[0:4] = b"\x02\x03\x04\x00"
put("edid", "two_blocks", b"\x03" + block(base) + block(ext))


# --- usb_package: the 49-byte header, 21-byte entries, then the children ---
def package(children, controller=0x9752):
    head = bytearray(49 + 21 * len(children))
    head[18:20] = le16(controller)
    head[47] = len(children)
    body = b""
    for k, (kind, image) in enumerate(children):
        e = 49 + 21 * k
        head[e] = kind
        head[e + 1:e + 5] = le32(len(image))
        head[e + 5:e + 9] = le32(len(head) + len(body))
        head[e + 9:e + 15] = bytes([1] * 6)
        body += image
    return bytes(head) + body


def font(dots, narrow, glyphs):
    f = bytearray(35)
    f[0] = ord("P")
    f[5] = 1 if narrow else 0
    f[17] = f[18] = dots
    return bytes(f) + bytes(range(1, glyphs + 1)) * (dots * dots // 8)


firmware = bytearray(64)
firmware[16] = 1
firmware[31:35] = le32(64)
firmware = bytes(firmware) + bytes(range(64))
put("usb_package", "firmware", package([(2, firmware)]))
put("usb_package", "font", package([(4, font(32, True, 2))]))
put("usb_package", "mixed", package([(1, b"\x7fELF" + bytes(60)), (3, firmware), (9, b"x")]))

# --- osd_font: first byte the font's place, then its header and glyphs ---
put("osd_font", "narrow32", b"\x00" + font(32, True, 3))
put("osd_font", "wide64", b"\x03" + font(64, False, 1))


# --- card_files: first byte 0 the packed recovery file, 1 a scan file ---
def op_records(ops, data_at, data):
    b = le16(len(ops)) + b"\0\0"
    for payload in ops:
        b += le32(data_at + len(data)) + le32(len(payload)) + le32(0) + le32(0) + b"\x01\x01"
        data += payload
    return b, data


def op_block(ops):
    b, data = op_records(ops, 4 + 18 * len(ops), b"")
    return b + data


def net_list(nets):
    head, blocks = le16(len(nets)) + b"\0\0", b""
    first = 4 + 12 * len(nets)
    for port, cards in nets:
        records = sum(4 + 18 * len(c) for c in cards)
        block, data = b"", b""
        for c in cards:
            r, data = op_records(c, records, data)
            block += r
        block += data
        head += le16(port) + le16(len(cards)) + le32(first + len(blocks)) + le32(len(block))
        blocks += block
    return head + blocks


def packed(screens):
    xy, smart, records = bytes(16), b"", b""
    para_total = xy_total = 0
    for config_id, smart_ops, nets in screens:
        xy_at, smart_at = len(xy), len(smart)
        lst = net_list(nets)
        xy += lst
        blk = op_block(smart_ops) if smart_ops else b""
        smart += blk
        para_total += len(blk)
        xy_total += len(lst)
        records += (le32(config_id) + le32(1) + bytes(28) + le32(smart_at) + le32(len(blk)) +
                    le32(xy_at) + le32(len(lst)))
    screen = (b"\0\0\x01\0" + le32(para_total) + le32(0) + le32(xy_total) + le32(0) +
              bytes([len(screens)]) + bytes(11) + records)
    o10 = 4 + 3 * 12
    o11 = o10 + len(screen)
    o12 = o11 + len(xy)
    f = b"\0\0\0\x03"
    for kind, part, off in ((10, screen, o10), (11, xy, o11), (12, smart, o12)):
        f += bytes([kind, 0, 0, 0]) + le32(len(part)) + le32(off)
    return f + screen + xy + smart


net = (9, [[b"\x11"], [b"\x22\x22", b"\x33" * 3]])
put("card_files", "recovery", b"\x00" + packed([(0xA1, [], [net]), (0xB2, [b"\x44" * 7], [net])]))
put("card_files", "scan", b"\x01" + bytes(16) + op_block([b"\x55" * 4, b"\x66" * 9]))


# --- protocol: frames the test frames lack (the rest of seeds/protocol are the tests' own) ---
def wire(body):
    x = 0
    for b in body:
        x ^= b
    body = body + bytes([x])
    out = b"\xA5\xA5\xA5"
    for b in body:
        out += {0xA5: b"\xA6\x02", 0xA6: b"\xA6\x01", 0x5A: b"\x5B\x02", 0x5B: b"\x5B\x01"}.get(
            b, bytes([b]))
    return out + b"\x5A"


def box(cmd, data=b""):
    return wire(b"\x00\xF1\x10\xF0" + le16(len(data)) + b"\0\0\0" + bytes([cmd]) + data)


def card(dest, port, cmd, data):
    return wire(le16(dest) + b"\x10\xF0\x10\x67\x01" + bytes([port, 0, cmd]) + data)


put("protocol", "flash_read.bin", box(0x72, b"\x04" + le32(0x10000) + le16(64)))
put("protocol", "flash_write.bin", box(0x71, b"\x04" + le32(0xED9000) + le16(4) + b"\1\2\3\4"))
put("protocol", "operating_time.bin", box(0x96))
put("protocol", "table_write.bin", box(0x60, le32(0x80011000) + le16(4) + b"\0\0" + b"\7" * 4))
put("protocol", "mirror_read.bin", box(0x61, le32(0x800A0000) + le16(170)))
put("protocol", "card_read.bin", card(0x0001, 1, 0x61, le32(0x100) + le16(8) + b"\0\0"))
put("protocol", "card_all_ports.bin", card(0x0FFE, 0xFF, 0x61, le32(0) + le16(2) + b"\0\0"))
put("protocol", "card_fpga1.bin", card(0x0000, 13, 0x60, le32(0x20) + le16(2) + b"\0\0\x11\x22"))

# --- tcp: a setup byte (stall and silence times, flash gate shut when 0x10), then steps of an
# op byte (client << 3 | action) and an argument; noise takes its bytes after the argument ---
CONNECT, FRAME, NOISE, READ, HALF_CLOSE, CLOSE, PAUSE, GATE = range(8)


def step(client, action, arg=0):
    return bytes([client << 3 | action, arg])


INFO, READ16, READ4K, FLASH60K, ERASE, UNKNOWN, BOX_REPLY, BAD_CHECK = range(8)
put("tcp", "pipeline_then_read", b"\x00" + step(0, CONNECT) +
    b"".join(step(0, FRAME, f) for f in (INFO, READ16, READ4K, FLASH60K, ERASE, UNKNOWN)) +
    step(0, READ, 255) * 4 + step(0, PAUSE, 20) + step(0, READ, 255))
put("tcp", "half_close_gated", b"\x10" + step(0, CONNECT) +
    b"".join(step(0, FRAME, f) for f in (INFO, ERASE, ERASE, INFO)) + step(0, HALF_CLOSE) +
    step(1, CONNECT) + step(1, FRAME, INFO) + step(1, READ, 3) + step(0, GATE, 1))
put("tcp", "past_the_bound", b"\x05" +
    b"".join(step(c, CONNECT) + step(c, FRAME, INFO) for c in range(6)) + step(0, PAUSE, 31) +
    step(6, CONNECT) + step(6, FRAME, INFO) + step(7, CONNECT) + step(7, FRAME, READ16) +
    b"".join(step(c, READ, 8) for c in range(8)))
put("tcp", "close_and_reset", b"\x10" + step(0, CONNECT) + step(0, FRAME, FLASH60K) * 3 +
    step(0, CLOSE) + step(1, CONNECT) + step(1, FRAME, ERASE) + step(1, FRAME, ERASE) +
    step(1, CLOSE, 1) + step(2, CONNECT) + step(2, NOISE, 6) + b"\xa5\xa5\xa5\x00\xa6\x07" +
    step(2, FRAME, BAD_CHECK) + step(2, FRAME, BOX_REPLY) + step(2, FRAME, INFO) +
    step(2, READ, 1) + step(2, HALF_CLOSE))
put("tcp", "deaf", b"\x00" + step(0, CONNECT, 1) + step(0, FRAME, FLASH60K) * 12 +
    step(0, PAUSE, 31) * 3 + step(1, CONNECT) + step(1, FRAME, INFO) + step(1, HALF_CLOSE))
