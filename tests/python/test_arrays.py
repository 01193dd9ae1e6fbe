import numpy as np
import pytest

import zelmora
from conftest import CELL_ARRAYS, STATE_ARRAYS, check_consistent


@pytest.mark.parametrize("name", STATE_ARRAYS)
def test_state_arrays_refuse_writes(name):
    array = getattr(zelmora.World(grid=(12, 10), seed=1), name)
    with pytest.raises(ValueError, match="read-only"):
        array[0] = array[0]
    with pytest.raises(ValueError):
        array.flags.writeable = True


def test_cell_arrays_are_views_that_follow_the_steps():
    w = zelmora.World(seed=9)
    views = {name: getattr(w, name) for name in CELL_ARRAYS}
    w.step(7)
    for name, view in views.items():
        assert view.shape == (40, 40)
        assert np.array_equal(view, getattr(w, name)), name
    del w  # the views keep the World's cells alive
    assert views["occupied"].sum() == 800


def test_agent_arrays_keep_the_old_agents_after_a_setup():
    w = zelmora.World(seed=4)
    w.step(3)
    col, satisfied = w.agent_col, w.agent_satisfied
    kept = col.copy(), satisfied.copy()
    w.setup()
    w.step(5)
    w.place_agents([1, 2], [3, 3], [0, 1])
    assert np.array_equal(col, kept[0]) and np.array_equal(satisfied, kept[1])
    assert np.array_equal(w.agent_col, [1, 2])


@pytest.mark.parametrize("seed", range(6))
def test_arrays_agree_with_each_other_and_the_measures(seed):
    rng = np.random.default_rng(seed)
    w = zelmora.World(grid=tuple(rng.integers(10, 60, size=2)), density=rng.uniform(0, 0.95),
                      threshold=int(rng.integers(0, 9)), returns_to_scale=float(rng.choice([0.9, 1, 1.2])),
                      seed=seed)
    for _ in range(4):
        w.step(int(rng.integers(1, 20)))
        check_consistent(w)
        m = w.measures()
        assert m["satisfied"] == w.agent_satisfied.sum()
        assert [m[f"market{k}_customers"] for k in range(10)] == list(w.market_customers)
        assert m["mean_local_price"] == pytest.approx(w.local_price.mean(), rel=1e-12)
