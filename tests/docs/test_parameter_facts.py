"""Parameter facts the docs write in prose come from the parameter table (`zelmora-batch
--parameters`): every parameter has its paragraph in MODEL.md, and the ranges and defaults of the
structure's list in EXPERIMENTS.md and of MODEL.md's parameter table are the table's."""
import os
import pathlib
import re
import subprocess

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("ZELMORA_BUILD_DIR", SOURCE / "build"))


@pytest.fixture(scope="module")
def table():
    program = BUILD / "batch" / "zelmora-batch"
    if not program.exists():
        pytest.skip(f"{program} is not built")
    lines = subprocess.run([program, "--parameters"], capture_output=True, text=True, check=True).stdout.splitlines()
    header = lines[0].split("\t")
    return {row["name"]: row for row in (dict(zip(header, line.split("\t"))) for line in lines[1:])}


def test_every_parameter_has_its_place_in_the_model_document(table):
    model = (SOURCE / "docs" / "MODEL.md").read_text()
    missing = [name for name in table if f"`{name}`" not in model]
    assert not missing, f"docs/MODEL.md names no `{missing[0]}`: a parameter's use in the model is told there"


def test_the_ranges_and_defaults_written_in_prose_are_the_tables(table):
    experiments = (SOURCE / "docs" / "EXPERIMENTS.md").read_text()
    # "- `radius`: the neighbourhood's radius r, 1 to 5 (1): ..." in the list of the structure.
    written = re.findall(r"^- `(\w+)`:[^\n]*?(?:\n  [^\n]*?)??(\d+)\s+to\s+(\d+)\s+\((\d+)\)", experiments, re.M)
    assert len(written) >= 3, "docs/EXPERIMENTS.md: the structure's list of ranges and defaults is not found"
    for name, low, high, default in written:
        assert name in table, f"docs/EXPERIMENTS.md names `{name}`, which the parameter table lacks"
        assert table[name]["range"] == f"{low}..{high}", (name, table[name]["range"], f"{low} to {high}")
        assert table[name]["default"] == default, (name, table[name]["default"], default)
    model = (SOURCE / "docs" / "MODEL.md").read_text()
    # MODEL.md's table of the parameters: "| `radius` | DEFAULT | LOW to HIGH, ... | meaning |".
    rows = re.findall(r"^\| `(\w+)` \|\s*([^|]*?)\s*\|\s*([^|]*?)\s*\|", model, re.M)
    checked = set()
    for name, default, reach in rows:
        if name not in table:
            continue
        checked.add(name)
        if name == "agents":
            assert default.startswith(table[name]["default"].split(" (")[0]), (default, table[name]["default"])
            continue
        if default:  # empty where the default is the other name's
            same = default == table[name]["default"] or (
                re.fullmatch(r"[-\d.]+", default) and float(default) == float(table[name]["default"]))
            assert same, f"docs/MODEL.md: `{name}` defaults to {default}; the table says {table[name]['default']}"
        bounds = re.match(r"(\d+) to (\d+)", reach)
        if bounds:
            assert table[name]["range"] == f"{bounds[1]}..{bounds[2]}", \
                f"docs/MODEL.md: `{name}` ranges {bounds[1]} to {bounds[2]}; the table says {table[name]['range']}"
    assert checked == set(table), f"docs/MODEL.md: the parameters' table lacks {sorted(set(table) - checked)}"
