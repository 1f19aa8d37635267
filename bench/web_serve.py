#!/usr/bin/python3
"""Measures zvhost serve with the Free mode playing on four sensors (50
batches a second):

 1. how many updates of the "Free" display a reader receives each second:
    an event-stream reader that fetches each newer picture as the page does
    (one fetch at a time), and, with --browser, the page in headless
    Chromium counting the pictures it shows;
 2. the server's memory (RSS) while Free plays for --soak seconds with no
    browser reading;
 3. with --browser, the operator's waits in headless Chromium: from a click
    on Apply to the status line saying what was written (and the file
    written), and from a click on Play to the first live picture (goal:
    under 200 ms each), and the updates a second each of two browsers gets
    while Free plays (goal: 25 or more each);
 4. with --browser, the displays drawn in the page from their numbers beside
    the host's PNG pictures (the page's ?pictures=png), one browser each in
    turn in the same run: the Free updates it shows a second (goal: 45 or
    more of the 50) and the host's CPU it costs, over what the host spends
    playing with no browser (goal: at most 15 % of a core).

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


def chromium():
    """A headless Chromium and the profile folder it uses."""
    import tempfile
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    import browser_test

    options = webdriver.ChromeOptions()
    options.binary_location = browser_test.CHROMIUM
    profile = tempfile.mkdtemp(prefix="zvhost-bench-chromium-")
    for argument in browser_test.CHROMIUM_ARGUMENTS + ["--user-data-dir=" + profile]:
        options.add_argument(argument)
    return webdriver.Chrome(service=Service(browser_test.CHROMEDRIVER), options=options), profile


def browser_reader(server, seconds, browsers=1):
    """Pictures of "Free" each of `browsers` pages shows in headless Chromium
    in `seconds`, a second."""
    opened = [chromium() for _ in range(browsers)]
    try:
        for driver, _ in opened:
            driver.get(server.url + "/")
            support.wait_until(lambda: driver.execute_script("return (window.zvDisplayUpdates.Free || 0)") > 0,
                               30, "the page to show the Free display")
        before = [d.execute_script("return window.zvDisplayUpdates.Free") for d, _ in opened]
        time.sleep(seconds)
        after = [d.execute_script("return window.zvDisplayUpdates.Free") for d, _ in opened]
        return [(a - b) / seconds for a, b in zip(after, before)]
    finally:
        for driver, profile in opened:
            driver.quit()
            support.remove(profile)


def cpu_seconds(pid):
    """User and system CPU time of process `pid` so far, in seconds."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_share(pid, seconds):
    """The share of a core process `pid` uses over `seconds`, in percent."""
    c0, t0 = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return 100.0 * (cpu_seconds(pid) - c0) / (time.monotonic() - t0)


def drawing_paths(server, seconds):
    """For the page drawing the numbers and for the host's PNG pictures, one
    headless Chromium at a time: the Free updates it shows a second, the
    host's CPU with it (percent of a core) and what that is over the host's
    CPU with no browser."""
    idle = cpu_share(server.pid(), seconds)
    results = {"host_cpu_without_browser_percent": round(idle, 1)}
    for path, query in (("numbers", ""), ("png", "?pictures=png")):
        driver, profile = chromium()
        try:
            driver.get(server.url + "/" + query)
            support.wait_until(lambda: driver.execute_script("return (window.zvDisplayUpdates.Free || 0)") > 0,
                               30, "the page to show the Free display")
            time.sleep(2)
            before = driver.execute_script("return window.zvDisplayUpdates.Free")
            g0 = free_generation(server)
            t0 = time.monotonic()
            cpu = cpu_share(server.pid(), seconds)
            elapsed = time.monotonic() - t0
            shown = (driver.execute_script("return window.zvDisplayUpdates.Free") - before) / elapsed
            batches = (free_generation(server) - g0) / elapsed
        finally:
            driver.quit()
            support.remove(profile)
        results[path] = {"updates_per_second": round(shown, 1), "batches_per_second": round(batches, 1),
                         "host_cpu_percent": round(cpu, 1), "host_cpu_per_browser_percent": round(cpu - idle, 1)}
    return results


def operator_waits(server, rounds=5):
    """Milliseconds from a click on Apply to the status line naming the file
    written, and from a click on Play to the first live picture, each the
    median of `rounds`; measured in the page by its own clock."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    driver, profile = chromium()
    settings = os.path.join(server.files, "SN1", "Settings.xml")
    applies, plays = [], []
    try:
        driver.set_script_timeout(30)
        driver.get(server.url + "/")
        support.wait_until(lambda: driver.find_element(By.ID, "connection").text == "connected", 30, "the stream")
        driver.find_element(By.CSS_SELECTOR, '#tree button[data-path="SN1"]').click()
        support.wait_until(lambda: driver.find_elements(By.CSS_SELECTOR, '.dialog [data-control="1026"]'), 30,
                           "the Free page of SN1")
        for i in range(rounds):
            edit = driver.find_element(By.CSS_SELECTOR, '.dialog [data-control="1026"]')
            edit.click()
            edit.send_keys(Keys.CONTROL, "a")
            edit.send_keys(str(10 + i))
            applies.append(driver.execute_async_script("""
                const done = arguments[arguments.length - 1];
                const status = document.getElementById('status');
                const start = performance.now();
                const seen = () => status.textContent.includes('SN1/Settings.xml written') && status.dataset.round !== arguments[0];
                const look = () => { if (seen()) { status.dataset.round = arguments[0]; done(performance.now() - start); }
                                     else requestAnimationFrame(look); };
                status.textContent = '';
                document.getElementById('apply').click();
                look();""", str(i)))
            written = open(settings).read()
            assert "<OutputBatchCount>%d<" % (10 + i) in written, written[:600]
        driver.find_element(By.CSS_SELECTOR, '#tree button[data-path="SN1/A"]').click()
        support.wait_until(lambda: driver.find_elements(By.CSS_SELECTOR, '.dialog[data-page="1019"]'), 30,
                           "the Free page of SN1/A")
        for _ in range(rounds):
            plays.append(driver.execute_async_script("""
                const done = arguments[arguments.length - 1];
                const before = window.zvDisplayUpdates.Free || 0;
                const start = performance.now();
                const look = () => { if ((window.zvDisplayUpdates.Free || 0) > before) done(performance.now() - start);
                                     else requestAnimationFrame(look); };
                document.getElementById('play').click();
                look();"""))
            driver.find_element(By.ID, "stop").click()
            support.wait_until(lambda: driver.find_element(By.ID, "running").text == "stopped", 30, "Stop")
            time.sleep(0.3)
    finally:
        driver.quit()
        support.remove(profile)
    return sorted(applies)[len(applies) // 2], sorted(plays)[len(plays) // 2]


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
        if args.browser:
            apply_ms, play_ms = operator_waits(server)
            summary.update({"apply_to_status_ms": round(apply_ms, 1), "play_to_picture_ms": round(play_ms, 1)})
            print("Apply to the status line and the file written: %.1f ms; Play to the first live picture: %.1f ms"
                  % (apply_ms, play_ms))
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
            summary["browser_updates_per_second"] = round(browser_reader(server, args.seconds)[0], 1)
            print("updates of Free a second, headless Chromium: %.1f" % summary["browser_updates_per_second"])
            two = browser_reader(server, args.seconds, browsers=2)
            summary["two_browsers_updates_per_second"] = [round(r, 1) for r in two]
            print("updates of Free a second, each of two browsers: %.1f and %.1f" % tuple(two))
            paths = drawing_paths(server, args.seconds)
            summary["drawing"] = paths
            print("host CPU playing Free with no browser: %.1f %% of a core"
                  % paths["host_cpu_without_browser_percent"])
            for path, what in (("numbers", "drawn from the numbers"), ("png", "the host's PNG pictures")):
                r = paths[path]
                print("%s: %.1f updates of Free a second shown (of %.1f batches), host CPU %.1f %% of a core, "
                      "%.1f %% for the browser" % (what, r["updates_per_second"], r["batches_per_second"],
                                                   r["host_cpu_percent"], r["host_cpu_per_browser_percent"]))

        # No reader: the memory must stay flat while Free plays on.
        time.sleep(5)
        samples = []
        start = time.monotonic()
        g0 = free_generation(server)
        while time.monotonic() - start < args.soak:
            samples.append(support.rss_kib(server.pid()))
            time.sleep(min(5, args.soak / 10))
        samples.append(support.rss_kib(server.pid()))
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
        ok = ok and min(summary["two_browsers_updates_per_second"]) >= 25
        ok = ok and summary["apply_to_status_ms"] < 200 and summary["play_to_picture_ms"] < 200
        ok = ok and summary["drawing"]["numbers"]["updates_per_second"] >= 45
        ok = ok and summary["drawing"]["numbers"]["host_cpu_per_browser_percent"] <= 15
    return 0 if ok and summary["exit_status"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
