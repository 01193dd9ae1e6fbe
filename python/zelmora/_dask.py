"""zelmora.sweep(..., client=, out=): a sweep's shards as the tasks of a Dask cluster.

Each task runs one shard (shard=(i, n)) with out= in a folder every worker reaches and resume=True,
so a task Dask runs again after losing its worker finishes the runs the lost one left instead of
starting over; zelmora.merge then joins the shards into out, as zelmora-batch merge does. Dask is
imported here only, when a client is given.
"""

import json
import os
import secrets
import sys
import uuid
from pathlib import Path

from . import _core


class _Stopped(Exception):
    """Raised in a shard's task when the sweep is cancelled, to stop its runs between two steps."""


def _shard(keywords, index, count, csv, stop_name, hook):
    """One shard's task, on a worker: its files in csv's folder, begun or finished."""
    from distributed import Event

    import zelmora

    stop = Event(stop_name)
    if stop.is_set():
        return index

    def progress(runs_done, runs, steps_done, steps):
        if hook is not None:
            hook(index, runs_done, runs)
        if stop.is_set():
            raise _Stopped(f"shard {index} of {count} cancelled")

    zelmora.sweep(**keywords, shard=(index, count), out=csv, resume=True, progress=progress)
    return index


def _kept(folder):
    """The master seed and shard count of a sweep begun in folder, or (None, None)."""
    for manifest in sorted(Path(folder).glob("shard-*.json")):
        try:
            header = json.loads(manifest.read_text())
            return header["master_seed"], header["request"]["shard"][1]
        except (OSError, ValueError, KeyError, IndexError, TypeError):
            continue
    return None, None


def shard_files(folder, count):
    """The CSVs of the shards of a sweep of count shards in folder, by shard index."""
    return [os.path.join(folder, f"shard-{index}-of-{count}.csv") for index in range(count)]


def sweep(client, keywords, out, shards=None, shard_folder=None, hook=None):
    """zelmora.sweep with client=: see its documentation; returns what _core.sweep returns with out=.
    hook(index, runs_done, runs), if given, is called in every shard's task at its progress calls
    (the tests use it to hold a task)."""
    import distributed

    if not isinstance(client, distributed.Client):
        raise TypeError(f"client: expects a dask.distributed Client; got {type(client).__name__}")
    if out is None:
        raise ValueError("client: needs out=, the CSV the shards are merged into")
    for name in ("shard", "resume", "force", "progress"):
        if keywords.get(name):
            raise ValueError(f"{name}: not with client=, which shards the sweep itself and resumes its shards "
                             f"when the same call runs again")
    out = os.fsdecode(os.fspath(out))
    if not out.endswith(".csv"):
        raise ValueError(f"out: '{out}' is not a name ending in .csv")
    if os.path.lexists(out):
        raise ValueError(f"out: '{out}' exists; expects a new CSV to merge the shards into")
    if shards is not None and (isinstance(shards, bool) or not isinstance(shards, int) or shards < 1):
        raise ValueError(f"shards: expects a whole number of shards, 1 or more; got {shards!r}")
    folder = os.path.abspath(shard_folder if shard_folder is not None else out[:-4] + ".shards")
    os.makedirs(folder, exist_ok=True)
    # A stopped call's shards are finished with its master seed and shard count (unless given),
    # so that running it again resumes the same sweep on a cluster of any size.
    kept_seed, kept_count = _kept(folder)
    if shards is None:
        shards = kept_count or max(1, sum(client.nthreads().values()))
    keywords = {name: value for name, value in keywords.items() if value is not None and name not in
                ("shard", "resume", "force", "progress")}
    # Every shard draws its runs' seeds from one master seed.
    if keywords.get("seed") is None:
        keywords["seed"] = kept_seed if kept_seed is not None else secrets.randbits(64)
    keywords.setdefault("jobs", 1)  # each task is one of a worker's threads
    csvs = shard_files(folder, shards)

    stop = distributed.Event(f"zelmora-stop-{uuid.uuid4().hex}", client=client)
    futures = [client.submit(_shard, keywords, index, shards, csv, stop.name, hook, pure=False,
                             key=f"zelmora-shard-{index}-of-{shards}-{uuid.uuid4().hex}")
               for index, csv in enumerate(csvs)]
    try:
        for future in distributed.as_completed(futures):
            future.result()  # raises the first shard's error
    except BaseException:
        # Every task stops between two steps, keeping its runs, before the shards are listed; a
        # second Ctrl-C leaves them to stop by themselves.
        stop.set()
        try:
            distributed.wait(futures)
        finally:
            client.cancel(futures)
            complete = [index for index, csv in enumerate(csvs) if os.path.exists(csv)]
            begun = [index for index, csv in enumerate(csvs) if os.path.exists(csv + ".partial")]
            sys.stderr.write(
                f"zelmora.sweep: stopped; kept in {folder}, of shards 0 to {shards - 1}: complete {_listed(complete)}; "
                f"begun {_listed(begun)}; the same call again (master seed {keywords['seed']}) finishes them and "
                f"merges\n")
            sys.stderr.flush()
        raise
    _core.merge([os.fsencode(out), *map(os.fsencode, csvs)])
    return dict(out=out, manifest=out[:-4] + ".json", journal=out[:-4] + ".runs.jsonl", master_seed=keywords["seed"],
                runs=json.loads(Path(out[:-4] + ".json").read_text())["completed_runs"])


def _listed(indices):
    return ", ".join(map(str, indices)) if indices else "none"

