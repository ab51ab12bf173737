#!/usr/bin/env python3
# Writes the seeds of fuzz_svc_stream into corpus/svc_stream/ next to this file. An input is a
# mode byte (0 region, 1 authentication, 2 send, 3 send with the fuzzer's own ticket put in after
# the stream's first 8 bytes), a count of chunk-size bytes, the chunk sizes (low seven bits + 1;
# the top bit pauses before the next chunk) and the stream written to the port.
import pathlib
import struct

here = pathlib.Path(__file__).resolve().parent
out = here / "corpus" / "svc_stream"
# A text message packet that decodes (the packet parser's own seed).
packet = (here / "../../service/protocol/tests/corpus/packet/text.bin").read_bytes()

USER = b"13800138000"


def request(command, body):
    return struct.pack(">II", 8 + len(body), command) + body


def user_field():
    return USER.ljust(20, b"\0")


region = request(1, user_field())
ticket_query = request(3, user_field())
# authenticateRequest("13800138000", "s3cret") and with the password "wrong", as the protocol
# library builds them (the credential is enciphered with the password's session cipher).
auth = bytes.fromhex("00000034000000023133383030313338303030000000000000000000000000140000000b"
                     "94a3ed66ea90e11983d1648856212f75")
auth_wrong = bytes.fromhex("00000034000000023133383030313338303030000000000000000000000000140000"
                           "000bae1a0e3506af0d23fe3977803cfe6941")
# An upload's head without its ticket (the fuzzer inserts it in mode 3).
upload_head = struct.pack(">II", 28 + len(packet), 4)


def seed(name, mode, chunks, stream):
    (out / name).write_bytes(bytes([mode, len(chunks)]) + bytes(chunks) + stream)


out.mkdir(parents=True, exist_ok=True)
seed("region.bin", 0, [], region)
seed("region_split_head.bin", 0, [0x82, 0x84, 0x7F], region)
seed("region_bytewise.bin", 0, [0x80], region)
seed("region_oversized_length.bin", 0, [], struct.pack(">II", 0xFFFFFFF0, 1) + user_field())
seed("auth.bin", 1, [], auth)
seed("auth_wrong_password.bin", 1, [0x83, 0x7F], auth_wrong)
seed("ticket_then_region.bin", 2, [], ticket_query + region)
seed("ticket_then_upload_unknown_ticket.bin", 2, [0x9B, 0x7F],
     ticket_query + struct.pack(">II", 28 + len(packet), 4) + bytes(20) + packet)
seed("upload.bin", 3, [], upload_head + packet)
seed("upload_split.bin", 3, [0x85, 0xFF, 0x40], upload_head + packet)
seed("upload_oversized.bin", 3, [], struct.pack(">II", 28 + (1 << 20), 4) + b"\x55" * 300)
seed("short_head.bin", 2, [], b"\0\0\0")
