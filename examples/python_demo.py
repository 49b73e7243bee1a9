#!/usr/bin/env python3
"""Python demo of the zel gateway client: logs in, subscribes, parses every
record with json.loads and prints a summary.

  python_demo.py --sim build/sim/zel-sim        starts the simulated service itself
  python_demo.py --server 127.0.0.1:9550 --user demo --password demo

Needs the module on the path: PYTHONPATH=<build>/python (or an installed copy).
Exits non-zero when the login fails or no record arrives."""
import argparse
import collections
import json
import subprocess
import sys
import threading
import time

import zel_gateway_client as zel


class Summary(zel.Notify):
    """Counts records by kind and channel; keeps the first one of each kind."""

    def __init__(self):
        super().__init__()
        self.lock = threading.Lock()
        self.kinds = collections.Counter()
        self.channels = collections.Counter()
        self.samples = {}
        self.site_types = ()
        self.subscribe_answers = []

    def OnLoginDiscoverySuccess(self, data, site_types):
        self.site_types = site_types

    def OnSubscribeResponse(self, data, length):
        self.subscribe_answers.append(json.loads(zel.cdata(data, length)))

    def OnMarketData(self, data, length):
        record = json.loads(zel.cdata(data, length))
        # The envelope carries the channel and the record type; the record is
        # the one member named after its message.
        kind = next((key for key in record if key not in ("ZELMessageChannel", "ZELRecordType")), "?")
        with self.lock:
            self.kinds[kind] += 1
            self.channels[record.get("ZELMessageChannel", 0)] += 1
            self.samples.setdefault(kind, record[kind] if kind in record else record)

    def total(self):
        with self.lock:
            return sum(self.kinds.values())


def start_sim(program):
    """zel-sim on free loopback ports; returns the process and the discovery address."""
    sim = subprocess.Popen([program, "--stats", "0", "--rate", "200", "--securities", "200"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    address = None
    for line in sim.stdout:
        print("  sim: " + line.rstrip())
        if line.startswith("discovery ") and address is None:
            address = line.split()[1]
        if line.startswith("ready"):
            break
    threading.Thread(target=lambda: [None for _ in sim.stdout], daemon=True).start()
    if address is None:
        sim.kill()
        raise SystemExit("python demo: the simulated service did not start")
    return sim, address


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sim", help="start this zel-sim program and use it")
    parser.add_argument("--server", help="discovery server ip:port")
    parser.add_argument("--user", default="demo")
    parser.add_argument("--password", default="demo")
    parser.add_argument("--types", default="3,20", help="data types to subscribe (comma separated)")
    parser.add_argument("--seconds", type=float, default=5, help="how long to receive after subscribing")
    args = parser.parse_args()

    sim = None
    if args.sim:
        sim, args.server = start_sim(args.sim)
    if not args.server:
        parser.error("give --server or --sim")
    ip, port = args.server.rsplit(":", 1)

    summary = Summary()
    zel.python_init_env()
    # The library's own log lines stay out of the demo's output and folder.
    zel.python_close_cout_log()
    zel.python_close_file_log()
    zel.Notify_Regist(summary)
    try:
        print(f"python demo: logging in at {ip}:{port} (returns once every site's node has answered)")
        login = {"UserName": args.user, "Password": args.password, "MainServerIP": ip,
                 "MainServerPort": int(port), "Thread_Count": 2}
        result = zel.python_login(json.dumps(login), 0)
        if result != 0:
            print(f"python demo: login failed with {result}", file=sys.stderr)
            return 1
        print(f"python demo: logged in, site types {summary.site_types}")
        types = [int(value) for value in args.types.split(",") if value]
        result = zel.python_subscribeByDataType(json.dumps({"SubType": 1, "ZelDataTypes": types}), 0)
        print(f"python demo: subscribed to data types {types}: result {result}, "
              f"permitted {[answer.get('permittedDataTypes', []) for answer in summary.subscribe_answers]}")
        started = time.monotonic()
        time.sleep(args.seconds)
        elapsed = time.monotonic() - started
    finally:
        zel.python_logout()
        zel.python_fini_env()
        if sim is not None:
            sim.stdin.write("quit\n")
            sim.stdin.close()
            sim.wait(timeout=10)

    total = summary.total()
    print(f"python demo: {total} records in {elapsed:.1f} s ({total / elapsed:.0f}/s), "
          f"{len(summary.channels)} channels")
    for kind, count in sorted(summary.kinds.items()):
        sample = summary.samples[kind]
        print(f"  {kind}: {count} records, e.g. {sample.get('ZELSecurityID', '?')} "
              f"LastPx={sample.get('LastPx', '-')} ({len(sample)} fields)")
    return 0 if total > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
