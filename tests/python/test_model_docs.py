import pathlib
import subprocess
import sys

DOCS = pathlib.Path(__file__).resolve().parents[2] / "docs"

def test_the_figure_script_draws_its_picture(tmp_path):
    out = tmp_path / "run.png"
    subprocess.run([sys.executable, str(DOCS / "model-figure.py"), str(out), "6"], check=True)
    assert out.read_bytes().startswith(b"\x89PNG")
