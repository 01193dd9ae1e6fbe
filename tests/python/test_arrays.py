import numpy as np
import pytest

import zelmora
from conftest import CELL_ARRAYS, STATE_ARRAYS, check_consistent


@pytest.mark.parametrize("name", STATE_ARRAYS)
def test_state_arrays_are_contiguous_and_refuse_writes(name):
    array = getattr(zelmora.World(grid=(12, 10), seed=1), name)
    assert array.flags.c_contiguous
    if name in CELL_ARRAYS:
        assert array.shape == (10, 12)  # [row, col]
    with pytest.raises(ValueError, match="read-only"):
        array[0] = array[0]
    with pytest.raises(ValueError):
        array.flags.writeable = True


def test_arrays_keep_the_step_they_were_read_at_and_are_read_again_without_copying():
    w = zelmora.World(seed=9, threshold=5)
    before = {name: getattr(w, name) for name in STATE_ARRAYS}
    kept = {name: array.copy() for name, array in before.items()}
    assert all(getattr(w, name) is array for name, array in before.items())  # no step: the same arrays
    w.step(7)
    changed = set()
    for name, array in before.items():
        assert np.array_equal(array, kept[name]), name  # held across the steps: the values of its read
        if not np.array_equal(getattr(w, name), array):
            changed.add(name)
    assert {"occupied", "agent_col", "local_price", "same_neighbours_now"} <= changed
    del w  # an array holds its values alone
    assert before["occupied"].sum() == 800


def roll_count(occupied, colour, like, radius=1, wrap=True):
    """Occupied neighbours of each occupied cell's colour (like) or the other, within radius cells,
    on the torus (wrap) or cut at the edges of a bounded grid."""
    rows, cols = occupied.shape
    count = np.zeros(occupied.shape, dtype=int)
    padded = [np.pad(a, radius) for a in (occupied, colour)]
    for dr in range(-radius, radius + 1):
        for dc in range(-radius, radius + 1):
            if dr or dc:
                if wrap:
                    n_occupied, n_colour = (np.roll(a, (dr, dc), axis=(0, 1)) for a in (occupied, colour))
                else:
                    n_occupied, n_colour = (a[radius - dr:radius - dr + rows, radius - dc:radius - dc + cols]
                                            for a in padded)
                count += n_occupied & ((n_colour == colour) == like)
    return np.where(occupied, count, 0)


@pytest.mark.parametrize("centers,radius,wrap", [(True, 1, True), (False, 1, True), (False, 1, False),
                                                 (True, 2, True), (False, 3, False)])
def test_current_counts_are_where_agents_stand_and_the_phase_counts_are_the_segregation_phases(centers, radius, wrap):
    w = zelmora.World(grid=(30, 20), density=0.5, seed=12, threshold=4, centers=centers, radius=radius, wrap=wrap)
    w.step(15)
    occupied, colour = w.occupied, w.colour
    for like, now, phase in [(True, w.same_neighbours_now, w.same_neighbours),
                             (False, w.other_neighbours_now, w.other_neighbours)]:
        assert np.array_equal(now, roll_count(occupied, colour, like, radius, wrap))
        if not centers:  # nobody moved after the segregation phase counted
            assert np.array_equal(now[occupied], phase[occupied])


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
