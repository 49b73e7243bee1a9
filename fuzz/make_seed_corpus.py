#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are small, valid or nearly valid inputs that lead each target past
its first checks; the fuzzer mutates from there. Run again after changing a
target's input layout."""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")

LOGIN_RESPONSE, SUBSCRIBE_RESPONSE, HEARTBEAT_RESPONSE, PUSH_MARKET_DATA = 12, 14, 4, 1


def varint(value):
    value &= (1 << 64) - 1
    out = b""
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out += bytes([byte | 0x80])
        else:
            return out + bytes([byte])


def field(number, value):
    if isinstance(value, bool):
        return varint(number << 3) + varint(int(value))
    if isinstance(value, int):
        return varint(number << 3) + varint(value)
    if isinstance(value, str):
        value = value.encode()
    return varint(number << 3 | 2) + varint(len(value)) + value


def meta(message_type, trace_id="", channel=0, index=0, data_type=0):
    out = b""
    if data_type:
        out += field(1, data_type)
    if channel:
        out += field(2, channel)
    if index:
        out += field(3, index)
    out += field(5, message_type) + field(6, 1)
    if trace_id:
        out += field(7, trace_id)
    return out


def frame(meta_bytes, payload, flags=0):
    return struct.pack("<bbhii", 1, 1, flags, len(meta_bytes), len(payload)) + meta_bytes + payload


def response(body):
    return struct.pack("<i", len(body)) + body


def server(ip, port, site, priority, ssl=False):
    return field(1, ip) + field(2, port) + field(4, priority) + field(5, site) + field(8, ssl)


def login_body(ok=True, token="session-token-0042", servers=()):
    body = field(1, ok) + field(3, token)
    for entry in servers:
        body += field(4, entry)
    return body


def lz4_literals(data):
    """An LZ4 block holding data as literals only."""
    n = len(data)
    if n < 15:
        return bytes([n << 4]) + data
    out = bytes([0xF0])
    rest = n - 15
    while rest >= 255:
        out += b"\xff"
        rest -= 255
    return out + bytes([rest]) + data


def stock_record(channel, security):
    stock = field(1, 3) + field(2, 20260101) + field(5, security)
    return field(1, channel) + field(2, 3) + field(3, stock)


def batch(records):
    return b"".join(struct.pack("<i", len(r)) + r for r in records)


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def main():
    records = [stock_record(1, "600000.SH"), stock_record(-7, "000001.SZ")]
    plain_batch = batch(records)
    packed_batch = struct.pack("<i", len(plain_batch)) + lz4_literals(plain_batch)
    nodes = [server("10.0.0.1", 9552, 1, 9), server("10.0.0.2", 9553, 1, 5, True),
             server("10.0.0.3", 70000, 2, 1)]
    login = frame(meta(LOGIN_RESPONSE, "sdk_login_1"), response(login_body(servers=nodes)))
    refused = frame(meta(LOGIN_RESPONSE, "sdk_login_1"), response(field(1, False) + field(2, field(2, "no\nway"))))
    subscribe = frame(meta(SUBSCRIBE_RESPONSE, "sdk_subscribe_1"), response(field(1, True) + field(3, 3)))
    heartbeat = frame(meta(HEARTBEAT_RESPONSE), response(b""))
    market = frame(meta(PUSH_MARKET_DATA, channel=3, index=42, data_type=3), plain_batch)
    market_lz4 = frame(meta(PUSH_MARKET_DATA, channel=3, index=43, data_type=3), packed_batch, 0x4000)
    oversize = struct.pack("<bbhii", 1, 1, 0, 70000, 0)
    stream = login + subscribe + heartbeat + market + market_lz4

    # Reader: [k][k piece sizes][stream].
    write("datafeed_reader_fuzz", "whole_stream", b"\x00" + stream)
    write("datafeed_reader_fuzz", "one_byte_pieces", b"\x01\x00" + stream)
    write("datafeed_reader_fuzz", "mixed_pieces", b"\x03\x04\x0b\xc8" + stream)
    write("datafeed_reader_fuzz", "bad_length_after_frames", b"\x02\x05\x10" + heartbeat + oversize + market)
    write("datafeed_reader_fuzz", "refused_login", b"\x01\x06" + refused)
    # A token that spells a key of the logged line is not a leak.
    write("datafeed_reader_fuzz", "token_spells_a_key",
          b"\x00" + frame(meta(LOGIN_RESPONSE, "sdk_login_1"), response(login_body(token="isSuccess"))))

    write("frame_decode_fuzz", "login_response", login)
    write("frame_decode_fuzz", "subscribe_response", subscribe)
    write("frame_decode_fuzz", "market_data", market)
    write("frame_decode_fuzz", "oversize_header", oversize)

    write("discovery_response_fuzz", "login_with_nodes", login)
    write("discovery_response_fuzz", "refused", refused)
    many = [server("10.0.1.%d" % i, 9000 + i, i, 1) for i in range(20)]
    write("discovery_response_fuzz", "many_sites",
          frame(meta(LOGIN_RESPONSE, "sdk_login_1"), response(login_body(servers=many))))

    write("batch_decode_fuzz", "plain", b"\x00" + plain_batch)
    write("batch_decode_fuzz", "lz4", b"\x01" + packed_batch)
    write("batch_decode_fuzz", "truncated", b"\x00" + plain_batch[:-3])
    write("batch_decode_fuzz", "record", b"\x00" + records[0])

    write("config_parse_fuzz", "defaults", b"nuvexia_config_use_ssl=1\nnuvexia_config_read_timeout = 30\n"
          b"# comment\nnuvexia_config_handle_thread_num=5\r\nnuvexia_config_refuse_plain_nodes=0\n")
    write("config_parse_fuzz", "odd_values", b"nuvexia_config_handle_thread_num=0\nnuvexia_config_read_timeout=-4\n"
          b"nuvexia_config_log_serverity=99999999999\n=x\nkey_only=\nnuvexia_config_file_log=0\n")

    write("login_mask_fuzz", "login", b'{"UserName": "u", "Password": "secret-pw", "MainServerIP": "127.0.0.1", '
          b'"MainServerPort": 9550, "BackServer": [{"IP": "127.0.0.2", "Port": 9551}]}')
    write("login_mask_fuzz", "escaped_key", b'{"Pass\\u0077ord": "secret-pw", "password": "x"}')
    write("login_mask_fuzz", "python_dict", b"{'UserName': 'u', 'Password': 'secret-pw'}")
    # Withheld for the user name: the fixed words of that line hold the "b".
    write("login_mask_fuzz", "password_in_fixed_words", b'{"Password": "b", "UserName": "b"}')
    write("login_mask_fuzz", "escaped_value", b'{"Password": "a\\"b", "UserName": "a\\"b"}')

    write("json_parameters_fuzz", "login", b'{"UserName": "u", "Password": "p", "MainServerIP": "127.0.0.1"}')
    write("json_parameters_fuzz", "data_types", b'{"SubType": 2, "ZelDataTypes": [3, 20, -999, "x"]}')
    write("json_parameters_fuzz", "security_ids",
          b'{"SubType": 1, "MIVOSecurityIDs": [{"ZelDataType": 3, "MIVOSecurityID": ["600000.SH", 5]}, 7]}')


if __name__ == "__main__":
    main()
