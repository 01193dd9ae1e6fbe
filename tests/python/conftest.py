import os

import numpy as np
import pytest

import zelmora

CELL_ARRAYS = ["occupied", "occupant", "colour", "same_neighbours", "other_neighbours", "same_neighbours_now",
               "other_neighbours_now", "catchment", "local_price", "grey", "is_market"]
AGENT_ARRAYS = ["agent_col", "agent_row", "agent_colour", "agent_satisfied"]
MARKET_ARRAYS = ["market_col", "market_row", "market_customers", "market_unit_cost"]
STATE_ARRAYS = CELL_ARRAYS + AGENT_ARRAYS + MARKET_ARRAYS


def snapshot(world):
    """Everything a World shows, comparable with ==: NaN measures compare by their text."""
    arrays = {name: getattr(world, name).copy() for name in STATE_ARRAYS}
    return (world.parameters(), repr(world.measures()), world.step_count,
            {name: (a.dtype.str, a.shape, a.tobytes()) for name, a in arrays.items()})


def random_configuration(world, rng, share):
    """Markets and agents at random places: some markets share a cell, agents fill `share`."""
    cols, rows = world.grid
    markets = rng.integers(0, [cols, rows], size=(10, 2))
    markets[9] = markets[3]
    world.place_markets(markets[:, 0], markets[:, 1])
    cells = rng.choice(cols * rows, size=int(share * cols * rows), replace=False)
    world.place_agents(cells % cols, cells // cols, rng.integers(0, 2, size=cells.size))


def check_consistent(world):
    """Cells, agents and markets tell one story, read through the arrays."""
    col, row = world.agent_col, world.agent_row
    assert world.occupied.sum() == world.agent_count == col.size
    assert world.occupied[row, col].all()
    assert np.array_equal(world.occupant[row, col], np.arange(col.size))
    assert np.array_equal(world.colour[row, col], world.agent_colour)
    assert world.is_market[world.market_row, world.market_col].all()
    # Each market cell counts the agents in the catchments of the markets standing on it.
    served = np.bincount(world.catchment[row, col], minlength=10)
    cell_of = world.market_row * world.grid[0] + world.market_col
    for m in range(10):
        assert world.market_customers[m] == served[cell_of == cell_of[m]].sum()


@pytest.fixture
def batch_program():
    path = os.environ.get("ZELMORA_BATCH", "")
    if not os.access(path, os.X_OK):
        pytest.skip("zelmora-batch is not given in ZELMORA_BATCH (ctest gives it)")
    return path
