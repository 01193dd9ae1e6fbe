import numpy as np
import pytest

import zelmora
from conftest import check_consistent, random_configuration, snapshot


@pytest.mark.parametrize("seed", range(5))
def test_a_configured_world_steps_as_the_plain_phases_do(seed):
    rng = np.random.default_rng(100 + seed)
    grid = tuple(int(n) for n in rng.integers(10, 50, size=2))
    fast, plain = (zelmora.World(grid=grid, seed=seed, returns_to_scale=1.2, threshold=4) for _ in range(2))
    plain.plain_phases = True
    for round in range(3):
        # Configured after a setup and again mid-run, over copies the fast phases hold.
        share = rng.uniform(0.1, 0.9)
        for w in (fast, plain):
            random_configuration(w, np.random.default_rng([seed, round]), share)
            check_consistent(w)
        for _ in range(4):
            fast.step()
            plain.step()
            assert snapshot(fast) == snapshot(plain)
        if round == 0:
            fast.setup()
            plain.setup()


def test_a_configuration_is_what_the_world_then_holds():
    w = zelmora.World(grid=(20, 15), seed=1)
    w.place_markets(range(10), [0] * 9 + [14])
    w.place_agents([0, 19, 5], [0, 14, 7], [1, 0, 1])
    assert list(zip(w.agent_col, w.agent_row, w.agent_colour)) == [(0, 0, 1), (19, 14, 0), (5, 7, 1)]
    assert (w.market_col[9], w.market_row[9]) == (9, 14)
    assert w.agent_satisfied.all() and w.occupied.sum() == 3
    check_consistent(w)
