"""quelmar-stats --html: the page holds the report's numbers, needs nothing
but itself, escapes what it quotes, and renders cleanly in a real browser
(headless Chromium, driven over the DevTools protocol on a pipe)."""

import base64
import contextlib
import fcntl
import io
import json
import math
import os
import select
import shutil
import subprocess
import sys
from html.parser import HTMLParser

import pytest

import quelmar
import quelmar_tools
from quelmar_tools import cli, html_report
from quelmar_tools._files import atomic_text

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DATA = os.path.join(ROOT, "examples", "data")
GRAPH = os.path.join(DATA, "graph.tsv")
CLUSTERING = os.path.join(DATA, "clustering.tsv")
OTHER = os.path.join(DATA, "clustering_alt.tsv")
CHROMIUM = "/usr/bin/chromium"
MEASURES = ["conductance", "mincut"]
FULL_OPTIONS = ["--cpm", "0.1", "--compare", OTHER, "--measures", ",".join(MEASURES)]


def quelmar_stats(*args):
    """Runs the command in this process (matplotlib is loaded once for the
    file); its status and standard output."""
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        status = cli.main([str(arg) for arg in args])
    return status, out.getvalue()


class Page(HTMLParser):
    """The parts of a page the tests read: every tag's attributes, and each
    table by id as {row key: [cells]}, a cell being its exact value (its
    title) where it has one, else its text."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.tags, self.tables = [], {}
        self._table = self._row = self._cell = None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attributes = dict(attrs)
        self.tags.append((tag, attributes))
        if tag == "table":
            self._table = self.tables.setdefault(attributes.get("id"), {})
        elif tag == "tr" and self._table is not None and "data-key" in attributes:
            self._row = self._table.setdefault(attributes["data-key"], [])
        elif tag == "td" and self._row is not None:
            self._cell = [attributes.get("title"), ""]

    def handle_endtag(self, tag):
        if tag == "td" and self._cell is not None:
            title, text = self._cell
            self._row.append(text.strip() if title is None else title)
            self._cell = None
        elif tag == "tr":
            self._row = None
        elif tag == "table":
            self._table = None

    def handle_data(self, data):
        if self._cell is not None:
            self._cell[1] += data


def exact(values):
    """Numbers as the page's titles give them: the shortest round trip."""
    return [repr(value) for value in values]


@pytest.fixture(scope="module")
def full(tmp_path_factory):
    """The page of every option the page reacts to, the JSON report of the
    same options, and the cluster and match files written either way."""
    pytest.importorskip("matplotlib")
    folder = tmp_path_factory.mktemp("full")
    page = folder / "report.html"
    files = {}
    for form in ("html", "json"):
        written = [folder / f"clusters_{form}.csv", folder / f"matches_{form}.csv"]
        extra = ["--html", page] if form == "html" else ["--format", "json"]
        status, out = quelmar_stats(GRAPH, CLUSTERING, *FULL_OPTIONS, "--clusters", written[0],
                                    "--matches", written[1], *extra)
        assert status == 0
        files[form] = [path.read_text() for path in written]
        if form == "json":
            report = json.loads(out)
    assert files["html"] == files["json"]  # --html changes no other output
    return page, Page(page.read_text()), report


def test_page_is_self_contained(full):
    path, page, _ = full
    text = path.read_text()
    assert "http:" not in text.lower() and "https:" not in text.lower()
    assert not {tag for tag, _ in page.tags} & {"script", "link", "img", "iframe", "object"}
    for tag, attributes in page.tags:
        for name in ("src", "href", "xlink:href"):  # within the page, or data itself
            assert attributes.get(name, "#").startswith(("#", "data:")), (tag, name)
    assert "@import" not in text and "url(" not in text.replace("url(#", "")
    # One document: the figures' ids (glyphs are numbered per figure) must
    # not collide, or a figure draws another's letters.
    ids = [attributes["id"] for _, attributes in page.tags if "id" in attributes]
    assert len(ids) == len(set(ids))
    # A figure for each plot the options asked: the summaries, the sizes,
    # each measure, the connectivity, the overlap and the best matches.
    assert sum(tag == "svg" for tag, _ in page.tags) == 2 + len(MEASURES) + 1 + 2


def test_numbers_equal_the_json_report(full):
    _, page, report = full
    tables, comparison = page.tables, report["comparison"]
    assert {key: cells for key, cells in tables["overview"].items()} == \
        {key: exact([report[key]]) for key in tables["overview"]}
    assert set(tables["overview"]) == {*quelmar_tools.table.STATS_COUNTS, "modularity",
                                       "unknown_memberships", "dropped_singletons",
                                       "unassigned_nodes"}
    expected = {**report["distributions"], **report["measures"]}
    assert tables["summaries"] == {name: exact(values) for name, values in expected.items()}
    assert list(tables["summaries"]) == list(expected)  # as the text report orders them
    assert tables["size-change"] == {"size change": exact(comparison["changes"])}
    assert tables["agreement"] == {name: exact([value])
                                   for name, value in comparison["agreement"].items()}
    assert tables["comparison"] == {key: exact([comparison[key]])
                                    for key in ("compared", "missing", "grown")}


def test_cluster_tables_against_a_plain_ranking(full):
    _, page, _ = full
    graph = quelmar.Graph(GRAPH)
    table = quelmar_tools.cluster_table(quelmar.Clustering(graph, CLUSTERING, cpm=0.1),
                                        measures=["mincut"])
    rows = [(int(key), int(row["n"]), float(row["mincut"])) for key, row in table.iterrows()]
    largest = sorted(rows, key=lambda row: (-row[1], row[0]))[:html_report.TOP_CLUSTERS]
    assert [int(key) for key in page.tables["largest"]] == [key for key, _, _ in largest]
    ranked = sorted((cut / math.log10(n), key) for key, n, cut in rows if n >= 11)
    shown = {int(key): cells for key, cells in page.tables["worst-connected"].items()}
    assert list(shown) == [key for _, key in ranked[:html_report.TOP_CLUSTERS]]
    for ratio, key in ranked[:html_report.TOP_CLUSTERS]:
        assert float(shown[key][-2]) == pytest.approx(ratio, rel=1e-12)
        assert shown[key][-1] == ("yes" if ratio > 1 else "no")


def test_quoted_text_is_escaped(tmp_path):
    pytest.importorskip("matplotlib")
    folder = tmp_path / 'a<b&c>"d'
    folder.mkdir()
    graph, clustering = folder / "graph.tsv", folder / "<clusters>.tsv"
    shutil.copy(GRAPH, graph)
    shutil.copy(CLUSTERING, clustering)
    page = folder / "report.html"
    assert quelmar_stats(graph, clustering, "--html", page)[0] == 0
    text = page.read_text()
    assert 'a<b&c>"d' not in text and "<clusters>" not in text
    assert 'a&lt;b&amp;c&gt;&quot;d/&lt;clusters&gt;.tsv' in text
    parsed = Page(text)
    assert parsed.tables["inputs"]["clustering"] == [str(clustering)]
    assert parsed.tables["inputs"]["graph"] == [str(graph)]
    # Without options, only the two plots always drawn; and no temporary file left.
    assert sum(tag == "svg" for tag, _ in parsed.tags) == 2
    assert sorted(os.listdir(folder)) == sorted(["graph.tsv", "<clusters>.tsv", "report.html"])


def test_without_matplotlib_fails_before_loading(tmp_path):
    wrapper = ("import sys; sys.modules['matplotlib'] = None\n"
               "from quelmar_tools.cli import main\nsys.exit(main())\n")
    page = tmp_path / "report.html"
    # An absent graph: loading it would fail with another message.
    done = subprocess.run([sys.executable, "-c", wrapper, "absent.tsv", CLUSTERING,
                           "--html", str(page)], capture_output=True, text=True, timeout=60)
    from quelmar_tools import plot

    assert (done.returncode, done.stdout) == (1, "")
    assert done.stderr == f"quelmar-stats: {plot.MISSING_MATPLOTLIB}\n"
    assert 'pip install "quelmar[plot]"' in done.stderr and not page.exists()


def test_a_page_that_cannot_be_written_is_named(tmp_path):
    target = tmp_path / "absent" / "report.html"
    with pytest.raises(FileNotFoundError) as caught:
        with atomic_text(target):
            pass
    assert caught.value.filename == str(target)


class Chromium:
    """Headless Chromium over --remote-debugging-pipe: commands go to its
    fd 3 and replies come from its fd 4, as NUL-terminated JSON."""

    WAIT = 30  # seconds before a silent browser counts as hung

    def __init__(self, profile):
        commands, self._to = os.pipe()
        self._from, replies = os.pipe()
        # Above 9, so that neither end is a 3 or 4 that the other's move would close.
        commands, replies = (self._moved_up(fd) for fd in (commands, replies))
        flags = ["--headless", "--remote-debugging-pipe", f"--user-data-dir={profile}",
                 "--no-first-run", "--no-default-browser-check", "--disable-gpu",
                 "--disable-extensions", "--disable-background-networking",
                 "--disable-dev-shm-usage", "--window-size=1024,768"]
        if os.geteuid() == 0:
            flags.append("--no-sandbox")  # Chromium refuses to sandbox as root
        # Bash puts the pipes at fds 3 and 4: a preexec_fn could deadlock
        # beside the module's worker threads, and dash reads no fd above 9.
        self.log = open(os.path.join(profile, "stderr.txt"), "w+")
        self.process = subprocess.Popen(
            ["/bin/bash", "-c", f'exec "$0" "$@" 3<&{commands} 4>&{replies}', CHROMIUM, *flags,
             "about:blank"], pass_fds=(commands, replies), stdin=subprocess.DEVNULL,
            stdout=self.log, stderr=self.log)
        os.close(commands)
        os.close(replies)
        self._buffer, self._next, self.events = b"", 0, []

    @staticmethod
    def _moved_up(fd):
        moved = fcntl.fcntl(fd, fcntl.F_DUPFD, 10)
        os.close(fd)
        return moved

    def call(self, method, session=None, **params):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self._to, json.dumps(message).encode() + b"\0")
        while True:
            reply = self._read()
            if reply.get("id") == self._next:
                assert "error" not in reply, (method, reply["error"])
                return reply["result"]
            self.events.append(reply)

    def wait_for(self, method):
        while not any(event.get("method") == method for event in self.events):
            self.events.append(self._read())

    def _read(self):
        while b"\0" not in self._buffer:
            ready, _, _ = select.select([self._from], [], [], self.WAIT)
            chunk = os.read(self._from, 1 << 20) if ready else b""
            if not chunk:
                self.log.seek(0)
                raise AssertionError(f"Chromium stopped answering: {self.log.read()[-2000:]}")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def render(self, url):
        """Loads `url` in a new tab: its problems (console errors, uncaught
        exceptions, log errors), the URLs it requested, and a screenshot of
        the whole page as PNG bytes."""
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.call(f"{domain}.enable", session)
        self.events = []
        self.call("Page.navigate", session, url=url)
        self.wait_for("Page.loadEventFired")
        size = self.call("Page.getLayoutMetrics", session)["cssContentSize"]
        shot = self.call("Page.captureScreenshot", session, format="png",
                         captureBeyondViewport=True,
                         clip={"x": 0, "y": 0, "width": size["width"],
                               "height": size["height"], "scale": 1})
        self.call("Target.closeTarget", targetId=target)
        mine = [event for event in self.events if event.get("sessionId") == session]
        problems = [event["params"] for event in mine
                    if event["method"] == "Runtime.exceptionThrown"
                    or (event["method"] == "Runtime.consoleAPICalled"
                        and event["params"]["type"] in ("error", "assert"))
                    or (event["method"] == "Log.entryAdded"
                        and event["params"]["entry"]["level"] == "error")]
        requested = [event["params"]["request"]["url"] for event in mine
                     if event["method"] == "Network.requestWillBeSent"]
        return problems, requested, base64.b64decode(shot["data"])

    def close(self):
        with contextlib.suppress(AssertionError, OSError):
            self.call("Browser.close")
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self._to)
        os.close(self._from)
        self.log.close()


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    if not os.access(CHROMIUM, os.X_OK):
        pytest.skip(f"no Chromium at {CHROMIUM}")
    chromium = Chromium(tmp_path_factory.mktemp("chromium"))
    yield chromium
    chromium.close()


def drawn(png):
    """The share of pixels unlike the most common one, and the number of
    colours, of a screenshot."""
    image = pytest.importorskip("PIL.Image").open(io.BytesIO(png)).convert("RGB")
    colours = image.getcolors(image.width * image.height)
    background = max(count for count, _ in colours)
    return 1 - background / (image.width * image.height), len(colours)


def test_page_renders_cleanly_in_chromium(browser, full):
    path, _, _ = full
    problems, requested, png = browser.render(path.as_uri())
    assert problems == []
    # data: URLs are the page's own bytes (raster parts of a plot).
    assert [url for url in requested if not url.startswith("data:")] == [path.as_uri()]
    share, colours = drawn(png)
    assert share > 0.02 and colours >= 16, (share, colours)


def test_the_browser_checks_see_faults(browser, tmp_path):
    # What the checks above must catch, lest they pass on anything.
    bad = tmp_path / "bad.html"
    bad.write_text("<!DOCTYPE html><title>bad</title><img src='http://127.0.0.1:9/x.png'>"
                   "<script>console.error('logged'); throw new Error('thrown');</script>")
    problems, requested, png = browser.render(bad.as_uri())
    assert len(problems) >= 2 and requested[1:] == ["http://127.0.0.1:9/x.png"]
    assert drawn(png)[0] < 0.02
