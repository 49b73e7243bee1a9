"""What a Python host program gets beyond login and records: docstrings,
refused unknown keys, the TLS line of the login, statistics and the
subscription list as JSON, and Ctrl-C during a blocking call."""
import inspect
import json
import os
import socket
import subprocess
import sys
import textwrap
import time

import pytest

import zel_gateway_client as zel
from conftest import build_dir, login_text

MODULE_CALLS = [
    "python_init_env", "python_fini_env", "python_open_file_log", "python_close_file_log",
    "python_open_cout_log", "python_close_cout_log", "python_login", "python_logout",
    "python_subscribeByDataType", "python_subscribeBySecurityId", "python_request_fin_info_query_sync",
    "python_request_fin_info_query_async", "Notify_Regist", "Log_Regist", "python_get_statistics",
    "python_get_subscriptions",
]


class TestDocstrings:
    @pytest.mark.parametrize("name", MODULE_CALLS)
    def test_every_call_explains_itself(self, name):
        doc = inspect.getdoc(getattr(zel, name))
        assert doc, name
        # More than the signature line.
        assert len(doc.splitlines()) >= 3, doc

    def test_every_notify_callback_explains_itself(self):
        assert inspect.getdoc(zel.Notify)
        methods = [name for name in dir(zel.Notify) if name.startswith("On")]
        assert len(methods) == 16
        for name in methods:
            doc = inspect.getdoc(getattr(zel.Notify, name))
            assert doc and doc.startswith(name + "("), (name, doc)

    def test_every_public_function_has_a_docstring(self):
        for name, value in vars(zel).items():
            if callable(value) and not name.startswith("_") and not inspect.isclass(value):
                assert inspect.getdoc(value), name


def captured_log(capfd, call):
    """Runs call with the library's log on standard output; returns (result, output)."""
    zel.python_open_cout_log()
    try:
        capfd.readouterr()
        result = call()
        return result, capfd.readouterr().out
    finally:
        zel.python_close_cout_log()


class TestUnknownKeys:
    @pytest.mark.parametrize("extra, key", [
        ({"Is_SSL": True}, "Is_SSL"),
        ({"Password2": "x"}, "Password2"),
        ({"BackServer": [{"IP": "127.0.0.1", "Port": 1}, {"IP": "127.0.0.1", "Host": 2}]}, "BackServer[1].Host"),
    ])
    def test_login_names_the_key(self, capfd, extra, key):
        result, out = captured_log(capfd, lambda: zel.python_login(login_text(9552, **extra), 0))
        assert result == 1
        assert f'unknown key "{key}"' in out

    @pytest.mark.parametrize("call, text, key", [
        ("python_subscribeByDataType", {"SubType": 1, "ZelDataType": [3]}, "ZelDataType"),
        ("python_subscribeByDataType", {"Subtype": 1, "ZelDataTypes": [3]}, "Subtype"),
        ("python_subscribeBySecurityId", {"SubType": 2, "MIVOSecurityID": []}, "MIVOSecurityID"),
        ("python_subscribeBySecurityId",
         {"SubType": 2, "MIVOSecurityIDs": [{"ZelDataType": 9, "MIVOSecurityId": ["1.SH"]}]},
         "MIVOSecurityIDs[0].MIVOSecurityId"),
    ])
    def test_subscribe_names_the_key(self, capfd, call, text, key):
        result, out = captured_log(capfd, lambda: getattr(zel, call)(json.dumps(text), 0))
        zel.python_logout()
        assert result == -1027
        assert f'unknown key "{key}"' in out

    def test_login_line_states_the_tls_defaults(self, capfd):
        _, out = captured_log(capfd, lambda: zel.python_login(login_text(None), 0))
        assert "login: TLS off (Python default; without Is_Ssl the Python module connects without TLS" in out
        _, out = captured_log(capfd, lambda: zel.python_login(login_text(None, Is_Ssl=False), 0))
        assert "login: TLS off (from Is_Ssl;" in out


def test_statistics_and_subscriptions_as_json(session, sim):
    assert zel.python_subscribeByDataType(json.dumps({"SubType": 1, "ZelDataTypes": [3]}), 0) == 0
    session.wait_records(20)
    statistics = json.loads(zel.python_get_statistics())
    assert statistics["has_client"] is True
    sites = statistics["sites"]
    assert [site["site_type"] for site in sites] == [1, 2]
    for site in sites:
        assert site["link_state"] == "up"
        assert site["node"].startswith("127.0.0.1:")
        for key in ("logins", "reconnects", "records", "frames", "wire_bytes", "decompressed_bytes",
                    "decode_errors", "queued_records", "held_bytes", "stalls", "ms_since_last_frame",
                    "ms_since_last_heartbeat_answer", "discarded_records"):
            assert isinstance(site[key], int), key
    listed = json.loads(zel.python_get_subscriptions())
    assert listed["has_client"] is True
    first = listed["subscriptions"][-1]
    assert first["kind"] == "data_type"
    assert first["request"]["subscribeByDataType"]["zelDataTypes"] == [3]
    assert first["last_result"] == 0 and first["sends"] >= 1


INTERRUPTED_LOGIN = textwrap.dedent("""
    import json, os, signal, sys, threading, time
    import zel_gateway_client as zel
    zel.python_close_file_log()
    text = json.dumps({"UserName": "u", "Password": "p", "MainServerIP": "127.0.0.1",
                       "MainServerPort": int(sys.argv[1])})
    threading.Timer(1.0, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
    start = time.monotonic()
    try:
        result = zel.python_login(text, 0)
        print("returned", result, flush=True)
    except KeyboardInterrupt:
        print("interrupted after %.1f s" % (time.monotonic() - start), flush=True)
""")


def test_ctrl_c_ends_a_blocking_login():
    # A discovery server that takes the connection and never answers: the
    # login would wait out its read timeouts and retries.
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    port = listener.getsockname()[1]
    env = dict(os.environ, PYTHONPATH=os.path.join(build_dir(), "python"))
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED_LOGIN, str(port)], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        line = child.stdout.readline()
        while line.startswith("try to login"):
            line = child.stdout.readline()
        assert line.startswith("interrupted after "), line
        assert float(line.split()[2]) < 5.0
    finally:
        # The abandoned login ends once its server is gone; the exit waits for it.
        listener.close()
        try:
            child.wait(timeout=90)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
            pytest.fail("the interpreter did not exit after the interrupted login")
    assert child.returncode == 0, child.stderr.read()
