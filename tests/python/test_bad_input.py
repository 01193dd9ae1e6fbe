import numpy as np
import pandas as pd
import pytest

import zelmora
from conftest import snapshot

# What is called, the exception, and the parameter its message must name.
MAKING = [
    (dict(grid=(9, 40)), ValueError, "grid"),
    (dict(grid=(40, 100001)), ValueError, "grid"),
    (dict(grid="40x40"), TypeError, "grid"),
    (dict(grid=(40.0, 40)), TypeError, "grid"),
    (dict(threshold=9), ValueError, "threshold"),
    (dict(threshold=2.5), ValueError, "threshold: expects a whole number of eighths"),
    (dict(threshold="3"), TypeError, "threshold"),
    (dict(threshold=True), TypeError, "threshold"),
    (dict(production_costs=-1), ValueError, "production_costs"),
    (dict(production_costs=float("nan")), ValueError, "production_costs"),
    (dict(travel_expenses=float("inf")), ValueError, "travel_expenses"),
    (dict(travel_expenses=500), ValueError, "travel_expenses"),  # prices above the ceiling
    (dict(returns_to_scale=11), ValueError, "returns_to_scale"),
    (dict(returns_to_scale="1"), TypeError, "returns_to_scale"),
    (dict(agents=1601), ValueError, "agents"),
    (dict(agents=-1), ValueError, "agents"),
    (dict(agents=np.float64(3.5)), ValueError, "agents"),
    (dict(density=1.5), ValueError, "density"),
    (dict(agents=10, density=0.5), ValueError, "density"),
    (dict(segregation="yes"), TypeError, "segregation"),
    (dict(centers=2), ValueError, "centers: expects True or False, or 1 or 0"),
    (dict(seed=-1), ValueError, "seed"),
    (dict(seed=2 ** 64), ValueError, "seed"),
    (dict(seed=1.0), TypeError, "seed"),
    (dict(thresold=3), TypeError, "thresold"),
    # The model's structure.
    (dict(markets=11), ValueError, "markets: expects a whole number of markets from 0 to 10"),
    (dict(markets=2.5), ValueError, "markets"),
    (dict(radius=0), ValueError, "radius"),
    (dict(grid=(10, 40), radius=5), ValueError, "radius: a neighbourhood of radius 5 spans 11 cells, more than a "
                                                "side of the 10 x 40 grid"),
    (dict(threshold_percent=101), ValueError, "threshold_percent"),
    (dict(threshold_percent=37.5), ValueError, "threshold_percent"),
    (dict(threshold=3, threshold_percent=40), ValueError, "threshold and threshold_percent exclude each other"),
    (dict(search_window=21), ValueError, "search_window"),
    (dict(wrap="off"), TypeError, "wrap"),
    (dict(relocation="far"), ValueError, "relocation: expects one of nearby, anywhere; got 'far'"),
    (dict(relocation=1), TypeError, "relocation"),
]

CHANGING = [
    (lambda w: w.set(thresold=3), TypeError, "thresold"),
    (lambda w: w.set(threshold=4, production_costs=-5), ValueError, "production_costs"),
    (lambda w: w.set(production_costs=9990), ValueError, "production_costs"),
    (lambda w: setattr(w, "threshold", 9), ValueError, "threshold"),
    (lambda w: setattr(w, "agents", 10 ** 30), ValueError, "agents"),
    (lambda w: setattr(w, "segregation", np.float32(0.5)), ValueError, "segregation"),
    (lambda w: setattr(w, "plain_phases", "yes"), TypeError, "plain_phases"),
    (lambda w: setattr(w, "grid_cols", 50), TypeError, "grid_cols"),
    (lambda w: w.set(agents=10, density=0.5), ValueError, "agents and density"),
    (lambda w: w.set(threshold=2, threshold_percent=40), ValueError, "threshold and threshold_percent"),
    (lambda w: setattr(w, "relocation", "Anywhere"), ValueError, "relocation"),
    (lambda w: w.set(radius=2, production_costs=-1), ValueError, "production_costs"),
    (lambda w: w.step(-1), ValueError, "n"),
    (lambda w: w.step(1.5), TypeError, "n"),
    (lambda w: w.place_agents([0, 40], [0, 0], [0, 1]), ValueError, "place_agents"),
    (lambda w: w.place_agents([3, 3], [4, 4], [0, 1]), ValueError, "place_agents"),
    (lambda w: w.place_agents([0], [0], [2]), ValueError, "place_agents"),
    (lambda w: w.place_agents([0.5], [0], [0]), TypeError, "col"),
    (lambda w: w.place_agents([0, 1], [0], [0, 1]), ValueError, "col, row"),
    (lambda w: w.place_agents([[0]], [[0]], [[0]]), ValueError, "col"),
    (lambda w: w.place_agents([2 ** 40], [0], [0]), ValueError, "col"),
    (lambda w: w.place_markets(range(9), range(9)), ValueError, "col, row"),
    (lambda w: w.place_markets(range(10), [-1] * 10), ValueError, "place_markets"),
    (lambda w: w.save_picture("/nonexistent-folder/grid.png"), OSError, "/nonexistent-folder/grid.png"),
    (lambda w: zelmora.run_seed(-1, 0), ValueError, "master_seed"),
    (lambda w: zelmora.run_seed(1, "0"), TypeError, "index"),
]


@pytest.mark.parametrize("call, error, name", [(lambda w, p=p: zelmora.World(**p), e, n) for p, e, n in MAKING]
                         + CHANGING)
def test_bad_input_raises_naming_the_parameter_and_changes_nothing(call, error, name):
    w = zelmora.World(seed=1)
    w.step(2)
    before = snapshot(w)
    with pytest.raises(error, match=name):
        call(w)
    assert snapshot(w) == before


# zelmora.sweep's options: checked as zelmora-batch checks them, before anything runs.
SWEEPING = [
    (dict(threshold=9), ValueError, "threshold"),
    (dict(set={"thresold": [1]}), ValueError, "thresold"),
    (dict(set={"threshold": [2, 9]}), ValueError, "set threshold"),
    (dict(set={"threshold": "1:9:1"}), ValueError, "set threshold"),
    (dict(set={"threshold": []}), ValueError, "set threshold"),
    (dict(set={"threshold": [2.5]}), ValueError, "set threshold"),
    (dict(set={"segregation": [2]}), ValueError, "set segregation"),
    (dict(set={3: [1]}), TypeError, "set"),
    (dict(set=[("threshold", 1)]), TypeError, "set"),
    (dict(set={"agents": [10], "density": [0.5]}), ValueError, "set agents and set density"),
    (dict(set={"production_costs": [100, 9990]}), ValueError, "production_costs"),
    (dict(travel_expenses=500), ValueError, "travel_expenses"),
    (dict(agents=2000), ValueError, "agents"),
    (dict(agents=10, density=0.5), ValueError, "agents and density"),
    (dict(grid=(9, 40)), ValueError, "grid"),
    (dict(grid="40x40"), TypeError, "grid"),
    (dict(steps=-1), ValueError, "steps"),
    (dict(steps=1.5), TypeError, "steps"),
    (dict(steps=True), TypeError, "steps"),
    (dict(steps=10 ** 9, repeats=100), ValueError, "steps/record_every"),
    (dict(record_every=0), ValueError, "record_every"),
    (dict(repeats=0), ValueError, "repeats"),
    (dict(jobs=0), ValueError, "jobs"),
    (dict(seed=2 ** 64), ValueError, "seed"),
    (dict(seed="1"), TypeError, "seed"),
    (dict(price_scape=True), TypeError, "price_scape"),
    (dict(measures={"step": len}), ValueError, "step"),
    (dict(measures={"m": 3}), TypeError, "'m'"),
    (dict(measures=[len]), TypeError, "measures"),
    (dict(agent_rows=1), TypeError, "agent_rows"),
    (dict(progress="yes"), TypeError, "progress"),
    (dict(until="forever"), ValueError, "until"),
    (dict(until=True), TypeError, "until"),
    (dict(design={"threshold": [2]}), TypeError, "design"),
    (dict(design=pd.DataFrame()), ValueError, "design"),
    (dict(design=pd.DataFrame({"threshold": []})), ValueError, "design DataFrame: no points"),
    (dict(design=pd.DataFrame({"threshold": [2, 9]})), ValueError, r"design DataFrame: row 2 .*column 'threshold'"),
    (dict(design=pd.DataFrame({"threshold": [2.5]})), ValueError, r"design DataFrame: row 1 .*column 'threshold'"),
    (dict(design=pd.DataFrame({"centers": [True, "yes"]})), ValueError, r"row 2 .*column 'centers'"),
    (dict(design=pd.DataFrame({"threshold": [2], "thresold": [3]})), ValueError, "column 2 'thresold'"),
    (dict(design=pd.DataFrame({"travel_expenses": [1], "travel-expenses": [2]})), ValueError,
     "column 2 'travel-expenses' is given twice"),
    (dict(design=pd.DataFrame({"agents": [10], "density": [0.5]})), ValueError, "column 'agents' and column 'density'"),
    (dict(design=pd.DataFrame({"density": [0.5]}), agents=10), ValueError, "column 'density' and agents"),
    (dict(design=pd.DataFrame({"threshold": [2]}), set={"threshold": [3]}), ValueError,
     "column 'threshold' is also varied by set threshold"),
    # Too large: refused from the sizes alone, before a value is looked at or listed.
    (dict(set={"threshold": range(10 ** 10)}), ValueError, "set threshold: the sweep would have more than 1000000000"),
    (dict(set={"travel_expenses": range(10 ** 9)}, repeats=2), ValueError, "repeats: the sweep would have more"),
    (dict(repeats=10 ** 10), ValueError, "repeats: expects a whole number from 1 to 1000000000"),
    # Integers past 64 bits: the keyword's range, as for any other value past it.
    (dict(steps=2 ** 70), ValueError, "steps: expects a whole number from 0 to 1000000000; got '1180591620717411303424'"),
    (dict(repeats=2 ** 70), ValueError, "repeats: expects a whole number from 1 to 1000000000"),
    (dict(jobs=-2 ** 70), ValueError, "jobs: expects a whole number of threads from 1 to 1024"),
    (dict(set={"production_costs": range(2 ** 63, 2 ** 63 + 2)}), ValueError,
     "set production_costs: expects a number from 0 to 1000000; got '9223372036854775808'"),
    (dict(set={"production_costs": range(0, 2 ** 64, 2 ** 62)}), ValueError,
     "set production_costs: expects a number from 0 to 1000000; got '4611686018427387904'"),
    (dict(set={"threshold": range(10 ** 20)}), ValueError, "set threshold: the sweep would have more than 1000000000"),
    (dict(set={"threshold": [2 ** 70]}), ValueError, "set threshold: expects a whole number of eighths"),
    (dict(design=pd.DataFrame({"threshold": [2 ** 70]}, dtype=object)), ValueError,
     r"row 1 .*column 'threshold': expects a whole number of eighths"),
    (dict(from_manifest="none.json", runs=[2 ** 70]), ValueError, "runs: expects a whole number from 0 to 999999999"),
    (dict(from_manifest="none.json", runs=range(2 ** 70, 2 ** 70 + 2)), ValueError, "runs: expects a whole number from 0"),
    # Control characters of the input are quoted escaped.
    (dict(set={"thres\x1b]0;x\ahold": [1]}), ValueError, r"set thres\\e\]0;x\\ahold: is no parameter"),
    (dict(set={"threshold": range(10 ** 8)}), ValueError, "set threshold: expects .*; got '9'"),
    (dict(set={"colour": [1]}), ValueError, "set colour"),
    (dict(grid_cols=9), ValueError, "grid_cols"),
    (dict(grid=(20, 20), grid_cols=30), TypeError, "grid and grid_cols"),
    (dict(set={"grid_rows": [20, 100000]}, grid_cols=100000, agents=0, travel_expenses=0), ValueError,
     "set grid_rows: run 1: a grid of"),
    (dict(shard=(2, 2)), ValueError, "shard"),
    (dict(out="x.txt", measures={}), ValueError, "out: expects a file name ending in .csv"),
    (dict(out="a" * 300 + ".csv", measures={}), ValueError, "out: expects a shorter name"),
    (dict(out=3, measures={}), TypeError, "out"),
    (dict(out="x.csv", agent_rows=True), ValueError, "agent_rows: not with out="),
    (dict(out="x.csv", measures={"a,b": len}), ValueError, "measures: expects names without commas.*; got 'a,b'"),
    (dict(out="x.csv", measures={"step": len}), ValueError, "measures: 'step' is a column of the sweep already"),
    (dict(grid=(10, 10), set={"radius": [4, 5]}), ValueError, "set radius: run 1: a neighbourhood of radius 5"),
    (dict(set={"relocation": ["nearby", "far"]}), ValueError, "set relocation: expects one of nearby, anywhere"),
    (dict(set={"relocation": range(2)}), TypeError, "set relocation"),
    (dict(set={"wrap": ["off"]}), TypeError, "set wrap"),
    (dict(threshold=2, set={"threshold_percent": [40]}), ValueError, "set threshold_percent and threshold exclude"),
    (dict(design=pd.DataFrame({"relocation": ["nearby", "Nearby"]})), ValueError, r"row 2 .*column 'relocation'"),
    (dict(design=pd.DataFrame({"relocation": [0]})), ValueError, r"row 1 .*column 'relocation'"),
    (dict(design=pd.DataFrame({"threshold": [2], "threshold_percent": [40]})), ValueError,
     "column 'threshold' and column 'threshold_percent'"),
]


@pytest.mark.parametrize("options, error, name", SWEEPING)
def test_bad_sweep_options_raise_naming_the_option_before_anything_runs(options, error, name):
    called = []
    options.setdefault("measures", {"seen": lambda v: called.append(v)})
    with pytest.raises(error, match=name):
        zelmora.sweep(**options)
    assert not called
