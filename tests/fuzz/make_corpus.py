#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: corpus/<target>/<case>, one small input each.

Run from anywhere; it rewrites the seeds it names and leaves other files (inputs that once
broke an invariant) alone. The input layouts are those described at the top of each
<target>_fuzz.cpp.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
STX, ETX, EOT, ENQ, ACK, DLE, NAK, CAN = 0x02, 0x03, 0x04, 0x05, 0x06, 0x10, 0x15, 0x18
READY = ord("C")


def frame(payload):
    return bytes([STX]) + bytes(payload) + bytes([ETX, (sum(payload) + ETX) & 0xFF])


def reply(d1, d2, bad=False):
    r = bytearray(frame(b"R5" + bytes([ord(d1), ord(d2)])))
    if bad:
        r[-1] = (r[-1] + 1) & 0xFF
    return bytes(r)


def reply_without_etx(d1, d2, sixth=EOT):
    """A reply whose checksum is right by the rule (ETX's value counted) but whose sixth byte
    is not ETX."""
    r = bytearray(reply(d1, d2))
    r[5] = sixth
    return bytes(r)


def data_packet(image):
    return frame(image.hex().upper().encode())


def arrivals(*timed):
    """(gap_code, bytes) pairs: the first byte after the gap, the rest right behind it."""
    out = bytearray()
    for gap, data in timed:
        for i, b in enumerate(data):
            out += bytes([gap if i == 0 else 0, b])
    return bytes(out)


def answer(*timed):
    """One answer of the upload target: a count, then (gap, byte) pairs."""
    body = arrivals(*timed)
    assert len(body) // 2 <= 7
    return bytes([len(body) // 2]) + body


def write_fault(kind, write):
    """The version check's write-fault byte: kind 1 claims 2 bytes, 2 takes none, 3 times out
    from that write on; write 0 is the first."""
    return kind << 3 | write


def version_check():
    c = (150, b"C")
    yes = 0x04
    ack = 2  # the write of the ACK when the reply waits before the first resend: query, query, ACK

    def head(setup=0, carried=0x11, fault=0):
        return bytes([setup, carried, fault])

    return {
        "valid_reply": head() + arrivals(c, (199, reply("1", "0"))),
        "same_version_no": head() + arrivals(c, (199, reply("1", "1"))),
        "older_version_yes": head(yes) + arrivals(c, (199, reply("1", "a"))),
        "no_code_ff": head(0x10) + arrivals(c, (199, reply("F", "F"))),
        "unreadable_digits": head() + arrivals(c, (199, reply("G", "1"))),
        "sign_before_digit": head() + arrivals(c, (199, reply("-", "1"))),
        "digits_00_carried_01": head(carried=0x01) + arrivals(c, (199, reply("0", "0"))),
        "bad_checksum_then_good": head()
        + arrivals(c, (199, reply("2", "0", bad=True)), (50, reply("2", "0"))),
        "bad_checksum_only": head() + arrivals(c, (199, reply("2", "0", bad=True))),
        "sixth_byte_not_etx": head() + arrivals(c, (199, reply_without_etx("2", "0"))),
        "one_stx_before_reply": head() + arrivals(c, (199, b"\x02" + reply("0", "9"))),
        "noise_around_ready": head()
        + arrivals((50, b"x\x00\x10"), c, (1, b"CC"), (199, b"\x02\x02" + reply("0", "9"))),
        "reply_after_resends": head(0xF0) + arrivals(c, (215, reply("3", "0"))),
        "reply_too_late": head() + arrivals(c, (226, reply("3", "0"))),
        "no_ready": head() + arrivals((100, b"xyz"), (215, b"\x10")),
        "ready_too_late": head() + arrivals((221, b"C")),
        "open_throws": head(0x02),
        "open_yields_nothing": head(0x03),
        "tick_wrap": head(0x08) + arrivals(c, (199, reply("1", "0"))),
        "query_claims_two": head(fault=write_fault(1, 0)) + arrivals(c, (199, reply("1", "0"))),
        "ack_takes_none": head(fault=write_fault(2, ack)) + arrivals(c, (199, reply("1", "0"))),
        "ack_times_out": head(fault=write_fault(3, ack)) + arrivals(c, (199, reply("1", "0"))),
        "queries_time_out": head(fault=write_fault(3, 0)) + arrivals(c, (199, reply("1", "0"))),
        # The fifth query, the last before the window closes, times out; the reply's last byte
        # arrives meanwhile and is read after it, past the window, then the ACK times out too.
        "reply_done_during_late_resend": head(fault=write_fault(3, 4))
        + arrivals(c, (217, reply("1", "0")[:-1]), (202, reply("1", "0")[-1:])),
    }


def firmware_upload():
    ready, go = answer((150, b"C")), answer((1, bytes([ENQ])))
    ack, nak = answer((1, bytes([ACK]))), answer((1, bytes([NAK])))
    done = answer((1, bytes([ACK])), (1, bytes([EOT])))
    two = bytes([0, 25, 0, 3])  # 126 bytes: two packets, on COM4
    return {
        "defaults_two_packets": two,
        "whole_carried_image": bytes([0, 255, 0, 0]),
        "empty_image": bytes([0, 0, 0, 0]) + ready + answer((1, bytes([ENQ, EOT]))),
        "nak_nak_ack": two + ready + go + nak + nak + ack + done,
        "nak_three_times": two + ready + go + nak + nak + nak,
        "nak_then_silence": two + ready + go + nak + answer(),
        "can_then_ack": two + ready + go + answer((1, bytes([CAN])), (1, bytes([ACK]))) + done,
        "dle_as_answer": two + ready + go + answer((1, bytes([DLE]))),
        "zero_then_ack": two + ready + go + answer((1, b"\x00"), (5, bytes([ACK]))) + done,
        "silence_after_packet": two + ready + go + answer(),
        "keep_alives": two + ready
        + answer((208, bytes([DLE])), (208, bytes([DLE])), (208, bytes([DLE])), (1, bytes([ENQ])))
        + ack
        + answer((1, bytes([ACK])), (218, bytes([DLE])), (218, bytes([DLE])), (1, bytes([EOT]))),
        "go_ahead_too_late": two + ready + answer((212, bytes([ENQ]))),
        "junk_and_extra_ready": two + answer((50, b"xC\x10"), (1, b"CC")) + go + ack + done,
        "rejected": two + ready + go + ack + answer((1, bytes([ACK])), (1, bytes([CAN]))),
        "unknown_verdict": two + ready + go + ack + answer((1, bytes([ACK])), (1, b"?")),
        "verdict_silence": two + ready + go + ack + ack,
        "verdict_zero_then_eot": two + ready + go + ack
        + answer((1, bytes([ACK])), (1, b"\x00"), (1, bytes([EOT]))),
        "no_ready": two + answer((100, b"xyz")),
        "write_takes_part": bytes([0xA0, 25, 1, 0]),
        "write_takes_none": bytes([0xC0, 25, 1, 0]),
        "write_claims_more": bytes([0x80, 25, 0, 0]),
        "write_times_out": bytes([0xE0, 25, 2, 0]),
        "progress_none": bytes([0x10, 25, 0, 0]),
        "progress_throws": bytes([0x18, 25, 0, 0]),
        "open_throws": bytes([0x02, 25, 0, 0]),
        "tick_wrap": bytes([0x04, 30, 0, 0]),
    }


def link_frame():
    return {
        "valid_reply": reply("1", "0"),
        "noise_then_reply": b"\x02\x00C\x10" + reply("1", "A"),
        "bad_checksum_then_good": reply("1", "1", bad=True) + reply("1", "1"),
        "sixth_byte_not_etx": reply_without_etx("1", "1"),
        "one_stx_before_reply": b"\x02" + reply("1", "1"),
        "full_packet": bytes([120]) + bytes(range(0, 256, 7)),
        "packet_too_long": bytes([121]) + b"\xA5",
        "packet_empty": bytes([0, 0, 0xE9, 0xD6]),
        "start_too_long": bytes([1, 0, 0, 0]),
        "start_carried": bytes([0, 0, 0xE9, 0xD6]) + b"\xff",
    }


def port_argument():
    return {
        name: text.encode("latin-1")
        for name, text in {
            "com1": "COM1",
            "com256": "com256",
            "com0": "COM0",
            "zero": "0",
            "n257": "257",
            "leading_zero": "COM04",
            "auto": "auto",
            "auto_upper": "AUTO",
            "found": "found",
            "device": "/dev/ttyUSB0",
            "com_only": "COM",
            "trailing_blank": "COM1 ",
            "device_like_com": "./COM5",
        }.items()
    }


def sim_packets():
    image = bytes(range(120))
    wait, upload = b"\x00\x00\x00", b"\x01\xE9\xD6"
    start = frame(b"\xFA" + b"%06X" % 59862)
    bad_start = bytearray(start)
    bad_start[-1] ^= 1
    return {
        "query": wait + frame(b"V"),
        "start_packet": wait + b"C" + start,
        "start_bad_checksum": wait + bytes(bad_start) + frame(b"V"),
        "start_lowercase": wait + frame(b"\xFA" + b"00e9d6"),
        "unknown_kind": wait + frame(b"Q") + frame(b"V"),
        "data_packets": upload + data_packet(image) + data_packet(b"\xA5"),
        "data_bad_checksum": upload + data_packet(b"\x00\xFF")[:-1] + b"\x00",
        "data_lowercase": upload + frame(b"a5"),
        "data_odd_digits": upload + frame(b"A5B"),
        "data_past_length": b"\x01\x00\x01" + data_packet(b"\x01\x02"),
        "junk_then_packet": upload + b"xx\x10" + data_packet(b"\x10"),
        "stx_inside_data_frame": upload + b"\x02A5" + data_packet(b"\x01"),
        "no_etx": upload + b"\x02" + b"A" * 250 + b"\x03\x00",
        "more_than_120_bytes": b"\x03\xE9\xD6" + b"\x02" + b"A" * 250 + b"\x03\x00",
    }


def main():
    for target, seeds in {
        "version_check": version_check(),
        "firmware_upload": firmware_upload(),
        "link_frame": link_frame(),
        "port_argument": port_argument(),
        "sim_packets": sim_packets(),
    }.items():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
