"""The console in a real browser: Debian's headless Chromium driven through chromium-driver,
against uhfd running three virtual readers. The page loads without console errors, follows the
field live, writes settings only with the token, shows hostile text as text, and fits a phone."""

import os
import shutil
import sys
import tempfile
import time
import unittest

from harness import TOKEN, Gateway, chromium, eventually, hex_of
from sse import EventStream

if os.environ.get("CONSOLE_BROWSER_SKIP"):
    print("browser tests skipped: " + os.environ["CONSOLE_BROWSER_SKIP"])
    sys.exit(77)

from selenium.common.exceptions import NoAlertPresentException  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402

ROUND_MS = 200
DEPARTURE_MS = 1500
SCREENSHOT = os.environ.get("CONSOLE_SCREENSHOT", "")


class Console(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.gw = Gateway(readers=("dock-a", "dock-b", "gate-1"), round_ms=ROUND_MS, departure_ms=DEPARTURE_MS, tags=6)
        cls.profile = tempfile.mkdtemp(prefix="console-chromium-")
        try:
            cls.driver = chromium(cls.profile)
        except BaseException:
            cls.gw.close()
            raise
        cls.driver.get(cls.gw.base + "/")
        cls.errors = []

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.profile, ignore_errors=True)
        cls.gw.close()

    # Helpers

    def console_errors(self, expected=lambda e: False):
        """Errors and warnings the page logged since the last call, but for those `expected`
        (kept for the final check)."""
        found = [e for e in self.driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING") and not expected(e)]
        type(self).errors += found
        return found

    def find(self, css):
        return self.driver.find_elements(By.CSS_SELECTOR, css)

    def row(self, tag_id):
        rows = self.find('#tags tbody tr[data-id="%s"]' % tag_id)
        return rows[0] if rows else None

    def row_cells(self, tag_id):
        """The texts of a tag's row, read in one step: the table is redrawn as the field changes,
        so a row's elements may be replaced between two reads."""
        return self.driver.execute_script(
            "const r = document.querySelector('#tags tbody tr[data-id=\"' + arguments[0] + '\"]');"
            "return r ? Array.from(r.cells, c => c.innerText) : null;", tag_id)

    def wait(self, pred, within, what):
        value = eventually(pred, within, 0.02)
        self.assertTrue(value, what)
        return value

    def field(self, line):
        return self.gw.sims["dock-a"].field(line)

    def set_token(self, value):
        box = self.driver.find_element(By.ID, "token")
        box.clear()
        box.send_keys(value)
        self.driver.find_element(By.ID, "token-use").click()

    def write_settings(self, power, antenna):
        for field_id, value in (("set-rf-power", power), ("set-antenna", antenna)):
            box = self.driver.find_element(By.ID, field_id)
            box.clear()
            box.send_keys(str(value))
        before = self.driver.find_element(By.ID, "settings-result").text
        self.driver.find_element(By.ID, "settings-write").click()
        return self.wait(lambda: (lambda t: t != before and t)(self.driver.find_element(By.ID, "settings-result").text), 10,
                         "the page showed no outcome of the write")

    def reader_settings(self):
        status, _, s = self.gw.get("/api/readers/dock-a/settings")
        self.assertEqual(status, 200, s)
        return s

    # Tests, in order: the page is loaded once and used throughout.

    def test_1_page_loads_with_every_reader_and_no_console_errors(self):
        self.wait(lambda: len(self.find(".card")) == 3, 10, "three reader cards")
        self.wait(lambda: self.driver.find_element(By.ID, "connection").text == "live", 10, "the stream is live")
        self.wait(lambda: len(self.find("#tags tbody tr")) == 6, 5, "the first reader's six tags")
        names = [c.get_attribute("data-reader") for c in self.find(".card")]
        self.assertEqual(names, ["dock-a", "dock-b", "gate-1"])
        self.assertEqual(self.driver.find_element(By.ID, "detail-name").text, "dock-a")
        self.assertEqual(self.driver.find_element(By.ID, "broker").text.split(" ")[0], "connected")
        self.wait(lambda: len(self.find("#antennas .bar")) > 0, 3, "per-antenna read rates")
        self.assertEqual(self.console_errors(), [])

    def test_2_a_tag_shows_within_a_round_and_a_second_and_goes_after_the_departure_timeout(self):
        tag = "E2801160600002054CC2096F"
        added = time.monotonic()
        self.assertEqual(self.field("add epc %s rssi=-48 ant=2" % tag), "ok " + tag)
        self.addCleanup(self.field, "remove " + tag)  # the later tests count the field's six tags
        self.wait(lambda: self.row(tag), ROUND_MS / 1000 + 1.0, "the tag's row within one round and a second")
        print("row visible %.0f ms after the tag entered the field" % ((time.monotonic() - added) * 1000), file=sys.stderr)
        self.assertEqual(self.row_cells(tag)[1:3], ["EPC", "2"])
        self.assertEqual(self.field("remove " + tag), "ok")
        removed = time.monotonic()
        self.wait(lambda: self.row(tag) is None, (DEPARTURE_MS + ROUND_MS) / 1000 + 1.0, "the row gone after the departure timeout")
        self.assertGreaterEqual(time.monotonic() - removed, DEPARTURE_MS / 1000 - 0.3)

    def test_3_hostile_text_in_a_tag_id_renders_as_text(self):
        hostile = ["<img src=x onerror=document.title=1>", "<script>alert(1)</script>"]
        title = self.driver.title
        for text in hostile:
            self.assertTrue(self.field("add epc %s" % hex_of(text)).startswith("ok "))
            self.addCleanup(self.field, "remove " + hex_of(text))
        for text in hostile:
            self.wait(lambda: self.row(hex_of(text)), 3, "the hostile tag's row")
            shown = self.driver.execute_script(
                "const r = document.querySelector('#tags tbody tr[data-id=\"' + arguments[0] + '\"] small.text');"
                "return r ? r.textContent : null;", hex_of(text))
            self.assertEqual(shown, text.ljust(len(hex_of(text)) // 2))
        self.assertEqual(self.find("#tags img, #tags script"), [])
        self.assertEqual(self.driver.title, title)
        with self.assertRaises(NoAlertPresentException):
            self.driver.switch_to.alert.text
        self.driver.find_element(By.ID, "tag-filter").send_keys("<script>")
        self.wait(lambda: len(self.find("#tags tbody tr")) == 1, 2, "the filter finds the tag by its text")
        self.driver.find_element(By.ID, "tag-filter").clear()
        self.driver.execute_script("document.getElementById('tag-filter').dispatchEvent(new Event('input'))")
        for text in hostile:
            self.field("remove " + hex_of(text))
        self.assertEqual(self.console_errors(), [])

    def test_4_a_settings_write_without_the_token_is_refused_and_the_reader_unchanged(self):
        self.driver.find_element(By.ID, "settings-read").click()
        before = self.reader_settings()
        self.wait(lambda: self.driver.find_element(By.ID, "set-rf-power").get_attribute("value") == str(before["rf_power"]), 5,
                  "the settings read into the form")
        outcome = self.write_settings(7, (before["active_antenna"] + 1) % 4)
        self.assertIn("refused", outcome)
        self.assertEqual(self.reader_settings(), before)
        # The browser logs the refusal itself as a failed load; nothing else may show.
        self.assertEqual(self.console_errors(lambda e: "/settings" in e["message"] and "401" in e["message"]), [])

    def test_5_a_settings_write_with_the_token_reaches_the_reader(self):
        self.set_token(TOKEN)
        self.assertIn("token set", self.driver.find_element(By.ID, "token-state").text)
        outcome = self.write_settings(19, 3)
        self.assertIn("written", outcome)
        s = self.reader_settings()
        self.assertEqual((s["rf_power"], s["active_antenna"]), (19, 3))
        self.assertEqual(self.driver.find_element(By.ID, "set-work").get_attribute("value"), s["work_parameters"])

    def test_6_the_command_form_checks_its_arguments_and_runs(self):
        select = Select(self.driver.find_element(By.ID, "command-name"))
        select.select_by_value("FM151M_Get_RN")
        box = self.driver.find_element(By.ID, "arg-0")
        box.send_keys("99999")
        self.driver.find_element(By.ID, "command-run").click()
        self.wait(lambda: "integer" in self.driver.find_element(By.ID, "arg-error-0").text, 2, "the range shown beside the field")
        before = self.gw.reader("dock-a")["counters"]["commands"]
        box.clear()
        box.send_keys("4")
        self.driver.find_element(By.ID, "command-run").click()
        result = self.wait(lambda: (lambda t: '"ok": true' in t and t)(self.driver.find_element(By.ID, "command-result").text), 10,
                           "the command's reply")
        self.assertIn('"reply": "0004', result)
        self.assertEqual(self.gw.reader("dock-a")["counters"]["commands"], before + 1)

    def test_7_the_frame_trace_shows_the_readers_frames(self):
        self.driver.find_element(By.ID, "trace-on").click()
        self.wait(lambda: len(self.find("#trace tbody tr")) >= 10, 5, "frames in the trace")
        dirs = {td.text.split(" ")[1] for td in self.find("#trace tbody tr td:nth-child(2)")[:10]}
        self.assertEqual(dirs, {"sent", "received"})
        self.driver.find_element(By.ID, "trace-on").click()

    def test_8_another_reader_is_followed_when_its_card_is_chosen(self):
        self.find('.card[data-reader="dock-b"]')[0].click()
        self.wait(lambda: self.driver.find_element(By.ID, "detail-name").text == "dock-b", 3, "dock-b chosen")
        self.wait(lambda: len(self.find("#tags tbody tr")) == 6, 5, "dock-b's tags")
        self.assertIn("#reader=dock-b", self.driver.current_url)
        self.find('.card[data-reader="dock-a"]')[0].click()
        self.wait(lambda: len(self.find("#tags tbody tr")) == 6, 5, "dock-a's tags again")

    def streams(self):
        return self.gw.get("/api/gateway")[2]["console"]["streams"]

    def pill(self):
        p = self.driver.find_element(By.ID, "connection")
        return p.get_attribute("data-stream"), p.text

    def test_8a_the_page_heals_by_itself_after_every_stream_place_was_taken_and_freed(self):
        self.driver.get("about:blank")  # the page's own stream goes with it
        self.wait(lambda: self.streams() == 0, 30, "the page's stream places freed")
        held = []
        try:
            for _ in range(16):  # every place
                held.append(EventStream(self.gw.port))
                self.assertEqual(held[-1].head(), 200)
            self.driver.get(self.gw.base + "/#reader=dock-a")
            self.wait(lambda: self.pill()[0] == "waiting" and "retrying" in self.pill()[1], 10, "the page saying it waits to retry")
            self.assertIn("stale", self.driver.find_element(By.TAG_NAME, "body").get_attribute("class"))
        finally:
            for h in held:
                h.close()
        # Retry-After is 5 s; the page comes back on its own, with the whole picture.
        self.wait(lambda: self.pill() == ("live", "live"), 20, "the page live again by itself")
        self.wait(lambda: len(self.find("#tags tbody tr")) == 6, 5, "dock-a's six tags")
        self.assertNotIn("stale", self.driver.find_element(By.TAG_NAME, "body").get_attribute("class"))
        self.console_errors(expected=lambda e: "503" in e["message"])

    def test_8b_ten_tabs_of_one_browser_stay_live_on_one_stream(self):
        first = self.driver.current_window_handle
        tabs = [first]
        try:
            for _ in range(9):
                self.driver.switch_to.new_window("tab")
                self.driver.get(self.gw.base + "/#reader=dock-a")
                tabs.append(self.driver.current_window_handle)
            tag = "E2801160600002054CC20AAA"
            self.assertEqual(self.field("add epc %s ant=1" % tag), "ok " + tag)
            self.addCleanup(self.field, "remove " + tag)
            for t in tabs:
                self.driver.switch_to.window(t)
                self.wait(lambda: self.pill()[0] == "live", 20, "tab %d live" % tabs.index(t))
                self.wait(lambda: self.row(tag), 10, "the new tag in tab %d" % tabs.index(t))
            # The tabs share their stream: far fewer than the browser's six connections per host.
            self.wait(lambda: self.streams() <= 2, 10, "one stream for all ten tabs")
        finally:
            for t in tabs[1:]:
                self.driver.switch_to.window(t)
                self.driver.close()
            self.driver.switch_to.window(first)
        self.console_errors()

    def test_9_it_fits_a_phone_and_a_screenshot_is_kept(self):
        self.driver.set_window_size(390, 844)
        self.driver.execute_script("window.scrollTo(0, 0)")
        self.wait(lambda: self.driver.execute_script("return window.innerWidth") <= 390, 5, "a phone's width")
        width = self.driver.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
        self.assertLessEqual(width[0], width[1], "the page scrolls sideways on a phone")
        self.wait(lambda: len(self.find("#tags tbody tr")) == 6, 5, "the six tags")
        # Tags on the first screen, each id in one line (24 hex digits) in a monospace face.
        top, screen = self.driver.execute_script(
            "const r = document.querySelector('#tags tbody tr'); return [r.getBoundingClientRect().top, window.innerHeight]")
        self.assertLess(top, screen, "no tag on a phone's first screen")
        cell = self.find("#tags tbody tr td.id")[0]
        lines = self.driver.execute_script(
            "const c = arguments[0], r = document.createRange(); r.selectNodeContents(c.firstChild);"
            "return [r.getClientRects().length, getComputedStyle(c).fontFamily]", cell)
        self.assertEqual(lines[0], 1, "a tag id wraps on a phone")
        self.assertIn("monospace", lines[1])
        if SCREENSHOT:
            self.driver.save_screenshot(SCREENSHOT.replace(".png", "-phone.png"))
        self.driver.set_window_size(1280, 1300)
        self.driver.execute_script("window.scrollTo(0, 0)")
        self.wait(lambda: len(self.find("#tags tbody tr")) == 6, 5, "the field back to its six tags")
        # A status round, so the counters and rates are filled in.
        self.wait(lambda: len(self.find("#antennas .bar")) > 0 and len(self.find("#counters div")) > 0, 5, "counters and rates")
        if SCREENSHOT:
            self.driver.save_screenshot(SCREENSHOT)
            with open(SCREENSHOT, "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        self.console_errors()
        self.assertEqual(type(self).errors, [])


if __name__ == "__main__":
    unittest.main()
