"""How the work is cut: the number of partitions of every shuffle, the
bytes of text per parsing task and the shuffle method, chosen from the
workers' memory limits (as the client reports them) and the size of the
input, unless the caller fixes them.

* Partitions: the heaviest per-partition step holds about BYTES_PER_LINE
  bytes per input line of its partition (edge and membership lines alike:
  the rows it was sent, their concatenation, its sort order and the rows it
  sends on). A task may use TASK_SHARE of its worker's memory limit, less
  what an idle worker holds, shared by the worker's threads; the rest is
  left to results waiting for their consumers. Partitions are as many as
  keep each within that budget and under PARTITION_LINES lines (past that,
  sorting and hashing leave the caches and slow down), at least one per
  worker thread and a multiple of the thread count, so that threads get
  equal shares.
* Blocks: a parsing task holds its text, the parsed names and the shuffle's
  copies of them, so a block is an eighth of the budget, 1 to 64 MiB, and
  small enough that every thread parses several.
* Method: rows move as pieces in worker memory ("tasks", much the faster
  way) unless the workers may not spill: Dask moves results that pass its
  spill thresholds to the workers' disk, and the pieces are plain results,
  so only a running task's own need has to fit. Without spilling, the
  pieces (about SHUFFLED_BYTES_PER_LINE per line, spread over the workers)
  must fit beside the tasks, or the rows go through Dask's P2P shuffle,
  which passes them through the workers' scratch disk.
* Fit: a worker holds an idle worker (what the workers report now, at
  least IDLE_WORKER_BYTES), a task per thread and its share of the shuffle
  (need()); Dask pauses a worker above a fraction of its limit (0.8 by
  default) and waits for memory that the job itself holds, so a plan that
  does not fit below that fails at once with MemoryError rather than being
  submitted.

The constants were measured at the 20M-line benchmark on workers of one
thread: an idle worker holds 67 MiB, 88 MiB after a job; the heaviest step
(then degrees: the hi-side rows sent, joined, and counted; the steps now read
their pieces without joining them, so this errs high) about 100 bytes per
line of its partition; every piece held at once, about 40 bytes per line
(as Dask counts them). Each constant is that with a margin of 1.5.
"""

from __future__ import annotations

import math
import os
from dataclasses import dataclass
from typing import Any, Sequence

from quelmar_tools.dask import _calls, _parsing

BYTES_PER_LINE = 160
SHUFFLED_BYTES_PER_LINE = 64
PARTITION_LINES = 1_500_000
IDLE_WORKER_BYTES = 128 << 20
TASK_SHARE = 0.5
MIN_TASK_BYTES = 32 << 20
MIN_BLOCK_BYTES = 1 << 20
MAX_BLOCK_BYTES = 64 << 20
BLOCKS_PER_THREAD = 4
SAMPLE_BYTES = 1 << 20
SAMPLED_FILES = 8
# A parsing task holds about this many times its block of text.
BLOCK_TASK_FACTOR = 8
# Parquet rows read per task: as many bytes of names as a block has text.
PARQUET_ROW_BYTES = 16


@dataclass(frozen=True)
class Options:
    """Fix how the Dask path cuts the work, instead of leaving it to the plan.

    Each field left None is chosen from the workers' memory limits and the
    input size, as the guide's page "Beyond one machine" says. A frozen
    record: each field below is an attribute of the same name.

    Parameters
    ----------
    block_bytes : int, optional
        Bytes of text per parsing task.
    partitions : int, optional
        The partitions of every shuffle.
    shuffle_method : str, optional
        Dask's shuffle method ("tasks", "p2p", ...).
    worker_timeout : float, default 60.0
        Seconds to wait for a first worker when the cluster has none, and
        how long every worker may stay paused (or none be left) during a
        job before it stops.

    Examples
    --------
    >>> import os, tempfile, numpy as np, quelmar_tools.dask
    >>> folder = tempfile.mkdtemp()
    >>> edges = os.path.join(folder, "edges.txt")
    >>> clusters = os.path.join(folder, "clusters.txt")
    >>> np.savetxt(edges, [[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]], fmt="%d")
    >>> np.savetxt(clusters, [[1, 0], [2, 0], [3, 0], [4, 7], [5, 7], [6, 7]], fmt="%d")
    >>> options = quelmar_tools.dask.Options(partitions=2, block_bytes=1 << 20)
    >>> quelmar_tools.dask.statistics(edges, clusters, options=options).num_clusters
    2
    """

    block_bytes: int | None = None
    partitions: int | None = None
    shuffle_method: str | None = None
    worker_timeout: float = 60.0


@dataclass(frozen=True)
class Plan:
    block_bytes: int
    partitions: int
    shuffle_method: str | None


@dataclass(frozen=True)
class Workers:
    memory: int  # the smallest memory limit of a worker
    threads_per_worker: int  # the most threads of a worker
    threads: int  # of all workers
    total_memory: int  # of all workers
    count: int = 1
    limited: bool = False  # the limits are Dask's, enforced by pausing and restarting
    idle: int = IDLE_WORKER_BYTES  # what a worker holds before the job

    def task_budget(self) -> int:
        """The bytes one running task may use."""
        spare = int(self.memory * TASK_SHARE) - self.idle
        return max(spare // self.threads_per_worker, MIN_TASK_BYTES)


def workers(client: Any, timeout: float) -> Workers:
    """What the client's workers offer (waiting up to timeout seconds for a
    first one); without a client, this machine."""
    if client is None:
        threads = os.cpu_count() or 1
        return Workers(_machine_memory(), threads, threads, _machine_memory())
    _calls.wait_for_workers(client, timeout)
    infos = _calls.workers(client)
    counts = [int(i["nthreads"]) for i in infos]
    memory = [_worker_memory(i) for i in infos]
    limited = all(int(i.get("memory_limit") or 0) > 0 for i in infos)
    # A worker that ran other work may hold more than a fresh one (pandas,
    # say, which this job's joins never load).
    held = max(int((i.get("metrics") or {}).get("memory") or 0) for i in infos)
    return Workers(min(memory), max(counts), sum(counts), sum(memory), len(infos), limited,
                   max(IDLE_WORKER_BYTES, held))


def _machine_memory() -> int:
    return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")


def _worker_memory(info: dict[str, Any]) -> int:
    limit = int(info.get("memory_limit") or 0)
    if limit > 0:
        return limit
    return _machine_memory()  # no limit: the machine's, shared with its other workers


def plan(options: Options, edges: list[str], clusterings: Sequence[list[str]],
         client: Any) -> Plan:
    """The plan; MemoryError when a worker's limit cannot hold it."""
    offer = workers(client, options.worker_timeout)
    lines = _lines(edges) + sum(_lines(c) for c in clusterings)
    # The edges are most of the text; without them (an agreement of two
    # clusterings alone), the memberships are.
    text_bytes = sum(_size(p) for p in (edges or [p for c in clusterings for p in c]))
    chosen = _fitting(offer, lines, text_bytes)
    wanted = Plan(options.block_bytes or chosen.block_bytes,
                  options.partitions or chosen.partitions,
                  options.shuffle_method or chosen.shuffle_method)
    if offer.limited:
        _check_memory(offer, lines, wanted, chosen)
    return wanted


def _fitting(offer: Workers, lines: int, text_bytes: int) -> Plan:
    budget = offer.task_budget()
    least = max(math.ceil(lines * BYTES_PER_LINE / budget), math.ceil(lines / PARTITION_LINES))
    partitions = offer.threads * max(1, math.ceil(least / offer.threads))
    spread = math.ceil(text_bytes / (BLOCKS_PER_THREAD * offer.threads))
    block_bytes = max(MIN_BLOCK_BYTES, min(budget // BLOCK_TASK_FACTOR, MAX_BLOCK_BYTES, spread))
    in_memory = Plan(block_bytes, partitions, "tasks")
    if need(offer, lines, in_memory) <= usable(offer.memory):
        return in_memory
    return Plan(block_bytes, partitions, None)


def need(offer: Workers, lines: int, plan: Plan) -> int:
    """Bytes a worker holds at the peak of the plan: an idle worker, a task
    on each thread, and its share of the shuffle (all shuffled pieces for
    the tasks shuffle, the disk buffer for P2P, which writes the rest)."""
    task = max(math.ceil(lines / plan.partitions) * BYTES_PER_LINE,
               BLOCK_TASK_FACTOR * plan.block_bytes, MIN_TASK_BYTES)
    if plan.shuffle_method != "tasks":
        shuffle = _config_bytes("distributed.p2p.storage.buffer", 100 << 20)
    elif spills():
        shuffle = 0  # the pieces are results like any other: past Dask's thresholds, on disk
    else:
        shuffle = math.ceil(lines * SHUFFLED_BYTES_PER_LINE / offer.count)
    return offer.idle + offer.threads_per_worker * task + shuffle


def spills() -> bool:
    """Whether Dask's workers move results to disk when memory runs short."""
    import dask

    return any(dask.config.get(f"distributed.worker.memory.{k}", 0.6) is not False
               for k in ("target", "spill"))


def usable(limit: int) -> int:
    """The bytes of a memory limit below Dask's pause threshold."""
    import dask

    fraction = dask.config.get("distributed.worker.memory.pause", 0.8)
    if fraction is False:
        fraction = dask.config.get("distributed.worker.memory.terminate", 0.95) or 1.0
    return int(limit * float(fraction))


def _config_bytes(key: str, default: int) -> int:
    import dask
    from dask.utils import parse_bytes

    value = dask.config.get(key, default)
    return int(parse_bytes(value) if isinstance(value, str) else value)


def _mib(count: int) -> str:
    return f"{count / (1 << 20):,.0f} MiB"


def _check_memory(offer: Workers, lines: int, wanted: Plan, chosen: Plan) -> None:
    needed = need(offer, lines, wanted)
    if needed <= usable(offer.memory):
        return
    if need(offer, lines, chosen) <= usable(offer.memory):
        fits = (f"Options(partitions={chosen.partitions}, block_bytes={chosen.block_bytes}, "
                f"shuffle_method={chosen.shuffle_method!r}) would fit")
    else:
        least = math.ceil(need(offer, lines, chosen) * (1 << 30) / usable(1 << 30))
        fits = (f"no Options fit: give each worker a limit of at least {_mib(least)} "
                f"with {offer.threads_per_worker} thread(s), or fewer threads per worker")
    raise MemoryError(
        f"a Dask worker's memory limit of {_mib(offer.memory)} is too small: this job needs "
        f"about {_mib(needed)} per worker below the pause threshold ({_mib(usable(offer.memory))}): "
        f"{_mib(offer.idle)} for the idle worker, {offer.threads_per_worker} task(s) "
        f"and the {wanted.shuffle_method or 'p2p'} shuffle's share; {fits}")


def _lines(paths: list[str]) -> int:
    """The number of lines (rows) of the input, estimated for text from the
    first bytes of a few files."""
    if _parsing.is_parquet(paths):
        import pyarrow.dataset as ds

        return sum(int(ds.dataset(p, format="parquet").count_rows()) for p in paths)
    total = sum(_size(p) for p in paths)
    step = max(1, len(paths) // SAMPLED_FILES)
    sampled = lines = 0
    for path in paths[::step][:SAMPLED_FILES]:
        with open(path, "rb") as file:
            data = file.read(SAMPLE_BYTES)
        sampled += len(data)
        lines += data.count(b"\n") + (1 if data and not data.endswith(b"\n") else 0)
    return math.ceil(total * lines / sampled) if sampled else 0


def _size(path: str) -> int:
    if os.path.isdir(path):
        return sum(_size(os.path.join(path, f)) for f in os.listdir(path))
    return os.path.getsize(path)
