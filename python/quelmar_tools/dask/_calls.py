"""Every call into Dask, behind the types the package relies on.

Dask ships its functions without annotations, so a type checker sees each
call as untyped. They are made here, through names typed Any, and nowhere
else; the rest of the package sees typed signatures only. Only public Dask
API is used.
"""

from __future__ import annotations

import inspect
import time
import uuid
from typing import TYPE_CHECKING, Any, Callable, Sequence

import dask

if TYPE_CHECKING:  # loaded where used: a worker that needs no frames never loads pandas
    import dask.dataframe as dd
    import pandas as pd

_dask: Any = dask

# Seconds between looks at the workers while a job runs.
POLL_SECONDS = 0.5
# Workers that may be lost during one job (nannies restart workers that pass
# their memory limit) before it stops: this many per worker it had at most.
LOSSES_PER_WORKER = 3


def delayed(function: Callable[..., Any], *, nout: int | None = None) -> Callable[..., Any]:
    """function as a task: calling the result records a call and returns its
    Delayed value (a tuple of nout of them when nout is given)."""
    made: Callable[..., Any] = _dask.delayed(function, nout=nout)
    return made


def constant(value: object) -> Any:
    """A value shared by many tasks, sent to the workers once."""
    return _dask.delayed(value, pure=True)


def default_client() -> Any:
    """The client that Dask would use, or None (Dask's local scheduler)."""
    try:
        from distributed import default_client as found
    except ImportError:
        return None
    untyped: Any = found
    try:
        return untyped()
    except ValueError:  # no client
        return None


def workers(client: Any) -> list[dict[str, Any]]:
    """The scheduler's record of every worker (nthreads, memory_limit, status)."""
    if "n_workers" in inspect.signature(client.scheduler_info).parameters:
        info = client.scheduler_info(n_workers=-1)  # newer Dask lists 5 by default
    else:
        info = client.scheduler_info()
    return list(info["workers"].values())


def wait_for_workers(client: Any, timeout: float) -> None:
    """Returns once the client has a worker; TimeoutError after timeout seconds."""
    if workers(client):
        return
    try:
        client.wait_for_workers(1, timeout=timeout)
    except TimeoutError:
        raise TimeoutError(f"no Dask worker joined the client's cluster within {timeout:g} s "
                           "(Options.worker_timeout)") from None


def submit(client: Any, value: Any) -> Any:
    """The value computing on the client's cluster: a Future."""
    return client.compute(value)


def compute(client: Any, value: Any, timeout: float) -> Any:
    """The value computed on the client's cluster, or with Dask's local
    scheduler when client is None. On a cluster the workers are watched:
    the job stops when every worker stays paused (or none is left) for
    timeout seconds, or when workers were lost more than LOSSES_PER_WORKER
    times per worker, instead of waiting for memory that never frees."""
    if client is None:
        return _dask.compute(value)[0]
    from distributed import wait

    future = client.compute(value)
    try:
        _watch(client, future, wait, timeout)
        return future.result()
    finally:
        future.cancel()


def _watch(client: Any, future: Any, wait: Any, timeout: float) -> None:
    status = {w["id"]: w.get("status", "running") for w in workers(client)}
    most = len(status)
    lost = 0
    stalled_since: float | None = None
    while True:
        try:
            wait(future, timeout=POLL_SECONDS)
            return
        except TimeoutError:
            pass
        now = {w["id"]: w.get("status", "running") for w in workers(client)}
        # Workers retired on purpose (an adaptive cluster shrinking) are no loss.
        lost += sum(1 for k, v in status.items() if k not in now and v != "closing_gracefully")
        status = now
        most = max(most, len(now))
        allowed = LOSSES_PER_WORKER * max(1, most)
        if lost > allowed:
            raise RuntimeError(f"Dask workers were lost {lost} times during the job (more than "
                               f"{allowed}); the usual cause is a memory limit too small for "
                               "the plan, see the workers' logs")
        if "running" in now.values():
            stalled_since = None
            continue
        stalled_since = stalled_since or time.monotonic()
        if time.monotonic() - stalled_since > timeout:
            if now:
                raise MemoryError(
                    f"every Dask worker stayed paused for {timeout:g} s (memory above Dask's "
                    "pause threshold): give the workers more memory, or more partitions "
                    "through Options(partitions=...)")
            raise RuntimeError(f"the Dask cluster had no worker for {timeout:g} s during the job")


class TaskGraph:
    """Tasks written straight into a graph, in Dask's documented custom
    graph form ((function, *arguments) under a key; keys and lists of keys
    among the arguments stand for the values computed under them). Chaining
    Delayed calls instead costs time that grows with the square of the
    tasks, each Delayed holding a copy of everything upstream: 16 partitions
    took seconds to build, 64 minutes. Taking a task out as a Delayed (for
    a Dask dataframe, say) closes the layer it is in; later tasks go to a
    new layer that may read what was built from it.

    Tasks added with take() (those that pick a part out of a result) run
    before every other task that is ready: until the last of them has run,
    the result they read stays in memory beside the parts already taken, and
    Dask's own order would leave most of them for the receivers' turn, so a
    worker held every routed row twice."""

    def __init__(self, name: str) -> None:
        self.name = name
        self.layer = self._new_layer()
        self.tasks: dict[Any, Any] = {}
        self.inputs: dict[Any, Any] = {}  # Delayed values the open layer reads
        self.closed: Any = None  # a Delayed over every closed layer
        self.layer_of: dict[Any, str] = {}
        self.taken: set[Any] = set()  # keys of take()

    def _new_layer(self) -> str:
        return f"{self.name}-{uuid.uuid4().hex}"

    def task(self, label: str, index: Any, function: Callable[..., Any], *args: Any) -> Any:
        """Adds function(*args) under the key (label-layer, *index); args may
        hold keys of this graph and Delayed values, also inside lists."""
        key = (f"{label}-{self.layer}", *(index if isinstance(index, tuple) else (index,)))
        self.tasks[key] = (function, *(self._argument(a) for a in args))
        self.layer_of[key] = self.layer
        return key

    def take(self, label: str, index: Any, function: Callable[..., Any], *args: Any) -> Any:
        """task(), for a task to run as soon as it is ready."""
        key = self.task(label, index, function, *args)
        self.taken.add(key)
        return key

    def _argument(self, value: Any) -> Any:
        from dask.delayed import Delayed

        if isinstance(value, Delayed):
            self.inputs[value.key] = value
            return value.key
        if isinstance(value, list):
            return [self._argument(v) for v in value]
        return value

    def _close(self) -> None:
        from dask.highlevelgraph import HighLevelGraph

        below = list(self.inputs.values()) + ([self.closed] if self.closed is not None else [])
        with _dask.annotate(priority=_Priority(frozenset(self.taken & self.tasks.keys()))):
            graph = HighLevelGraph.from_collections(self.layer, dict(self.tasks),
                                                    dependencies=below)
        self.closed = _delayed_value(next(iter(self.tasks)), graph, layer=self.layer)
        self.tasks, self.inputs, self.layer = {}, {}, self._new_layer()

    def delayed(self, key: Any) -> Any:
        """The value under key, as a Delayed."""
        if self.layer_of[key] == self.layer:
            self._close()
        return _delayed_value(key, self.closed.__dask_graph__(), layer=self.layer_of[key])


class _Priority:
    """Dask's priority of each key of a layer: higher for the given keys."""

    def __init__(self, first: frozenset[Any]) -> None:
        self.first = first

    def __call__(self, key: Any) -> int:
        return 1 if key in self.first else 0


def _delayed_value(key: Any, graph: Any, layer: str) -> Any:
    """A Delayed over a value of a graph built by hand."""
    from dask.delayed import Delayed

    make: Any = Delayed
    return make(key, graph, layer=layer)


def from_delayed(parts: Sequence[Any], meta: pd.DataFrame) -> dd.DataFrame:
    import dask.dataframe

    untyped: Any = dask.dataframe
    frame: dd.DataFrame = untyped.from_delayed(list(parts), meta=meta, verify_meta=False)
    return frame


def parts(frame: dd.DataFrame) -> list[Any]:
    """The frame's partitions, one Delayed each."""
    untyped: Any = frame
    return list(untyped.to_delayed())


def hash_shuffled(frame: dd.DataFrame, column: str, partitions: int,
                  method: str | None) -> list[Any]:
    """The frame shuffled by a hash of one column, one Delayed per partition."""
    untyped: Any = frame
    shuffled = untyped.shuffle(column, npartitions=partitions, shuffle_method=method)
    parts = list(shuffled.to_delayed())
    if len(parts) != partitions:
        raise RuntimeError(f"Dask's shuffle returned {len(parts)} partitions, not {partitions}")
    return parts
