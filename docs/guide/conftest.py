"""The guide's examples run as doctests (pytest --doctest-glob), from the
repository root, where their paths to the bundled data start."""

from __future__ import annotations

from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


@pytest.fixture(autouse=True)
def _from_repository_root(monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.chdir(ROOT)
    # The pages' plots draw into files only, whatever the machine has.
    monkeypatch.setenv("MPLBACKEND", "Agg")
