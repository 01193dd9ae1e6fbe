import pathlib
import re

PYTHON_MD = pathlib.Path(__file__).resolve().parents[2] / "docs" / "PYTHON.md"

# The study's size as the docs give it, and the size the test runs it at.
STUDY_SIZE = "repeats, steps = 10, 400 "
TEST_SIZE = "repeats, steps = 1, 20 "


def test_the_examples_and_the_study_of_the_python_docs_run_as_written(batch_program, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    # A block marked <!-- skip: REASON --> needs what a test does not have (a cluster).
    blocks = [code for skip, code in re.findall(r"(<!-- skip:[^\n]*-->\n)?```python\n(.*?)```", PYTHON_MD.read_text(), re.S)
              if not skip]
    assert len(blocks) >= 11
    assert sum(block.count(STUDY_SIZE) for block in blocks) == 1
    namespace = {}
    for block in blocks:
        exec(block.replace("build/batch/zelmora-batch", batch_program).replace(STUDY_SIZE, TEST_SIZE), namespace)
    assert (tmp_path / "grid.png").stat().st_size > 0
    assert (tmp_path / "python-study.png").stat().st_size > 0
    assert len(namespace["summary"]) == 6 * 4
