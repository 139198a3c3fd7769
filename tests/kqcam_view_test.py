"""kqcam view's web server on the simulated bench: every request checked, the token, Ctrl-C.

Run as: kqcam_view_test.py KQCAM_PATH SCRATCH_DIR
"""

import json
import socket
import sys
import unittest
import urllib.parse

from kqcam_view_support import View

KQCAM = ""
SCRATCH = ""


class Requests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.view = View(KQCAM, SCRATCH)

    @classmethod
    def tearDownClass(cls):
        cls.view.close()

    def refused(self, status, body, words):
        self.assertEqual(status, 400, body)
        self.assertFalse(body["ok"])
        self.assertIn(words, body["error"])

    def test_malformed_bodies_get_a_json_error(self):
        for body, words in (("{not json", "not JSON"), ("[1, 2]", "\"command\" string"),
                            ('{"command": 7}', "\"command\" string"), ("", "not JSON"),
                            ('{"command": "exposure", "value": 1e999}', "not JSON")):
            with self.subTest(body=body):
                self.refused(*self.view.request("/control", body), words)

    def test_unknown_commands_are_named_with_the_known_ones(self):
        status, body = self.view.command(command="format_disk")
        self.refused(status, body, "unknown command \"format_disk\"")
        self.assertIn("exposure", body["commands"])
        # The name is quoted cut short, here in the middle of a character.
        status, body = self.view.command(command="x" + "\u00e9" * 40)
        self.refused(status, body, "unknown command")

    def test_values_of_the_wrong_type_or_size_are_refused_before_the_camera(self):
        for fields, words in (
                ({"command": "exposure", "value": 2 ** 70}, "whole number"),
                ({"command": "exposure", "value": -5}, "whole number"),
                ({"command": "exposure", "value": "fast"}, "whole number"),
                ({"command": "exposure", "value": 2 ** 33}, "not 8589934592"),
                ({"command": "gain", "value": 256}, "from 0 to 255"),
                ({"command": "binning", "value": 1.5}, "whole number"),
                ({"command": "resolution", "value": 4}, "multi-shot"),
                ({"command": "region", "value": [0, 0, 4]}, "[left, top, right, bottom]"),
                ({"command": "region", "value": [50, 50, 10, 10]}, "past left"),
                ({"command": "white_balance", "value": [1, 0, 1]}, "above 0"),
                ({"command": "white_balance_at", "x": 99999, "y": 0}, "pixel of the image"),
                ({"command": "display", "low": 900, "high": 100}, "above low"),
                ({"command": "snap", "resolution": 9}, "3 to 6"),
                ({"command": "reference", "kind": "grey"}, "\"black\" or \"white\""),
                ({"command": "scene", "value": "beach"}, "\"slide\""),
                ({"command": "colour_processing", "value": "yes"}, "true or false"),
                ({"command": "interpolation", "value": "bilinear"}, "\"camera\" or \"lmmse\"")):
            with self.subTest(fields=fields):
                self.refused(*self.view.command(**fields), words)

    def test_a_setting_the_camera_refuses_is_named_with_its_range_and_status(self):
        status, body = self.view.command(command="exposure", value=5)
        self.assertEqual(status, 422, body)
        self.assertRegex(body["error"], r"exposure 5 us refused: this camera takes 400 to "
                         r"\d+ us in steps of 200 \(status 8: ")
        self.assertEqual(body["status"], 8)
        status, body = self.view.command(command="binning", value=2)
        self.assertEqual(status, 422, body)
        self.assertIn("binning 2 refused: with these settings this camera takes 1, 3 or 5",
                      body["error"])
        self.assertTrue(self.view.status()["run"]["running"])  # restarted after the refusal

    def test_oversized_unsent_and_unknown_requests_get_json_errors(self):
        status, body = self.view.request("/control", "x" * 100000)
        self.assertEqual((status, body["ok"]), (413, False))
        status, body = self.view.request("/control", '{"command": "snap"}', "text/plain")
        self.assertEqual(status, 415)
        status, body = self.view.request("/nothing/here")
        self.assertEqual((status, body["error"]), (404, "no such page"))
        status, body = self.view.request("/snaps/..%2Fetc%2Fpasswd")
        self.assertEqual(status, 404)
        status, body = self.view.request("/frame.jpg?after=-1")
        self.assertEqual(status, 400)
        # A page left from an earlier viewer asks after a number this one has not reached.
        status, body = self.view.request("/frame.jpg?after=999999")
        self.assertEqual(status, 200)

    def test_a_request_naming_another_host_is_turned_away(self):
        status, body = self.view.request("/status", headers={"Host": "camera.example:80"})
        self.assertEqual(status, 403, body)

    def test_the_interpolation_is_set_shown_and_frames_keep_coming(self):
        self.assertEqual(self.view.status()["settings"]["interpolation"], "camera")
        status, body = self.view.command(command="interpolation", value="lmmse")
        self.assertEqual(status, 200, body)
        after = self.view.status()
        self.assertEqual(after["settings"]["interpolation"], "lmmse")
        sequence = after["frame"]["sequence"] if "frame" in after else 0
        status, _ = self.view.request("/frame.jpg?after=%d" % sequence)
        self.assertEqual(status, 200)
        self.assertEqual(self.view.command(command="interpolation", value="camera")[0], 200)

    def test_frames_keep_coming_after_a_bus_reset(self):
        before = self.view.status()
        self.assertEqual(self.view.command(command="bus_reset")[0], 200)
        # Each wait is for a frame newer than the last seen, so a stalled run fails here.
        sequence = before["frame"]["sequence"] if "frame" in before else 0
        for _ in range(3):
            status, _ = self.view.request("/frame.jpg?after=%d" % sequence)
            self.assertEqual(status, 200)
            sequence += 1
        after = self.view.status()
        self.assertGreater(after["run"]["restarts"], before["run"]["restarts"])
        self.assertTrue(after["run"]["running"])


class Token(unittest.TestCase):
    def test_listening_beyond_loopback_needs_the_printed_token(self):
        view = View(KQCAM, SCRATCH, "--listen", "127.0.0.1")
        try:
            self.assertRegex(view.token or "", r"^[0-9a-f]{32}$")
            status, body = view.request("/status", token=False)
            self.assertEqual(status, 403, body)
            self.assertIn("token", body["error"])
            status, _ = view.request("/status", token=False, headers={"X-Kqcam-Token": "0" * 32})
            self.assertEqual(status, 403)
            status, _ = view.request("/status", token=False,
                                     headers={"X-Kqcam-Token": view.token})
            self.assertEqual(status, 200)
            status, page = view.request("/")
            self.assertEqual(status, 200)
            self.assertIn(b"<title>kqcam live view</title>", page)
        finally:
            view.close()


class Shutdown(unittest.TestCase):
    def test_ctrl_c_stops_camera_and_server_with_130(self):
        view = View(KQCAM, SCRATCH, "--camera", "KQM")
        port = urllib.parse.urlsplit(view.base).port
        self.assertEqual(view.request("/frame.jpg")[0], 200)
        code, err = view.interrupt()
        self.assertEqual(code, 130, err)
        self.assertIn("stopped", err)
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), timeout=5).close()
        # The camera was closed and its stream stopped: another viewer opens it at once.
        again = View(KQCAM, SCRATCH, "--camera", "KQM")
        try:
            self.assertEqual(again.request("/frame.jpg")[0], 200)
            self.assertEqual(again.interrupt()[0], 130)
        finally:
            again.close()

    def test_a_port_in_use_is_refused(self):
        holder = socket.socket()
        holder.bind(("127.0.0.1", 0))
        holder.listen()
        try:
            import subprocess
            done = subprocess.run([KQCAM, "view", "--port", str(holder.getsockname()[1])],
                                  capture_output=True, text=True, timeout=60, cwd=SCRATCH)
            self.assertEqual(done.returncode, 1, done.stderr)
            self.assertIn("cannot listen on 127.0.0.1 port", done.stderr)
        finally:
            holder.close()


if __name__ == "__main__":
    KQCAM, SCRATCH = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
