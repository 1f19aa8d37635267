"""The browser UI as an operator relies on it, in headless Chromium: what
Apply wrote and the modified mark, pages that keep their edits and ask
before losing them, the log in words, a server that goes and comes back,
two browsers (one acts, one watches) and the accessibility of every page.
The station has four sensors from the start."""

import os
import re
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

import browser_test
import serve_support as support
from browser_test import screenshot_on_failure

def browser(profiles):
    options = webdriver.ChromeOptions()
    options.binary_location = browser_test.CHROMIUM
    profile = tempfile.mkdtemp(prefix="zvhost-chromium-")
    profiles.append(profile)
    for argument in browser_test.CHROMIUM_ARGUMENTS + ["--user-data-dir=" + profile]:
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(browser_test.CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(browser_test.WAIT)
    return driver


class OperatorTest(browser_test.Operator, unittest.TestCase):
    def setUp(self):
        self.files = support.make_station(self.zvhost, "1")
        support.create_settings(self.zvhost, self.files, 1, 4)
        self.server = support.Server(self.zvhost, self.files, ["--box-timeout", "600"])
        self.profiles = []
        self.others = []
        self.driver = browser(self.profiles)
        self.driver.get(self.server.url + "/")
        self.wait = WebDriverWait(self.driver, browser_test.WAIT)
        self.until(lambda: self.find("#connection").text == "connected", "the event stream")

    def tearDown(self):
        for other in self.others:
            other.quit()
        self.driver.quit()
        status = self.server.stop()
        support.remove(self.files)
        for profile in self.profiles:
            support.remove(profile)
        self.assertEqual(status, 0, self.server.stderr.decode(errors="replace"))

    def shown(self, selector):
        found = self.driver.find_elements(By.CSS_SELECTOR, selector)
        return bool(found) and found[0].is_displayed()

    def status(self):
        return self.find("#status").text

    def edit_text(self, id_):
        return self.control(id_).get_attribute("value")

    def leave_answer(self, answer):
        self.find("dialog#leave[open]")
        self.driver.find_element(By.CSS_SELECTOR, 'dialog#leave button[data-answer="%s"]' % answer).click()
        self.until(lambda: not self.shown("dialog#leave[open]"), "the question to close")

    def page_calls(self):
        return [e["action"] for e in self.server.state()["log"] if e["event"] == "page"]

    # ---- Apply, the mark, the log ---------------------------------------------------------------

    @screenshot_on_failure
    def test_apply_says_what_it_wrote_and_the_mark_tells_the_truth(self):
        self.node("SN1")
        self.find('.dialog[data-page="1014"]')  # Free: its mark never showed before
        self.assertFalse(self.shown("#modified"))
        self.type_into(1026, "12")
        self.find("#apply").click()  # leaves the edit first: the page takes the value then
        self.until(lambda: "SN1/Settings.xml written" in self.status(), "the status line")
        self.assertIn("<OutputBatchCount>12", open(os.path.join(self.files, "SN1", "Settings.xml")).read())
        self.until(lambda: not self.shown("#modified"), "the mark cleared by Apply")
        # Apply reached without leaving the edit (from the keyboard, say) still
        # hands the page the text first.
        self.type_into(1026, "13")
        self.driver.execute_script("document.getElementById('apply').click()")
        self.until(lambda: "<OutputBatchCount>13" in open(os.path.join(self.files, "SN1", "Settings.xml")).read(),
                   "the text typed last written")

        self.type_into(1026, "30")
        self.find("#page-title").click()
        self.until(lambda: self.shown("#modified"), "the mark")
        self.find("#reload").click()
        self.until(lambda: "Reloaded" in self.status(), "the status line after Reload")
        self.until(lambda: not self.shown("#modified"), "the mark cleared by Reload")
        self.until(lambda: self.edit_text(1026) == "13", "the value read again")

        # Nothing written: the status line says why.
        os.remove(os.path.join(self.files, "SN1", "Settings.xml"))
        self.type_into(1026, "31")
        self.find("#apply").click()
        self.until(lambda: self.status().startswith("Apply failed, nothing written"), "the failure")
        self.assertIn("error", self.find("#status").get_attribute("class"))
        self.assertTrue(self.shown("#modified"))

        # The log in words, each line with its time and node.
        lines = [li.text for li in self.driver.find_elements(By.CSS_SELECTOR, "#log li")]
        self.assertTrue(lines)
        for line in lines:
            self.assertIsNone(re.search(r'[{}]"', line), line)
            self.assertRegex(line, r"^\d\d:\d\d:\d\d\.\d{3}")
        self.assertTrue(any(re.search(r"\sSN1\s+File SN1/Settings.xml written", line) for line in lines), lines)
        # Nothing the page asks for is an error in the console: its icon neither.
        errors = [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(errors, [])

    # ---- The Capture page ------------------------------------------------------------------------

    @screenshot_on_failure
    def test_the_capture_shows_what_it_records_and_the_displays_that_are_not_live(self):
        self.node("Capture")
        self.find('.dialog[data-page="1020"]')
        self.find("#play").click()
        recording = self.find("#recording")
        batches = lambda: int(re.search(r"(\d+) batches", recording.text).group(1))
        self.until(lambda: recording.text.startswith("Recording into Capture/") and batches() > 0,
                   "the recording shown")
        self.find("#stop").click()
        self.until(lambda: self.find("#running").text == "stopped", "Stop")
        # Leaving the page ends the capture: it is listed whole, with its replay.
        self.node("SN1")
        self.until(lambda: recording.text.startswith("Capture Capture/"), "the capture listed")
        self.assertIn("zvhost run --files DIR --input Capture/", recording.text)
        folder = re.search(r"Capture (Capture/\S+):", recording.text).group(1)
        segments = [li.text for li in recording.find_elements(By.CSS_SELECTOR, ".segments li")]
        self.assertTrue(segments)
        for segment in segments:
            self.assertTrue(segment.startswith(folder + "/"), segment)
            self.assertTrue(os.path.exists(os.path.join(self.files, segment)), segment)
        # SN1's Free page runs nothing until Play: its display is not live.
        self.find('figure[data-display="Free"]')
        self.assertTrue(self.shown('figure[data-display="Free"] .frozen-mark'))

    # ---- Pages as a property sheet's ----------------------------------------------------------------

    @screenshot_on_failure
    def test_pages_keep_their_edits_and_leaving_asks(self):
        self.node("SN1")
        self.find('.dialog[data-page="1014"]')
        self.tab(1014)  # the open tab again: nothing is made anew
        self.type_into(1026, "33")
        self.find("#page-title").click()
        self.until(lambda: self.shown("#modified"), "the mark")
        opened = self.page_calls().count("create")

        # Stay: nothing moves.
        self.click('#tabs button[data-page="1015"]')
        self.leave_answer("Stay")
        self.assertEqual(self.edit_text(1026), "33")
        self.assertTrue(self.find('.dialog[data-page="1014"]'))
        # Discard: the edits go, the page stays made.
        self.click('#tabs button[data-page="1015"]')
        self.leave_answer("Discard")
        self.find('.dialog[data-page="1015"]')
        self.tab(1014)
        self.until(lambda: self.edit_text(1026) != "33", "the edit discarded")
        self.assertNotIn("destroy", self.page_calls())
        self.assertEqual(self.page_calls().count("create"), opened + 1)  # Detection, once
        # Apply: written, then the other node.
        self.type_into(1026, "34")
        self.find("#page-title").click()
        self.until(lambda: self.shown("#modified"), "the mark")
        self.node("SN1/A")
        self.leave_answer("Apply")
        self.find('.dialog[data-page="1019"]')
        self.assertIn("<OutputBatchCount>34", open(os.path.join(self.files, "SN1", "Settings.xml")).read())
        self.assertEqual(self.page_calls().count("destroy"), 2)  # both pages of SN1

    # ---- The server goes and comes back ----------------------------------------------------------

    @screenshot_on_failure
    def test_a_server_gone_or_full_is_shown_and_the_page_comes_back(self):
        port = int(self.server.url.rsplit(":", 1)[1])
        self.node("SN1")
        self.find('.dialog[data-page="1014"]')
        self.assertEqual(self.server.stop(), 0)
        self.until(lambda: self.shown("#banner") and "does not answer" in self.find("#banner").text, "the banner")
        self.assertEqual(self.driver.execute_script("return document.getElementById('pages').inert"), True)
        self.server = support.Server(self.zvhost, self.files, ["--box-timeout", "600"], port=port)
        self.until(lambda: not self.shown("#banner"), "the page back by itself")
        self.until(lambda: self.find("#connection").text == "connected", "the stream again")
        self.assertEqual(self.driver.execute_script("return document.getElementById('pages').inert"), False)

        # Every stream the server allows taken: the page says so, and gets
        # in once one is free.
        self.driver.get("about:blank")
        time.sleep(1.5)  # the server notices the page's own stream gone
        streams = []
        try:
            for _ in range(8):
                s = self.server.connect()
                s.sendall(("GET /api/events HTTP/1.1\r\nHost: %s\r\n\r\n" % self.server.host).encode())
                streams.append(s)
            time.sleep(0.5)
            self.driver.get(self.server.url + "/")
            self.until(lambda: "turned this browser away" in self.find("#banner").text, "the turned-away banner")
        finally:
            for s in streams:
                s.close()
        self.until(lambda: self.find("#connection").text == "connected", "the retry getting in")
        self.assertFalse(self.shown("#banner"))

    # ---- Two browsers ----------------------------------------------------------------------------

    @screenshot_on_failure
    def test_one_browser_acts_the_other_watches(self):
        other = browser(self.profiles)
        self.others.append(other)
        other.get(self.server.url + "/")
        watcher = WebDriverWait(other, browser_test.WAIT)
        text = lambda d, selector: d.find_element(By.CSS_SELECTOR, selector).text
        watcher.until(lambda d: "holds control; you" in text(d, "#control"), "the watcher told so")
        self.until(lambda: "You (browser 1) hold control; watching: browser 2" in self.find("#control").text,
                   "the holder told so")
        self.assertTrue(other.execute_script("return document.getElementById('tree').inert"))
        self.assertTrue(other.find_element(By.ID, "take-control").is_displayed())

        # The watcher sees the holder's page live, and cannot act on it.
        self.node("SN1")
        self.type_into(1026, "21")
        watcher.until(lambda d: d.find_element(By.CSS_SELECTOR, '.dialog [data-control="1026"]')
                      .get_attribute("value") == "21", "the holder's typing shown")
        answer = other.execute_async_script("""
            const done = arguments[arguments.length - 1];
            fetch('/api/action', {method: 'POST', headers: {'Content-Type': 'application/json',
                  'X-Zv-Client': 'not-the-holder'}, body: JSON.stringify({action: 'apply'})})
              .then(async (r) => done([r.status, (await r.json()).error]));""")
        self.assertEqual(answer[0], 409)
        self.assertIn("browser 1 holds control", answer[1])

        # A message box: the holder answers it; the watcher sees it without
        # being held by it.
        self.click('#tabs button[data-page="1022"]')
        self.leave_answer("Discard")  # the typing above
        self.find('.dialog[data-page="1022"]')
        self.type_into(1025, "49")
        self.control(1013).click()
        self.find("dialog#messagebox[open]")
        watcher.until(lambda d: d.execute_script(
            "const b = document.getElementById('messagebox'); return b.open && !b.matches(':modal') && "
            "b.querySelector('button').disabled"), "the box shown to the watcher, not modal")
        self.answer_box("Invalid number of sensors entered!", "OK")
        watcher.until(lambda d: not d.execute_script("return document.getElementById('messagebox').open"),
                      "the box gone for the watcher too")

        # Control on request, and back when the holder leaves.
        other.find_element(By.ID, "take-control").click()
        watcher.until(lambda d: text(d, "#control").startswith("You (browser 2) hold control"), "control taken")
        self.until(lambda: "browser 2 holds control" in self.find("#control").text, "the first told")
        self.until(lambda: self.driver.execute_script("return document.getElementById('pages').inert"),
                   "the first browser's page out of reach")
        self.find("#take-control").click()
        self.until(lambda: self.find("#control").text.startswith("You (browser 1)"), "control back")
        self.driver.get("about:blank")
        watcher.until(lambda d: text(d, "#control").startswith("You (browser 2) hold control"),
                      "control passed when the holder left")

    # ---- Accessibility ---------------------------------------------------------------------------

    @screenshot_on_failure
    def test_every_page_is_named_and_works_from_the_keyboard(self):
        if not os.path.exists(browser_test.AXE):
            self.skipTest("axe-core is not installed (scripts/setup installs it)")
        self.driver.set_script_timeout(browser_test.WAIT)
        tree = self.server.state()["tree"]["nodes"]
        checked = 0
        for node in tree:
            for page in node["pages"]:
                self.click('#tree button[data-path="%s"]' % node["path"])
                self.tab(page["id"])
                self.assertEqual(self.axe(), [], "%s page %s" % (node["path"], page["name"]))
                checked += 1
        self.assertGreaterEqual(checked, 10)
        # Names from the template's labels: no combo list is just "items".
        self.node("SN1")
        self.tab(1022)
        self.assertEqual(self.control(1025).get_attribute("aria-label"), "Sensors")

        # The message box: modal, focus inside, Enter and Escape as its buttons.
        self.type_into(1025, "49")
        self.control(1013).send_keys(Keys.ENTER)
        self.find("dialog#messagebox[open]")
        self.until(lambda: self.driver.execute_script(
            "return document.getElementById('messagebox').contains(document.activeElement)"), "focus in the box")
        self.assertEqual(self.axe(), [], "the message box")
        self.driver.switch_to.active_element.send_keys(Keys.ENTER)
        self.until(lambda: not self.shown("dialog#messagebox[open]"), "Enter to answer the box")
        self.control(1013).send_keys(Keys.ENTER)
        self.find("dialog#messagebox[open]")
        self.driver.switch_to.active_element.send_keys(Keys.ESCAPE)
        self.until(lambda: not self.shown("dialog#messagebox[open]"), "Escape to answer the box")
        self.assertEqual([e["answer"] for e in self.server.state()["log"] if e["event"] == "messagebox"],
                         ["OK", "OK"])


if __name__ == "__main__":
    unittest.main()
