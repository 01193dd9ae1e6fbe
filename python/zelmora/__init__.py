"""Zelmora's model from Python: a World to step, its state as NumPy arrays, its measures and pictures.

    import zelmora
    w = zelmora.World(grid=(80, 60), density=0.5, threshold=5, seed=1)
    w.step(100)
    w.measures()["percent_similar"]
    w.local_price            # a read-only [row, col] view of every cell's price
    w.save_picture("step100.png")

zelmora.run_seed(master_seed, i) is the seed of run i of a zelmora-batch sweep. See docs/PYTHON.md.
"""

from ._core import __version__, run_seed
from ._core import World as _CoreWorld

__all__ = ["World", "run_seed", "__version__"]


class World(_CoreWorld):
    """The model's World: the grid, its markets and agents, and the phases that change them.

    The parameters are zelmora-batch's, by the same names with underscores, and checked as it
    checks them:

    grid              (cols, rows), each side 10 to 100000; fixed for the World's life.
    seed              0 to 2**64-1, or None to draw one (read it back as w.seed). The World is made
                      as zelmora-batch makes a run's World, so World(seed=run_seed(m, i), ...) with
                      run i's parameters steps exactly as that run.
    agents            0 to the cells; default 800 on 40 x 40, otherwise half the cells.
    density           instead of agents: a share of the cells, 0 to 1.
    threshold         in eighths, 0 to 8: satisfied when the like share is above 12.5 x threshold %.
    production_costs  0 to 1000000.   travel_expenses  0 to 1000000.   returns_to_scale  0 to 10.
    segregation, centers  the two phases, True or False.
    price_scape       the window's "show local price scape" (grey levels from prices), False.

    Costs that could price a cell at the model's ceiling of 9999 or above are refused. A wrong
    type raises TypeError and a bad value ValueError, each naming the parameter; an unknown
    name raises TypeError.

    Each parameter is also an attribute: w.threshold = 5 acts from the next step on, as a change
    in the window does (agents and density at the next setup()); w.set(...) changes several at
    once, all or nothing.

    State arrays are read-only NumPy arrays (writing raises ValueError). Per cell, indexed
    [row, col]: occupied, occupant, colour, same_neighbours, other_neighbours, catchment,
    local_price, grey, is_market. Per agent: agent_col, agent_row, agent_colour,
    agent_satisfied. Per market 0..9: market_col, market_row, market_customers,
    market_unit_cost. Cell, agent and market-position arrays are live views of the model's
    memory, taken without copying: they show the state as it is when read, and stay valid as
    long as they are held. Agent arrays show the agents of the moment they were taken: after
    setup() or place_agents() they keep the old agents' last values. market_customers and
    market_unit_cost are copies. Copy a view (arr.copy()) to keep a step's values.

    Counters: step_count, agent_count, moved_count, satisfied_count, candidates_drawn.
    One World is stepped by one thread at a time; other threads may read while it steps.
    """

    __slots__ = ()

    def __init__(self, grid=(40, 40), *, seed=None, agents=None, density=None, threshold=3,
                 production_costs=100.0, travel_expenses=1.0, returns_to_scale=1.0,
                 segregation=True, centers=True, price_scape=False):
        """Makes the World: grid, markets and agents; see the class's documentation."""
        parameters = dict(threshold=threshold, production_costs=production_costs,
                          travel_expenses=travel_expenses, returns_to_scale=returns_to_scale,
                          segregation=segregation, centers=centers, price_scape=price_scape)
        if agents is not None:
            parameters["agents"] = agents
        if density is not None:
            parameters["density"] = density
        super().__init__(grid, seed, parameters)
