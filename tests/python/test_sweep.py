import _thread
import os
import subprocess

import numpy as np
import pandas as pd
import pytest

import zelmora

DTYPES = {"integer": np.int64, "unsigned": np.uint64, "real": np.float64}


def like_share(v):
    """A measure written in Python: the mean share of like neighbours of the agents."""
    same = v.same_neighbours[v.agent_row, v.agent_col]
    other = v.other_neighbours[v.agent_row, v.agent_col]
    return np.mean(same / np.maximum(same + other, 1))


def os_threads():
    if not os.path.isdir("/proc/self/task"):
        pytest.skip("the process's threads are counted in /proc/self/task, which this system lacks")
    return len(os.listdir("/proc/self/task"))


def test_a_sweep_is_the_batch_programs_csv_with_the_columns_kinds(batch_program, tmp_path):
    out = tmp_path / "sweep.csv"
    subprocess.run([batch_program, "--grid", "22x16", "--density", "0.55", "--steps", "23", "--record-every", "5",
                    "--seed", "31", "--repeats", "2", "--set", "threshold=2,6", "--set", "travel-expenses=0.5:1.5:1",
                    "--set", "centers=on,off", "--returns-to-scale", "0.95", "--jobs", "2", "--charts", "off",
                    "--quiet", "--out", str(out)], check=True, timeout=120)
    csv = pd.read_csv(out, float_precision="round_trip", dtype={"seed": np.uint64})
    rows = zelmora.sweep(grid=(22, 16), density=0.55, steps=23, record_every=5, seed=31, repeats=2,
                         set={"threshold": [2, 6], "travel_expenses": "0.5:1.5:1", "centers": (True, False)},
                         returns_to_scale=0.95, jobs=3)
    table = zelmora.columns()
    assert list(rows.columns) == list(csv.columns) == list(table.name)
    assert [rows[c].dtype for c in table.name] == [np.dtype(DTYPES[k]) for k in table.kind]
    assert len(rows) == 16 * 6 and rows.attrs["master_seed"] == 31
    for name in table.name:
        assert np.array_equal(rows[name].to_numpy(), csv[name].to_numpy(), equal_nan=True), name


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_numbers_measures_and_agents_do_not_depend_on_jobs(seed):
    options = dict(grid=(18, 14), steps=9, record_every=3, seed=seed, set={"threshold": [1, 4, 7]}, repeats=2,
                   measures={"like": like_share, "agents_seen": lambda v: v.agent_count}, agent_rows=True)
    rows, agents = zelmora.sweep(jobs=1, **options)
    for jobs in (2, 5):
        more_rows, more_agents = zelmora.sweep(jobs=jobs, **options)
        pd.testing.assert_frame_equal(rows, more_rows)
        pd.testing.assert_frame_equal(agents, more_agents)


def test_measures_and_agent_rows_see_each_recorded_step_as_a_replayed_world_does():
    kept = []

    def keep(v):
        assert not (v.local_price.flags.writeable or v.agent_col.flags.writeable)
        kept.append((v.run, v.local_price, v.agent_col))  # views held past the run
        return v.measures()["percent_similar"]

    rows, agents = zelmora.sweep(grid=(16, 20), steps=12, record_every=4, seed=8, jobs=2,
                                 set={"returns_to_scale": [0.9, 1.2]}, density=0.4,
                                 measures={"like": like_share, "again": keep}, agent_rows=True)
    assert np.array_equal(rows["again"], rows["percent_similar"], equal_nan=True)
    for run, recorded in rows.groupby("run"):
        first = {name: values.iloc[0] for name, values in recorded.items()}  # each of its own type
        assert first["seed"] == zelmora.run_seed(8, run)
        w = zelmora.World(grid=(16, 20), seed=int(first["seed"]), agents=int(first["agents"]),
                          returns_to_scale=float(first["returns_to_scale"]))
        for step, like in zip(recorded.step, recorded.like):
            w.step(step - w.step_count)
            assert like == like_share(w)
            at = agents[(agents.run == run) & (agents.step == step)]
            assert np.array_equal(at.agent, np.arange(w.agent_count))
            for name, array in [("col", w.agent_col), ("row", w.agent_row), ("colour", w.agent_colour),
                                ("satisfied", w.agent_satisfied)]:
                assert np.array_equal(at[name], array), (run, step, name)
        # What a measure kept shows the run's World as it ended, never freed memory.
        for _, price, col in (k for k in kept if k[0] == run):
            assert np.array_equal(price, w.local_price) and np.array_equal(col, w.agent_col)


class Stop(Exception):
    pass


def raise_at(run, step, error):
    def measure(v):
        if v.run == run and v.step_count == step:
            raise error
        return 0
    return measure


@pytest.mark.parametrize("call, error, match", [
    (dict(measures={"m": raise_at(0, 0, Stop("first call"))}), Stop, "first call"),
    (dict(measures={"m": raise_at(5, 20, Stop("later run"))}, jobs=3), Stop, "later run"),
    (dict(measures={"m": lambda v: 1 / 0}, jobs=2), ZeroDivisionError, "division"),
    (dict(measures={"m": lambda v: "high"}), TypeError, "measure 'm'"),
    (dict(progress=lambda *done: 1 / (done[0] - done[1])), ZeroDivisionError, "division"),
])
def test_an_exception_in_python_code_stops_the_sweep_with_no_thread_left(call, error, match):
    before = os_threads()
    with pytest.raises(error, match=match):
        zelmora.sweep(grid=(20, 20), steps=40, repeats=8, seed=1, **call)
    assert os_threads() == before


def test_ctrl_c_stops_a_long_sweep_with_no_thread_left():
    before = os_threads()
    interrupted = []

    def interrupt(v):
        if not interrupted:
            interrupted.append(v.step_count)
            _thread.interrupt_main()
        return 0

    # Bounded: should the interrupt be lost, the sweep ends by itself and the test fails.
    with pytest.raises(KeyboardInterrupt):
        zelmora.sweep(grid=(30, 30), steps=2_000_000, record_every=100_000, repeats=4, jobs=2, seed=1,
                      measures={"m": interrupt})
    assert interrupted and os_threads() == before


def test_progress_counts_up_to_the_whole_sweep(capsys):
    calls = []
    zelmora.sweep(grid=(12, 12), steps=30, repeats=5, jobs=2, seed=4, progress=lambda *done: calls.append(done))
    assert calls[-1] == (5, 5, 150, 150)
    assert all(a <= b for earlier, later in zip(calls, calls[1:]) for a, b in zip(earlier, later))
    zelmora.sweep(grid=(12, 12), steps=3, seed=4, progress=True)
    err = capsys.readouterr().err
    assert "zelmora.sweep: 1/1 runs" in err and err.endswith("\n")
