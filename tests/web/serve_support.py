"""A zvhost serve process on a free loopback port over a temporary file
space, and the small HTTP client the tests and the measurements share."""

import json
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import urllib.error
import urllib.request

# Nothing here goes through a proxy: the server is on this machine.
for _name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
    os.environ.pop(_name, None)
os.environ["no_proxy"] = os.environ["NO_PROXY"] = "*"

_opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class Answer:
    def __init__(self, status, body, headers):
        self.status = status
        self.body = body
        self.headers = headers

    def json(self):
        return json.loads(self.body.decode("utf-8"))


def make_station(zvhost, servers="1"):
    """A temporary file space declaring `servers` (none has settings yet)."""
    files = tempfile.mkdtemp(prefix="zvhost-web-")
    subprocess.run([zvhost, "init", "--files", files, "--servers", servers], check=True,
                   stdout=subprocess.DEVNULL)
    return files


def create_settings(zvhost, files, server, sensors):
    """Settings.xml for `sensors` sensors on SN<server>, as the System Config page makes it."""
    script = 'type "Sensors:" %d\nclick "Create Settings.xml"\n' % sensors
    subprocess.run([zvhost, "page", "--files", files, "--node", "SN%d" % server, "--page", "1022",
                    "--script", "-"], input=script.encode(), check=True, stdout=subprocess.DEVNULL)


def sensor_page_name(zvhost, page):
    """The name the plug-in gives sensor page `page`, "" when it makes none."""
    files = make_station(zvhost, "1")
    try:
        create_settings(zvhost, files, 1, 1)
        out = subprocess.run([zvhost, "tree", "--files", files, "--json"], check=True,
                             stdout=subprocess.PIPE).stdout.decode()
    finally:
        remove(files)
    for line in out.splitlines():
        event = json.loads(line)
        for node in event.get("nodes", []):
            for p in node["pages"]:
                if p["id"] == page:
                    return p["name"]
    return ""


class Server:
    """zvhost serve on 127.0.0.1 and a port of its choosing."""

    def __init__(self, zvhost, files, extra=(), start_timeout=60, port=0):
        self.files = files
        self.process = subprocess.Popen(
            [zvhost, "serve", "--files", files, "--port", str(port)] + list(extra),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.stderr = b""
        self._drain = threading.Thread(target=self._read_stderr, daemon=True)
        self._drain.start()
        line = self._read_line(start_timeout)
        if "serving http://" not in line:
            self.stop()
            raise RuntimeError("zvhost serve did not start: %r %r" % (line, self.stderr))
        self.url = line.split("serving ", 1)[1].split(" ", 1)[0].rstrip("/")
        self.host = self.url[len("http://"):]

    def next_line(self, timeout=10):
        """The next line the server prints."""
        return self._read_line(timeout)

    def _read_stderr(self):
        self.stderr = self.process.stderr.read()

    def _read_line(self, timeout):
        result = []
        reader = threading.Thread(target=lambda: result.append(self.process.stdout.readline().decode()),
                                  daemon=True)
        reader.start()
        reader.join(timeout)
        return result[0] if result else ""

    def request(self, path, body=None, method=None, headers=None, raw=None, timeout=120):
        data = raw if raw is not None else (json.dumps(body).encode() if body is not None else None)
        all_headers = {"Content-Type": "application/json"} if data is not None else {}
        all_headers.update(headers or {})
        request = urllib.request.Request(self.url + path, data=data, headers=all_headers,
                                         method=method or ("POST" if data is not None else "GET"))
        try:
            with _opener.open(request, timeout=timeout) as response:
                return Answer(response.status, response.read(), response.headers)
        except urllib.error.HTTPError as e:
            return Answer(e.code, e.read(), e.headers)

    def connect(self, timeout=60):
        host, port = self.host.rsplit(":", 1)
        return socket.create_connection((host.strip("[]"), int(port)), timeout=timeout)

    def raw(self, data, timeout=60):
        """Sends `data` as it is on a new connection and reads until the
        server closes it: an Answer (status 0 when none came)."""
        with self.connect(timeout) as s:
            s.sendall(data)
            return read_answer(s)

    def state(self):
        answer = self.request("/api/state")
        assert answer.status == 200, answer.body
        return answer.json()

    def pid(self):
        return self.process.pid

    def stop(self, timeout=60):
        """Ends the server as Ctrl-C would; its exit status."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._drain.join(5)
        return self.process.returncode


def read_answer(sock, until_close=True):
    """One answer read from `sock`: its head, then its body by Content-Length
    or, without one, until the server closes the connection."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            return Answer(0, data, {})
        data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.setdefault(name.strip(), value.strip())
    length = headers.get("Content-Length")
    while (length is None and until_close) or (length is not None and len(body) < int(length)):
        chunk = sock.recv(65536)
        if not chunk:
            break
        body += chunk
    return Answer(int(lines[0].split(" ")[1]), body, headers)


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def wait_until(condition, timeout, what, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(interval)


def remove(path):
    shutil.rmtree(path, ignore_errors=True)
