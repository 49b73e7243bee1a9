"""Market data through the delivery thread against a service pushing as fast
as it can: handlers replaced under load, and teardown (logout, interpreter
exit) while a slow handler has records waiting."""
import json
import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import zel_gateway_client as zel
from conftest import SimProcess, build_dir, login_text

MD_STOCK = 20
SUBSCRIBE = json.dumps({"SubType": 1, "ZelDataTypes": [MD_STOCK]})


@pytest.fixture(scope="module")
def firehose():
    service = SimProcess("--site", "1:1", "--securities", "200", "--rate", "0")
    yield service
    service.stop()


class Slow(zel.Notify):
    """Takes 20 ms a record: far slower than the feed."""

    def __init__(self, calls):
        super().__init__()
        self.calls = calls
        self.started = threading.Event()

    def OnMarketData(self, data, length):
        json.loads(zel.cdata(data, length))
        self.calls.append(length)
        self.started.set()
        time.sleep(0.02)


def test_logout_does_not_wait_for_a_slow_handler(firehose):
    calls = []
    zel.python_init_env()
    zel.Notify_Regist(Slow(calls))
    try:
        assert zel.python_login(login_text(firehose.discovery[0][1]), 0) == 0
        assert zel.python_subscribeByDataType(SUBSCRIBE, 0) == 0
        handler = Slow(calls)
        for _ in range(3):  # replaced under load; the module frees the previous one
            zel.Notify_Regist(handler)
            handler = Slow(calls)
        zel.Notify_Regist(handler)
        assert handler.started.wait(30)
        time.sleep(1)  # records pile up meanwhile: minutes of work at 50 a second

        done = threading.Event()
        threading.Thread(target=lambda: (zel.python_logout(), done.set()), daemon=True).start()
        assert done.wait(60), "logout waited for the records queued for Python"
        delivered = len(calls)
        time.sleep(0.3)
        assert len(calls) == delivered  # what waited was dropped, not delivered later
    finally:
        zel.Notify_Regist(None)
        zel.python_logout()
        zel.python_fini_env()


def test_interpreter_exit_with_records_waiting(firehose):
    # No logout: the module's exit handler tears the client and the delivery
    # thread down while a slow handler is behind.
    script = textwrap.dedent(f"""
        import json, os, time, threading
        import zel_gateway_client as zel
        zel.python_close_cout_log()
        zel.python_close_file_log()
        started = threading.Event()
        class Slow(zel.Notify):
            def OnMarketData(self, data, length):
                started.set()
                time.sleep(0.02)
        zel.Notify_Regist(Slow())
        assert zel.python_login({login_text(firehose.discovery[0][1])!r}, 0) == 0
        zel.python_subscribeByDataType({SUBSCRIBE!r}, 0)
        assert started.wait(30)
        time.sleep(1)
        print("exiting", flush=True)
    """)
    environment = dict(os.environ, PYTHONPATH=os.path.join(build_dir(), "python"))
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120,
                            env=environment, cwd=os.getcwd())
    assert result.returncode == 0, result.stderr
    assert "exiting" in result.stdout


def resident_mb():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


class Behind(zel.Notify):
    """Stalls on its first record until released, then takes about a
    millisecond a record: far behind the feed. Keeps each channel's
    sequence numbers and every link loss."""

    def __init__(self):
        super().__init__()
        self.started = threading.Event()
        self.released = threading.Event()
        self.sequences = {}
        self.gaps = []
        self.disconnects = []
        self.count = 0

    def OnMarketData(self, data, length):
        record = json.loads(zel.cdata(data, length))
        channel = record.get("ZELMessageChannel", 0)  # a default value is left out
        sequence = int(record["MDStock"]["HighPrecisionTimestamp4"])
        previous = self.sequences.get(channel)
        if previous is not None and sequence != previous + 1:
            self.gaps.append((channel, previous, sequence))
        self.sequences[channel] = sequence
        self.count += 1
        self.started.set()
        self.released.wait(30)
        time.sleep(0.001)

    def OnDisconnected(self, site_type, data):
        self.disconnects.append(site_type)


def held_bytes():
    return sum(site["held_bytes"] for site in json.loads(zel.python_get_statistics())["sites"])


def test_slow_handler_holds_the_feed_back_without_loss(firehose):
    # The records waiting for Python count in the site's budget: the reader
    # is held back (TCP makes the node wait) instead of memory growing, and
    # nothing is dropped or reset on the way.
    handler = Behind()
    zel.python_init_env()
    zel.Notify_Regist(handler)
    before = resident_mb()
    try:
        assert zel.python_login(login_text(firehose.discovery[0][1]), 0) == 0
        assert zel.python_subscribeByDataType(SUBSCRIBE, 0) == 0
        # A slow machine may need a second datafeed login before the feed
        # starts; what counts is that no link is replaced while behind.
        reconnects = [site["reconnects"] for site in json.loads(zel.python_get_statistics())["sites"]]
        assert handler.started.wait(30)
        stalled = []
        for _ in range(10):
            time.sleep(0.2)
            stalled.append(held_bytes())
        handler.released.set()
        time.sleep(2)
        sites = json.loads(zel.python_get_statistics())["sites"]
        grown = resident_mb() - before
    finally:
        handler.released.set()
        zel.Notify_Regist(None)
        zel.python_logout()
        zel.python_fini_env()
    assert max(stalled) > 0, stalled  # the records waiting for Python are held
    assert handler.count > 100
    assert handler.gaps == []
    assert handler.disconnects == []
    assert [site["reconnects"] for site in sites] == reconnects
    # ThreadSanitizer's shadow memory multiplies the resident size, so the
    # bound only means something without it.
    if os.environ.get("ZEL_SANITIZER") != "thread":
        assert grown < 256 + 64, f"resident memory grew by {grown:.0f} MB"
