"""Edges the docs tell: a setup starts every count afresh, a run without a yellow market charts
none, a run that settles before a chosen snapshot is pictured where it stopped, and a missing
encoder is named with the package that brings it."""
import csv
import os
import re
import subprocess

import matplotlib.image
import numpy as np
import pytest

import zelmora


@pytest.mark.parametrize("centers", [True, False])
def test_a_setup_starts_every_count_afresh(centers):
    w = zelmora.World(grid=(30, 30), seed=5, threshold=6, centers=centers)
    w.step(25)
    assert w.measures()["moves"] > 0 and w.moved_count > 0  # threshold 6: agents keep moving
    w.setup()
    fresh = zelmora.World(grid=(30, 30), seed=5, threshold=6, centers=centers)
    for name in ("moves", "moved", "unsatisfied", "satisfied"):
        assert w.measures()[name] == fresh.measures()[name], name
    assert (w.measures()["moves"], w.moved_count, w.satisfied_count) == (0, 0, 0)


def run_batch(program, folder, *args, env=None):
    return subprocess.run([program, "--quiet", *args], cwd=folder, capture_output=True, text=True, env=env)


def picture(path):
    return np.rint(matplotlib.image.imread(path)[..., :3] * 255).astype(np.uint8)


def colour_count(image, rgb):
    return int(np.all(image == rgb, axis=2).sum())


def test_a_run_without_a_yellow_market_charts_no_market_line(batch_program, tmp_path):
    out = run_batch(batch_program, tmp_path, "--grid", "20x20", "--steps", "30", "--seed", "4",
                    "--set", "markets=2,3", "--charts", "on", "--out", "runs.csv")
    assert out.returncode == 0, out.stderr
    without, with_yellow = picture(tmp_path / "runs.run0.chart.png"), picture(tmp_path / "runs.run1.chart.png")
    red, green = (255, 0, 0), (0, 128, 0)  # the customers' and the bid price's lines and legends
    assert colour_count(with_yellow, red) > 100 and colour_count(with_yellow, green) > 100
    assert colour_count(without, red) == 0 and colour_count(without, green) == 0
    # The legend's place holds the text that says why.
    legend = without[:24, 400:]
    assert np.any(np.all(legend == (0, 0, 0), axis=2))


def test_a_run_that_settles_before_a_chosen_snapshot_is_pictured_where_it_stopped(batch_program, tmp_path):
    # Threshold 0 without look for centers: the runs settle within a few steps.
    common = ["--grid", "20x20", "--steps", "50", "--seed", "4", "--repeats", "2", "--threshold", "0",
              "--centers", "off", "--until", "settled"]
    out = run_batch(batch_program, tmp_path, *common, "--snapshot-at", "0,40", "--out", "runs.csv")
    assert out.returncode == 0, out.stderr
    rows = list(csv.DictReader(open(tmp_path / "runs.csv")))
    stops = [{r["stop_step"] for r in rows if r["run"] == run} for run in ("0", "1")]
    assert all(len(stop) == 1 and 0 < int(*stop) < 40 for stop in stops), stops
    stops = [int(*stop) for stop in stops]
    pictures = sorted(p.name for p in tmp_path.glob("runs.*.png"))
    assert pictures == sorted([f"runs.run{k}.step0.png" for k in (0, 1)] +
                              [f"runs.run{k}.step{stops[k]}.settled.png" for k in (0, 1)])
    # The picture is the grid where the run stopped; a chosen step the run reaches has no such picture.
    for k, stop in enumerate(stops):
        out = run_batch(batch_program, tmp_path, *common, "--snapshot-at", str(stop), "--force", "--out", f"at{k}.csv")
        assert out.returncode == 0, out.stderr
        assert not list(tmp_path.glob(f"at{k}.*.settled.png"))
        assert np.array_equal(picture(tmp_path / f"at{k}.run{k}.step{stop}.png"),
                              picture(tmp_path / f"runs.run{k}.step{stop}.settled.png"))


def test_a_video_without_its_encoder_names_the_package_to_install(batch_program, tmp_path):
    bare = tmp_path / "bin"
    bare.mkdir()
    env = dict(os.environ, PATH=str(bare))
    out = run_batch(os.path.abspath(batch_program), tmp_path, "--steps", "5", "--video", "mp4", "--out", "v.csv",
                    env=env)
    assert out.returncode == 2
    assert re.search(r"ffmpeg.*apt install ffmpeg", out.stderr), out.stderr
    assert "install-deps" not in out.stderr
    assert not list(tmp_path.glob("v.*"))
