#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets, tests/fuzz/corpus/TARGET/NAME, from
the byte vectors of the unit tests. The stream targets' inputs begin with their
delivery byte (0: all at once, n: pieces of n bytes); fuzz_login_answers' second byte
holds its settings (0 disabled, 1 enabled, 2 required with the plugins Srp256, Srp,
Legacy_Auth; the other bits as the target says)."""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

OP_ACCEPT, OP_REJECT, OP_EXIT, OP_RESPONSE, OP_EVENT = 3, 4, 2, 9, 52
OP_FETCH_RESPONSE, OP_DUMMY, OP_CONT_AUTH = 66, 71, 92
OP_ACCEPT_DATA, OP_COND_ACCEPT = 94, 98
ARG_END, ARG_GDS, ARG_STRING, ARG_NUMBER, ARG_INTERPRETED, ARG_SQL_STATE = 0, 1, 2, 4, 5, 19
IO_ERROR, LOGIN, IO_OPEN_ERR = 335544344, 335544472, 335544734
MISS_WIRECRYPT, LOGIN_ERROR = 335545065, 335545106


def words(*values):
    return b"".join(struct.pack(">I", v & 0xFFFFFFFF) for v in values)


def opaque(data):
    return words(len(data)) + data + b"\0" * (-len(data) % 4)


def status(code):
    return words(OP_RESPONSE, 0, 0, 0) + opaque(b"") + words(ARG_GDS, code, ARG_END)


def ok(data=b""):
    return words(OP_RESPONSE, 0, 0, 0) + opaque(data) + words(ARG_GDS, 0, ARG_END)


def acceptance(op, version, data, plugin, authenticated, keys=b""):
    return (words(op, 0xFFFF0000 | version, 1, 3) + opaque(data) + opaque(plugin) +
            words(authenticated) + opaque(keys))


def srp_message(salt, b):
    return struct.pack("<H", len(salt)) + salt + struct.pack("<H", len(b)) + b


def arc4(key, data):
    state, j = list(range(256)), 0
    for i in range(256):
        j = (j + state[i] + key[i % len(key)]) % 256
        state[i], state[j] = state[j], state[i]
    out, i, j = bytearray(), 0, 0
    for byte in data:
        i = (i + 1) % 256
        j = (j + state[i]) % 256
        state[i], state[j] = state[j], state[i]
        out.append(byte ^ state[(state[i] + state[j]) % 256])
    return bytes(out)


def cont_auth(data, plugin, keys=b""):
    return words(OP_CONT_AUTH) + opaque(data) + opaque(plugin) + opaque(b"") + opaque(keys)


def event_block(*events):
    return b"\x01" + b"".join(bytes([len(n)]) + n + struct.pack("<I", c) for n, c in events)


def event_packet(event_id, block):
    return words(OP_EVENT, 0) + opaque(block) + words(0, 0, event_id)


VERSION = b"LI-V3.0.10.33601 Firebird 3.0"
VERSION_REPLY = bytes([0x0C, len(VERSION) + 2, 0, 1, len(VERSION)]) + VERSION + b"\x01"
FAILED_OPEN = (words(ARG_GDS, IO_ERROR, ARG_STRING) + opaque(b"open") + words(ARG_STRING) +
               opaque(b"/nowhere/x.fdb") + words(ARG_GDS, IO_OPEN_ERR, ARG_INTERPRETED) +
               opaque(b"No such file or directory") + words(ARG_END))
KEYS_ARC4 = b"\x00\x09Symmetric\x01\x04Arc4"
KEYS_FB4 = (b"\x00\x09Symmetric\x01\x14ChaCha64 ChaCha Arc4" +
            b"\x03\x11ChaCha64\x00\x5D\x42\xA8\xB1\x69\x18\x9A\x46" +
            b"\x03\x17ChaCha\x000123456789AB\x00\x00\x00\x00")
SRP = srp_message(b"C0FFEE", b"1234ABCD5678")
SRP_KEY = hashlib.sha1(b"\2").digest()  # as fuzz_login_answers' Srp makes it
SRP256_KEYS = acceptance(OP_COND_ACCEPT, 0x800F, SRP, b"Srp256", 0) + ok(KEYS_ARC4)
ORDERS = event_block((b"ORDERS", 5))
V6_TAIL = bytes(4) + bytes(10) + b"\xff\xff\x7f\x00\x00\x01" + bytes(4)

SEEDS = {
    "fuzz_response": {
        "success": b"\0" + words(OP_RESPONSE, 7, 0, 0, 0, ARG_GDS, 0, ARG_END),
        "dummies_in_pieces": b"\x05" + words(OP_DUMMY, OP_DUMMY) + ok(VERSION_REPLY),
        "failed_open": b"\x03" + words(OP_RESPONSE, 0, 0, 0, 0) + FAILED_OPEN,
        "fetch": b"\0" + words(OP_FETCH_RESPONSE, 100, 3),
        "data_above_limit": b"\0" + words(OP_RESPONSE, 0, 0, 0, 65537),
    },
    "fuzz_status_vector": {
        "failed_open": b"\0" + FAILED_OPEN,
        "number_then_code": b"\x02" + words(ARG_NUMBER, 3, ARG_GDS, LOGIN, ARG_END),
        "negative_length": b"\0" + words(ARG_GDS, LOGIN, ARG_STRING, 0xFFFFFFFF, 1),
        "warning_then_error": b"\0" + words(18, IO_OPEN_ERR, ARG_GDS, IO_ERROR, ARG_END),
        "sql_state": b"\x03" + words(ARG_GDS, LOGIN, ARG_SQL_STATE) + opaque(b"28000")
        + words(ARG_END),
    },
    "fuzz_login_answers": {
        "protocol_10": b"\0\1" + words(OP_ACCEPT, 10, 1, 3) + ok(),
        "protocol_10_alone": b"\0\x41" + words(OP_ACCEPT, 10, 1, 3) + ok(),
        "reject": b"\0\1" + words(OP_REJECT),
        "unknown_user": b"\0\1" + status(LOGIN),
        "no_common_plugin": b"\0\2" + status(LOGIN_ERROR),
        "response_too_early": b"\0\1" + ok(),
        "legacy_in_attach": b"\x07\1" + acceptance(OP_ACCEPT_DATA, 0x800F, b"", b"Legacy_Auth", 0)
        + ok(),
        "srp_in_attach": b"\0\x81" + acceptance(OP_ACCEPT_DATA, 0x8011, SRP, b"Srp256", 0)
        + cont_auth(SRP, b"Srp") + ok(),
        "authenticated_at_once": b"\x04\1"
        + acceptance(OP_COND_ACCEPT, 0x800F, b"", b"Srp256", 1, KEYS_ARC4) + ok(),
        "srp_keys_disabled": b"\0\0" + SRP256_KEYS + ok(),
        "srp_keys_required": b"\0\2" + acceptance(OP_COND_ACCEPT, 0x800F, SRP, b"Srp", 0)
        + ok(KEYS_ARC4) + ok(),
        # The answers to op_crypt and the attach encrypted with Arc4, read in words (read
        # all at once, they come along with the clear bytes before and fail the login).
        "arc4_answer": b"\x04\2" + SRP256_KEYS + arc4(SRP_KEY, ok() + ok()),
        "arc4_refusal": b"\x04\1" + SRP256_KEYS + arc4(SRP_KEY, status(MISS_WIRECRYPT)),
        "clear_after_answer": b"\0\2" + SRP256_KEYS + arc4(SRP_KEY, ok()),
        "chacha_without_iv": b"\x04\1" + acceptance(OP_COND_ACCEPT, 0x800F, SRP, b"Srp256", 0)
        + ok(b"\x00\x09Symmetric\x01\x0BChaCha Arc4") + arc4(SRP_KEY, ok() + ok()),
        "keys_with_ivs": b"\x04\x12" + acceptance(OP_COND_ACCEPT, 0x800F, SRP, b"Srp256", 0)
        + cont_auth(SRP, b"Srp256", KEYS_FB4) + ok(),
        "plugin_switches": b"\x09\1" + acceptance(OP_COND_ACCEPT, 0x800F, b"", b"Srp", 0)
        + cont_auth(SRP, b"Srp") + cont_auth(b"", b"Legacy_Auth") + status(LOGIN),
    },
    "fuzz_aux_reply": {
        "ipv4": bytes([2, 0, 0x8B, 0xA5, 127, 0, 0, 1]) + bytes(8),
        "ipv6_posix": bytes([10, 0, 0x0B, 0xEA]) + V6_TAIL,
        "ipv6_windows": bytes([23, 0, 0x0B, 0xEA]) + V6_TAIL,
    },
    "fuzz_info_reply": {
        "version": VERSION_REPLY,
        "two_versions": bytes([0x0C, 10, 0, 2, 5]) + b"3.0.1\x02xy\x01",
        "another_item_first": bytes([0x04, 0x02, 0x00, 0xAA, 0xBB, 0x0C, 5, 0, 1, 3]) + b"3.0\x01",
    },
    "fuzz_event_block": {
        "one_name": b"\x01\x06ORDERS" + ORDERS,
        "two_names": b"\x02\x06ORDERS\x08PAYMENTS" + event_block((b"PAYMENTS", 2), (b"ORDERS", 7)),
        "version_only": b"\x01\x06ORDERS\x01",
    },
    "fuzz_key_announcements": {
        "firebird3": b"\0" + KEYS_ARC4,
        "firebird4_split": b"\x22" + KEYS_FB4,
        "another_key_type": b"\0\x00\x03Xyz\x01\x04Arc4",
    },
    "fuzz_srp_message": {
        "short": SRP,
        "full_size": srp_message(b"02E268803000000079A478A700000002D1A6979000000026E1601C000000054F",
                                 b"9" + b"A5" * 127 + b"7"),
    },
    "fuzz_event_report": {
        "event": b"\0" + event_packet(1, ORDERS),
        "between_reports": b"\x06" + words(OP_DUMMY) + ok(b"abcde") + event_packet(99, ORDERS)
        + words(1234) + event_packet(1, event_block((b"PAYMENTS", 3))) + words(OP_EXIT),
        "oversized_block": b"\0" + words(OP_EVENT, 0, 0x7FFFFFF0),
    },
}

for target, seeds in SEEDS.items():
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
