"""A sweep on disk reopened, summarised and plotted, and its rows given back as a design."""
import json
import os
import re
import subprocess
from xml.etree import ElementTree

import numpy as np
import pandas as pd
import pytest

import zelmora

scipy_stats = pytest.importorskip("scipy.stats", reason="the intervals are checked against scipy's t quantiles")

# Sweeps with repeats, a design and settled runs, small enough for a second each.
STUDIES = [
    dict(grid=(20, 20), steps=30, record_every=3, repeats=4, set={"markets": [1, 3], "radius": [1, 2]}),
    dict(grid=(20, 20), steps=60, repeats=3, until="settled:3", set={"relocation": ["nearby", "anywhere"]},
         design=pd.DataFrame({"threshold": [2, 4], "centers": [1, 0]})),
]


def varied(options):
    names = [] if options.get("design") is None else list(options["design"].columns)
    return names + list(options.get("set", {}))


def by_pandas(rows, by, at):
    """The summary as a plain pandas computation: group, count, mean, std, t interval, extremes."""
    table = zelmora.columns(means=True)
    measures = [c for c in table[~table.per_run & (table.kind != "text")].name if c != "step" or at == "last"]
    rows = rows.astype({m: "float64" for m in measures if m in rows})
    if at == "last":
        rows = rows.groupby("run").tail(1)
        keys = by
    else:
        if at != "every":
            rows = rows[rows.step == at]
        keys = by + ["step"]
    long = rows.melt(id_vars=keys, value_vars=[m for m in measures if m in rows], var_name="measure")
    grouped = long.groupby(keys + ["measure"], sort=False)["value"]
    table = grouped.agg(runs="count", mean="mean", sd="std", min="min", max="max").reset_index()
    half = scipy_stats.t.ppf(0.975, table.runs - 1) * table.sd / np.sqrt(table.runs)
    table["ci_low"], table["ci_high"] = table["mean"] - half, table["mean"] + half
    return table


@pytest.mark.parametrize("options", STUDIES)
@pytest.mark.parametrize("at", ["every", "last", 6])
def test_summary_is_a_plain_pandas_computation(tmp_path, options, at):
    files = zelmora.sweep(seed=7, jobs=2, out=str(tmp_path / "s.csv"), **options)
    rows = files.rows()
    by = varied(options)
    ours = zelmora.summary(files, at=at)
    assert list(ours.columns) == by + ([] if at == "last" else ["step"]) + [
        "measure", "runs", "mean", "sd", "ci_low", "ci_high", "min", "max"]
    assert ours.attrs["runs_read"] == ours.attrs["runs"] == rows.run.nunique()
    theirs = by_pandas(rows, by, at)
    keys = [c for c in ours.columns if c in theirs.columns and c not in ("runs", "mean", "sd", "ci_low", "ci_high",
                                                                         "min", "max")]
    merged = ours.merge(theirs, on=keys, how="outer", suffixes=("", "_pandas"), indicator=True)
    assert (merged["_merge"] == "both").all(), merged[merged["_merge"] != "both"][keys]
    assert (merged.runs == merged.runs_pandas).all()
    for column in ["mean", "sd", "min", "max"]:
        np.testing.assert_allclose(merged[column], merged[column + "_pandas"], rtol=1e-12, atol=1e-12,
                                   err_msg=column)
    # The interval: centred on the mean, its half width by the t quantile, which scipy gives to about
    # 1e-10 (t.ppf(0.975, 1) is tan(0.475 pi) = 12.7062047361747).
    spread = merged.dropna(subset=["ci_low"])
    for suffix in ("", "_pandas"):
        centre = (spread["ci_low" + suffix] + spread["ci_high" + suffix]) / 2
        assert ((centre - spread["mean"]).abs() <= 1e-12 * spread["mean"].abs() + 1e-9 * spread["sd"]).all()
    np.testing.assert_allclose(spread.ci_high - spread.ci_low, spread.ci_high_pandas - spread.ci_low_pandas,
                               rtol=1e-9)
    assert merged.ci_low.isna().equals(merged.ci_low_pandas.isna())
    # Each run counts once per group: at its last row, the runs of every point add up to the sweep's.
    if at == "last":
        assert ours[ours.measure == "step"].runs.sum() == rows.run.nunique()


def test_a_summary_by_named_parameters_pools_the_others_and_is_written_with_its_manifest(tmp_path):
    files = zelmora.sweep(seed=3, out=str(tmp_path / "s.csv"), **STUDIES[0])
    pooled = zelmora.summary(files, by=["markets"], at="last", measures=["percent_similar"],
                             out=str(tmp_path / "sum.csv"))
    assert list(pooled.markets) == [1, 3] and (pooled.runs == 8).all()
    written = pd.read_csv(tmp_path / "sum.csv", float_precision="round_trip")
    np.testing.assert_array_equal(written["mean"], pooled["mean"])
    manifest = pd.read_json(tmp_path / "sum.json", typ="series")
    assert manifest["by"] == ["markets"] and manifest["at"] == "last"
    assert manifest["sweep"]["runs_read"] == 16 and manifest["sweep"]["status"] == "complete"


def test_a_running_sweep_is_summarised_from_the_whole_runs_it_holds(tmp_path):
    """A sweep as it stands while it runs: whole runs and a torn one in its partial file, runs in
    its spool (one of them also in the partial file, as just before the spool file goes)."""
    files = zelmora.sweep(grid=(20, 20), steps=20, repeats=6, set={"markets": [1, 3]}, seed=5,
                          out=str(tmp_path / "run.csv"))
    whole = files.rows()
    with open(files.csv, newline="") as file:
        header, *rows = file.readlines()
    of_run = {}
    for row in rows:
        of_run.setdefault(int(row.split(",")[0]), []).append(row)
    with open(files.csv + ".partial", "w", newline="") as file:
        file.write(header + "".join(sum((of_run[run] for run in range(5)), [])) + of_run[5][0][:20])
    os.mkdir(files.csv + ".spool")
    for run in (4, 9):
        with open(files.csv + f".spool/run{run}.csv", "w", newline="") as file:
            file.write("".join(of_run[run]))
    with open(files.csv + ".spool/run10.csv", "w", newline="") as file:
        file.write("".join(of_run[10][:-1]))  # still being written
    os.remove(files.csv)
    with open(files.manifest) as file:
        manifest = json.load(file)
    manifest["status"] = "running"
    with open(files.manifest, "w") as file:
        json.dump(manifest, file)

    ours = zelmora.summary(files, at="last", measures=["percent_similar"])
    held = [0, 1, 2, 3, 4, 9]
    assert (ours.attrs["runs_read"], ours.attrs["runs"], ours.attrs["status"]) == (len(held), 12, "running")
    theirs = by_pandas(whole[whole.run.isin(held)], ["markets"], "last")
    theirs = theirs[theirs.measure == "percent_similar"].reset_index(drop=True)
    np.testing.assert_allclose(ours["mean"], theirs["mean"], rtol=1e-12)
    assert list(ours.runs) == list(theirs.runs) == [5, 1]


def test_a_saved_study_reopens_with_the_kinds_and_bits_it_was_made_with(tmp_path):
    options = dict(grid=(20, 20), steps=12, repeats=2, until="settled", seed=9,
                   set={"threshold": [2, 5], "relocation": ["nearby", "anywhere"]}, means=True)
    in_memory = zelmora.sweep(**options)
    zelmora.sweep(out=str(tmp_path / "s.csv"), **options)
    for path in (tmp_path / "s.csv", str(tmp_path / "s.json")):
        reopened = zelmora.open_sweep(path)
        assert reopened.master_seed == 9 and reopened.runs == 8
        pd.testing.assert_frame_equal(reopened.rows(), in_memory, check_exact=True)
    assert in_memory.stop_step.dtype == pd.Int64Dtype() and in_memory.markets.dtype == np.int64


def test_a_design_made_from_a_sweeps_rows_gives_those_runs_again():
    options = dict(grid=(20, 20), steps=10, seed=11)
    swept = zelmora.sweep(set={"threshold": [2, 4], "centers": [True, False], "travel_expenses": [0.5, 1]},
                          **options)
    names = ["threshold", "centers", "travel_expenses"]
    design = swept[swept.step == 0][names].reset_index(drop=True)
    assert design.threshold.dtype == np.float64 and design.centers.dtype == np.int64
    again = zelmora.sweep(design=design, **options)
    pd.testing.assert_frame_equal(again, swept, check_exact=True)


@pytest.mark.parametrize("keywords", [dict(centers=0, threshold=2.0), dict(centers=np.int64(1), markets=np.float64(3)),
                                      dict(segregation=1.0, radius=2.0)])
def test_a_world_takes_whole_reals_and_switches_as_1_or_0(keywords):
    world = zelmora.World(**keywords)
    for name, value in keywords.items():
        assert world.parameters()[name] == value
    with_bools = {k: bool(v) if isinstance(world.parameters()[k], bool) else int(v) for k, v in keywords.items()}
    assert world.parameters() == zelmora.World(**with_bools).parameters()


def test_plot_over_a_parameter_and_over_the_steps(tmp_path):
    matplotlib = pytest.importorskip("matplotlib", reason="plot draws with matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    files = zelmora.sweep(seed=4, out=str(tmp_path / "s.csv"), **STUDIES[0])
    figure, (left, right) = plt.subplots(1, 2)
    zelmora.plot(files, "markets", "percent_similar", by="radius", ax=left)
    summary = zelmora.summary(files, by=["markets", "radius"], at="last", measures=["percent_similar"])
    for radius, bars in zip([1, 2], left.containers):
        line = bars.lines[0]
        expected = summary[summary.radius == radius]
        np.testing.assert_array_equal(line.get_xdata(), expected.markets)
        np.testing.assert_array_equal(line.get_ydata(), expected["mean"])
    assert left.get_xlabel() == "markets" and left.get_ylabel() == "percent_similar (%)"
    assert [t.get_text() for t in left.get_legend().get_texts()] == ["radius = 1", "radius = 2"]
    zelmora.plot(files, "step", "herfindahl", ax=right)
    steps = zelmora.summary(files, by=[], measures=["herfindahl"])
    np.testing.assert_array_equal(right.lines[0].get_ydata(), steps["mean"])
    plt.close(figure)


def path_points(d):
    """The points of an SVG path of M and L commands."""
    return np.array([[float(v) for v in part.split()] for part in re.split("[ML]", d) if part.strip()])


def test_an_svg_plot_parses_and_holds_each_series_where_the_axes_put_its_means(tmp_path, batch_program):
    files = zelmora.sweep(seed=4, out=str(tmp_path / "s.csv"), **STUDIES[0])
    summary = zelmora.summary(files, by=["markets", "radius"], at="last", measures=["percent_similar"])
    subprocess.run([batch_program, "plot", files.csv, "--x", "markets", "--y", "percent_similar", "--by", "radius",
                    "--out", str(tmp_path / "f.svg")], check=True, capture_output=True)
    svg = "{http://www.w3.org/2000/svg}"
    root = ElementTree.parse(tmp_path / "f.svg").getroot()
    assert root.tag == svg + "svg" and root.get("width") == "800"
    means = root.findall(f".//{svg}path[@class='mean']")
    assert [m.get("data-series") for m in means] == ["radius = 1", "radius = 2"]
    # One affine map takes every series' means to its points' heights.
    ys = np.concatenate([path_points(m.get("d"))[:, 1] for m in means])
    expected = np.concatenate([summary[summary.radius == r]["mean"].to_numpy() for r in (1, 2)])
    slope, intercept = np.polyfit(expected, ys, 1)
    assert slope < 0 and np.allclose(slope * expected + intercept, ys, atol=0.01)  # to a hundredth of a pixel
    assert len(root.findall(f".//{svg}path[@class='interval']")) == 2
    texts = "".join(root.itertext())
    assert "percent_similar (%)" in texts and "markets" in texts
    # Over the steps: a band under the line, as many points on each of its edges as the line has.
    subprocess.run([batch_program, "plot", files.csv, "--x", "step", "--y", "herfindahl", "--out",
                    str(tmp_path / "g.svg")], check=True, capture_output=True)
    root = ElementTree.parse(tmp_path / "g.svg").getroot()
    (band,), (mean,) = root.findall(f".//{svg}path[@class='band']"), root.findall(f".//{svg}path[@class='mean']")
    assert len(path_points(band.get("d").rstrip("Z"))) == 2 * len(path_points(mean.get("d")))


# Refusals: each names what it refuses, from the command line and from Python alike.
REFUSALS = [
    (["--x", "nonesuch", "--y", "percent_similar"], "--x: expects a parameter's name or step; got 'nonesuch'"),
    (["--x", "markets", "--y", "nonesuch"], "--y: expects a measure, a column of the sweep's CSV; got 'nonesuch'"),
    (["--x", "markets", "--y", "percent_similar", "--by", "nonesuch"], "--by: expects a parameter's name; got "
                                                                      "'nonesuch'"),
    (["--x", "markets", "--y", "relocation"], "--y: expects a numeric measure, not a parameter; got 'relocation'"),
    (["--x", "markets", "--y", "seed"], "--y: expects a numeric measure, not the run's index or seed; got 'seed'"),
    (["--x", "step", "--y", "moves", "--at", "last"], "--x: the steps need every recorded step's rows"),
]


@pytest.mark.parametrize("arguments, message", REFUSALS)
def test_plot_refuses_naming_what(tmp_path, batch_program, arguments, message):
    zelmora.sweep(seed=1, grid=(20, 20), steps=3, set={"markets": [1, 2]}, out=str(tmp_path / "s.csv"))
    done = subprocess.run([batch_program, "plot", str(tmp_path / "s.csv"), *arguments, "--out",
                           str(tmp_path / "f.png")], capture_output=True, text=True)
    assert done.returncode == 2 and message in done.stderr, done.stderr
    assert not (tmp_path / "f.png").exists()
    option, value = message.split(":")[0].lstrip("-"), arguments[arguments.index(message.split(":")[0]) + 1]
    with pytest.raises(ValueError, match=f"^{option}: "):
        zelmora.plot(tmp_path / "s.csv", **{"x": "markets", "y": "percent_similar", option: value,
                                            **({"at": "last"} if "--at" in arguments else {})})


@pytest.mark.parametrize("manifest", [None, '{"format": "other/1"}', "[1, 2]"])
def test_a_file_that_is_no_sweep_is_named(tmp_path, batch_program, manifest):
    path = tmp_path / "other.csv"
    path.write_text("run,seed\r\n1,2\r\n")
    if manifest is not None:
        (tmp_path / "other.json").write_text(manifest)
    for command in (["summary", str(path)], ["plot", str(path), "--x", "step", "--y", "moves", "--out",
                                              str(tmp_path / "f.png")]):
        done = subprocess.run([batch_program, *command], capture_output=True, text=True)
        assert done.returncode == 2
        assert f"zelmora-batch: {command[0]}: '{path}' is no sweep" in done.stderr, done.stderr
    with pytest.raises(ValueError, match="^path: .*other.csv' is no sweep"):
        zelmora.summary(path)
    with pytest.raises(ValueError, match="^path: .*other.csv' is no sweep"):
        zelmora.open_sweep(path)


def test_a_world_from_a_run_steps_as_that_run_did(tmp_path):
    files = zelmora.sweep(grid=(20, 16), steps=6, seed=13, threshold_percent=40, out=str(tmp_path / "s.csv"),
                          set={"markets": [2, 4], "relocation": ["nearby", "anywhere"], "centers": [True, False]})
    rows = files.rows()
    for run in (0, 5, 7):
        world = zelmora.World.from_run(files.manifest, run)
        world.step(6)
        row = rows[(rows.run == run) & (rows.step == 6)].iloc[0]
        assert world.seed == row.seed and world.grid == (20, 16)
        for name in ("markets", "relocation", "centers", "threshold_percent"):
            assert world.parameters()[name] == row[name], name
        measures = world.measures()
        for name in ("percent_similar", "herfindahl", "moves", "unsatisfied"):
            assert measures[name] == row[name] or (np.isnan(measures[name]) and np.isnan(row[name])), name
    with pytest.raises(ValueError, match="run: expects a run of the sweep, 0 to 7; got 8"):
        zelmora.World.from_run(files.csv, 8)


class _Terminal(list):
    def write(self, text):
        self.append(text)

    def flush(self):
        pass

    def isatty(self):
        return True


class _Log(_Terminal):
    def isatty(self):
        return False


@pytest.mark.parametrize("stream, rewritten", [(_Terminal(), True), (_Log(), False)])
def test_progress_rewrites_a_terminal_line_and_writes_plain_lines_to_a_log(stream, rewritten):
    line = zelmora._ProgressLine(stream)
    for done in range(11):
        line(done, 10, done * 100, 1000)
    line.end()
    text = "".join(stream)
    assert ("\r" in text) == rewritten
    assert "10/10 runs" in text.rstrip().split("\r")[-1].splitlines()[-1]
    if not rewritten:
        # The first line and the last; the ten between come faster than a log's pace.
        assert [l.split(",")[0] for l in text.splitlines()] == ["zelmora.sweep: 0/10 runs", "zelmora.sweep: 10/10 runs"]
        assert text.endswith("\n")
