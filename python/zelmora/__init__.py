"""Zelmora's model from Python: a World to step, its state as NumPy arrays, its measures and pictures.

    import zelmora
    w = zelmora.World(grid=(80, 60), density=0.5, threshold=5, seed=1)
    w.step(100)
    w.measures()["percent_similar"]
    w.local_price            # a read-only [row, col] copy of every cell's price
    w.save_picture("step100.png")

zelmora.sweep(...) runs zelmora-batch's sweeps on every core and returns them as a pandas
DataFrame, with measures written in Python; zelmora.run_seed(master_seed, i) is the seed of run i
of a sweep. See docs/PYTHON.md.
"""

import os as _os
import sys as _sys
import time as _time

from . import _core
from ._core import __version__, build_id, run_seed, RunView
from ._core import World as _CoreWorld

__all__ = ["World", "RunView", "SweepFiles", "sweep", "merge", "columns", "parameters", "run_seed", "__version__",
           "build_id", "open_sweep", "summary", "plot"]


def _parameter_lines(skip=()):
    """The table's parameters, one a line, for the documentation of World and sweep."""
    return "\n".join(f"    {name:17s} {description}; {kind} {range_}, default {default}."
                     for name, kind, range_, default, unit, description in _core.parameters() if name not in skip)


class World(_CoreWorld):
    """The model's World: the grid, its markets and agents, and the phases that change them.

    The parameters are those of zelmora.parameters() (zelmora-batch --parameters), by name, and
    checked as zelmora-batch checks them:

    grid              (cols, rows), each side 10 to 100000; fixed for the World's life.
    seed              0 to 2**64-1, or None to draw one (read it back as w.seed). The World is made
                      as a sweep makes a run's World, so World(seed=run_seed(m, i), ...) with run
                      i's parameters steps exactly as that run.
{parameters}
    price_scape       the window's "show local price scape" (grey levels from prices), False.

    agents and density are one fact under two names, and so are threshold and threshold_percent:
    give one of each. Costs that could price a cell at the model's ceiling of 9999 or above are
    refused, and so is a neighbourhood wider than the grid (2 x radius + 1 above a side). A wrong
    type raises TypeError and a bad value ValueError, each naming the parameter; an unknown name
    raises TypeError.

    Each parameter is also an attribute: w.threshold = 5 acts from the next step on, as a change
    in the window does (agents, density and the model's structure at the next setup()); w.set(...)
    changes several at once, all or nothing.

    State arrays are read-only NumPy arrays, contiguous in C order (writing raises ValueError).
    Per cell, indexed [row, col]: occupied, occupant, colour, same_neighbours, other_neighbours
    (as the last segregation phase counted them), same_neighbours_now, other_neighbours_now
    (where the agents stand now), catchment, local_price, grey, is_market. Per agent: agent_col,
    agent_row, agent_colour, agent_satisfied. Per market 0..9: market_col, market_row,
    market_customers, market_unit_cost. Each is a copy made at its first read after a step, a
    setup or a configuration, and read again without copying until the next: an array held
    across a step keeps the values of the step it was read at.

    Counters: step_count, agent_count, moved_count, satisfied_count, candidates_drawn.
    One World is stepped by one thread at a time; other threads may read while it steps.
    """

    __slots__ = ()

    def __init__(self, grid=(40, 40), *, seed=None, price_scape=False, **parameters):
        """Makes the World: grid, markets and agents; see the class's documentation."""
        parameters = {name: value for name, value in parameters.items() if value is not None}
        parameters["price_scape"] = price_scape
        super().__init__(grid, seed, parameters)


    @classmethod
    def from_run(cls, manifest, run):
        """The World of run `run` of the sweep whose manifest this is (FILE.json, or its FILE.csv),
        set up as that run was: its grid, its parameters and its seed, so it steps as the run did
        (w.step(n) then gives the run's row at step n; w.picture() draws it)."""
        import os
        manifest = os.fspath(manifest)
        if manifest.endswith(".csv"):
            manifest = manifest[:-4] + ".json"
        grid, seed, parameters = _core.run_of(manifest, run)
        return cls(grid, seed=seed, **parameters)


World.__doc__ = World.__doc__.replace("{parameters}", _parameter_lines(skip=("grid_cols", "grid_rows")))


def sweep(grid=None, *, steps=None, record_every=None, repeats=None, seed=None, jobs=None, set=None, design=None,
          until=None, means=None, shard=None, from_manifest=None, runs=None, out=None, resume=False, force=False,
          snapshot_at=None, snapshot_every=None, video=None, charts=None, measures=None, agent_rows=False,
          progress=False, client=None, shards=None, shard_folder=None, **parameters):
    """Runs a sweep as zelmora-batch does: its rows as a pandas DataFrame, or its files with out=.

    The options are zelmora-batch's, by the same names with underscores, with its defaults and
    its checks (see docs/EXPERIMENTS.md), and every parameter of zelmora.parameters() is a
    keyword, the same for every run but where set or design vary it:

    grid          (cols, rows), each side 10 to 100000 (or grid_cols= and grid_rows=).
    steps         steps per run, 0 to 10**9 (default 500); with until="settled" the most.
    record_every  rows at step 0, every record_every-th step and the last step (default 1).
    repeats       runs per combination of the set values (default 1).
    seed          the master seed, 0 to 2**64-1; None draws one (df.attrs["master_seed"]).
                  Run i's seed is run_seed(master_seed, i), as in zelmora-batch.
    jobs          worker threads, 1 to 1024; None: every core. The numbers do not depend on it.
    set           the parameters varied, {name: values}: values a list, tuple, range (kept as a
                  range, never listed) or array, or zelmora-batch's own text ("1:7:1",
                  "0.9,1,1.1"); several give their cross product, the first varying slowest, the
                  repeats fastest. The grid's sides and the agents may be varied too.
    design        a point design, as zelmora-batch's --design: a DataFrame with one column per
                  parameter (names with _ or -) and one row per point, its values as set takes
                  them (a threshold in whole eighths, 3 or 3.0; switches as bools or 1 and 0), so
                  a sweep's own rows go back in as they are.
                  Its points vary slower than every set, so a design listing a cross product in
                  set's order gives the same runs. A bad design raises ValueError naming its row
                  (points count from 1) and column.
    until         "steps" (default), "settled" or "settled:W": a run ends at the W-th quiet step
                  in a row (W = 1 for "settled"; a quiet step leaves no agent unsatisfied and
                  moves none); it then has fewer rows, its last at that step, and stop_step holds
                  the first of the W quiet steps in each of them (<NA> in the rows of a run that
                  never had W in a row).
    means         True: each row adds, after the other columns, the mean of every per-step column
                  (moved, moves, the markets' customers and unit costs) over the steps since the
                  row before, this row's step included, named NAME_mean (NaN at step 0); a value
                  that flips every step is then seen on both sides at any record_every.
    shard         (index, count): only the runs whose index is index modulo count.
    from_manifest a sweep's manifest (FILE.json of zelmora-batch --out or of out=: a whole sweep's,
                  a shard's or a merge's), with runs: replays those runs of that sweep, with its
                  parameters and seeds, as zelmora-batch --from FILE.json --runs does. The rows
                  are the sweep's rows of those runs; steps (no more than the sweep's),
                  record_every and means may be given (else the sweep's), and out, jobs,
                  measures, agent_rows and progress as for any sweep. Every other option and
                  parameter would change the runs and raises ValueError. A replay computes the
                  measures given to it (measures=), whichever the sweep had: the sweep's own
                  are in its manifest by name only, so give them again to have their columns.
    runs          the runs from_manifest replays, by their index in the sweep: a list, range or
                  array of whole numbers, or the command line's text ("13,20,100:110").
    out           a path ending in .csv: the sweep writes the CSV, manifest and journal that
                  zelmora-batch --out writes, streaming, and returns a SweepFiles, whose rows are
                  read on request (read(), chunks()); resume=True finishes an interrupted one,
                  force=True replaces one. Measures go into the CSV after its other columns and
                  the manifest names them; a resume needs the same measures. Not with agent_rows.
    snapshot_at   with out=: the steps after which each run's grid is drawn, as zelmora-batch
                  --snapshot-at draws it, into FILE.runN.stepS.png beside the CSV.
    snapshot_every with out=: a PNG of the grid after every K-th step and the run's last.
    video         with out=: "mp4" or "gif", each run's video FILE.runN.mp4 (ffmpeg on PATH), a
                  frame per recorded step (per K steps with snapshot_every); "off" (default).
    charts        with out=: True ("on") draws each run's market and segregation charts,
                  FILE.runN.chart.png and FILE.runN.segregation.png; "window" the market chart
                  as the window shows it at the end; False ("off", default) none. The pictures
                  are drawn by the program's own drawing code, the charts on a thread of the
                  module that holds its Qt application (offscreen, no display needed).
{parameters}

    Without out=, the DataFrame has the columns of zelmora-batch's CSV, in its order and with its
    kinds (zelmora.columns(): integer as int64, unsigned as uint64, integer or empty as pandas'
    Int64 with <NA> where the CSV is empty, real as float64 with NaN there, text as str), and its
    numbers: the CSV of the same options read back, bit for bit. One row per run and recorded
    step, runs in index order. It makes no pictures (they are files: give out=);
    zelmora.World.from_run(manifest, run) sets a run of a sweep on disk up again to draw it,
    zelmora.World(seed=run_seed(...), ...) one of any sweep.

    measures      {name: function}: each function is called at every recorded step of every run
                  with a zelmora.RunView (the run's World, read-only: the arrays, counters and
                  parameters of zelmora.World, and measures(), the step's row) and returns a
                  number (or None: NaN), which fills a column of that name after the CSV's.
                  Measures run one at a time, holding the GIL, while the runs go on stepping.
    agent_rows    True returns (rows, agents): agents is a long DataFrame of every agent at every
                  recorded step, columns run, step, agent, col, row, colour, satisfied, in the
                  order of the rows (agents by index). It needs about 37 bytes per agent and step.
    progress      True: a bar with the runs done, steps per second and time left, updated in
                  place in Jupyter and on a terminal, and plain lines every 10 seconds where
                  stderr is a log; or
                  a function called about four times a second and at the end as
                  progress(runs_done, runs, steps_done, steps), steps None with until="settled".

    The runs step on jobs threads with the GIL released. An exception raised by a measure or by
    progress stops the sweep, and so does Ctrl-C (KeyboardInterrupt): every thread stops between
    two steps and has ended when the exception reaches the caller; nothing is returned (with
    out=, what finished is kept for resume=True). Bad options raise ValueError (a value
    zelmora-batch refuses, with its words) or TypeError (a value of the wrong type), each naming
    the option.

    client        a dask.distributed Client: the sweep runs as `shards` tasks on its cluster
                  (default: one per worker thread), each one shard (shard=(i, shards)) on jobs
                  threads (default 1) writing its files in shard_folder (default OUT.shards beside
                  out=, which is required), a folder the workers and this process all reach; then
                  zelmora.merge joins them into out=: the CSV and the manifest's request are those
                  of the sweep on one machine. A task Dask runs again after losing its worker
                  resumes the runs the shard had finished; Ctrl-C stops the tasks and says which
                  shards are kept, and the same call again finishes them. seed=None draws a master
                  seed here (or takes the stopped call's). Not with shard, resume, force or
                  progress. Dask is imported only then.
    """
    if client is not None:
        from . import _dask

        given = {name: value for name, value in locals().items() if name not in (
            "client", "shards", "shard_folder", "out", "parameters", "_dask")}
        return SweepFiles(_dask.sweep(client, dict(parameters, **given), out, shards, shard_folder))
    if shards is not None or shard_folder is not None:
        raise ValueError(f"{'shards' if shards is not None else 'shard_folder'}: only with client=")
    if design is not None:
        import pandas

        if not isinstance(design, pandas.DataFrame):
            raise TypeError(f"design: expects a pandas DataFrame, a column per parameter and a row per point; "
                            f"got {type(design).__name__}")
        if design.columns.empty:
            raise ValueError("design: the DataFrame has no columns; expects one per parameter")
        design = [(str(name), design.iloc[:, k].to_numpy()) for k, name in enumerate(design.columns)]
    keywords = dict(parameters, grid=grid, steps=steps, record_every=record_every, repeats=repeats, seed=seed,
                    jobs=jobs, set=set, design=design, until=until, means=means, shard=shard,
                    from_manifest=from_manifest, runs=runs, out=out, resume=resume, force=force,
                    snapshot_at=snapshot_at, snapshot_every=snapshot_every, video=video, charts=charts)
    if measures is None:
        measures = {}
    if not isinstance(measures, dict):
        raise TypeError(f"measures: expects a dict of names and functions; got {type(measures).__name__}")
    if not isinstance(agent_rows, bool):
        raise TypeError(f"agent_rows: expects True or False; got {type(agent_rows).__name__}")
    line = _ProgressLine() if progress is True else None
    try:
        result = _core.sweep(keywords, measures, agent_rows,
                             line if line else (None if progress is False else progress))
    finally:
        if line:
            line.end()
    if out is not None:
        return SweepFiles(result)
    import pandas

    # A column that may be empty comes with its mask of missing values.
    rows = pandas.DataFrame({name: pandas.arrays.IntegerArray(values, *missing) if missing else values
                             for name, values, *missing in result["columns"]}, copy=False)
    rows.attrs["master_seed"] = result["master_seed"]
    if not agent_rows:
        return rows
    return rows, pandas.DataFrame(dict(result["agents"]), copy=False)


sweep.__doc__ = sweep.__doc__.replace("{parameters}", _parameter_lines())


def merge(out, shards):
    """Joins the shards of one sweep (zelmora.sweep(..., shard=(i, n), out=...) or zelmora-batch
    --shard, each complete) into out, a new CSV, as zelmora-batch merge OUT.csv SHARD.csv... does:
    the CSV byte for byte and the manifest's request as the unsharded sweep's, with its refusals
    (ValueError: a shard missing, repeated, unfinished, of another sweep or another build; an out=
    that exists). Returns a SweepFiles."""
    import json

    if isinstance(shards, (str, bytes)) or not hasattr(shards, "__iter__"):
        raise TypeError(f"shards: expects a list of the shards' CSVs; got {type(shards).__name__}")
    out = _os.fsdecode(_os.fspath(out))
    _core.merge([_os.fsencode(out), *(_os.fsencode(_os.fspath(shard)) for shard in shards)])
    with open(out[:-4] + ".json") as manifest:
        header = json.load(manifest)
    return SweepFiles(dict(out=out, manifest=out[:-4] + ".json", journal=out[:-4] + ".runs.jsonl",
                           master_seed=header["master_seed"], runs=header["completed_runs"]))


class SweepFiles:
    """The files of a sweep run with out=: the CSV (csv), its manifest (manifest) and journal, and
    the master seed. The rows stay on disk until asked for: read() gives them as the DataFrame
    zelmora.sweep returns without out=, chunks(rows) as DataFrames of at most that many rows."""

    def __init__(self, result):
        self.csv = result["out"]
        self.manifest = result["manifest"]
        self.journal = result["journal"]
        self.master_seed = result["master_seed"]
        self.runs = result["runs"]

    def __repr__(self):
        return f"<zelmora.SweepFiles {self.csv!r}: {self.runs} runs, master seed {self.master_seed}>"

    def _read(self, **options):
        import pandas

        table = columns(means=True)  # the means' kinds too, where the file has them
        kinds = {"integer": "int64", "unsigned": "uint64", "integer or empty": "Int64", "real": "float64",
                 "text": "object"}
        dtypes = dict(zip(table.name, table.kind.map(kinds)))
        # The columns after the program's are measures written in Python: numbers, as without out=.
        with open(self.csv, encoding="utf-8", newline="") as file:
            header = file.readline().rstrip("\r\n").split(",")
        dtypes.update((name, "float64") for name in header if name not in dtypes)
        return pandas.read_csv(self.csv, float_precision="round_trip", dtype=dtypes, **options)

    def read(self):
        """The sweep's rows as one DataFrame, as zelmora.sweep returns them without out=."""
        rows = self._read()
        rows.attrs["master_seed"] = self.master_seed
        return rows

    rows = read

    def summary(self, **options):
        """zelmora.summary(self.csv, **options)."""
        return summary(self.csv, **options)

    def plot(self, x, y, **options):
        """zelmora.plot(self.csv, x, y, **options)."""
        return plot(self.csv, x, y, **options)

    def chunks(self, rows=100_000):
        """The rows as DataFrames of at most `rows` rows each, read one after the other."""
        with self._read(chunksize=rows) as reader:
            yield from reader


def columns(means=False):
    """The columns of zelmora-batch's CSV and of zelmora.sweep, in order, as a DataFrame: name,
    kind (integer, unsigned, integer or empty, real or text), per_run (the same in every row of a
    run) and description; with means=True those of a sweep with means=True (--means on)."""
    import pandas

    if not isinstance(means, bool):
        raise TypeError(f"means: expects True or False; got {type(means).__name__}")
    return pandas.DataFrame(_core.columns(means), columns=["name", "kind", "per_run", "description"])


def parameters():
    """The model's parameters, as zelmora-batch --parameters lists them, as a DataFrame: name,
    kind (integer, real, switch or choice), range, default, unit and description. Each is a
    keyword of World and sweep, a name of set and of a design's columns, and a column of every
    sweep's rows."""
    import pandas

    return pandas.DataFrame(_core.parameters(), columns=["name", "kind", "range", "default", "unit", "description"])


class _ProgressLine:
    """zelmora.sweep's progress=True: a bar updated in place in Jupyter (a display updated by its
    id) and on a terminal (one line rewritten), and plain lines, one every 10 seconds or so and
    one at the end, where stderr is a log."""
    WIDTH = 30
    LOG_EVERY = 10.0

    def __init__(self, stream=None):
        self.start = _time.monotonic()
        self.stream = _sys.stderr if stream is None else stream
        self.shown = False
        self.logged = None
        self.ended = False
        self.display = None
        self.kind = "log"
        if self._in_notebook():
            self.kind = "notebook"
        elif hasattr(self.stream, "isatty") and self.stream.isatty():
            self.kind = "terminal"

    @staticmethod
    def _in_notebook():
        shell = _sys.modules.get("IPython")
        try:
            return shell is not None and type(shell.get_ipython()).__name__ == "ZMQInteractiveShell"
        except Exception:
            return False

    def text(self, runs_done, runs, steps_done, steps):
        seconds = _time.monotonic() - self.start
        text = f"{runs_done}/{runs} runs"
        if steps_done > 0 and seconds > 0:
            rate = steps_done / seconds
            text += f", {rate:.0f} steps/s"
            left = None
            if steps is not None:
                left = int((steps - steps_done) / rate)
            elif runs_done:  # runs that end when settled: their steps are unknown, the runs tell
                left = int(seconds * (runs - runs_done) / runs_done)
            if left is not None:
                text += f", {left // 3600}:{left // 60 % 60:02d}:{left % 60:02d} left"
        return text

    def bar(self, runs_done, runs):
        filled = self.WIDTH * runs_done // max(runs, 1)
        return "[" + "#" * filled + "." * (self.WIDTH - filled) + "] "

    def __call__(self, runs_done, runs, steps_done, steps):
        text = self.text(runs_done, runs, steps_done, steps)
        if self.kind == "notebook":
            from IPython.display import display
            line = "zelmora.sweep: " + self.bar(runs_done, runs) + text
            if self.display is None:
                self.display = display({"text/plain": line}, raw=True, display_id=True)
            else:
                self.display.update({"text/plain": line}, raw=True)
        elif self.kind == "terminal":
            self.stream.write(f"\rzelmora.sweep: {self.bar(runs_done, runs)}{text}   ")
            self.stream.flush()
            self.shown = True
        else:
            now = _time.monotonic()
            final = runs_done == runs
            if (final and not self.ended) or self.logged is None or now - self.logged >= self.LOG_EVERY:
                self.stream.write(f"zelmora.sweep: {text}\n")
                self.stream.flush()
                self.logged, self.ended = now, final

    def end(self):
        if self.shown:
            self.stream.write("\n")
            self.stream.flush()


# ---- A sweep on disk: reopened, summarised, plotted (zelmora-batch summary and plot).

def _sweep_path(path):
    import os
    path = os.fspath(path.csv if isinstance(path, SweepFiles) else path)
    if not isinstance(path, str):
        raise TypeError(f"path: expects a sweep's CSV or manifest; got {type(path).__name__}")
    return path


def open_sweep(path):
    """The SweepFiles of a sweep on disk, by its CSV or its manifest (FILE.csv or FILE.json, as
    zelmora-batch --out or zelmora.sweep(out=) wrote them; a shard's or a merge's too): rows()
    reads its rows with the kinds of zelmora.columns() and its numbers bit for bit, summary() and
    plot() summarise it. Raises ValueError naming the path when no sweep's manifest is there."""
    import json
    import os
    path = _sweep_path(path)
    stem, extension = os.path.splitext(path)
    if extension not in (".csv", ".json"):
        raise ValueError(f"path: expects a sweep's CSV (FILE.csv) or its manifest (FILE.json); got {path!r}")
    manifest = stem + ".json"
    try:
        with open(manifest, encoding="utf-8") as file:
            header = json.load(file)
    except (OSError, ValueError):
        raise ValueError(f"path: {path!r} is no sweep: the manifest {manifest!r} is missing or not JSON") from None
    if not isinstance(header, dict) or not str(header.get("format", "")).startswith("zelmora-sweep/"):
        raise ValueError(f"path: {path!r} is no sweep: {manifest!r} is no sweep's manifest")
    journal = os.path.join(os.path.dirname(manifest), header.get("journal", ""))
    return SweepFiles({"out": stem + ".csv", "manifest": manifest, "journal": journal,
                       "master_seed": header["master_seed"], "runs": header["runs_in_shard"]})


def summary(path, *, by=None, at="every", measures=None, out=None):
    """zelmora-batch summary as a DataFrame: per point (the values of the parameters the sweep
    varies, or of those named in by), per step (at="every", the default; at=STEP one step; not
    with at="last", each run's last row, where the step is a measure) and per measure (every
    numeric one, or those named): runs (with a value), mean, sd (n - 1), ci_low and ci_high (the
    95 % interval of the mean by Student's t; NaN for one run), min and max. path is a sweep's
    CSV or manifest or its SweepFiles, complete, running or interrupted: the whole runs it holds
    so far are read, df.attrs["runs_read"] of df.attrs["runs"]. out= also writes the summary's
    CSV and manifest as zelmora-batch summary --out does."""
    import io
    import pandas
    path = _sweep_path(path)
    if isinstance(by, str):
        by = [by]
    if isinstance(measures, str):
        measures = [measures]
    result = _core.summary(path, None if by is None else list(by), str(at), list(measures or []),
                           None if out is None else _sweep_path(out))
    table = columns(means=True)
    kinds = {"integer": "int64", "unsigned": "uint64", "integer or empty": "Int64", "real": "float64", "text": "object"}
    dtypes = dict(zip(table.name, table.kind.map(kinds)))
    dtypes.update(step="int64", measure="object", runs="int64")
    frame = pandas.read_csv(io.StringIO(result["csv"]), float_precision="round_trip", dtype=dtypes,
                            keep_default_na=False, na_values=[""])
    for key in ("runs_read", "runs", "status"):
        frame.attrs[key] = result[key]
    return frame


def plot(path, x, y, *, by=None, at=None, ax=None):
    """zelmora-batch plot on a matplotlib Axes (ax; the current one by default): the mean of the
    measure y over x (a parameter, or "step") with its 95 % interval, error bars over a parameter
    and a band over the steps, one line per value of by with a legend, the axes titled with
    names and units. at is as summary's; over a parameter it defaults to "last" (each run's last
    row). The same numbers as summary(path, by=[x, by], at=at, measures=[y]). Returns the Axes."""
    path = _sweep_path(path)
    if at is None:
        at = "every" if x == "step" else "last"
    data = _core.plot_data(path, x, y, by, str(at))
    if ax is None:
        import matplotlib.pyplot
        ax = matplotlib.pyplot.gca()
    for legend, xs, mean, low, high in data["series"]:
        import numpy
        xs, mean, low, high = (numpy.asarray(v, dtype=float) for v in (xs, mean, low, high))
        label = legend or None
        if data["over_steps"]:
            (line,) = ax.plot(xs, mean, label=label)
            ax.fill_between(xs, low, high, color=line.get_color(), alpha=0.3, linewidth=0)
        else:
            spread = numpy.nan_to_num(numpy.vstack([mean - low, high - mean]))
            ax.errorbar(xs, mean, yerr=spread, marker="x", capsize=3, label=label)
    ax.set_xlabel(data["x_title"])
    ax.set_ylabel(data["y_title"])
    if by is not None:
        ax.legend()
    return ax
