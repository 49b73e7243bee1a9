"""python_logout and python_fini_env called from inside the callbacks, on the
threads the library calls them on: the call returns, nothing is called back
afterwards, and the interpreter exits cleanly. Each case runs in its own
interpreter (a fault would end it), all of them at once."""
import os
import subprocess
import sys
import textwrap

import pytest

from conftest import SimProcess, build_dir, login_text

CASES = [
    ("OnLoginDatafeedNodeSuccess", "site_type, data", "python_fini_env"),
    ("OnLoginDataServiceSuccess", "", "python_logout"),
    ("OnSubscribeResponse", "data, length", "python_fini_env"),
    ("OnMarketData", "data, length", "python_logout"),
]


@pytest.fixture(scope="module")
def service():
    sim = SimProcess("--site", "1:1", "--securities", "24", "--rate", "400")
    yield sim
    sim.stop()


def script(port, callback, parameters, action):
    arguments = ", ".join(["self"] + [name for name in parameters.split(", ") if name])
    return textwrap.dedent(f"""
        import json, threading, time
        import zel_gateway_client as zel
        zel.python_close_cout_log()
        zel.python_close_file_log()
        returned = threading.Event()
        late = []

        class Tearing(zel.Notify):
            def __getattribute__(self, name):
                if name.startswith("On") and returned.is_set():
                    late.append(name)
                return object.__getattribute__(self, name)

            def {callback}({arguments}):
                if returned.is_set():
                    return
                zel.{action}()
                returned.set()

        handler = Tearing()
        zel.Notify_Regist(handler)
        zel.python_login({login_text(port)!r}, 0)
        if not returned.is_set():
            zel.python_subscribeByDataType(json.dumps({{"SubType": 1, "ZelDataTypes": [20]}}), 0)
        assert returned.wait(30), "the callback never came back"
        time.sleep(0.5)
        assert not late, late
        print("torn down", flush=True)
    """)


def test_teardown_inside_callbacks(service):
    environment = dict(os.environ, PYTHONPATH=os.path.join(build_dir(), "python"))
    runs = []
    for callback, parameters, action in CASES:
        code = script(service.discovery[0][1], callback, parameters, action)
        runs.append((callback, action, subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                                                         stderr=subprocess.PIPE, text=True, env=environment)))
    for callback, action, run in runs:
        try:
            out, err = run.communicate(timeout=90)
        except subprocess.TimeoutExpired:
            run.kill()
            out, err = run.communicate()
        assert run.returncode == 0 and "torn down" in out, f"{action} in {callback}: {run.returncode}\n{err}"
