"""Sweeps on a Dask cluster against the same sweep on one machine; zelmora.merge against zelmora-batch
merge."""

import _thread
import json
import os
import re
import signal
import subprocess
import sys
import threading

import pytest

import zelmora
from zelmora import _dask

SWEEP = dict(grid=(20, 16), seed=11, steps=30, record_every=10, set={"threshold": [2, 4, 6]}, repeats=3)
# Shards of runs long enough for progress calls between their first run and their last.
LONG = dict(grid=(80, 80), seed=5, steps=1500, record_every=500, repeats=8, jobs=1)


def identity(manifest_path):
    """What a manifest says the sweep is: its sweep's request and the hash of it with the build."""
    manifest = json.loads(manifest_path.read_text())
    return manifest["request"]["sweep"], manifest["request_hash"], manifest["build"], manifest["completed_runs"]


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip("distributed", reason="python3-distributed is missing (scripts/install-deps)")
    import logging

    import cloudpickle

    # The workers are other processes: they get this module's functions by value.
    cloudpickle.register_pickle_by_value(sys.modules[__name__])
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0",
                                  silence_logs=logging.CRITICAL) as cluster, distributed.Client(cluster) as dask:
        yield dask


def one_machine(folder, **sweep):
    folder.mkdir()
    return zelmora.sweep(**sweep, out=folder / "sweep.csv")


def test_a_sweep_on_the_cluster_is_the_sweep_on_one_machine(client, tmp_path):
    single = one_machine(tmp_path / "one", **SWEEP)
    (tmp_path / "many").mkdir()
    for shards in [None, 4]:  # one per worker thread, and more shards than workers
        out = tmp_path / "many" / f"sweep{shards}.csv"
        spread = zelmora.sweep(**SWEEP, out=out, client=client, shards=shards)
        assert out.read_bytes() == (tmp_path / "one/sweep.csv").read_bytes()
        assert identity(out.with_suffix(".json")) == identity(tmp_path / "one/sweep.json")
        assert (spread.runs, spread.master_seed) == (single.runs, single.master_seed) == (9, 11)
        made = sorted(p.name for p in (tmp_path / "many" / f"sweep{shards}.shards").glob("*.csv"))
        assert made == sorted(f"shard-{i}-of-{shards or 2}.csv" for i in range(shards or 2))


class KillOnce:
    """A shard's hook that kills its worker's process once, in shard 0 after its first run and
    before its last: the worker is lost with the shard begun."""

    def __init__(self, marker):
        self.marker = marker

    def __call__(self, index, runs_done, runs):
        if index == 0 and 0 < runs_done < runs and not os.path.exists(self.marker):
            with open(self.marker, "w") as f:
                f.write(f"{runs_done}\n")
            os.kill(os.getpid(), signal.SIGKILL)


def test_a_shard_whose_worker_is_killed_is_resumed_elsewhere_and_the_bytes_stay(client, tmp_path):
    one_machine(tmp_path / "one", **dict(LONG, jobs=None))
    (tmp_path / "many").mkdir()
    out = tmp_path / "many/sweep.csv"
    marker = tmp_path / "killed"
    _dask.sweep(client, dict(LONG), str(out), shards=2, hook=KillOnce(str(marker)))
    assert marker.exists(), "no progress call came between shard 0's first and last run: make its runs longer"
    assert out.read_bytes() == (tmp_path / "one/sweep.csv").read_bytes()
    assert identity(out.with_suffix(".json")) == identity(tmp_path / "one/sweep.json")
    shard = json.loads((tmp_path / "many/sweep.shards/shard-0-of-2.json").read_text())
    assert len(shard["resumed"]) == 1  # resumed once, from the runs the killed worker had finished


class SayBegun:
    """A shard's hook that sets a Dask event once shard 1 has finished a run."""

    def __call__(self, index, runs_done, runs):
        if index == 1 and runs_done >= 1:
            from distributed import Event

            Event("zelmora-test-begun").set()


def test_ctrl_c_stops_the_tasks_says_which_shards_are_kept_and_the_same_call_finishes_them(client, tmp_path,
                                                                                          capsys):
    import distributed

    one_machine(tmp_path / "one", **dict(LONG, jobs=None))
    out = tmp_path / "sweep.csv"
    begun = distributed.Event("zelmora-test-begun", client=client)
    interrupter = threading.Thread(target=lambda: (begun.wait(), _thread.interrupt_main()))
    interrupter.start()
    with pytest.raises(KeyboardInterrupt):
        _dask.sweep(client, dict(LONG), str(out), shards=3, hook=SayBegun())
    interrupter.join()
    said = capsys.readouterr().err
    kept = re.search(r"kept in (\S+), of shards 0 to 2: complete ([\d, ]+|none); begun ([\d, ]+|none);", said)
    assert kept and kept.group(1) == str(tmp_path / "sweep.shards"), said
    listed = {group: set(re.findall(r"\d+", kept.group(group))) for group in (2, 3)}
    assert "1" in listed[2] | listed[3] and not out.exists()
    files = zelmora.sweep(**LONG, out=out, client=client)  # the stopped call's three shards, not one a thread
    assert out.read_bytes() == (tmp_path / "one/sweep.csv").read_bytes() and files.runs == 8
    assert len(list((tmp_path / "sweep.shards").glob("shard-*-of-3.csv"))) == 3
    for index in listed[3]:  # a begun shard went on from its runs
        assert json.loads((tmp_path / f"sweep.shards/shard-{index}-of-3.json").read_text())["resumed"]


def test_the_options_a_cluster_sweep_refuses(client, tmp_path):
    (tmp_path / "taken.csv").write_text("")
    for options, words in [(dict(), "client: needs out="), (dict(out=tmp_path / "a.csv", shard=(0, 2)), "shard: not"),
                           (dict(out=tmp_path / "a.csv", resume=True), "resume: not"),
                           (dict(out=tmp_path / "a.txt"), "ending in .csv"),
                           (dict(out=tmp_path / "a.csv", shards=0), "shards: expects"),
                           (dict(out=tmp_path / "taken.csv"), "taken.csv' exists")]:
        with pytest.raises(ValueError, match=words):
            zelmora.sweep(**SWEEP, client=client, **options)
    with pytest.raises(TypeError, match="client: expects a dask.distributed Client"):
        zelmora.sweep(**SWEEP, out=tmp_path / "a.csv", client="tcp://localhost:8786")


@pytest.fixture(scope="module")
def shards(tmp_path_factory):
    """Two shards of SWEEP, a shard of it with another seed, and the whole sweep, as zelmora.sweep
    writes them."""
    folder = tmp_path_factory.mktemp("shards")
    made = {}
    for name, options in [("s0", dict(shard=(0, 2))), ("s1", dict(shard=(1, 2))),
                          ("other", dict(shard=(1, 2), seed=12)), ("whole", {})]:
        zelmora.sweep(**dict(SWEEP, **options), out=folder / f"{name}.csv")
        made[name] = str(folder / f"{name}.csv")
    return made


def test_merge_joins_shards_as_the_command_line_does(shards, batch_program, tmp_path):
    merged = zelmora.merge(tmp_path / "py.csv", [shards["s1"], shards["s0"]])
    subprocess.run([batch_program, "merge", str(tmp_path / "cli.csv"), shards["s1"], shards["s0"]], check=True,
                   timeout=120)
    whole = open(shards["whole"], "rb").read()
    assert (tmp_path / "py.csv").read_bytes() == (tmp_path / "cli.csv").read_bytes() == whole
    assert merged.runs == 9 and merged.master_seed == 11
    assert identity(tmp_path / "py.json") == identity(tmp_path / "cli.json")


def test_merge_refuses_what_the_command_line_refuses_in_its_words(shards, batch_program, tmp_path):
    (tmp_path / "taken.csv").write_text("")
    cases = [
        ("out.csv", ["s0"]),  # a shard missing
        ("out.csv", ["s0", "s0", "s1"]),  # a shard twice
        ("out.csv", ["s0", "other"]),  # another sweep's shard
        ("out.csv", ["whole", "s0"]),  # the whole sweep with one of its shards
        ("taken.csv", ["s0", "s1"]),  # out exists
        ("out.txt", ["s0", "s1"]),  # out is no CSV
        ("out.csv", []),  # no shard
    ]
    for out, names in cases:
        arguments = [str(tmp_path / out), *(shards[name] for name in names)]
        cli = subprocess.run([batch_program, "merge", *arguments], capture_output=True, text=True, timeout=120)
        assert cli.returncode == 2, (out, names, cli.stderr)
        with pytest.raises(ValueError) as refused:
            zelmora.merge(arguments[0], arguments[1:])
        assert f"zelmora-batch: {refused.value}\n" == cli.stderr, (out, names)
        assert not (tmp_path / "out.csv").exists()


def test_dask_is_imported_only_for_a_sweep_given_a_client(tmp_path):
    code = ("import sys, zelmora\n"
            "zelmora.sweep(grid=(10, 10), steps=2, seed=1, out='a.csv')\n"
            "zelmora.merge('b.csv', [zelmora.sweep(grid=(10, 10), steps=2, seed=1, out='s.csv').csv])\n"
            "print(sorted(name for name in sys.modules if name.split('.')[0] in ('dask', 'distributed')))\n")
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(zelmora.__file__)))
    done = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, env=env, capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "[]\n"
