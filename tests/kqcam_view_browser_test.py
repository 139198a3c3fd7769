"""kqcam view in headless Chromium on the simulated bench: live frames, a setting the image
follows, a dragged region, a snap, a lost frame; a screenshot of the page is kept.

Run as: kqcam_view_browser_test.py KQCAM_PATH SCRATCH_DIR
"""

import os
import sys
import time
import unittest

import tifffile
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from kqcam_view_support import View

KQCAM = ""
SCRATCH = ""
WAIT_SECONDS = 20  # a bound that turns a hang into a failure; the waits end on events


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--window-size=1400,1100"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class LiveView(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.view = View(KQCAM, SCRATCH)
        cls.driver = browser()
        cls.driver.get(cls.view.page)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        code, err = cls.view.interrupt()
        cls.view.close()
        assert code == 130, err

    def shown(self, expression):
        return self.driver.execute_script("return " + expression)

    def until(self, expression, what):
        # On a timeout the page's own message says what it last heard.
        WebDriverWait(self.driver, WAIT_SECONDS, poll_frequency=0.05).until(
            lambda d: self.shown(expression),
            what + "; the page says: " + str(self.shown(
                "document.getElementById('message').textContent")))

    def newer_status(self):
        """The status once a frame newer than the one shown now is on the page."""
        seen = self.shown("kqview.sequence")
        self.until("kqview.status && kqview.status.frame && kqview.status.frame.sequence > %d "
                   "&& kqview.sequence > %d" % (seen + 1, seen + 1), "a newer frame")
        return self.shown("kqview.status")

    def set_field(self, field, value):
        element = self.driver.find_element(By.ID, field)
        # Typed over what is there, as a user does; the page leaves a field alone while it has
        # the focus.
        element.click()
        element.send_keys(Keys.CONTROL, "a")
        element.send_keys(str(value) + Keys.TAB)

    def test_1_live_frames_arrive(self):
        self.until("kqview.sequence >= 3", "three live frames")
        size = self.shown("[document.getElementById('live').naturalWidth, "
                          "document.getElementById('live').naturalHeight]")
        self.assertEqual(size, [1388, 1040])

    def test_2_the_image_mean_follows_the_exposure(self):
        self.set_field("exposure", 100000)
        self.until("kqview.status.settings.exposure_us === 100000", "exposure 100000")
        bright = self.newer_status()["frame"]["mean"]
        self.set_field("exposure", 25000)
        self.until("kqview.status.settings.exposure_us === 25000", "exposure 25000")
        dim = self.newer_status()["frame"]["mean"]
        # The pedestal stays; the light part scales with the exposure.
        self.assertLess(dim - 128, 0.4 * (bright - 128))

    def test_3_a_refused_exposure_shows_the_reason(self):
        self.set_field("exposure", 5)
        self.until("document.getElementById('message').textContent.includes('refused')",
                   "the refusal")
        message = self.driver.find_element(By.ID, "message").text
        self.assertIn("exposure 5 us refused: this camera takes 400 to", message)
        self.assertIn("status 8", message)
        self.set_field("exposure", 25000)

    def test_4_a_dragged_rectangle_becomes_the_region(self):
        self.until("kqview.status.settings.exposure_us === 25000 && kqview.sequence > 0",
                   "the camera at 25000 us, streaming")
        # The image is shown scaled to the window; while a new frame decodes on a loaded
        # machine its box can be empty for a moment, and a drag over it would be a click.
        self.until("document.getElementById('live').getBoundingClientRect().width > 400",
                   "the image laid out")
        image = self.driver.find_element(By.ID, "live")
        width = image.size["width"]
        # A loaded browser may deliver the pointer's path as one step, so the page sees a
        # click; the page counts what it saw, and only a drag it saw as a click is made again.
        for attempt in range(2):
            releases = self.shown("kqview.releases")
            ActionChains(self.driver).move_to_element_with_offset(image, -width // 4, -width // 8) \
                .click_and_hold().move_by_offset(width // 4, width // 6).release().perform()
            self.until("kqview.releases > %d" % releases, "the drag seen by the page")
            seen = self.shown("kqview.lastRelease")
            if abs(seen["to"][0] - seen["from"][0]) >= 8 and abs(seen["to"][1] - seen["from"][1]) >= 8:
                break
        self.until("kqview.status.settings.region[0] > 0",
                   "the region (the page saw the drag as %s)" % self.shown("kqview.lastRelease"))
        region = self.shown("kqview.status.settings.region")
        self.until("document.getElementById('live').naturalWidth === %d" %
                   (region[2] - region[0]), "frames of the region")
        self.assertLess(region[2] - region[0], 1388 // 2)

    def test_5_snap_writes_a_tiff_with_the_settings(self):
        self.driver.find_element(By.ID, "snap").click()
        self.until("kqview.status.snaps.length > 0", "the snap")
        name = self.shown("kqview.status.snaps[0]")
        self.until("document.querySelector('#snaps a')", "the snap's link")
        self.assertIn("/snaps/" + name, self.shown("document.querySelector('#snaps a').href"))
        with tifffile.TiffFile(os.path.join(SCRATCH, name)) as tiff:
            description = tiff.pages[0].description
            region = self.shown("kqview.status.settings.region")
            self.assertEqual(tiff.pages[0].shape[:2], (region[3] - region[1],
                                                       region[2] - region[0]))
        self.assertIn("exposure_us=25000", description)
        self.assertIn("region=%d,%d,%d,%d" % tuple(region), description)

    def test_6_a_lost_frame_shows_in_the_counter(self):
        lost = self.newer_status()["run"]["lost"]
        self.driver.find_element(By.ID, "dropFrame").click()
        self.until("kqview.status.run.lost > %d" % lost, "the lost frame counted")
        self.until("document.getElementById('lost').textContent === 'lost %d'" % (lost + 1),
                   "the lost frame shown")

    def test_7_measure_and_keep_a_screenshot(self):
        self.driver.find_element(By.ID, "wholeImage").click()
        self.until("document.getElementById('live').naturalWidth === 1388", "the whole image")
        # Frames shown against the camera's rate, and how far behind the newest frame the shown
        # one is, over a few seconds of frames.
        behind = []
        start = self.shown("kqview.sequence")
        while self.shown("kqview.sequence") < start + 20:
            status = self.newer_status()
            behind.append(status["run"]["latest_index"] - self.shown("kqview.index"))
        page_fps, latency = self.shown("kqview.fps"), self.shown("kqview.latencyMs")
        camera_fps = self.shown("kqview.status.run.frames_per_second")
        print("\npage %.1f frames/s, camera %.1f frames/s; frame to screen %.0f ms; shown frame "
              "behind the newest by %s frames" % (page_fps, camera_fps, latency, behind))
        self.assertGreater(page_fps, 0.5 * camera_fps)
        self.driver.save_screenshot(os.path.join(SCRATCH, "kqcam_view.png"))


if __name__ == "__main__":
    KQCAM, SCRATCH = sys.argv[1], sys.argv[2]
    os.makedirs(SCRATCH, exist_ok=True)
    unittest.main(argv=sys.argv[:1], verbosity=2)
