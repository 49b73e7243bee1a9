"""Fixtures for the Python module's tests: the simulated service as a
subprocess and one logged-in session shared by the session tests (a login
waits through the library's fixed pauses, about ten seconds)."""
import ctypes
import json
import os
import queue
import subprocess
import threading

import pytest

import zel_gateway_client as zel

USER = "py-user"
PASSWORD = "py-secret-4410"


def build_dir():
    return os.environ.get("ZEL_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))


class SimProcess:
    """zel-sim on free loopback ports; the listeners come from its start-up lines."""

    def __init__(self, *args):
        program = os.path.join(build_dir(), "sim", "zel-sim")
        self.process = subprocess.Popen(
            [program, "--stats", "0", "--account", f"{USER}:{PASSWORD}", *args],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.discovery = []
        self.nodes = []
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        while True:
            try:
                line = self.lines.get(timeout=20)
            except queue.Empty:
                line = None
            if not line:
                self.stop()
                raise RuntimeError("zel-sim did not start: " + self.process.stderr.read())
            words = line.split()
            if words[0] == "discovery":
                ip, port = words[1].rsplit(":", 1)
                self.discovery.append((ip, int(port)))
            elif words[0] == "datafeed":
                self.nodes.append(dict(word.split("=", 1) for word in words[2:]))
            elif words[0] == "ready":
                break

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def stop(self):
        if self.process.poll() is None:
            try:
                self.command("quit")
                self.process.wait(timeout=10)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                self.process.kill()
                self.process.wait()


def c_text(pointer):
    """The NUL-terminated text behind a pointer object of a callback."""
    return ctypes.string_at(int(pointer)).decode()


def login_text(port, **extra):
    text = {"UserName": USER, "Password": PASSWORD, "MainServerIP": "127.0.0.1"}
    if port is not None:
        text["MainServerPort"] = port
    text.update(extra)
    return json.dumps(text)


@pytest.fixture(scope="session", autouse=True)
def quiet_library(tmp_path_factory):
    """The library's log file goes to a scratch folder, and nothing to the console."""
    previous = os.getcwd()
    os.chdir(tmp_path_factory.mktemp("zel-log"))
    zel.python_close_cout_log()
    zel.python_close_file_log()
    yield
    os.chdir(previous)


@pytest.fixture(scope="session")
def sim():
    service = SimProcess("--site", "1:1", "--site", "2:1", "--securities", "24", "--rate", "400")
    yield service
    service.stop()


class Recorder(zel.Notify):
    """Keeps every callback; market data as parsed JSON with the delivering thread."""

    def __init__(self):
        super().__init__()
        self.lock = threading.Lock()
        self.events = []
        self.records = []
        self.arrived = threading.Condition(self.lock)

    def _event(self, *event):
        with self.lock:
            self.events.append(event)

    def OnLoginDiscoverySuccess(self, data, site_types):
        self._event("OnLoginDiscoverySuccess", c_text(data), site_types)

    def OnLoginDiscoveryResponse(self, data, length):
        self._event("OnLoginDiscoveryResponse", json.loads(zel.cdata(data, length)))

    def OnLoginDatafeedNodeSuccess(self, site_type, data):
        self._event("OnLoginDatafeedNodeSuccess", site_type)

    def OnLoginDataServiceSuccess(self):
        self._event("OnLoginDataServiceSuccess")

    def OnSubscribeResponse(self, data, length):
        self._event("OnSubscribeResponse", json.loads(zel.cdata(data, length)))

    def OnMarketData(self, data, length):
        record = json.loads(zel.cdata(data, length))
        with self.lock:
            self.records.append((threading.get_native_id(), record))
            self.arrived.notify_all()

    def wait_records(self, count, timeout=30):
        with self.lock:
            self.arrived.wait_for(lambda: len(self.records) >= count, timeout)
            return list(self.records)

    def named(self, name):
        with self.lock:
            return [event for event in self.events if event[0] == name]


@pytest.fixture(scope="module")
def session(sim):
    """Logged in with three callback threads per site, subscribed to MDStock records."""
    recorder = Recorder()
    zel.python_init_env()
    zel.Notify_Regist(recorder)
    # Three threads configured by an incomplete login; 0 then leaves them unchanged.
    assert zel.python_login(login_text(None, Thread_Count=3), 0) == 1
    port = sim.discovery[0][1]
    text = login_text(port, Thread_Count=0, BackServer=[{"IP": "127.0.0.1"}])
    assert zel.python_login(text, 0) == 0
    yield recorder
    zel.python_logout()
    zel.python_fini_env()
