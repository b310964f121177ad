"""How the work is cut: the number of partitions of every shuffle, the
bytes of text per parsing task and the shuffle method, chosen from the
workers' memory limits (as the client reports them) and the size of the
input, unless the caller fixes them.

* Partitions: the heaviest per-partition step holds about BYTES_PER_LINE
  bytes per input line of its partition (edge and membership lines alike:
  the edges, their sort order, the rows sent on, the joined memberships).
  A task may use TASK_SHARE of its worker's memory limit, less what an idle
  worker holds, shared by the worker's threads; the rest is left to results
  waiting for their consumers. Partitions are as many as keep each within
  that budget and under PARTITION_LINES lines (past that, sorting and
  hashing leave the caches and slow down), at least one per worker thread
  and a multiple of the thread count, so that threads get equal shares.
* Blocks: a parsing task holds its text, the parsed names and the shuffle's
  copies of them, so a block is an eighth of the budget, 1 to 64 MiB, and
  small enough that every thread parses several.
* Method: Dask's "tasks" shuffle keeps the shuffled pieces in worker memory
  and is the faster one when they fit (about SHUFFLED_BYTES_PER_LINE per
  line against TASK_SHARE of all workers' memory); otherwise Dask's default
  (P2P), which passes them through the workers' scratch disk.
"""

from __future__ import annotations

import math
import os
from dataclasses import dataclass
from typing import Any, Sequence

from quelmar_tools.dask import _inputs

BYTES_PER_LINE = 256
SHUFFLED_BYTES_PER_LINE = 128
PARTITION_LINES = 1_500_000
IDLE_WORKER_BYTES = 256 << 20
TASK_SHARE = 0.5
MIN_TASK_BYTES = 32 << 20
MIN_BLOCK_BYTES = 1 << 20
MAX_BLOCK_BYTES = 64 << 20
BLOCKS_PER_THREAD = 4
SAMPLE_BYTES = 1 << 20
SAMPLED_FILES = 8


@dataclass(frozen=True)
class Options:
    """Overrides of how the work is cut: bytes of text per parsing task, the
    partitions of every shuffle, and Dask's shuffle method ("tasks", "p2p",
    ...). None: chosen from the workers' memory limits and the input size,
    as the README's "Beyond one machine" says."""

    block_bytes: int | None = None
    partitions: int | None = None
    shuffle_method: str | None = None


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

    def task_budget(self) -> int:
        """The bytes one running task may use."""
        spare = int(self.memory * TASK_SHARE) - IDLE_WORKER_BYTES
        return max(spare // self.threads_per_worker, MIN_TASK_BYTES)


def workers(client: Any) -> Workers:
    """What the client's workers offer; without a client, this machine."""
    if client is None:
        client = _default_client()
    if client is None:
        threads = os.cpu_count() or 1
        return Workers(_machine_memory(), threads, threads, _machine_memory())
    infos = list(client.scheduler_info(n_workers=-1)["workers"].values())
    if not infos:
        raise RuntimeError("the Dask client has no workers")
    counts = [int(i["nthreads"]) for i in infos]
    memory = [_worker_memory(i) for i in infos]
    return Workers(min(memory), max(counts), sum(counts), sum(memory))


def _default_client() -> Any:
    try:
        from distributed import default_client
    except ImportError:
        return None
    found: Any = default_client
    try:
        return found()
    except ValueError:  # no client
        return None


def _machine_memory() -> int:
    return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")


def _worker_memory(info: dict[str, Any]) -> int:
    limit = int(info.get("memory_limit") or 0)
    if limit > 0:
        return limit
    return _machine_memory()  # no limit: the machine's, shared with its other workers


def plan(options: Options, edges: list[str], clusterings: Sequence[list[str]],
         client: Any) -> Plan:
    partitions, block_bytes, method = options.partitions, options.block_bytes, \
        options.shuffle_method
    if partitions and block_bytes and method:
        return Plan(block_bytes, partitions, method)
    offer = workers(client)
    budget = offer.task_budget()
    lines = _lines(edges) + sum(_lines(c) for c in clusterings)
    if not partitions:
        least = max(math.ceil(lines * BYTES_PER_LINE / budget),
                    math.ceil(lines / PARTITION_LINES))
        partitions = offer.threads * max(1, math.ceil(least / offer.threads))
    if not block_bytes:
        text_bytes = sum(_size(p) for p in edges)
        spread = math.ceil(text_bytes / (BLOCKS_PER_THREAD * offer.threads))
        block_bytes = max(MIN_BLOCK_BYTES, min(budget // 8, MAX_BLOCK_BYTES, spread))
    if not method and lines * SHUFFLED_BYTES_PER_LINE <= offer.total_memory * TASK_SHARE:
        method = "tasks"
    return Plan(block_bytes, partitions, method)


def _lines(paths: list[str]) -> int:
    """The number of lines (rows) of the input, estimated for text from the
    first bytes of a few files."""
    if _inputs.is_parquet(paths):
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
