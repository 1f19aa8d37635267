#!/usr/bin/python3
"""Measures zvhost serve with the Free mode playing on four sensors (50
batches a second):

 1. how many updates of the "Free" display a reader receives each second:
    an event-stream reader that fetches each newer picture as the page does
    (one fetch at a time), and, with --browser, the page in headless
    Chromium counting the pictures it shows;
 2. the server's memory (RSS) while Free plays for --soak seconds with no
    browser reading.

  bench/web_serve.py --zvhost build/host/zvhost [--seconds 20] [--soak 300] [--browser]

Prints one line per measurement and a JSON summary at the end."""

import argparse
import http.client
import json
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import serve_support as support  # noqa: E402


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def free_generation(server):
    for d in server.state()["displays"]["displays"]:
        if d["name"] == "Free":
            return d["generation"]
    return 0


def stream_reader(server, seconds):
    """Pictures of "Free" an event-stream reader fetches in `seconds`."""
    host, port = server.host.rsplit(":", 1)
    latest = [0]
    stop = threading.Event()

    def listen():
        connection = http.client.HTTPConnection(host, int(port), timeout=30)
        connection.request("GET", "/api/events")
        response = connection.getresponse()
        event = None
        while not stop.is_set():
            line = response.fp.readline()
            if not line:
                break
            line = line.decode().rstrip("\n")
            if line.startswith("event: "):
                event = line[7:]
            elif line.startswith("data: ") and event == "displays":
                for d in json.loads(line[6:])["displays"]:
                    if d["name"] == "Free":
                        latest[0] = d["generation"]
        connection.close()

    listener = threading.Thread(target=listen, daemon=True)
    listener.start()
    fetched = 0
    shown = 0
    start = time.monotonic()
    while time.monotonic() - start < seconds:
        if latest[0] <= shown:
            time.sleep(0.001)
            continue
        answer = server.request("/api/display?name=Free")
        if answer.status == 200:
            shown = int(answer.headers["X-Generation"])
            fetched += 1
    elapsed = time.monotonic() - start
    stop.set()
    return fetched / elapsed


def browser_reader(server, seconds):
    """Pictures of "Free" the page shows in headless Chromium in `seconds`."""
    import tempfile
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    import browser_test

    options = webdriver.ChromeOptions()
    options.binary_location = browser_test.CHROMIUM
    profile = tempfile.mkdtemp(prefix="zvhost-bench-chromium-")
    for argument in browser_test.CHROMIUM_ARGUMENTS + ["--user-data-dir=" + profile]:
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(browser_test.CHROMEDRIVER), options=options)
    try:
        driver.get(server.url + "/")
        support.wait_until(lambda: driver.execute_script("return (window.zvDisplayUpdates.Free || 0)") > 0, 30,
                           "the page to show the Free display")
        before = driver.execute_script("return window.zvDisplayUpdates.Free")
        time.sleep(seconds)
        after = driver.execute_script("return window.zvDisplayUpdates.Free")
        return (after - before) / seconds
    finally:
        driver.quit()
        support.remove(profile)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zvhost", required=True)
    parser.add_argument("--seconds", type=float, default=20, help="length of each update-rate measurement")
    parser.add_argument("--soak", type=float, default=300, help="seconds of play with no reader")
    parser.add_argument("--browser", action="store_true", help="also count in headless Chromium")
    args = parser.parse_args()

    files = support.make_station(args.zvhost, "1")
    support.create_settings(args.zvhost, files, 1, 4)
    server = support.Server(args.zvhost, files)
    summary = {}
    try:
        assert server.request("/api/open", {"node": "SN1/A", "page": 1019}).status == 200
        assert server.request("/api/play", {"on": True}).status == 200
        time.sleep(2)
        g0, t0 = free_generation(server), time.monotonic()
        time.sleep(5)
        summary["batches_per_second"] = round((free_generation(server) - g0) / (time.monotonic() - t0), 1)
        print("Free batches a second (outputs of the Free display): %.1f" % summary["batches_per_second"])

        summary["stream_updates_per_second"] = round(stream_reader(server, args.seconds), 1)
        print("updates of Free a second, event-stream reader: %.1f" % summary["stream_updates_per_second"])
        if args.browser:
            summary["browser_updates_per_second"] = round(browser_reader(server, args.seconds), 1)
            print("updates of Free a second, headless Chromium: %.1f" % summary["browser_updates_per_second"])

        # No reader: the memory must stay flat while Free plays on.
        time.sleep(5)
        samples = []
        start = time.monotonic()
        g0 = free_generation(server)
        while time.monotonic() - start < args.soak:
            samples.append(rss_kib(server.pid()))
            time.sleep(min(5, args.soak / 10))
        samples.append(rss_kib(server.pid()))
        batches = free_generation(server) - g0
        low, high = min(samples), max(samples)
        summary.update({"soak_seconds": args.soak, "soak_batches": batches, "rss_first_kib": samples[0],
                        "rss_last_kib": samples[-1], "rss_min_kib": low, "rss_max_kib": high,
                        "rss_spread_percent": round(100.0 * (high - low) / low, 2)})
        print("RSS over %.0f s of play (%d batches), no reader: first %d KiB, last %d KiB, min %d, max %d "
              "(spread %.2f %%)" % (args.soak, batches, samples[0], samples[-1], low, high,
                                   summary["rss_spread_percent"]))
    finally:
        server.request("/api/play", {"on": False})
        summary["exit_status"] = server.stop()
        support.remove(files)
    print(json.dumps(summary))
    ok = summary["stream_updates_per_second"] >= 25 and summary["rss_spread_percent"] <= 10
    if args.browser:
        ok = ok and summary["browser_updates_per_second"] >= 25
    return 0 if ok and summary["exit_status"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
