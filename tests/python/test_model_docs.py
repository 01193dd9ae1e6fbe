import pathlib
import re
import subprocess
import sys

DOCS = pathlib.Path(__file__).resolve().parents[2] / "docs"

# The sweep's size as docs/MODEL.md gives it, and the size the test runs it at.
SWEEP_SIZE = "steps=300, record_every=1, repeats=24,"
TEST_SIZE = "steps=12, record_every=1, repeats=1,"


def test_the_sweep_of_the_model_docs_runs_as_written(capsys):
    blocks = re.findall(r"```python\n(.*?)```", (DOCS / "MODEL.md").read_text(), re.S)
    assert len(blocks) == 1 and blocks[0].count(SWEEP_SIZE) == 1
    exec(blocks[0].replace(SWEEP_SIZE, TEST_SIZE), {})
    table = capsys.readouterr().out
    # A row per threshold, 0 to 8, as the document's table has (a real column: 3.2 eighths is 40 %).
    assert all(re.search(rf"^{k}(\.0)?\s", table, re.M) for k in range(9))


def test_the_figure_script_draws_its_picture(tmp_path):
    out = tmp_path / "run.png"
    subprocess.run([sys.executable, str(DOCS / "model-figure.py"), str(out), "6"], check=True)
    assert out.read_bytes().startswith(b"\x89PNG")
