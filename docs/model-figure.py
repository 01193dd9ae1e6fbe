"""Draws docs/model-run.png: one run's grid at a few steps above its measures over time.

    PYTHONPATH=build/python /usr/bin/python3 docs/model-figure.py [OUT.png [STEPS]]

The run is zelmora-batch's run 0 of --seed 2024 --returns-to-scale 1.1, the other parameters at
their defaults (40 x 40 cells, 800 agents, threshold 3, production costs 100, travel expenses 1,
both phases on).
"""

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

import zelmora

out = sys.argv[1] if len(sys.argv) > 1 else "docs/model-run.png"
steps = int(sys.argv[2]) if len(sys.argv) > 2 else 400
shown = sorted({s for s in (0, 5, 50, steps) if s <= steps})

world = zelmora.World(seed=zelmora.run_seed(2024, 0), returns_to_scale=1.1)
rows, pictures = [], {}
for step in range(steps + 1):
    if step > 0:
        world.step(1)
    rows.append(world.measures())
    if step in shown:
        pictures[step] = world.picture()


def series(name):
    return np.array([row[name] for row in rows], dtype=float)


step = series("step")
agents = world.agent_count

fig = plt.figure(figsize=(12, 6.4))
grid = fig.add_gridspec(2, 12, height_ratios=[1, 0.8])
for k, s in enumerate(shown):
    ax = fig.add_subplot(grid[0, 3 * k:3 * k + 3])
    ax.imshow(pictures[s])
    ax.set_title(f"after step {s}" if s else "step 0 (the setup)")
    ax.set_axis_off()

segregation = fig.add_subplot(grid[1, 0:4])
segregation.plot(step, series("percent_similar"), label="percent similar")
segregation.plot(step, 100 * series("unsatisfied_by_rule") / agents, label="% unsatisfied by the rule")
segregation.set(xlabel="step", ylabel="percent", ylim=(0, 100))
segregation.legend(loc="center right")

moves = fig.add_subplot(grid[1, 4:8])
moves.plot(step, series("moves"), label="moves (both kinds)")
moves.plot(step, series("moved"), label="agents relocating (moved)")
moves.set(xlabel="step", ylabel="agents per step")
moves.legend(loc="upper right")

markets = fig.add_subplot(grid[1, 8:12])
markets.plot(step, series("herfindahl"), color="tab:green", label="herfindahl (concentration)")
markets.set(xlabel="step", ylabel="sum of squared market shares", ylim=(0, 1.05))
price = markets.twinx()
price.plot(step, series("mean_local_price"), color="grey", label="mean local price")
price.set_ylabel("mean local price")
markets.legend(handles=markets.lines + price.lines, loc="center right")

for ax in (segregation, moves, markets):
    for s in shown:
        ax.axvline(s, color="black", linewidth=0.5, linestyle=":")
fig.suptitle("A run at returns to scale 1.1: the grid (catchments in colour, markets outlined in red) and its measures")
fig.tight_layout()
fig.savefig(out, dpi=72)
