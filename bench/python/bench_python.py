"""The Python module's costs against the same steps in C++, in one process, sides interleaved.

CPU time of the calling thread (the steps run on it, with the GIL released), medians of rounds:
  step(1000)   w.step(1000) against 1000 steps run from C++ alone, on twin 40 x 40 Worlds with
               the window's settings (800 agents, look for centers on), after 100 steps.
  loop step()  a Python loop calling w.step() once per step against the same steps from C++, on
               twin 10 x 10 Worlds without agents, so that the call's own cost stands out.
  read array   one read of each state array of a 1000 x 1000 World at half density, read again
               without a step between, and the first read after a step, which copies it.
  reduce array a NumPy sum over each per-cell and per-agent array of that World against the same
               sum over a contiguous array of its dtype, interleaved.
  sweep        zelmora.sweep with a measure written in Python at every recorded step against the
               same sweep without it and against the measure's own cost (the same calls on a
               run's view outside the sweep), for a light measure and a heavy one: CPU time of
               the whole process, worker included.
Arguments of Google Benchmark (make bench passes them) are ignored; --rounds sets the rounds.
"""

import argparse
import statistics
import time

import numpy as np

import zelmora


def cpu_of(call):
    start = time.thread_time_ns()
    call()
    return (time.thread_time_ns() - start) * 1e-9


def twins(**parameters):
    return zelmora.World(seed=7, **parameters), zelmora.World(seed=7, **parameters)


def step_1000(rounds):
    python, cpp = twins()
    python.step(100)
    cpp.step(100)
    py_times, cpp_times = [], []
    for k in range(rounds):
        # Alternate which side goes first, so neither always runs on a warmer cache.
        sides = [(py_times, lambda: cpu_of(lambda: python.step(1000))),
                 (cpp_times, lambda: cpp._steps_cpu_seconds(1000))]
        for times, run in sides if k % 2 == 0 else reversed(sides):
            times.append(run())
    py, cc = statistics.median(py_times), statistics.median(cpp_times)
    ratios = [p / c for p, c in zip(py_times, cpp_times)]
    print(f"step(1000), 40 x 40        Python {py * 1e3:8.3f} ms   C++ {cc * 1e3:8.3f} ms   "
          f"ratio of medians {py / cc:.3f}, median ratio {statistics.median(ratios):.3f}   (at most 1.05)")


def loop_step(rounds, calls=20000):
    python, cpp = twins(grid=(10, 10), agents=0, segregation=False, centers=False)
    step = python.step

    def loop():
        for _ in range(calls):
            step()

    extra, py_times, cpp_times = [], [], []
    for k in range(rounds):
        sides = [lambda: cpu_of(loop), lambda: cpp._steps_cpu_seconds(calls)]
        if k % 2:
            sides.reverse()
        first, second = sides[0](), sides[1]()
        py, cc = (first, second) if k % 2 == 0 else (second, first)
        py_times.append(py)
        cpp_times.append(cc)
        extra.append((py - cc) / calls)
    print(f"loop of step(), 10 x 10    Python {statistics.median(py_times) / calls * 1e6:8.3f} us   "
          f"C++ {statistics.median(cpp_times) / calls * 1e6:8.3f} us per step   "
          f"added per call {statistics.median(extra) * 1e6:.3f} us   (at most 1)")


CELL_AND_AGENT_ARRAYS = ["occupied", "occupant", "colour", "same_neighbours", "other_neighbours",
                         "same_neighbours_now", "other_neighbours_now", "catchment", "local_price", "grey",
                         "is_market", "agent_col", "agent_row", "agent_colour", "agent_satisfied"]
ARRAYS = CELL_AND_AGENT_ARRAYS + ["market_col", "market_row", "market_customers", "market_unit_cost"]


def read_arrays(rounds, reads=2000):
    w = zelmora.World(grid=(1000, 1000), density=0.5, seed=7)
    w.step(2)
    worst = 0.0
    for name in ARRAYS:
        read = lambda: [getattr(w, name) for _ in range(reads)]
        median = statistics.median(cpu_of(read) / reads for _ in range(rounds))
        worst = max(worst, median)
        print(f"read {name:20s} 1000 x 1000   {median * 1e6:6.3f} us")
    print(f"read array, slowest           {worst * 1e6:6.3f} us   (at most 5)")
    for name in CELL_AND_AGENT_ARRAYS:
        first = []
        for _ in range(3):
            w.step()
            first.append(cpu_of(lambda: getattr(w, name)))
        print(f"first read after a step, {name:20s} {statistics.median(first) * 1e3:7.2f} ms")


def reduce_arrays(rounds):
    w = zelmora.World(grid=(1000, 1000), density=0.5, seed=7)
    w.step(2)
    worst = 0.0
    for name in CELL_AND_AGENT_ARRAYS:
        array = getattr(w, name)
        plain = np.ascontiguousarray(array).copy()
        ratios = []
        for k in range(rounds):
            sides = [lambda: cpu_of(array.sum), lambda: cpu_of(plain.sum)]
            state, contiguous = (sides[0](), sides[1]()) if k % 2 == 0 else tuple(reversed((sides[1](), sides[0]())))
            ratios.append(state / contiguous)
        worst = max(worst, statistics.median(ratios))
        print(f"sum of {name:20s} against a contiguous {str(plain.dtype):7s} array: {statistics.median(ratios):5.2f}x")
    print(f"reduce array, slowest        {worst:5.2f}x   (at most 1.5)")


def like_share(v):
    """A measure as a study writes it: the agents' mean share of like neighbours."""
    same = v.same_neighbours[v.agent_row, v.agent_col]
    other = v.other_neighbours[v.agent_row, v.agent_col]
    return np.mean(same / np.maximum(same + other, 1))


def median_price(v):
    """A heavy measure: the median local price of the grid, sorting every cell's."""
    return float(np.median(v.local_price))


def process_cpu_of(call):
    start = time.process_time_ns()
    call()
    return (time.process_time_ns() - start) * 1e-9


def sweep_measure(rounds, measure, steps=300, repeats=2):
    options = dict(grid=(40, 40), steps=steps, record_every=1, repeats=repeats, jobs=1, seed=5)
    kept = []
    zelmora.sweep(grid=(40, 40), steps=steps, seed=5, measures={"keep": lambda v: kept.append(v) or 0})
    view, calls = kept[-1], repeats * (steps + 1)
    sides = {"without": lambda: zelmora.sweep(**options),
             "with": lambda: zelmora.sweep(measures={"m": measure}, **options),
             "own": lambda: [measure(view) for _ in range(calls)]}
    times = {name: [] for name in sides}
    for k in range(rounds):
        for name in (list(sides) if k % 2 == 0 else reversed(list(sides))):
            times[name].append(process_cpu_of(sides[name]))
    without, with_, own = (statistics.median(times[n]) for n in ("without", "with", "own"))
    added = [w - o - n for w, o, n in zip(times["with"], times["without"], times["own"])]
    of_measure = [a / o for a, o in zip(added, times["own"])]
    of_sweep = [a / n for a, n in zip(added, times["without"])]
    per = 1e6 / calls
    print(f"sweep 40 x 40, {measure.__name__}, {calls} recorded steps   without {without * per:7.2f} us   with it "
          f"{with_ * per:7.2f} us   the measure alone {own * per:6.2f} us per recorded step")
    print(f"sweep, {measure.__name__}: added beyond the measure's own cost, median "
          f"{statistics.median(of_measure) * 100:.1f} % of the measure's cost, "
          f"{statistics.median(of_sweep) * 100:.1f} % of the sweep without it   (at most 20 % of the sweep)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=15)
    options, _ = parser.parse_known_args()
    step_1000(options.rounds)
    loop_step(options.rounds)
    read_arrays(options.rounds)
    reduce_arrays(options.rounds)
    sweep_measure(options.rounds, like_share)
    sweep_measure(options.rounds, median_price)


if __name__ == "__main__":
    main()
