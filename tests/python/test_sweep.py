import _thread
import io
import json
import os
import subprocess
import threading
import time

import numpy as np
import pandas as pd
import pytest

import zelmora

DTYPES = {"integer": np.int64, "unsigned": np.uint64, "integer or empty": pd.Int64Dtype(), "real": np.float64,
          "text": object}
DESIGN = pd.DataFrame({"threshold": [2, 5, 3], "travel_expenses": [0.5, 1.5, 1.0], "centers": [True, False, False]})

# One sweep given to zelmora-batch and to zelmora.sweep (on 22 x 16, master seed 31): the batch's
# options, the same as keywords, and a design given to both (a file, the DataFrame).
SAME_SWEEPS = [
    (["--density", "0.55", "--steps", "23", "--record-every", "5", "--repeats", "2", "--set", "threshold=2,6",
      "--set", "travel-expenses=0.5:1.5:1", "--set", "centers=on,off", "--returns-to-scale", "0.95", "--means", "on"],
     dict(density=0.55, steps=23, record_every=5, repeats=2,
          set={"threshold": [2, 6], "travel_expenses": "0.5:1.5:1", "centers": (True, False)}, returns_to_scale=0.95,
          means=True),
     None),
    (["--density", "0.55", "--steps", "200", "--record-every", "7", "--repeats", "2", "--set", "threshold=2,4,6",
      "--set", "centers=on,off", "--until", "settled:4"],
     dict(density=0.55, steps=200, record_every=7, repeats=2, set={"threshold": [2, 4, 6], "centers": [True, False]},
          until="settled:4"),
     None),
    (["--steps", "150", "--record-every", "10", "--set", "returns-to-scale=0.9,1.1", "--until", "settled"],
     dict(steps=150, record_every=10, set={"returns_to_scale": [0.9, 1.1]}, until="settled"),
     DESIGN),
    # The model's structure: given, varied by set (a choice by its names) and by a design.
    (["--steps", "8", "--record-every", "4", "--markets", "3", "--threshold-percent", "40", "--set",
      "relocation=nearby,anywhere", "--set", "wrap=on,off"],
     dict(steps=8, record_every=4, markets=3, threshold_percent=40,
          set={"relocation": ["nearby", "anywhere"], "wrap": [True, False]}),
     pd.DataFrame({"radius": [1, 2], "search_window": [10, 3]})),
]


def like_share(v):
    """A measure written in Python: the mean share of like neighbours of the agents."""
    same = v.same_neighbours[v.agent_row, v.agent_col]
    other = v.other_neighbours[v.agent_row, v.agent_col]
    return np.mean(same / np.maximum(same + other, 1))


def os_threads():
    if not os.path.isdir("/proc/self/task"):
        pytest.skip("the process's threads are counted in /proc/self/task, which this system lacks")
    return len(os.listdir("/proc/self/task"))


def threads_once_joined_ones_are_reaped(before):
    # pthread_join returns when the thread's stack is free; the kernel drops it from
    # /proc/self/task a moment later, so wait for that instead of reading once.
    deadline = time.monotonic() + 60
    while os_threads() > before and time.monotonic() < deadline:
        time.sleep(0.001)
    return os_threads()


@pytest.mark.parametrize("args, keywords, design", SAME_SWEEPS)
def test_a_sweep_is_the_batch_programs_csv_with_the_columns_kinds(batch_program, tmp_path, args, keywords, design):
    out = tmp_path / "sweep.csv"
    if design is not None:
        design.rename(columns=lambda name: name.replace("_", "-")).to_csv(tmp_path / "design.csv", index=False)
        args = args + ["--design", str(tmp_path / "design.csv")]
        keywords = dict(keywords, design=design)
    subprocess.run([batch_program, "--grid", "22x16", "--seed", "31", "--jobs", "2", "--charts", "off", "--quiet",
                    "--out", str(out)] + args, check=True, timeout=120)
    table = zelmora.columns(means=keywords.get("means", False))
    csv = pd.read_csv(out, float_precision="round_trip", dtype=dict(zip(table.name, table.kind.map(DTYPES))))
    rows = zelmora.sweep(grid=(22, 16), seed=31, jobs=3, **keywords)
    assert list(rows.columns) == list(table.name)
    assert rows.attrs["master_seed"] == 31
    if keywords.get("until", "steps").startswith("settled"):  # some runs settle, others run to the end
        assert rows.stop_step.isna().any() and rows.stop_step.notna().any()
    pd.testing.assert_frame_equal(rows, csv, check_exact=True)


def test_the_sweeps_own_rows_are_a_design_of_its_runs():
    options = dict(grid=(16, 12), steps=4, record_every=2, seed=5, threshold_percent=30)
    rows = zelmora.sweep(set={"relocation": ["anywhere", "nearby"], "wrap": [True, False], "markets": [0, 4]},
                         **options)
    assert set(rows.relocation) == {"nearby", "anywhere"} and (rows.threshold == 2.4).all()
    points = rows.loc[rows.step == 0, ["relocation", "wrap", "markets"]]
    pd.testing.assert_frame_equal(zelmora.sweep(design=points, **options), rows)


@pytest.mark.parametrize("seed, until", [(1, "steps"), (2, "settled"), (3, "settled")])
def test_numbers_measures_and_agents_do_not_depend_on_jobs(seed, until):
    options = dict(grid=(18, 14), steps=60, record_every=3, seed=seed, set={"threshold": [1, 4, 7]}, repeats=2,
                   until=until, measures={"like": like_share, "agents_seen": lambda v: v.agent_count},
                   agent_rows=True)
    rows, agents = zelmora.sweep(jobs=1, **options)
    for jobs in (2, 5):
        more_rows, more_agents = zelmora.sweep(jobs=jobs, **options)
        pd.testing.assert_frame_equal(rows, more_rows)
        pd.testing.assert_frame_equal(agents, more_agents)


@pytest.mark.parametrize("options", [dict(steps=12), dict(steps=40, until="settled", centers=False)])
def test_measures_and_agent_rows_see_each_recorded_step_as_a_replayed_world_does(options):
    kept = []

    def keep(v):
        assert not (v.local_price.flags.writeable or v.agent_col.flags.writeable)
        kept.append((v.run, v.step_count, v.local_price, v.agent_col))  # arrays held past the run
        return v.measures()["percent_similar"]

    rows, agents = zelmora.sweep(grid=(16, 20), record_every=4, seed=8, jobs=2, set={"returns_to_scale": [0.9, 1.2]},
                                 density=0.4, measures={"like": like_share, "again": keep}, agent_rows=True, **options)
    assert np.array_equal(rows["again"], rows["percent_similar"], equal_nan=True)
    assert len(kept) == len(rows)
    for run, recorded in rows.groupby("run"):
        first = {name: values.iloc[0] for name, values in recorded.items()}  # each of its own type
        assert first["seed"] == zelmora.run_seed(8, run)
        w = zelmora.World(grid=(16, 20), seed=int(first["seed"]), agents=int(first["agents"]),
                          returns_to_scale=float(first["returns_to_scale"]), centers=bool(first["centers"]))
        for step, like in zip(recorded.step, recorded.like):
            w.step(step - w.step_count)
            assert like == like_share(w)
            # What a measure kept shows the step it was read at.
            for _, _, price, col in (k for k in kept if k[:2] == (run, step)):
                assert np.array_equal(price, w.local_price) and np.array_equal(col, w.agent_col)
            at = agents[(agents.run == run) & (agents.step == step)]
            assert np.array_equal(at.agent, np.arange(w.agent_count))
            for name, array in [("col", w.agent_col), ("row", w.agent_row), ("colour", w.agent_colour),
                                ("satisfied", w.agent_satisfied)]:
                assert np.array_equal(at[name], array), (run, step, name)


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
    assert threads_once_joined_ones_are_reaped(before) == before


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
    assert interrupted and threads_once_joined_ones_are_reaped(before) == before


def test_progress_counts_up_to_the_whole_sweep(capsys):
    calls = []
    zelmora.sweep(grid=(12, 12), steps=30, repeats=5, jobs=2, seed=4, progress=lambda *done: calls.append(done))
    assert calls[-1] == (5, 5, 150, 150)
    assert all(a <= b for earlier, later in zip(calls, calls[1:]) for a, b in zip(earlier, later))
    zelmora.sweep(grid=(12, 12), steps=3, seed=4, progress=True)
    err = capsys.readouterr().err
    assert "zelmora.sweep: 1/1 runs" in err and err.endswith("\n")


def test_with_out_a_sweep_writes_the_batch_programs_files_and_reads_its_rows_on_request(batch_program, tmp_path):
    options = dict(grid=(18, 14), steps=25, record_every=6, seed=9, repeats=2, jobs=2,
                   set={"threshold": range(2, 5), "grid_cols": [14, 18]}, density=0.45)
    subprocess.run([batch_program, "--grid", "18x14", "--steps", "25", "--record-every", "6", "--seed", "9",
                    "--repeats", "2", "--jobs", "1", "--set", "threshold=2:4:1", "--set", "grid-cols=14,18",
                    "--density", "0.45", "--quiet", "--out", str(tmp_path / "batch.csv")], check=True, timeout=120)
    files = zelmora.sweep(out=tmp_path / "python.csv", **options)
    assert (tmp_path / "python.csv").read_bytes() == (tmp_path / "batch.csv").read_bytes()
    manifests = [json.loads((tmp_path / name).read_text()) for name in ("batch.json", "python.json")]
    assert manifests[0]["request_hash"] == manifests[1]["request_hash"]
    assert manifests[0]["request"]["sweep"] == manifests[1]["request"]["sweep"]
    assert files.master_seed == 9 and files.runs == 12
    rows = zelmora.sweep(**options)
    pd.testing.assert_frame_equal(files.read(), rows, check_exact=True)
    pd.testing.assert_frame_equal(pd.concat(files.chunks(rows=7), ignore_index=True), rows, check_exact=True)
    assert sorted(rows.groupby("run").grid_cols.first()) == [14] * 6 + [18] * 6
    assert (rows.density == 0.45).all() and (rows.agents == (rows.grid_cols * 14 * 0.45).round()).all()


def test_parameters_are_the_batch_programs_table(batch_program):
    listed = subprocess.run([batch_program, "--parameters"], check=True, capture_output=True, text=True).stdout
    table = pd.read_csv(io.StringIO(listed), sep="\t", dtype=str, keep_default_na=False)
    pd.testing.assert_frame_equal(zelmora.parameters(), table)
    assert set(table.name) <= set(zelmora.columns().name)


def test_a_sweep_with_out_stopped_by_python_resumes_to_the_same_bytes(tmp_path):
    options = dict(grid=(40, 40), steps=300, record_every=50, seed=3, repeats=120, jobs=2)

    def stop_after_a_few(runs_done, *_):
        if runs_done >= 3:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        zelmora.sweep(out=tmp_path / "x.csv", progress=stop_after_a_few, **options)
    assert (tmp_path / "x.csv.partial").exists() and not (tmp_path / "x.csv").exists()
    assert json.loads((tmp_path / "x.json").read_text())["status"] == "interrupted"
    with pytest.raises(ValueError, match="resume=True to finish it"):
        zelmora.sweep(out=tmp_path / "x.csv", **options)
    zelmora.sweep(out=tmp_path / "x.csv", resume=True, **options)
    zelmora.sweep(out=tmp_path / "whole.csv", **options)
    assert (tmp_path / "x.csv").read_bytes() == (tmp_path / "whole.csv").read_bytes()


def test_measures_run_one_at_a_time():
    running, most = [0], [0]
    lock = threading.Lock()

    def busy(v):
        with lock:
            running[0] += 1
            most[0] = max(most[0], running[0])
        # NumPy lets go of the GIL in its loops: another worker's measure could start meanwhile.
        total = np.add(np.arange(200_000.0), 1.0).sum()
        with lock:
            running[0] -= 1
        return total

    zelmora.sweep(grid=(20, 20), steps=20, repeats=12, jobs=4, seed=6, measures={"busy": busy})
    assert most[0] == 1


def test_a_path_that_is_no_utf8_is_an_output_like_any_other(tmp_path):
    out = os.path.join(os.fsencode(tmp_path), b"r\xe9sum\xe9.csv")
    files = zelmora.sweep(grid=(12, 12), steps=4, seed=2, repeats=2, out=out)
    assert os.fsencode(files.csv) == out and len(files.read()) == 2 * 5
    with pytest.raises(ValueError, match="holds this sweep"):
        zelmora.sweep(grid=(12, 12), steps=4, seed=2, repeats=2, out=out)


# Measures written in Python, given to sweeps with and without out=.
MEASURES = {"like": like_share, "agents_seen": lambda v: v.agent_count, "nothing": lambda v: None}
MEASURED = dict(grid=(18, 14), steps=30, record_every=7, seed=12, repeats=2, jobs=2, density=0.5,
                set={"threshold": [3, 5]}, until="settled:3")


def test_measures_with_out_follow_the_programs_columns_with_the_values_they_have_in_memory(tmp_path):
    plain = zelmora.sweep(out=tmp_path / "plain.csv", **MEASURED)
    files = zelmora.sweep(out=tmp_path / "measured.csv", measures=MEASURES, **MEASURED)
    # Each row is the sweep's row without measures, then the measures' fields.
    plain_lines = (tmp_path / "plain.csv").read_bytes().split(b"\r\n")
    measured_lines = (tmp_path / "measured.csv").read_bytes().split(b"\r\n")
    assert len(plain_lines) == len(measured_lines)
    assert all(m.startswith(p + b",") for p, m in zip(plain_lines[:-1], measured_lines[:-1]))
    assert measured_lines[0].endswith(b",like,agents_seen,nothing")
    manifest = json.loads((tmp_path / "measured.json").read_text())
    assert manifest["request"]["sweep"]["measures"] == list(MEASURES)
    assert "measures" not in json.loads((tmp_path / "plain.json").read_text())["request"]["sweep"]
    rows = zelmora.sweep(measures=MEASURES, **MEASURED)
    pd.testing.assert_frame_equal(files.read(), rows, check_exact=True)
    pd.testing.assert_frame_equal(files.read().drop(columns=list(MEASURES)), plain.read(), check_exact=True)
    assert rows.nothing.isna().all() and (rows.agents_seen == rows.agents).all()


def test_a_sweep_with_measures_resumes_only_with_the_same_measures_to_the_same_bytes(tmp_path):
    options = dict(grid=(20, 20), steps=40, record_every=10, seed=8, repeats=12, jobs=2)
    measures = {"like": like_share}

    def interrupted_in_run_7(v):
        if v.run == 7:
            raise KeyboardInterrupt
        return like_share(v)

    with pytest.raises(KeyboardInterrupt):
        zelmora.sweep(out=tmp_path / "x.csv", measures={"like": interrupted_in_run_7}, **options)
    assert (tmp_path / "x.csv.partial").exists() and not (tmp_path / "x.csv").exists()
    for others in ({}, {"unlike": like_share}, {"like": like_share, "more": like_share}):
        with pytest.raises(ValueError, match="measures: the sweep in '.*x.json' has 'like', the command "
                           + ("none" if not others else ", ".join(f"'{name}'" for name in others))):
            zelmora.sweep(out=tmp_path / "x.csv", resume=True, measures=others, **options)
    zelmora.sweep(out=tmp_path / "x.csv", resume=True, measures=measures, **options)
    zelmora.sweep(out=tmp_path / "whole.csv", measures=measures, **options)
    assert (tmp_path / "x.csv").read_bytes() == (tmp_path / "whole.csv").read_bytes()


def test_a_measure_that_raises_in_a_sweep_with_out_raises_and_keeps_what_finished(tmp_path, capsys):
    def fails_in_run_3(v):
        if v.run == 3:
            raise LookupError("run 3")
        return 1.0

    with pytest.raises(LookupError, match="run 3"):
        zelmora.sweep(out=tmp_path / "x.csv", grid=(12, 12), steps=5, repeats=6, seed=2, jobs=1,
                      measures={"m": fails_in_run_3})
    assert "measure 'm' raised LookupError; 3 runs are kept" in capsys.readouterr().err
    zelmora.sweep(out=tmp_path / "x.csv", grid=(12, 12), steps=5, repeats=6, seed=2, jobs=1, resume=True,
                  measures={"m": lambda v: 1.0})
    assert zelmora.open_sweep(tmp_path / "x.csv").read().m.eq(1.0).all()


def test_a_replay_adds_measures_the_sweep_had_not(tmp_path):
    zelmora.sweep(out=tmp_path / "sweep.csv", **MEASURED)
    replay = zelmora.sweep(from_manifest=tmp_path / "sweep.json", runs=[1, 2], out=tmp_path / "replay.csv",
                           measures={"like": like_share}, jobs=2)
    assert json.loads((tmp_path / "replay.json").read_text())["request"]["sweep"]["measures"] == ["like"]
    rows = zelmora.sweep(measures={"like": like_share}, **MEASURED)
    pd.testing.assert_frame_equal(replay.read(), rows[rows.run.isin([1, 2])].reset_index(drop=True), check_exact=True)
    # And a replay of a sweep with measures may leave them out, or compute others.
    zelmora.sweep(out=tmp_path / "measured.csv", measures=MEASURES, **MEASURED)
    again = zelmora.sweep(from_manifest=tmp_path / "measured.json", runs=[0], measures={"seen": lambda v: v.step_count})
    assert list(again.columns[-1:]) == ["seen"] and (again.seen == again.step).all()
