import csv
import math
import subprocess
import threading
import _thread
import time

import numpy as np
import pytest

import zelmora


def world_of(row, grid):
    """The World of a batch run's row: its seed and every parameter as the CSV wrote it."""
    kinds = {"integer": int, "real": float, "switch": lambda text: text == "1", "choice": str}
    parameters = {name: kinds[kind](row[name]) for name, kind in zelmora.parameters()[["name", "kind"]].values
                  if name not in ("grid_cols", "grid_rows", "density", "threshold")}
    return zelmora.World(grid=grid, seed=int(row["seed"]), **parameters)


def test_the_structure_reaches_a_world_as_it_reaches_a_batch_run(batch_program, tmp_path):
    out = tmp_path / "runs.csv"
    subprocess.run([batch_program, "--grid", "20x16", "--steps", "12", "--record-every", "4", "--seed", "77",
                    "--set", "markets=0,3", "--set", "relocation=nearby,anywhere", "--radius", "2", "--wrap", "off",
                    "--search-window", "4", "--threshold-percent", "45", "--charts", "off", "--quiet",
                    "--out", str(out)], check=True, timeout=120)
    with open(out, newline="") as f:
        rows = list(csv.DictReader(f))
    assert {(r["markets"], r["relocation"]) for r in rows} == {("0", "nearby"), ("0", "anywhere"), ("3", "nearby"),
                                                              ("3", "anywhere")}
    for row in rows:
        if row["step"] != "0":
            continue
        w = world_of(row, (20, 16))
        given = w.parameters()
        assert (given["threshold"], given["threshold_percent"]) == (3.6, 45)
        for name in ("markets", "radius", "search_window", "wrap", "relocation"):
            assert str(given[name] if not isinstance(given[name], bool) else int(given[name])) == row[name], name
        assert "threshold_percent=45" in repr(w) and "threshold=" not in repr(w)
        recorded = [r for r in rows if r["run"] == row["run"]]
        for r in recorded:
            w.step(int(r["step"]) - w.step_count)
            for name, value in w.measures().items():
                expected = float(r[name]) if r[name] else math.nan
                assert value == expected or (math.isnan(value) and math.isnan(expected)), (r["run"], r["step"], name)
    w = zelmora.World(seed=1)
    w.threshold_percent = 40
    assert (w.threshold, w.threshold_percent) == (3.2, 40)
    w.threshold = 5
    assert (w.threshold, w.threshold_percent) == (5, 62.5)


@pytest.mark.parametrize("markets", [0, 1, 3, 10])
def test_the_market_arrays_hold_the_markets_that_exist(markets):
    w = zelmora.World(grid=(30, 20), seed=markets + 5, markets=markets)
    w.step(3)
    places = list(zip(w.market_row, w.market_col))
    assert len(places) == len(w.market_customers) == len(w.market_unit_cost) == markets
    assert all(w.is_market[row, col] for row, col in places)
    assert w.is_market.sum() == len(set(places))
    buyers = w.catchment[w.occupied]
    for m, (row, col) in enumerate(places):
        sharing = [k for k, place in enumerate(places) if place == (row, col)]
        assert w.market_customers[m] == np.isin(buyers, sharing).sum()


def test_python_reproduces_the_rows_of_a_batch_sweep(batch_program, tmp_path):
    out = tmp_path / "runs.csv"
    subprocess.run([batch_program, "--grid", "24x18", "--density", "0.45", "--steps", "30",
                    "--record-every", "10", "--seed", "4242", "--set", "threshold=2,5",
                    "--set", "returns-to-scale=0.9,1.2", "--set", "centers=on,off", "--charts", "off",
                    "--quiet", "--jobs", "2", "--out", str(out)], check=True, timeout=120)
    with open(out, newline="") as f:
        rows = list(csv.DictReader(f))
    runs = {}
    for row in rows:
        runs.setdefault(int(row["run"]), []).append(row)
    assert len(runs) == 8
    for index, recorded in runs.items():
        first = recorded[0]
        assert int(first["seed"]) == zelmora.run_seed(4242, index)
        w = zelmora.World(grid=(24, 18), seed=int(first["seed"]), agents=int(first["agents"]),
                          threshold=int(first["threshold"]),
                          returns_to_scale=float(first["returns_to_scale"]),
                          centers=first["centers"] == "1")
        for row in recorded:
            w.step(int(row["step"]) - w.step_count)
            for name, value in w.measures().items():
                expected = float(row[name]) if row[name] else math.nan
                assert value == expected or (math.isnan(value) and math.isnan(expected)), \
                    f"run {index} step {row['step']} {name}: {value} != {row[name]}"


def test_a_seed_repeats_its_world_and_a_drawn_seed_is_kept():
    first = zelmora.World(grid=(30, 20))
    again = zelmora.World(grid=(30, 20), seed=first.seed)
    first.step(25)
    again.step(25)
    assert np.array_equal(first.occupant, again.occupant)
    assert repr(first.measures()) == repr(again.measures())
    assert zelmora.World(grid=(30, 20)).seed != first.seed


def test_changed_costs_price_the_next_step():
    w = zelmora.World(seed=3)
    w.step(5)
    customers = w.market_customers.astype(float)
    w.set(production_costs=250, returns_to_scale=1.2)
    w.step()
    expected = np.where(customers > 0, customers / customers ** 1.2 * 250, 250)
    assert np.allclose(w.market_unit_cost, expected, rtol=1e-12)


@pytest.mark.parametrize("threshold, satisfied_when", [
    (0, lambda same, other: same > 0),
    (4, lambda same, other: same > other),
    (8, lambda same, other: np.zeros_like(same, dtype=bool)),
])
def test_a_changed_threshold_rules_the_next_segregation(threshold, satisfied_when):
    w = zelmora.World(seed=11, centers=False)
    w.step(3)
    w.threshold = threshold
    w.step()
    row, col = w.agent_row, w.agent_col
    expected = satisfied_when(w.same_neighbours[row, col], w.other_neighbours[row, col])
    assert np.array_equal(w.agent_satisfied, expected)


def test_agents_act_at_the_next_setup():
    w = zelmora.World(seed=5)
    w.agents = 300
    w.step()
    assert w.agent_count == 800
    w.setup()
    assert (w.agent_count, w.step_count, w.measures()["moved"]) == (300, 0, 0)
    w.density = 0.25
    w.setup()
    assert w.agent_count == 400


def test_stepping_releases_the_gil_refuses_changes_and_stops_on_ctrl_c():
    w = zelmora.World(seed=2)
    refused = []

    def watch():
        deadline = time.monotonic() + 30
        while w.step_count == 0 and time.monotonic() < deadline:
            time.sleep(0.001)
        try:
            w.setup()
        except RuntimeError as e:
            refused.append(str(e))
        _thread.interrupt_main()

    watcher = threading.Thread(target=watch)
    watcher.start()
    # Bounded: should the interrupt be lost, the call ends by itself and the test fails.
    with pytest.raises(KeyboardInterrupt):
        w.step(3_000_000)
    watcher.join()
    assert refused and "stepping" in refused[0]
    reached = w.step_count
    assert 0 < reached < 3_000_000
    w.step()
    assert w.step_count == reached + 1
