"""The docs' examples, run as a reader runs them.

Every fenced block of README.md, docs/*.md and the manual pages' examples (the .nf/.fi blocks of
packaging/*.1 and packaging/*.h2m) is code and runs here, in a scratch folder that stands for the
source folder (`build/` is this build tree, `docs/` the source's docs): the shell blocks of a page
in order in bash (`set -e -o pipefail`; exported variables, shell variables and the folder carry
from one block to the next), its Python blocks in order in one interpreter, interleaved as the page
has them. The docs' pages get no `zelmora-batch` on PATH but the one they put there; the manual
pages, which describe the installed program, have the build's programs on PATH. Python finds the
module in build/python (PYTHONPATH), as README.md says.

Markers, each on a line of its own directly above a block's opening fence (in a manual page, as a
comment `.\\" skip: REASON` above its `.nf`):

    <!-- skip: REASON -->           the block is not run; the reason is printed
    <!-- shorten: OLD => NEW -->    the block runs with OLD replaced by NEW (OLD must be there)
    <!-- same-picture: MADE = SHOWN -->  after the block, the picture MADE has SHOWN's pixels

A block's language is its fence's word: `sh` (or `bash`, `shell`) and `python` run; `r` runs
where Rscript is, each block alone; `text` is output, not run: each of its lines (whitespace
collapsed; a line `...` stands for any lines) must appear, in order, in what the block before it
printed. Any other language must carry a skip marker. Unbalanced fences fail.
"""
import json
import os
import pathlib
import re
import select
import shutil
import subprocess
import sys
import textwrap
import time

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("ZELMORA_BUILD_DIR", SOURCE / "build"))
RUNNABLE = {"sh": "sh", "bash": "sh", "shell": "sh", "python": "python", "r": "r"}
# A guard only: the slowest block here takes seconds.
BLOCK_TIMEOUT = 300

MARKER = re.compile(r"^\s*(?:<!--|\.\\\")\s*(skip|shorten|same-picture):\s*(.*?)\s*(?:-->)?\s*$")


class Block:
    def __init__(self, page, line, language, code, markers):
        self.page, self.line, self.language, self.code = page, line, language, code
        self.skip = None
        self.shorten = []
        self.pictures = []
        for kind, value in markers:
            if kind == "skip":
                self.skip = value
            elif kind == "shorten":
                old, sep, new = value.partition(" => ")
                assert sep, f"{self.where}: a shorten marker reads 'OLD => NEW'; got '{value}'"
                self.shorten.append((old, new))
            else:
                made, sep, shown = value.partition(" = ")
                assert sep, f"{self.where}: a same-picture marker reads 'MADE = SHOWN'; got '{value}'"
                self.pictures.append((made.strip(), shown.strip()))

    @property
    def where(self):
        return f"{self.page}:{self.line}"

    def runnable_code(self):
        code = self.code
        for old, new in self.shorten:
            assert old in code, f"{self.where}: the shorten marker's '{old}' is not in the block"
            code = code.replace(old, new)
        return code


def markers_above(lines, index):
    """The markers on the lines directly above line `index`, nearest last."""
    found = []
    while index > 0 and MARKER.match(lines[index - 1]):
        index -= 1
        found.insert(0, MARKER.match(lines[index]).groups())
    return found


def markdown_blocks(page, text):
    """The fenced blocks of a Markdown page; unbalanced fences raise with the line."""
    lines = text.split("\n")
    blocks, opened = [], None
    for number, line in enumerate(lines, 1):
        fence = re.match(r"^(\s*)```(.*)$", line)
        if not fence:
            continue
        indent, word = fence.group(1), fence.group(2).strip()
        if opened is None:
            assert word, (f"{page}:{number}: a block without a language (sh, python, text, ...) "
                          "or a fence that closes nothing")
            opened = (number, indent, word.lower())
        else:
            assert not word, f"{page}:{number}: '```{word}' inside the block opened at line {opened[0]}"
            start, indent, language = opened
            body = [l[len(indent):] if l.startswith(indent) else l for l in lines[start:number - 1]]
            blocks.append(Block(page, start, language, "\n".join(body) + "\n", markers_above(lines, start - 1)))
            opened = None
    assert opened is None, f"{page}:{opened[0]}: the block opened here is never closed"
    return blocks


def man_blocks(page, text):
    """The .nf/.fi blocks of a manual page's source, roff escapes undone: shell commands."""
    lines = text.split("\n")
    blocks, opened = [], None
    for number, line in enumerate(lines, 1):
        if line.startswith(".nf"):
            assert opened is None, f"{page}:{number}: .nf inside the block opened at line {opened}"
            opened = number
        elif line.startswith(".fi"):
            assert opened is not None, f"{page}:{number}: .fi closes nothing"
            body = "\n".join(lines[opened:number - 1])
            body = body.replace("\\-", "-").replace("\\e", "\\").replace("\\(aq", "'")
            blocks.append(Block(page, opened, "sh", body + "\n", markers_above(lines, opened - 1)))
            opened = None
    assert opened is None, f"{page}:{opened}: the .nf opened here has no .fi"
    return blocks


def pages():
    found = [SOURCE / "README.md"] + sorted((SOURCE / "docs").glob("*.md"))
    found += sorted((SOURCE / "packaging").glob("*.1")) + sorted((SOURCE / "packaging").glob("*.h2m"))
    return [p for p in found if p.exists()]


def page_blocks(path):
    name = str(path.relative_to(SOURCE))
    text = path.read_text()
    return markdown_blocks(name, text) if path.suffix == ".md" else man_blocks(name, text)


def output_matches(shown, printed):
    """Each line shown (whitespace collapsed; '...' any lines) appears in order in what was printed."""
    collapse = lambda s: " ".join(s.split())
    printed_lines = [collapse(l) for l in printed.splitlines()]
    at = 0
    for line in (collapse(l) for l in shown.splitlines()):
        if not line or line == "...":
            continue
        while at < len(printed_lines) and printed_lines[at] != line:
            at += 1
        if at == len(printed_lines):
            return line
        at += 1
    return None


# --- running -------------------------------------------------------------------------------------

SHELL_RUNNER = r"""
set -o pipefail
cd -- "$(cat "$STATE.cwd")" || exit 97
. "$STATE.vars" || exit 98
set -e
. "$BLOCK"
set +e
declare -p | grep -Ev '^declare -[a-zA-Z]*r|^declare -[-a-zA-Z]* (BASH[A-Z_]*|BASHOPTS|COMP_[A-Z]*|DIRSTACK|EUID|FUNCNAME|GROUPS|HIST[A-Z]*|HOSTNAME|HOSTTYPE|IFS|LINENO|MACHTYPE|OPTERR|OPTIND|OSTYPE|PIPESTATUS|PPID|PS[0-9]|PWD|OLDPWD|RANDOM|SECONDS|SHELLOPTS|SHLVL|SRANDOM|UID|EPOCHREALTIME|EPOCHSECONDS|_|STATE|BLOCK)=' > "$STATE.vars.new"
mv "$STATE.vars.new" "$STATE.vars"
pwd > "$STATE.cwd"
"""

PYTHON_DRIVER = r"""
import json, os, sys, traceback
namespace = {"__name__": "__main__"}
replies = os.fdopen(int(sys.argv[1]), "w")
for request in sys.stdin:
    request = json.loads(request)
    out = os.open(request["out"], os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    sys.stdout.flush(); sys.stderr.flush()
    saved = os.dup(1), os.dup(2)
    os.dup2(out, 1); os.dup2(out, 2)
    error = None
    try:
        exec(compile(request["code"], request["page"], "exec"), namespace)
    except BaseException:
        error = traceback.format_exc()
    sys.stdout.flush(); sys.stderr.flush()
    os.dup2(saved[0], 1); os.dup2(saved[1], 2)
    os.close(out); os.close(saved[0]); os.close(saved[1])
    replies.write(json.dumps({"error": error}) + "\n"); replies.flush()
"""


class Reader:
    """A reader at a page: a bash whose state carries over, and one Python interpreter."""

    def __init__(self, scratch, env, page):
        self.scratch, self.env, self.page = scratch, env, page
        self.state = scratch.parent / f".{scratch.name}.state"
        pathlib.Path(f"{self.state}.cwd").write_text(str(scratch))
        pathlib.Path(f"{self.state}.vars").write_text("")
        self.python = None
        self.count = 0

    def output_file(self):
        self.count += 1
        return self.scratch.parent / f".{self.scratch.name}.out{self.count}"

    def run(self, block, code):
        """Runs a block; returns (error or None, what it printed)."""
        out = self.output_file()
        if block.language == "sh":
            script = out.with_suffix(".sh")
            script.write_text(code)
            env = dict(self.env, STATE=str(self.state), BLOCK=str(script))
            try:
                with out.open("wb") as sink:
                    done = subprocess.run(["bash", "-c", SHELL_RUNNER], env=env, stdin=subprocess.DEVNULL,
                                          stdout=sink, stderr=subprocess.STDOUT, timeout=BLOCK_TIMEOUT)
            except subprocess.TimeoutExpired:
                return f"still running after {BLOCK_TIMEOUT} s", out.read_text(errors="replace")
            printed = out.read_text(errors="replace")
            return (None if done.returncode == 0 else f"exit status {done.returncode}"), printed
        if block.language == "r":
            script = out.with_suffix(".R")
            script.write_text(code)
            with out.open("wb") as sink:
                done = subprocess.run(["Rscript", str(script)], cwd=self.scratch, env=self.env,
                                      stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.STDOUT,
                                      timeout=BLOCK_TIMEOUT)
            printed = out.read_text(errors="replace")
            return (None if done.returncode == 0 else f"Rscript exit status {done.returncode}"), printed
        if self.python is None:
            read, write = os.pipe()
            self.python = subprocess.Popen([sys.executable, "-c", PYTHON_DRIVER, str(write)], cwd=self.scratch,
                                           env=self.env, stdin=subprocess.PIPE, pass_fds=(write,), text=True)
            os.close(write)
            self.replies = os.fdopen(read)
        # Padded so that a traceback's line numbers are the page's.
        padded = "\n" * block.line + code
        self.python.stdin.write(json.dumps({"code": padded, "page": block.page, "out": str(out)}) + "\n")
        self.python.stdin.flush()
        if not select.select([self.replies], [], [], BLOCK_TIMEOUT)[0]:
            self.python.kill()
            return f"still running after {BLOCK_TIMEOUT} s", out.read_text(errors="replace")
        reply = self.replies.readline()
        printed = out.read_text(errors="replace")
        if not reply:
            return f"the interpreter ended (status {self.python.wait()})", printed
        return json.loads(reply)["error"], printed

    def close(self):
        if self.python is not None:
            try:
                self.python.stdin.close()
            except BrokenPipeError:
                pass
            try:
                self.python.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.python.kill()
                self.python.wait()
            self.replies.close()


def same_pixels(made, shown):
    import matplotlib.image
    import numpy as np
    a, b = (matplotlib.image.imread(p)[..., :3] for p in (made, shown))
    return a.shape == b.shape and np.array_equal(a, b)


def reader_environment(scratch, manual_page):
    """The environment of a reader: HOME in the scratch folder, no build program on PATH unless the
    page is a manual page (the program is installed), the module where README.md says."""
    build_bins = [str(BUILD / "batch"), str(BUILD / "ui")]
    path = [p for p in os.environ.get("PATH", "/usr/bin:/bin").split(os.pathsep)
            if p and not pathlib.Path(p).resolve().is_relative_to(BUILD.resolve())]
    if manual_page:
        path = build_bins + path
    home = scratch / "home"
    home.mkdir(exist_ok=True)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "ZELMORA"))}
    env.update(PATH=os.pathsep.join(path), HOME=str(home), PYTHONPATH=str(scratch / "build" / "python"),
               PYTHONDONTWRITEBYTECODE="1", LC_ALL="C.UTF-8", QT_QPA_PLATFORM="offscreen")
    return env


def make_scratch(tmp_path, name):
    """A folder that stands for the source folder: its entries linked, `build` the build tree."""
    scratch = tmp_path / name
    scratch.mkdir()
    for entry in SOURCE.iterdir():
        if entry.name not in ("build", ".git") and not entry.name.startswith("build-"):
            (scratch / entry.name).symlink_to(entry)
    (scratch / "build").symlink_to(BUILD.resolve())
    return scratch


@pytest.fixture(scope="module")
def tally():
    counts = {"run": 0, "skipped": 0, "shortened": 0, "outputs": 0, "pictures": 0}
    yield counts
    print(f"\ndocs examples: {counts['run']} blocks run ({counts['shortened']} shortened), "
          f"{counts['skipped']} skipped, {counts['outputs']} outputs and {counts['pictures']} pictures compared")


def test_every_page_has_balanced_fences_and_known_languages():
    for path in pages():
        for block in page_blocks(path):
            if block.skip is None and block.language not in RUNNABLE and block.language != "text":
                pytest.fail(f"{block.where}: a '{block.language}' block cannot run here: "
                            "mark it <!-- skip: REASON --> on the line above its fence")


@pytest.mark.parametrize("path", pages(), ids=lambda p: str(p.relative_to(SOURCE)))
def test_the_examples_of_a_page_run_as_written(path, tmp_path, tally):
    for program in (BUILD / "batch" / "zelmora-batch", BUILD / "python" / "zelmora"):
        if not program.exists():
            pytest.skip(f"{program} is not built")
    blocks = page_blocks(path)
    name = path.stem.replace(".", "_")
    scratch = make_scratch(tmp_path, name)
    reader = Reader(scratch, reader_environment(scratch, path.suffix != ".md"), name)
    failures = []
    previous = None  # (block, what it printed) of the last block run
    started = time.monotonic()
    try:
        for block in blocks:
            if block.skip is not None:
                print(f"{block.where}: skipped: {block.skip}")
                tally["skipped"] += 1
                previous = None
                continue
            if block.language == "text":
                if previous is not None and previous[0].shorten:
                    print(f"{block.where}: output not compared: {previous[0].where} ran shortened")
                elif previous is not None:
                    missing = output_matches(block.code, previous[1])
                    tally["outputs"] += 1
                    if missing is not None:
                        failures.append(f"{block.where}: the output shown is not what {previous[0].where} printed: "
                                        f"'{missing}' is missing from:\n{textwrap.indent(previous[1], '    ')}")
                continue
            if block.language == "r" and shutil.which("Rscript") is None:
                print(f"{block.where}: skipped: R is missing (Rscript)")
                tally["skipped"] += 1
                previous = None
                continue
            code = block.runnable_code()
            if block.shorten:
                print(f"{block.where}: shortened: " + "; ".join(f"{o} => {n}" for o, n in block.shorten))
                tally["shortened"] += 1
            began = time.monotonic()
            error, printed = reader.run(block, code)
            took = time.monotonic() - began
            if took > 5:
                print(f"{block.where}: {took:.1f} s")
            tally["run"] += 1
            if error is not None:
                failures.append(f"{block.where}: the {block.language} block failed ({error.strip()}); "
                                f"it printed:\n{textwrap.indent(printed[-4000:], '    ')}")
                break  # the blocks after it read what it should have made
            for made, shown in block.pictures:
                tally["pictures"] += 1
                made_path = scratch / made
                if not made_path.exists():
                    failures.append(f"{block.where}: the block made no {made}")
                elif not same_pixels(made_path, SOURCE / shown):
                    failures.append(f"{block.where}: {made} does not have the pixels of {shown}")
            previous = (block, printed)
    finally:
        reader.close()
        print(f"{path.relative_to(SOURCE)}: {time.monotonic() - started:.1f} s")
    assert not failures, "\n".join(failures)


@pytest.mark.parametrize("text,fault", [
    ("```sh\nls\n```python\n", "x.md:3: '```python' inside the block opened at line 1"),
    ("a\n```sh\nls\n", "x.md:2: the block opened here is never closed"),
    ("```\nls\n```\n", "x.md:1: a block without a language"),
])
def test_unbalanced_fences_and_blocks_without_a_language_are_named_with_their_line(text, fault):
    with pytest.raises(AssertionError, match=re.escape(fault)):
        markdown_blocks("x.md", text)


def test_markers_and_output_are_read_as_the_docs_write_them():
    blocks = markdown_blocks("x.md", "<!-- skip: no cluster -->\n```sh\nsbatch\n```\n"
                                     "<!-- shorten: --steps 900 => --steps 9 -->\n```python\nrun('--steps 900')\n```\n")
    assert [(b.line, b.language, b.skip, b.runnable_code()) for b in blocks] == [
        (2, "sh", "no cluster", "sbatch\n"), (6, "python", None, "run('--steps 9')\n")]
    assert output_matches("a  b\n...\nc\n", "x\na b\ny\nc\n") is None
    assert output_matches("c\na b\n", "a b\nc\n") == "a b"  # in order
    manual = man_blocks("x.1", '.\\" skip: needs a display\n.nf\nzelmora\\-batch \\-\\-out a.csv \\e\n.fi\n')
    assert [(b.skip, b.code) for b in manual] == [("needs a display", "zelmora-batch --out a.csv \\\n")]
