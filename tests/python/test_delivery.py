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
