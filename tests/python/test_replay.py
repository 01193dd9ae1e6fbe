import json
import subprocess

import numpy as np
import pandas as pd
import pytest

import zelmora

SETS = dict(grid=(20, 20), steps=40, record_every=10, seed=42, repeats=2, until="settled:2",
            set={"threshold": [3, 5], "centers": [True, False]})
DESIGN = dict(grid=(20, 20), steps=40, record_every=10, seed=7, repeats=2, means=True,
              design=pd.DataFrame({"threshold": [2, 5, 4], "travel_expenses": [0.5, 1.5, 1.0]}))


def like_share(v):
    same = v.same_neighbours[v.agent_row, v.agent_col]
    other = v.other_neighbours[v.agent_row, v.agent_col]
    return np.mean(same / np.maximum(same + other, 1))


@pytest.mark.parametrize("options", [SETS, DESIGN], ids=["set", "design"])
@pytest.mark.parametrize("manifest", ["whole", "shard"])
def test_a_replay_gives_the_sweeps_rows_of_its_runs_and_its_measures_given_again(tmp_path, options, manifest):
    """From a whole sweep's manifest or a shard's: the rows of the runs chosen are the sweep's, at
    the steps both record; recorded every step, the sweep's rows are among them (their means apart);
    measures given again are those of the sweep run with them."""
    whole = zelmora.sweep(**options, measures={"like": like_share})
    shard = dict(shard=(1, 2)) if manifest == "shard" else {}
    files = zelmora.sweep(**options, **shard, out=tmp_path / "sweep.csv")
    runs = [0, 3, 4]
    chosen = whole[whole.run.isin(runs)].reset_index(drop=True)
    again = zelmora.sweep(from_manifest=files.manifest, runs=runs, measures={"like": like_share})
    pd.testing.assert_frame_equal(again, chosen, check_exact=True)
    often = zelmora.sweep(from_manifest=files.manifest, runs=range(3, 5), record_every=1)
    columns = list(zelmora.columns().name)
    shared = often.merge(chosen[columns], on=["run", "step"], suffixes=("", "_sweep"))
    assert len(shared) == (chosen.run >= 3).sum()
    for name in columns[2:]:
        if name != "step":
            pd.testing.assert_series_equal(shared[name], shared[name + "_sweep"], check_names=False)


def test_a_replay_into_files_is_the_batch_programs_replay(batch_program, tmp_path):
    files = zelmora.sweep(**SETS, out=tmp_path / "sweep.csv")
    python = zelmora.sweep(from_manifest=files.manifest, runs="1,5:6", record_every=3, out=tmp_path / "p.csv")
    subprocess.run([batch_program, "--from", files.manifest, "--runs", "1,5:6", "--record-every", "3", "--quiet",
                    "--out", str(tmp_path / "b.csv")], check=True, timeout=120)
    assert (tmp_path / "p.csv").read_bytes() == (tmp_path / "b.csv").read_bytes()
    made = json.loads((tmp_path / "p.json").read_text())
    assert made["program"] == "zelmora.sweep"
    assert made["request"]["sweep"]["runs"] == "1,5:6" and made["request"]["from"] == files.manifest
    assert python.runs == 3


def request_hash(sweep, build):
    """The manifest's hash of its sweep with the build: 64-bit FNV-1a of their compact JSON."""
    value = 0xcbf29ce484222325
    for byte in json.dumps({"build": build, "sweep": sweep}, sort_keys=True, separators=(",", ":"),
                           ensure_ascii=False).encode():
        value = ((value ^ byte) * 0x100000001b3) % 2 ** 64
    return f"{value:016x}"


def manifests(folder):
    """A small sweep's manifest, one of another build and a damaged one."""
    zelmora.sweep(grid=(20, 20), steps=20, repeats=4, seed=3, out=folder / "all.csv")
    kept = json.loads((folder / "all.json").read_text())
    assert request_hash(kept["request"]["sweep"], kept["build"]) == kept["request_hash"]
    other = dict(kept, build="0.0+gother", request_hash=request_hash(kept["request"]["sweep"], "0.0+gother"))
    (folder / "other.json").write_text(json.dumps(other))
    damaged = json.loads((folder / "all.json").read_text())
    damaged["request"]["sweep"]["steps"] = "many"
    (folder / "damaged.json").write_text(json.dumps(damaged))


# The new keywords' bad input: the exception and the keyword its message names; nothing written.
REPLAYING = [
    (dict(until="settled:0"), ValueError, "until: expects steps, settled or settled:W"),
    (dict(until="settled:x"), ValueError, "until"),
    (dict(means=1), TypeError, "means"),
    (dict(runs=[1]), ValueError, "runs: only with from_manifest"),
    (dict(from_manifest="all.json"), ValueError, "runs: expects the runs to replay"),
    (dict(from_manifest="all.json", runs=[]), ValueError, "runs: expects the runs to replay"),
    (dict(from_manifest="all.json", runs=[4]), ValueError, "runs: expects runs of the sweep in 'all.json', from 0 to 3"),
    (dict(from_manifest="all.json", runs=range(2, 9)), ValueError, "runs: .*; got '4'"),
    (dict(from_manifest="all.json", runs=[-1]), ValueError, "runs"),
    (dict(from_manifest="all.json", runs="3:1"), ValueError, "runs: expects runs and ranges"),
    (dict(from_manifest="all.json", runs=1.5), TypeError, "runs"),
    (dict(from_manifest="all.json", runs=[1], steps=21), ValueError, "steps: expects at most the sweep's 20 steps"),
    (dict(from_manifest="all.json", runs=[1], threshold=3), ValueError, "threshold: not with from_manifest"),
    (dict(from_manifest="all.json", runs=[1], markets=0), ValueError, "markets: not with from_manifest"),
    (dict(from_manifest="all.json", runs=[1], set={"threshold": [9]}), ValueError, "set: not with from_manifest"),
    (dict(from_manifest="all.json", runs=[1], grid=(20, 20)), ValueError, "grid: not with from_manifest"),
    (dict(from_manifest="all.json", runs=[1], seed=3), ValueError, "seed: not with from_manifest"),
    (dict(from_manifest="all.json", runs=[1], repeats=4), ValueError, "repeats: not with from_manifest"),
    (dict(from_manifest="all.json", runs=[1], until="steps"), ValueError, "until: not with from_manifest"),
    (dict(from_manifest="all.json", runs=[1], shard=(0, 1)), ValueError, "shard: not with from_manifest"),
    (dict(from_manifest="all.json", runs=[1], design=pd.DataFrame({"threshold": [2]})), ValueError,
     "design: not with from_manifest"),
    (dict(from_manifest="other.json", runs=[1]), ValueError,
     "from_manifest: 'other.json' was written by build 0.0\\+gother, this is build "),
    (dict(from_manifest="damaged.json", runs=[1]), ValueError, "from_manifest: .* field 'request.sweep.steps'"),
    (dict(from_manifest="gone.json", runs=[1]), ValueError, "from_manifest: the manifest 'gone.json' is missing"),
    (dict(from_manifest=3, runs=[1]), TypeError, "from_manifest"),
]


@pytest.mark.parametrize("options, error, name", REPLAYING)
def test_bad_replays_stops_and_means_raise_naming_the_keyword_and_write_nothing(tmp_path, monkeypatch, options, error,
                                                                                  name):
    monkeypatch.chdir(tmp_path)
    manifests(tmp_path)
    before = sorted(tmp_path.iterdir())
    called = []
    with pytest.raises(error, match=name):
        zelmora.sweep(**options, measures={"seen": lambda v: called.append(v)})
    with pytest.raises(error, match=name):
        zelmora.sweep(**options, out="x.csv")
    assert not called
    assert sorted(tmp_path.iterdir()) == before
