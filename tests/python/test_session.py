"""One login against the simulated service (sites 1 and 2), then market data
through Notify subclasses."""
import collections
import json
import sys
import threading

import pytest

import zel_gateway_client as zel

MD_STOCK = 20
# Where the simulated service writes a stock record's per-channel sequence.
SEQUENCE_FIELD = "HighPrecisionTimestamp4"


def test_login_callbacks(session, sim):
    (success,) = session.named("OnLoginDiscoverySuccess")
    assert success[1] == "127.0.0.1"
    assert success[2] == (1, 2)  # a tuple of the site types, ascending
    (response,) = session.named("OnLoginDiscoveryResponse")
    assert response[1]["isSuccess"] is True
    assert sorted(event[1] for event in session.named("OnLoginDatafeedNodeSuccess")) == [1, 2]
    assert len(session.named("OnLoginDataServiceSuccess")) == 1


def test_subscribe_and_records_in_channel_order(session):
    assert zel.python_subscribeByDataType(json.dumps({"SubType": 1, "ZelDataTypes": [MD_STOCK]}), 0) == 0
    responses = session.named("OnSubscribeResponse")
    assert responses and all(event[1]["permittedDataTypes"] == [MD_STOCK] for event in responses)

    records = session.wait_records(400)
    assert len(records) >= 400
    # Each site's connection numbers a channel's records 1, 2, 3...; with two
    # sites a channel's records are two such runs interleaved, each in order.
    sequences = collections.defaultdict(list)
    threads = set()
    for thread, record in records:
        threads.add(thread)
        assert record["ZELRecordType"] == MD_STOCK
        stock = record["MDStock"]
        assert stock["ZELDataType"] == MD_STOCK
        assert isinstance(stock["ZELSecurityID"], str) and isinstance(stock["LastPx"], float)
        sequences[record.get("ZELMessageChannel", 0)].append(stock[SEQUENCE_FIELD])
    for channel, sequence in sequences.items():
        runs = [0, 0]
        for number in sequence:
            run = runs.index(number - 1) if number - 1 in runs else None
            assert run is not None, f"channel {channel}: {number} after {runs}"
            runs[run] = number
    # Market data reaches Python on the one delivery thread.
    assert len(threads) == 1 and threading.get_native_id() not in threads


def test_only_market_data_defined(session):
    got = []
    done = threading.Event()

    class OnlyMarketData(zel.Notify):
        def OnMarketData(self, data, length):
            text = zel.cdata(data, length)
            got.append((text, zel.cdata(data), length))
            if len(got) >= 20:
                done.set()

    zel.Notify_Regist(OnlyMarketData())
    try:
        # Other callbacks end in the base operations: a subscribe answer here.
        assert zel.python_subscribeByDataType(json.dumps({"SubType": 2, "ZelDataTypes": [MD_STOCK]}), 0) == 0
        assert done.wait(30)
    finally:
        zel.Notify_Regist(session)
    for text, first, length in got[:20]:
        assert len(text.encode()) == length
        assert first == "{"
        record = json.loads(text)
        assert set(record) <= {"ZELMessageChannel", "ZELRecordType", "MDStock"}


def test_exception_in_callback_does_not_stop_delivery(session, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda report: reported.append(report.exc_value))
    calls = []
    done = threading.Event()

    class Failing(zel.Notify):
        def OnMarketData(self, data, length):
            calls.append(length)
            if len(calls) >= 30:
                done.set()
            raise ValueError("callback failed on purpose")

    zel.Notify_Regist(Failing())
    try:
        assert done.wait(30)
    finally:
        zel.Notify_Regist(session)
    assert len(calls) >= 30
    assert len(reported) >= 30 and all(isinstance(error, ValueError) for error in reported)


def test_large_cdata_is_a_pointer(session):
    seen = []
    done = threading.Event()

    class Peek(zel.Notify):
        def OnMarketData(self, data, length):
            if not done.is_set():
                seen.append(zel.cdata(data, 2**31))
                done.set()

    zel.Notify_Regist(Peek())
    try:
        assert done.wait(30)
    finally:
        zel.Notify_Regist(session)
    assert repr(seen[0]).startswith("<Swig Object of type 'char *' at 0x")


def test_data_by_security_id(session):
    records = session.wait_records(1)
    security = records[-1][1]["MDStock"]["ZELSecurityID"]
    text = {"SubType": 1, "MIVOSecurityIDs": [{"ZelDataType": MD_STOCK, "MIVOSecurityID": [security]}]}
    assert zel.python_subscribeBySecurityId(json.dumps(text), 0) == 0
    before = len(session.wait_records(0))
    records = session.wait_records(before + 40)[before + 20:]
    assert records and all(record["MDStock"]["ZELSecurityID"] == security for _, record in records)
