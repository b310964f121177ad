import os
import threading

import pytest

import support


@pytest.fixture
def files(tmp_path):
    """Writes input files into the test's temporary folder by name."""
    return support.Files(tmp_path)


@pytest.fixture
def pipe(tmp_path):
    """Makes named pipes fed from threads: pipe(name, start, chunk) writes
    `start`, then `chunk` over and over until the reader goes away (start
    None: no writer at all). Returns the pipe's path."""
    stop = threading.Event()
    made = []

    def make(name, start=b"", chunk=b""):
        path = tmp_path / name
        os.mkfifo(path)
        made.append(path)
        if start is not None:
            threading.Thread(target=support.feed, args=(path, start, chunk, stop),
                             daemon=True).start()
        return str(path)

    yield make
    stop.set()
    # A writer still waiting for a reader is released by opening the pipe.
    for path in made:
        try:
            os.close(os.open(path, os.O_RDONLY | os.O_NONBLOCK))
        except OSError:
            pass


def pytest_collection_modifyitems(items):
    """Runs the Dask tests last: the client's background threads keep
    allocating Python objects, which the leak checks of other files would
    count as their own."""
    items.sort(key=lambda item: item.path.name.startswith("test_dask"))


@pytest.fixture(scope="session")
def client():
    """One local Dask cluster for every Dask test of the session."""
    distributed = pytest.importorskip("distributed")
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with distributed.Client(cluster) as c:
        yield c
    cluster.close()
