"""The displays the page draws from their numbers, in headless Chromium
(software WebGL for the 3D view): the same pictures as the host's own PNGs
of the same outputs, and Detection's objects in 3D with the size the mode
measured. The station is the demonstration's: one server, four sensors,
each with a view of its own."""

import json
import math
import os
import shutil
import subprocess
import tempfile
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.support.ui import WebDriverWait

import browser_test
import serve_support as support
from browser_test import screenshot_on_failure

# Software WebGL: headless Chromium without a GPU draws 3D with SwiftShader.
WEBGL_ARGUMENTS = ["--enable-unsafe-swiftshader", "--use-angle=swiftshader"]

# Compares the host's PNG of a display with the page's drawing of the same
# output's numbers at the PNG's size, in the page. A pixel matches when each
# of its channels lies within the range the other picture has within one
# pixel of it, widened by TOLERANCE: cairo and Chromium place the edges of
# lines and markers up to a pixel apart and smooth them differently (an
# edge's pixel is part line, part background in one and not the other).
# Counted both
# ways, so a line missing from either picture shows, over the pixels of
# `area` ([left, top, right, bottom], or all) and against the pixels drawn
# there (other than the background): a sparse plot is mostly background.
# `shift` moves the page's drawing down by that many pixels (the
# comparison's own check).
COMPARE = """
const [name, shift, tolerance, area, done] = arguments;
(async () => {
  const numbers = await fetch(`/api/display?name=${encodeURIComponent(name)}`);
  const file = await fetch(`/api/display?name=${encodeURIComponent(name)}&form=download`);
  const generations = [numbers.headers.get('X-Generation'), file.headers.get('X-Generation')];
  const content = (await numbers.json()).content;
  const bitmap = await createImageBitmap(await file.blob());
  const w = bitmap.width, h = bitmap.height;
  const host = document.createElement('canvas');
  host.width = w; host.height = h;
  const hc = host.getContext('2d');
  hc.drawImage(bitmap, 0, 0);
  const page = document.createElement('canvas');
  page.width = w; page.height = h;
  const pc = page.getContext('2d');
  pc.translate(0, shift);
  zvCanvas.drawContent(pc, content, w, h);
  const a = hc.getImageData(0, 0, w, h).data;
  const b = pc.getImageData(0, 0, w, h).data;
  const near = (p, q, x, y) => {
    const i = 4 * (y * w + x);
    for (let c = 0; c < 3; ++c) {
      let low = 255, high = 0;
      for (let dy = -1; dy <= 1; ++dy) for (let dx = -1; dx <= 1; ++dx) {
        const u = x + dx, v = y + dy;
        if (u < 0 || v < 0 || u >= w || v >= h) continue;
        const value = q[4 * (v * w + u) + c];
        low = Math.min(low, value);
        high = Math.max(high, value);
      }
      if (p[i + c] < low - tolerance || p[i + c] > high + tolerance) return false;
    }
    return true;
  };
  const [left, top, right, bottom] = area || [0, 0, w, h];
  let differ = 0, inked = 0;
  for (let y = top; y < bottom; ++y) for (let x = left; x < right; ++x) {
    if (!near(a, b, x, y) || !near(b, a, x, y)) ++differ;
    const i = 4 * (y * w + x);
    if (a[i] !== a[0] || a[i + 1] !== a[1] || a[i + 2] !== a[2]) ++inked;
  }
  done({width: w, height: h, kind: content.kind, generations, differ: differ / Math.max(1, inked),
        inked: inked / (w * h)});
})().catch((e) => done({error: name + ": " + String(e)}));
"""


def chromium(profiles, webgl, scale=1):
    options = webdriver.ChromeOptions()
    options.binary_location = browser_test.CHROMIUM
    profile = tempfile.mkdtemp(prefix="zvhost-chromium-")
    profiles.append(profile)
    for argument in browser_test.CHROMIUM_ARGUMENTS + (WEBGL_ARGUMENTS if webgl else []) + \
            ["--user-data-dir=" + profile, "--force-device-scale-factor=%g" % scale]:
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(browser_test.CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(browser_test.WAIT)
    driver.set_script_timeout(browser_test.WAIT)
    return driver


class CanvasTest(browser_test.Operator, unittest.TestCase):
    # At most this share of the drawn pixels may differ (see COMPARE) where
    # the data is drawn; over the whole picture the labels count as well,
    # whose glyphs two font rasterisers draw a little apart.
    MOST_DIFFERING = 0.01
    MOST_DIFFERING_WITH_LABELS = 0.05
    TOLERANCE = 48
    # Where the data is drawn: a plot's data area, a polar model's two views
    # without the title and captions (the host's layout).
    PLOT_AREA = [70, 40, 780, 550]
    POLAR_AREA = [0, 40, 1200, 460]

    def setUp(self):
        self.files = tempfile.mkdtemp(prefix="zvhost-web-")
        subprocess.run([self.zvhost, "demo", "--files", self.files, "--seconds", "0", "--out",
                        os.path.join(self.files, "out")], check=True, stdout=subprocess.DEVNULL)
        shutil.rmtree(os.path.join(self.files, "out"), ignore_errors=True)
        self.server = support.Server(self.zvhost, self.files, ["--box-timeout", "600"])
        self.profiles = []
        self.driver = chromium(self.profiles, webgl=True)
        self.driver.get(self.server.url + "/")
        self.wait = WebDriverWait(self.driver, browser_test.WAIT)
        self.until(lambda: self.find("#connection").text == "connected", "the event stream")

    def tearDown(self):
        self.driver.quit()
        status = self.server.stop()
        support.remove(self.files)
        for profile in self.profiles:
            support.remove(profile)
        self.assertEqual(status, 0, self.server.stderr.decode(errors="replace"))

    def updates(self, name):
        return self.driver.execute_script("return window.zvDisplayUpdates[arguments[0]] || 0", name)

    def play_until(self, condition, what):
        """Play, wait for `condition`, Stop: the displays keep the latest output."""
        self.find("#play").click()
        self.until(condition, what)
        self.find("#stop").click()
        self.until(lambda: self.find("#running").text == "stopped", "Stop")

    def picture(self, selector, name):
        """A picture of a display for the README, as it looks while the mode runs (not dimmed)."""
        self.driver.execute_script("document.getElementById('display-list').classList.remove('frozen')")
        self.find(selector).screenshot(os.path.join(self.artifacts, name))

    def compare(self, name, area=None, shift=0):
        result = self.driver.execute_async_script(COMPARE, name, shift, self.TOLERANCE, area)
        self.assertNotIn("error", result, result)
        self.assertEqual(result["generations"][0], result["generations"][1], result)
        return result

    # ---- The same picture both ways ---------------------------------------------------------------

    @screenshot_on_failure
    def test_plots_images_and_polar_models_look_as_the_host_draws_them(self):
        self.node("SN1/A")
        self.find('.dialog[data-page="1019"]')
        self.play_until(lambda: self.updates("Free") > 2 and self.updates("Intensity") > 2,
                        "the Free plot and the Intensity image")
        measured = {}
        for name, kind, area in (("Free", "plot", self.PLOT_AREA), ("Intensity", "image", None)):
            whole = self.compare(name)
            self.assertEqual(whole["kind"], kind)
            self.assertGreater(whole["inked"], 0.005, whole)  # something drawn, not a blank picture
            self.assertLess(whole["differ"], self.MOST_DIFFERING_WITH_LABELS, whole)
            data = self.compare(name, area)
            self.assertLess(data["differ"], self.MOST_DIFFERING, data)
            measured[name] = (data["differ"], whole["differ"])
        # The comparison tells pictures apart: the same plot 2 pixels lower fails it.
        shifted = self.compare("Free", self.PLOT_AREA, shift=2)
        self.assertGreater(shifted["differ"], 0.5, shifted)
        self.picture('figure[data-display="Free"]', "web-canvas.png")

        self.node("SN1")
        self.tab(1015)
        self.play_until(lambda: self.updates("Detection") > 0, "a detected object")
        whole = self.compare("Detection")
        self.assertEqual(whole["kind"], "polar model")
        self.assertGreater(whole["inked"], 0.005, whole)
        self.assertLess(whole["differ"], self.MOST_DIFFERING_WITH_LABELS, whole)
        data = self.compare("Detection", self.POLAR_AREA)
        self.assertLess(data["differ"], self.MOST_DIFFERING, data)
        measured["Detection"] = (data["differ"], whole["differ"])
        print("of the pixels drawn, these differ (where the data is, and with the labels): " +
              ", ".join("%s %.4f, %.4f" % (name, *shares) for name, shares in measured.items()))

    @screenshot_on_failure
    def test_a_plot_zooms_pans_and_says_where_the_cursor_is(self):
        self.node("SN1/A")
        self.find('.dialog[data-page="1019"]')
        self.play_until(lambda: self.updates("Free") > 2, "the Free plot")
        canvas = self.find('figure[data-display="Free"] canvas.drawing')
        reset = self.find('figure[data-display="Free"] button.reset')
        self.assertFalse(reset.is_displayed())

        def at_centre(event, **extra):
            """Dispatches `event` at the canvas's centre; returns what the cursor's readout says."""
            return self.driver.execute_script("""
                const [c, kind, extra] = arguments, r = c.getBoundingClientRect();
                // Whole pixels: a wheel event's position has no fractions.
                const at = {clientX: Math.round(r.left + r.width / 2), clientY: Math.round(r.top + r.height / 2),
                            bubbles: true, cancelable: true};
                c.dispatchEvent(kind === 'wheel' ? new WheelEvent('wheel', {...at, ...extra}) : new PointerEvent(kind, at));
                c.dispatchEvent(new PointerEvent('pointermove', at));
                return c.closest('figure').querySelector('.cursor').textContent;""", canvas, event, extra)

        def mils(text):
            self.assertRegex(text, r"^x -?\d+ mils, y -?\d+ mils$")
            return [int(v) for v in text.replace(",", "").split()[1::3]]
        whole = mils(at_centre("pointermove"))
        # Zoomed in around the cursor: the point under it stays; the reset shows.
        zoomed = mils(at_centre("wheel", deltaY=-400))
        self.until(reset.is_displayed, "the reset")
        for a, b in zip(zoomed, whole):
            self.assertLessEqual(abs(a - b), 1)
        # Dragged right: the canvas's centre shows a place further left.
        ActionChains(self.driver).move_to_element(canvas).click_and_hold().move_by_offset(40, 0).release().perform()
        panned = mils(at_centre("pointermove"))
        self.assertLess(panned[0], whole[0] - 1)
        self.assertLessEqual(abs(panned[1] - whole[1]), 1)
        reset.click()
        self.until(lambda: not reset.is_displayed(), "the reset gone")
        again = mils(at_centre("pointermove"))
        for a, b in zip(again, whole):
            self.assertLessEqual(abs(a - b), 1)

    @screenshot_on_failure
    def test_a_screen_of_twice_the_pixels_gets_a_picture_of_twice_the_pixels(self):
        self.node("SN1/A")
        self.find('.dialog[data-page="1019"]')
        self.play_until(lambda: self.updates("Free") > 2, "the Free plot")
        sharp = chromium(self.profiles, webgl=False, scale=2)
        try:
            sharp.get(self.server.url + "/")
            WebDriverWait(sharp, browser_test.WAIT).until(
                lambda d: d.execute_script("return (window.zvDisplayUpdates.Free || 0) > 0"), "the Free plot")
            sizes = sharp.execute_script("""
                const c = document.querySelector('figure[data-display="Free"] canvas.drawing');
                return [window.devicePixelRatio, c.clientWidth, c.clientHeight, c.width, c.height];""")
        finally:
            sharp.quit()
        ratio, css_width, css_height, width, height = sizes
        self.assertEqual(ratio, 2)
        self.assertEqual(width, 2 * css_width)
        self.assertEqual(height, 2 * css_height)

    # ---- Detection in 3D -------------------------------------------------------------------------

    def solid(self):
        """What the Detection display's 3D view holds (see view3d.js), or None."""
        return self.driver.execute_script("""
            const solid = window.zvSolidViews && window.zvSolidViews.get('Detection');
            return solid ? solid.latest() : null;""")

    def capture_one_log(self):
        """A capture of the simulated station's Detection that holds one log
        (one second of it), and what `zvhost run Detection` makes of it: the
        polar model and the Statistics rows."""
        script = "select 1031 Detection\nplay 1\n"
        subprocess.run([self.zvhost, "page", "--files", self.files, "--node", "Capture", "--page", "Capture",
                        "--script", "-"], input=script.encode(), check=True, stdout=subprocess.DEVNULL)
        captures = os.listdir(os.path.join(self.files, "Capture"))
        self.assertEqual(len(captures), 1, captures)
        capture = os.path.join(self.files, "Capture", captures[0])
        out = subprocess.run([self.zvhost, "run", "Detection", "--files", self.files, "--input", capture, "--json",
                              "--full"], check=True, stdout=subprocess.PIPE).stdout.decode()
        models, statistics = [], None
        for line in out.splitlines():
            event = json.loads(line)
            if event.get("event") == "output" and event["content"]["kind"] == "polar model":
                models.append(event["content"])
            if event.get("event") == "output" and event.get("display") == "Statistics":
                statistics = dict(event["content"]["rows"])
        self.assertEqual(len(models), 1, "the capture holds one log")
        return capture, models[0], statistics

    @screenshot_on_failure
    def test_a_captured_log_stands_in_3d_as_long_and_wide_as_it_is(self):
        capture, model, statistics = self.capture_one_log()
        self.server.stop()
        self.server = support.Server(self.zvhost, self.files, ["--box-timeout", "600", "--input", capture])
        self.driver.get(self.server.url + "/")
        self.until(lambda: self.find("#connection").text == "connected", "the event stream")
        self.node("SN1")
        self.tab(1015)
        self.play_until(lambda: (self.solid() or {}).get("slices", 0) > 0, "the log in 3D")
        latest = self.solid()
        self.assertTrue(latest["drawn"], "no WebGL: the surface was not drawn")
        self.assertEqual(latest["kept"], 1)
        self.assertEqual(latest["slices"], len(model["centres"]))

        # The surface's box is the outlines' box, in mils.
        xs, ys, zs = [], [], []
        for centre, radii in zip(model["centres"], model["radii"]):
            for k, r in enumerate(radii):
                a = 2 * math.pi * k / len(radii)
                xs.append(centre[0] + r * math.cos(a))
                ys.append(centre[1] + r * math.sin(a))
            zs.append(centre[2])
        low, high = latest["bounds"]["min"], latest["bounds"]["max"]
        for axis, values in enumerate((xs, ys, zs)):
            self.assertAlmostEqual(low[axis], min(values), delta=1.0, msg="axis %d" % axis)
            self.assertAlmostEqual(high[axis], max(values), delta=1.0, msg="axis %d" % axis)
        # As long as the log is: from its first slice to its last stamp.
        self.assertEqual(low[2], 0)
        self.assertAlmostEqual(high[2], int(statistics["Last object length"]), delta=1.0)
        # As wide as its outlines: the radii around each slice's centre.
        widest = max(max(radii) for radii in model["radii"])
        self.assertLessEqual(max(high[0] - low[0], high[1] - low[1]), 2 * widest + 2)

        # The surface is drawn: the canvas holds more than its background.
        drawn = self.driver.execute_script("""
            const c = document.querySelector('.solid-view canvas');
            const probe = document.createElement('canvas');
            probe.width = c.width; probe.height = c.height;
            const p = probe.getContext('2d');
            p.drawImage(c, 0, 0);
            const d = p.getImageData(0, 0, c.width, c.height).data;
            let lit = 0;
            for (let i = 0; i < d.length; i += 4) if (Math.abs(d[i] - 20) + Math.abs(d[i + 1] - 23) + Math.abs(d[i + 2] - 32) > 30) ++lit;
            return lit / (d.length / 4);""")
        self.assertGreater(drawn, 0.01)

        # Stepping through: the next slice's numbers, at its position.
        numbers = self.find(".solid-view .slice-numbers")
        self.assertIn("Slice1 of %d" % latest["slices"], numbers.text.replace("\n", ""))
        self.find('.solid-view button[aria-label="Next slice"]').click()
        self.until(lambda: "Slice2 of" in numbers.text.replace("\n", ""), "the second slice")
        self.assertIn("Position%d mils" % model["centres"][1][2], numbers.text.replace("\n", ""))
        # Named for a screen reader, the canvases with what they show.
        if os.path.exists(browser_test.AXE):
            self.assertEqual(self.axe(), [], "the Detection display and its 3D view")
        self.assertIn("polar model of", self.find('figure[data-display="Detection"] canvas.drawing')
                      .get_attribute("aria-label"))

    @screenshot_on_failure
    def test_detected_objects_pass_through_and_the_last_three_stay(self):
        self.node("SN1")
        self.tab(1015)
        self.play_until(lambda: (self.solid() or {}).get("kept", 0) == 3 and
                        self.driver.execute_script("return window.zvDisplayUpdates.Detection") > 3,
                        "four detected objects")
        latest = self.solid()
        self.assertEqual(latest["kept"], 3)
        # Each older object further along the transport, beyond the one after it.
        placed, lengths = latest["placed"], latest["lengths"]
        self.assertEqual(placed[0], 0)
        for newer in range(2):
            self.assertGreater(placed[newer + 1], placed[newer] + lengths[newer], latest)
        self.picture('figure[data-display="Detection"]', "web-3d.png")


if __name__ == "__main__":
    unittest.main()
