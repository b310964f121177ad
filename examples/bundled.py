"""Where the examples find the bundled data and put what they write.

The examples import this module rather than reading their own ``__file__``,
so that they run the same as scripts and inside the docs gallery, which
executes them without one.
"""

from __future__ import annotations

import os

EXAMPLES = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(EXAMPLES, "data")
#: Where examples write their outputs (not tracked by git).
OUT = os.path.join(EXAMPLES, "out")
GRAPH = os.path.join(DATA, "graph.tsv")
CLUSTERING = os.path.join(DATA, "clustering.tsv")
CLUSTERING_ALT = os.path.join(DATA, "clustering_alt.tsv")
