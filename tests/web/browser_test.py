"""The browser UI in headless Chromium, acting as an operator would: the
tree, System Config with its message box, the new sensors, the Sensor
Setup page, the live Free display, Play and Stop. Each test saves a
screenshot when it fails."""

import functools
import json
import os
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

from selenium import webdriver
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

import serve_support as support

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Headless as root on a machine without a network.
CHROMIUM_ARGUMENTS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update", "--disable-sync",
                      "--no-proxy-server", "--disable-dev-shm-usage", "--window-size=1500,1000"]
# The accessibility checker scripts/setup installs.
AXE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "node_modules", "axe-core", "axe.min.js")
# The sanitizer build is several times slower: room for it.
WAIT = float(os.environ.get("ZV_WEB_WAIT", "60"))


def screenshot_on_failure(test):
    @functools.wraps(test)
    def run(self):
        try:
            test(self)
        except unittest.SkipTest:
            raise
        except BaseException:
            path = os.path.join(self.artifacts, "failure-%s.png" % test.__name__)
            try:
                self.driver.save_screenshot(path)
                print("screenshot of the failure: " + path)
            except Exception as e:  # the browser itself may be gone
                print("no screenshot: %s" % e)
            raise
    return run


class Operator:
    """What an operator does in the page, for the test cases here and in
    operator_test."""
    zvhost = None       # set by run.py
    artifacts = None

    def find(self, selector):
        return self.wait.until(lambda d: d.find_element(By.CSS_SELECTOR, selector), "no " + selector)

    def until(self, condition, what):
        return self.wait.until(lambda d: condition(), "timed out waiting for " + what)

    def click(self, selector):
        """Clicks what `selector` finds; the page redraws the tree and the tabs
        whenever the server publishes them, so a button found a moment ago may
        be gone: find it again."""
        def attempt(driver):
            try:
                driver.find_element(By.CSS_SELECTOR, selector).click()
                return True
            except (StaleElementReferenceException, NoSuchElementException):
                return False
        self.wait.until(attempt, "could not click " + selector)

    def node(self, path):
        self.click('#tree button[data-path="%s"]' % path)

    def tab(self, page):
        self.click('#tabs button[data-page="%d"]' % page)
        self.find('.dialog[data-page="%d"]' % page)

    def axe(self):
        """The serious and critical violations axe-core finds on the page now."""
        if not getattr(self, "_axe", None):
            with open(AXE) as f:
                self._axe = f.read()
        self.driver.execute_script(self._axe)
        result = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            axe.run(document, {resultTypes: ['violations']})
              .then((r) => done(JSON.stringify(r.violations.filter((v) => v.impact === 'serious' ||
                                                                      v.impact === 'critical')
                .map((v) => ({id: v.id, help: v.help, nodes: v.nodes.map((n) => n.target.join(' '))})))))
              .catch((e) => done(JSON.stringify([{id: 'axe failed', help: String(e)}])));""")
        return json.loads(result)

    def control(self, id_):
        return self.find('.dialog [data-control="%d"]' % id_)

    def type_into(self, id_, text):
        edit = self.control(id_)
        edit.click()
        edit.send_keys(Keys.CONTROL, "a")
        edit.send_keys(text)

    def answer_box(self, expected_text, answer):
        box = self.find("dialog#messagebox[open]")
        self.assertEqual(self.driver.find_element(By.ID, "messagebox-text").text, expected_text)
        box.find_element(By.CSS_SELECTOR, 'button[data-answer="%s"]' % answer).click()
        self.until(lambda: not self.driver.find_elements(By.CSS_SELECTOR, "dialog#messagebox[open]"),
                   "the message box to close")


class BrowserTest(Operator, unittest.TestCase):
    def setUp(self):
        self.files = support.make_station(self.zvhost, "1")
        self.server = support.Server(self.zvhost, self.files, ["--box-timeout", "600"])
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        self.profile = tempfile.mkdtemp(prefix="zvhost-chromium-")
        for argument in CHROMIUM_ARGUMENTS + ["--user-data-dir=" + self.profile]:
            options.add_argument(argument)
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.driver.set_page_load_timeout(WAIT)
        self.driver.get(self.server.url + "/")
        self.wait = WebDriverWait(self.driver, WAIT)

    def tearDown(self):
        self.driver.quit()
        status = self.server.stop()
        support.remove(self.files)
        support.remove(self.profile)
        self.assertEqual(status, 0, self.server.stderr.decode(errors="replace"))

    # ---- What an operator does ----------------------------------------------------------

    def generation(self, display):
        figure = self.find('figure[data-display="%s"]' % display)
        return int(figure.get_attribute("data-generation") or 0)

    def create_sensors(self):
        """Server SN1 has no Settings.xml: its only page is System Config."""
        self.node("SN1")
        self.find('.dialog[data-page="1022"]')
        self.assertEqual([t.get_attribute("data-page") for t in self.driver.find_elements(By.CSS_SELECTOR, "#tabs button")],
                         ["1022"])
        self.type_into(1025, "49")
        self.control(1013).click()
        self.answer_box("Invalid number of sensors entered!", "OK")
        self.assertFalse(os.path.exists(os.path.join(self.files, "SN1", "Settings.xml")))
        self.type_into(1025, "4")
        self.control(1013).click()
        for sensor in "ABCD":
            self.find('#tree button[data-path="SN1/%s"]' % sensor)
        self.until(lambda: "unique vertex view" in self.find("#log").text, "the page's notice in the log")

    # ---- The tests ---------------------------------------------------------------------------

    @screenshot_on_failure
    def test_operator_creates_the_sensors_and_watches_free_running(self):
        self.find('#tree button[data-path="Capture"]')
        self.create_sensors()

        # A sensor's Free page: both pipes in Free, its display live while playing.
        self.node("SN1/A")
        self.find('.dialog[data-page="1019"]')
        self.until(lambda: "client: Free" in self.find("#pipes").text, "the client pipe in Free")
        self.until(lambda: self.generation("Free") > 0, "the page's empty Free plot")
        self.find("#play").click()
        first = self.generation("Free")
        seen = set()

        def advanced():
            seen.add(self.generation("Free"))
            return len(seen) >= 6 and max(seen) > first
        self.until(advanced, "the Free display to update while Free plays")
        self.assertTrue(self.server.state()["pipes"]["running"])
        # The run's warning about the new sensors' settings, while it runs.
        notes = self.find("#run-notes")
        self.until(lambda: "share the same vertex view" in notes.text, "the run's warning as a banner")
        self.driver.save_screenshot(os.path.join(self.artifacts, "web-ui.png"))

        self.find("#stop").click()
        self.until(lambda: self.find("#running").text == "stopped", "Stop")
        self.until(lambda: not notes.is_displayed(), "the warning gone with the run")
        self.assertFalse(self.server.state()["pipes"]["playing"])

        def shown():  # what the server has: the browser may still fetch the last picture
            return [d["generation"] for d in self.server.state()["displays"]["displays"] if d["name"] == "Free"]
        stopped = shown()
        time.sleep(0.5)
        self.assertEqual(shown(), stopped)

    @screenshot_on_failure
    def test_operator_opens_the_address_printed_off_loopback(self):
        """Off loopback the printed address lets the operator in; the page
        goes on with its cookie: the stream, the tree, opening a page."""
        self.server.stop()
        self.server = support.Server(self.zvhost, self.files, ["--bind", "0.0.0.0", "--box-timeout", "600"])
        line = self.server.next_line()
        self.assertIn("?token=", line)
        address = line.split("open ", 1)[1].split(" ", 1)[0].replace("0.0.0.0", "127.0.0.1", 1)
        self.driver.get(address.split("?", 1)[0])
        self.until(lambda: "token" in self.driver.page_source, "the refusal that asks for the token")
        self.driver.get(address)
        self.until(lambda: "token" not in self.driver.current_url, "the page's own address")
        self.until(lambda: self.find("#connection").text == "connected", "the event stream")
        self.node("SN1")
        self.find('.dialog[data-page="1022"]')

    @screenshot_on_failure
    def test_operator_chooses_a_vertex_view_and_applies_it(self):
        if support.sensor_page_name(self.zvhost, 1002) == "":
            self.skipTest("the plug-in has no Sensor Setup page (1002) yet")
        self.create_sensors()
        self.node("SN1/B")
        self.tab(1002)
        views = Select(self.control(1021))
        self.until(lambda: len(views.options) > 2, "the vertex views")
        self.assertTrue(self.find("#modified").get_attribute("hidden"))
        views.select_by_visible_text("2")
        self.until(lambda: not self.find("#modified").get_attribute("hidden"), "the modified mark")
        self.find("#apply").click()
        self.until(lambda: vertex_view(self.files, "B") == "2", "VertexView 2 in Settings.xml")
        self.assertEqual(vertex_view(self.files, "A"), "0")


def vertex_view(files, sensor):
    """The VertexView text of sensor `sensor` in SN1's Settings.xml, or None."""
    try:
        root = ET.parse(os.path.join(files, "SN1", "Settings.xml")).getroot()
    except (OSError, ET.ParseError):
        return None
    for element in root.iter():
        if element.findtext("Name") == sensor and element.find("VertexView") is not None:
            return element.findtext("VertexView").strip()
    return None
