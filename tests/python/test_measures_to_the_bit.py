"""The measures as docs/MODEL.md gives their arithmetic (Measures), computed here from the World's
arrays in that arithmetic, on random Worlds of several shapes: the bits must be the World's."""
import math
import struct

import numpy as np
import pytest

import zelmora


def neighbour_counts(occupied, colour, radius, wrap):
    """Per cell, the occupied neighbours and those of the cell's colour, in the model's neighbourhood."""
    rows, cols = occupied.shape
    black = occupied & (colour == 0)
    white = occupied & (colour == 1)
    n = np.zeros(occupied.shape, np.int64)
    like = np.zeros(occupied.shape, np.int64)
    for dr in range(-radius, radius + 1):
        for dc in range(-radius, radius + 1):
            if dr == 0 and dc == 0:
                continue
            if wrap:
                shift = lambda a: np.roll(a, (-dr, -dc), axis=(0, 1))
            else:
                def shift(a):
                    out = np.zeros_like(a)
                    src = a[max(dr, 0):rows + min(dr, 0), max(dc, 0):cols + min(dc, 0)]
                    out[max(-dr, 0):rows + min(-dr, 0), max(-dc, 0):cols + min(-dc, 0)] = src
                    return out
            n += shift(occupied)
            like += np.where(colour == 0, shift(black), shift(white))
    return n, like


def percent_similar(w):
    p = w.parameters()
    n, like = neighbour_counts(w.occupied, w.colour, p["radius"], p["wrap"])
    counted = w.occupied & (n > 0)
    agents = int(counted.sum())
    if agents == 0:
        return math.nan
    if p["radius"] == 1 and p["wrap"]:
        shares = int((840 * like[counted] // n[counted]).sum())
        return (100.0 * shares) / (840.0 * agents)
    total = 0.0
    for count in range(1, int(n.max()) + 1):
        total += float(int(like[counted & (n == count)].sum())) / count
    return (100.0 * total) / agents


def herfindahl(w):
    seen, customers = [], []
    for m in range(len(w.market_col)):
        cell = (int(w.market_row[m]), int(w.market_col[m]))
        if cell not in seen:
            seen.append(cell)
            customers.append(int(w.market_customers[m]))
    total = 0.0
    for c in customers:
        total += float(c)
    if total == 0:
        return math.nan
    h = 0.0
    for c in customers:
        q = c / total
        h += q * q
    return h


def mean_local_price(w):
    if w.parameters()["markets"] == 0 or w.step_count == 0:
        return math.nan
    prices = w.local_price.ravel()  # row-major
    whole = len(prices) // 4 * 4
    # np.cumsum adds in order, one rounding a term, as the lanes do.
    lanes = [np.cumsum(np.concatenate([prices[0:whole:4], prices[whole:]]))]
    lanes += [np.cumsum(prices[j:whole:4]) for j in (1, 2, 3)]
    last = [float(lane[-1]) if len(lane) else 0.0 for lane in lanes]
    return ((last[0] + last[1]) + (last[2] + last[3])) / (float(w.grid[0]) * float(w.grid[1]))


def mean_price_paid(w, colour):
    if w.parameters()["markets"] == 0 or w.step_count == 0:
        return math.nan
    prices = w.local_price[w.occupied & (w.colour == colour)]
    if prices.size == 0:
        return math.nan
    units = 0
    for p in prices.tolist():
        whole = math.trunc(p)
        units += whole * 2**32 + math.trunc((p - whole) * 2**32)
    return float(units) * 2.0**-32 / prices.size


def bits(x):
    return "nan" if math.isnan(x) else struct.pack("<d", x).hex()


SHAPES = [  # grid, radius, wrap, markets, density
    ((40, 40), 1, True, 10, 0.5),
    ((23, 17), 1, False, 3, 0.6),
    ((30, 25), 2, True, 2, 0.4),
    ((20, 20), 3, False, 10, 0.7),
    ((12, 11), 1, True, 1, 0.3),
    ((31, 10), 1, True, 0, 0.5),
]


@pytest.mark.parametrize("grid,radius,wrap,markets,density", SHAPES)
def test_every_measure_is_its_documented_arithmetic(grid, radius, wrap, markets, density):
    for seed in (1, 2, 3):
        w = zelmora.World(grid=grid, radius=radius, wrap=wrap, markets=markets, density=density, seed=seed,
                          threshold=4, returns_to_scale=0.9 + 0.1 * seed)
        for steps in (0, 1, 6):
            w.step(steps)
            m = w.measures()
            expected = {"percent_similar": percent_similar(w), "herfindahl": herfindahl(w),
                        "mean_local_price": mean_local_price(w),
                        "mean_price_paid_black": mean_price_paid(w, 0), "mean_price_paid_white": mean_price_paid(w, 1)}
            for name, value in expected.items():
                assert bits(m[name]) == bits(value), (name, grid, radius, wrap, markets, seed, w.step_count,
                                                      m[name], value)


@pytest.mark.parametrize("grid", [(40, 40), (10, 10), (11, 11), (13, 17), (41, 40)])
def test_the_default_agents_are_half_the_cells_rounded_down(grid):
    assert zelmora.World(grid=grid, seed=1).agent_count == grid[0] * grid[1] // 2
