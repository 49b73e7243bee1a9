#!/usr/bin/env python3
"""Records per second delivered to a Python OnMarketData through the module,
from zel-sim pushing as fast as it can: once with the handler only reading
the text (cdata), once also parsing it with json.loads. Beside the rate it
prints CPU time per record, of the client process and of the thread that
calls Python, figures a machine shared with other work disturbs less than
the rate (there the threads mostly wait for a core). Prints figures; never
asserts.
Needs PYTHONPATH=<build>/python and ZEL_BUILD_DIR=<build>."""
import json
import os
import resource
import subprocess
import threading
import time

import zel_gateway_client as zel

SECONDS = 3.0


class Counting(zel.Notify):
    def __init__(self, parse):
        super().__init__()
        self.parse = parse
        self.count = 0
        self.bytes = 0
        self.thread_cpu = 0.0

    def OnMarketData(self, data, length):
        text = zel.cdata(data, length)
        if self.parse:
            json.loads(text)
        self.count += 1  # callbacks run one at a time under the interpreter lock
        self.bytes += length
        self.thread_cpu = time.thread_time()  # of the thread delivering the records


def start_sim():
    program = os.path.join(os.environ.get("ZEL_BUILD_DIR", "build"), "sim", "zel-sim")
    sim = subprocess.Popen([program, "--stats", "0", "--rate", "0", "--site", "1:1", "--securities", "500",
                            "--account", "bench:bench"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    port = None
    for line in sim.stdout:
        if line.startswith("discovery ") and port is None:
            port = int(line.split()[1].rsplit(":", 1)[1])
        if line.startswith("ready"):
            break
    threading.Thread(target=lambda: [None for _ in sim.stdout], daemon=True).start()
    return sim, port


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def resident_mb():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def measure(parse):
    handler = Counting(parse)
    zel.Notify_Regist(handler)
    time.sleep(0.5)  # let the queues settle on the new handler
    start_count, start, start_cpu, start_thread = handler.count, time.monotonic(), cpu_seconds(), handler.thread_cpu
    time.sleep(SECONDS)
    count, elapsed, cpu = handler.count - start_count, time.monotonic() - start, cpu_seconds() - start_cpu
    thread = handler.thread_cpu - start_thread
    return (count / elapsed, cpu * 1e6 / max(count, 1), thread * 1e6 / max(count, 1), resident_mb(),
            handler.bytes / max(handler.count, 1))


def main():
    os.chdir(os.environ.get("TMPDIR", "/tmp"))
    sim, port = start_sim()
    zel.python_close_cout_log()
    zel.python_close_file_log()
    try:
        login = {"UserName": "bench", "Password": "bench", "MainServerIP": "127.0.0.1", "MainServerPort": port}
        if zel.python_login(json.dumps(login), 0) != 0:
            print("python delivery bench: login failed")
            return 1
        zel.python_subscribeByDataType(json.dumps({"SubType": 1, "ZelDataTypes": [20]}), 0)
        read_only, read_only_cpu, read_only_thread, read_only_mb, size = measure(parse=False)
        parsed, parsed_cpu, parsed_thread, parsed_mb, _ = measure(parse=True)
    finally:
        zel.Notify_Regist(None)
        zel.python_logout()
        zel.python_fini_env()
        sim.stdin.write("quit\n")
        sim.stdin.close()
        sim.wait(timeout=10)
    print(f"MDStock records of {size:.0f} bytes of JSON, {SECONDS:.0f} s each, 4 callback threads")
    print("                                        records/s  process CPU/record  Python thread CPU/record  resident")
    print(f"OnMarketData reading the text (cdata): {read_only:10.0f} {read_only_cpu:14.1f} us {read_only_thread:20.1f} us"
          f" {read_only_mb:7.0f} MB")
    print(f"OnMarketData with json.loads:          {parsed:10.0f} {parsed_cpu:14.1f} us {parsed_thread:20.1f} us"
          f" {parsed_mb:7.0f} MB")
    print("(the Python thread figure is the delivery thread's; a module calling Python from several threads mixes them)")
    print(f"ratio with/without json.loads: {parsed / read_only:.2f}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
