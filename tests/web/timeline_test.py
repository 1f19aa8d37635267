"""A capture replayed in the browser with its timeline, in headless
Chromium: a seek shows what a whole run showed after that batch (the same
table as `zvhost run --to N`, the same picture as stepping there), steps
forward and back, a seek by time, the speed, play and pause; a watcher's
requests are refused; a capture the Capture page lists replays from its
button."""

import json
import os
import re
import subprocess
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

import browser_test
import operator_test
import serve_support as support
from browser_test import screenshot_on_failure

PERIOD = 0.05  # seconds between two Detection batches: their time without stamps


class TimelineTest(browser_test.Operator, unittest.TestCase):
    def setUp(self):
        self.files = support.make_station(self.zvhost, "1")
        support.create_settings(self.zvhost, self.files, 1, 4)
        self.server = None
        self.profiles = []
        self.driver = None

    def tearDown(self):
        if self.driver:
            self.driver.quit()
        status = self.server.stop() if self.server else 0
        support.remove(self.files)
        for profile in self.profiles:
            support.remove(profile)
        self.assertEqual(status, 0, self.server.stderr.decode(errors="replace") if self.server else "")

    def open_browser(self, extra=()):
        self.server = support.Server(self.zvhost, self.files, list(extra))
        self.driver = operator_test.browser(self.profiles)
        self.driver.get(self.server.url + "/")
        self.wait = WebDriverWait(self.driver, browser_test.WAIT)
        self.until(lambda: self.find("#connection").text == "connected", "the event stream")

    def record(self):
        """Three seconds of Detection recorded through the Capture page: its folder."""
        subprocess.run([self.zvhost, "page", "--files", self.files, "--node", "Capture", "--page", "Capture",
                        "--script", "-"], input=b"play 3\n", check=True, stdout=subprocess.DEVNULL)
        return "Capture/" + os.listdir(os.path.join(self.files, "Capture"))[0]

    def cli(self, capture, *args):
        run = subprocess.run([self.zvhost, "run", "Detection", "--files", self.files, "--input",
                              os.path.join(self.files, capture), "--json", "--full"] + list(args),
                             check=True, stdout=subprocess.PIPE)
        return [json.loads(line) for line in run.stdout.decode().splitlines() if line.strip()]

    def shown(self):
        return int(self.find("#timeline-position").get_attribute("data-shown"))

    def table(self, display):
        """The cells the page shows of a table display, row by row."""
        rows = self.driver.find_elements(By.CSS_SELECTOR, 'figure[data-display="%s"] table tr' % display)
        return [[cell.text for cell in row.find_elements(By.CSS_SELECTOR, "th, td")] for row in rows]

    def seek_batch(self, batch):
        field = self.find("#timeline-batch")
        field.clear()
        field.send_keys(str(batch))
        self.click("#timeline-seek-batch button")
        self.until(lambda: self.shown() == batch, "batch %d shown" % batch)

    def picture(self, display):
        answer = self.server.request("/api/display?name=" + display)
        self.assertEqual(answer.status, 200, answer.body)
        return answer.body

    @screenshot_on_failure
    def test_a_seek_shows_what_the_run_showed_after_that_batch(self):
        capture = self.record()
        whole = self.cli(capture)
        # The batches after which Statistics changed: each object's end.
        ends, models, batch = [], [], 0
        for e in whole:
            if e["event"] == "output" and e["display"] == "Statistics":
                ends.append(batch)
            if e["event"] == "output" and e["display"] == "Detection":
                models.append(batch)
            if e["event"] == "handler" and e.get("phase") == "process":
                batch += 1
        count = batch
        self.assertGreaterEqual(len(ends), 2, "the capture holds two objects")
        self.open_browser(["--input", os.path.join(self.files, capture)])
        self.until(lambda: self.shown_element("#timeline"), "the timeline")
        self.assertIn("of %d" % count, self.find("#timeline-position").text)
        Select(self.find("#timeline-mode")).select_by_value("Detection")

        # Forward past the second object, back between the two, forward again:
        # each time the table the command line shows after that batch.
        for n in (ends[1] + 2, ends[0] + 1, ends[1] + 2):
            self.seek_batch(n)
            tables = [e for e in self.cli(capture, "--to", str(n)) if e["event"] == "summary"][0]["tables"]
            expected = [tables["Statistics"]["columns"]] + tables["Statistics"]["rows"]
            self.until(lambda: self.table("Statistics") == expected, "the table after batch %d" % n)
        sought = self.picture("Detection")
        self.until(lambda: self.driver.find_elements(By.CSS_SELECTOR, 'figure[data-display="Detection"] canvas'),
                   "the polar model drawn")
        self.driver.save_screenshot(os.path.join(self.artifacts, "replay-timeline.png"))

        # Stepping there from the start draws the same picture.
        self.seek_batch(0)
        step = self.find("#timeline-step")
        for n in range(1, ends[1] + 3):
            step.click()
            self.until(lambda: self.shown() == n, "batch %d stepped to" % n)
        self.assertEqual(self.picture("Detection"), sought)
        # The 3D view holds the objects up to here, none it showed before
        # the seek back.
        objects = min(3, sum(1 for b in models if b <= ends[1] + 2))
        self.until(lambda: "(%d in view)" % objects in self.find(".solid-view").text, "the objects in 3D")
        self.click("#timeline-back")
        self.until(lambda: self.shown() == ends[1] + 1, "a step back")

        # A time is its batch's: Detection's batches are 50 ms apart.
        field = self.find("#timeline-time")
        field.clear()
        field.send_keys("0.5")
        self.click("#timeline-seek-time button")
        self.until(lambda: self.shown() == round(0.5 / PERIOD), "the batch at 0.5 s")
        self.assertIn("0.50 s", self.find("#timeline-position").text)

        # Played at 8x it runs on, and stops where it is paused.
        Select(self.find("#timeline-speed")).select_by_value("8")
        self.until(lambda: self.server.state()["pipes"]["timeline"]["speed"] == 8, "the speed")
        before = self.shown()
        self.click("#timeline-play")
        self.until(lambda: self.shown() > before + 5, "playing")
        self.click("#timeline-pause")
        self.until(lambda: not self.server.state()["pipes"]["timeline"]["playing"], "paused")
        paused = self.shown()
        self.assertLessEqual(self.shown(), paused + 1)

        # A browser that watches is refused; bad requests say what is wrong.
        watcher = {"X-Zv-Client": "watcher-1"}
        answer = self.server.request("/api/timeline", {"action": "seek", "batch": 3}, headers=watcher)
        self.assertEqual(answer.status, 409, answer.body)
        self.assertIn("holds control", answer.json()["error"])
        holder = {"X-Zv-Client": self.driver.execute_script("return clientId")}
        for body, status, words in (
                ({"action": "rewind"}, 400, "no timeline action"),
                ({"action": "speed", "speed": 16}, 400, "0.25 to 8"),
                ({"action": "seek", "batch": count}, 400, "beyond the recording"),
                ({"action": "seek", "time": -1}, 400, "0 or more"),
                ({"action": "seek"}, 400, "its \"batch\" or its \"time\""),
                ({"action": "replay", "capture": "Capture/../SN1"}, 409, "no capture folder"),
                ({"action": "replay", "capture": "/etc"}, 409, "no capture folder")):
            answer = self.server.request("/api/timeline", body, headers=holder)
            self.assertEqual((answer.status, words in answer.json().get("error", "")), (status, True),
                             (body, answer.body))
        self.assertEqual(self.shown(), paused)

    def shown_element(self, selector):
        found = self.driver.find_elements(By.CSS_SELECTOR, selector)
        return bool(found) and found[0].is_displayed()

    @screenshot_on_failure
    def test_the_capture_page_replays_its_capture_here(self):
        self.open_browser()
        self.assertFalse(self.shown_element("#timeline"))
        self.node("Capture")
        self.find('.dialog[data-page="1020"]')
        self.find("#play").click()
        recording = self.find("#recording")
        self.until(lambda: re.search(r"[1-9]\d* batches", recording.text), "batches recorded")
        self.find("#stop").click()
        self.node("SN1")
        self.until(lambda: recording.text.startswith("Capture Capture/"), "the capture listed")
        self.assertIn("zvhost run --files DIR --input Capture/", recording.text)
        self.click("#recording button.replay")
        self.until(lambda: self.shown_element("#timeline"), "the timeline")
        self.assertIn("Replay of", self.find("#timeline-title").text)
        Select(self.find("#timeline-mode")).select_by_value("Detection")
        self.click("#timeline-step")
        self.until(lambda: self.shown() == 0, "the first batch")
        self.until(lambda: self.server.state()["pipes"]["running"], "Detection running on the capture")


if __name__ == "__main__":
    unittest.main()
