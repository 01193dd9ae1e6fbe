import pathlib
import re

PYTHON_MD = pathlib.Path(__file__).resolve().parents[2] / "docs" / "PYTHON.md"


def test_the_examples_of_the_python_docs_run_as_written(batch_program, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    blocks = re.findall(r"```python\n(.*?)```", PYTHON_MD.read_text(), re.S)
    assert len(blocks) >= 5
    namespace = {}
    for block in blocks:
        exec(block.replace("build/batch/zelmora-batch", batch_program), namespace)
    assert (tmp_path / "grid.png").stat().st_size > 0
