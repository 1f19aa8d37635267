"""The browser UI's API as a stranger might call it: every bad request is
answered with its 4xx and a JSON message, and changes nothing (the page,
the pipes, the tree, the log and the file space stay as they were)."""

import os
import socket
import time
import unittest

import serve_support as support


def fingerprint(server):
    state = server.state()
    files = []
    for folder, _, names in os.walk(server.files):
        for name in names:
            st = os.stat(os.path.join(folder, name))
            files.append((os.path.relpath(os.path.join(folder, name), server.files), st.st_size, st.st_mtime_ns))
    last = state["log"][-1]["seq"] if state["log"] else -1
    return state["page"], state["pipes"], state["tree"], state["box"], last, sorted(files)


class ApiTest(unittest.TestCase):
    zvhost = None       # set by run.py
    artifacts = None

    @classmethod
    def setUpClass(cls):
        cls.files = support.make_station(cls.zvhost, "1")
        support.create_settings(cls.zvhost, cls.files, 1, 4)
        cls.server = support.Server(cls.zvhost, cls.files)
        opened = cls.server.request("/api/open", {"node": "SN1", "page": 1022})
        assert opened.status == 200, opened.body

    @classmethod
    def tearDownClass(cls):
        status = cls.server.stop()
        support.remove(cls.files)
        assert status == 0, cls.server.stderr

    def refused(self, status, path, body=None, **kwargs):
        """`path` answers `status` with a JSON error, and nothing changes."""
        before = fingerprint(self.server)
        answer = self.server.request(path, body, **kwargs)
        self.assertEqual(answer.status, status, answer.body)
        self.assertTrue(answer.headers.get("Content-Type", "").startswith("application/json"), answer.headers)
        self.assertTrue(answer.json()["error"], answer.body)
        self.assertEqual(fingerprint(self.server), before)
        return answer.json()["error"]

    def test_unknown_node(self):
        self.assertIn("SN9", self.refused(404, "/api/open", {"node": "SN9", "page": 1022}))
        self.refused(404, "/api/open", {"node": "", "page": 1022})

    def test_unknown_page(self):
        for page in (1019, 1016, 0):  # a sensor's page, no page at all, nothing
            with self.subTest(page=page):
                self.refused(404, "/api/open", {"node": "SN1", "page": page})

    def test_unknown_control(self):
        for control in (4242, -1):  # none, and the statics' shared identifier
            with self.subTest(control=control):
                self.refused(404, "/api/action", {"action": "click", "control": control})
        self.refused(404, "/api/display?name=Nothing")

    def test_unknown_action(self):
        self.refused(400, "/api/action", {"action": "drag", "control": 1013})
        self.refused(400, "/api/action", {"action": "select", "control": 1013, "index": 0})  # a button has no items
        self.refused(400, "/api/action", {"control": 1013})
        self.refused(400, "/api/messagebox", {"id": 1, "answer": "Maybe"})

    def test_answer_to_no_message_box(self):
        self.refused(409, "/api/messagebox", {"id": 1, "answer": "OK"})

    def test_malformed_body(self):
        cases = [
            (b"{not json", 400),
            (b"[1, 2]", 400),
            (b'{"node": "SN1", "page": "1022"}', 400),
            (b'{"node": "SN1", "page": 1022.5}', 400),
            (b'{"node": ["SN1"], "page": 1022}', 400),
            (b'{"a":' * 200 + b"1" + b"}" * 200, 400),
        ]
        for raw, status in cases:
            with self.subTest(body=raw[:40]):
                self.refused(status, "/api/open", raw=raw)
        self.refused(415, "/api/open", raw=b'{"node": "SN1", "page": 1022}',
                     headers={"Content-Type": "text/plain"})
        self.refused(400, "/api/play", {"on": "yes"})

    def test_oversized_body(self):
        self.refused(413, "/api/action", {"action": "type", "control": 1025, "text": "4" * 100000})

    def test_foreign_origin(self):
        foreign = {"Origin": "http://evil.example"}
        self.refused(403, "/api/play", {"on": True}, headers=foreign)
        self.refused(403, "/api/open", {"node": "SN1/A", "page": 1019}, headers=foreign)
        self.refused(403, "/api/state", headers=foreign)
        self.refused(403, "/api/play", {"on": True}, headers={"Origin": "null"})
        # A name a stranger's DNS could point at this machine.
        self.refused(403, "/api/play", {"on": True}, headers={"Host": "evil.example:%s" % self.server.url.rsplit(":", 1)[1]})
        # The page's own origin is welcome.
        own = self.server.request("/api/state", headers={"Origin": self.server.url})
        self.assertEqual(own.status, 200)

    def test_no_path_is_opened(self):
        for path in ("/station.json", "/../station.json", "/%2e%2e/station.json", "/api/../station.json",
                     "/SN1/Settings.xml", "/app.js/../../station.json", "/etc/passwd", "/api/unknown"):
            with self.subTest(path=path):
                self.refused(404, path)
        for path, kind in (("/", "text/html"), ("/index.html", "text/html"), ("/app.js", "text/javascript"),
                           ("/style.css", "text/css")):
            with self.subTest(path=path):
                answer = self.server.request(path)
                self.assertEqual(answer.status, 200)
                self.assertTrue(answer.headers["Content-Type"].startswith(kind), answer.headers)

    def test_unread_event_stream_holds_nothing_up(self):
        """A browser that stops reading does not stop the loop."""
        host, port = self.server.host.rsplit(":", 1)
        idle = socket.create_connection((host, int(port)))
        idle.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        idle.sendall(b"GET /api/events HTTP/1.1\r\nHost: %s\r\n\r\n" % self.server.host.encode())
        try:
            self.assertEqual(self.server.request("/api/open", {"node": "SN1/A", "page": 1019}).status, 200)
            self.assertEqual(self.server.request("/api/play", {"on": True}).status, 200)
            generations = set()

            def advancing():
                for d in self.server.state()["displays"]["displays"]:
                    if d["name"] == "Free":
                        generations.add(d["generation"])
                return len(generations) >= 5
            support.wait_until(advancing, 60, "the Free display to advance")
            picture = self.server.request("/api/display?name=Free")
            self.assertEqual(picture.status, 200)
            self.assertEqual(picture.headers["Content-Type"], "image/png")
            self.assertEqual(picture.body[:8], b"\x89PNG\r\n\x1a\n")
        finally:
            idle.close()
            self.server.request("/api/play", {"on": False})
            self.server.request("/api/open", {"node": "SN1", "page": 1022})


class MessageBoxTimeoutTest(unittest.TestCase):
    zvhost = None

    def test_an_unanswered_box_gets_its_first_button(self):
        files = support.make_station(ApiTest.zvhost, "1")
        server = support.Server(ApiTest.zvhost, files, ["--box-timeout", "1"])
        try:
            self.assertEqual(server.request("/api/open", {"node": "SN1", "page": 1022}).status, 200)
            self.assertEqual(server.request("/api/action", {"action": "type", "control": 1025, "text": "49"}).status,
                             200)
            started = time.monotonic()
            clicked = server.request("/api/action", {"action": "click", "control": 1013})
            self.assertEqual(clicked.status, 200, clicked.body)
            self.assertGreaterEqual(time.monotonic() - started, 0.9)
            boxes = [e for e in server.state()["log"] if e["event"] == "messagebox"]
            self.assertEqual([(b["text"], b["answer"]) for b in boxes], [("Invalid number of sensors entered!", "OK")])
            self.assertIsNone(server.state()["box"])
            self.assertFalse(os.path.exists(os.path.join(files, "SN1", "Settings.xml")))
        finally:
            self.assertEqual(server.stop(), 0)
            support.remove(files)
