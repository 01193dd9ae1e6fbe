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


SETUP_SENTENCE = re.compile(r"next `?setup(?:\(\))?`?|read at (?:a|every) setup|is read and checked")
NUMBERS = {"two": 2, "three": 3, "four": 4, "five": 5, "six": 6, "seven": 7, "eight": 8, "nine": 9, "ten": 10}


def test_the_parameters_said_to_act_at_a_setup_are_those_the_table_says(table):
    """Sentences saying which parameters a setup reads name only those, and each page names all of
    them: the agents' two names and the structure, or the structure alone, as the module (whose
    attributes tell when each acts, from the table) has them."""
    zelmora = pytest.importorskip("zelmora")
    at_setup = {name for name in table if "Acts at the next setup()" in (getattr(zelmora.World, name).__doc__ or "")}
    structure = at_setup - {"agents", "density"}
    assert structure, "the module names no parameter that acts at the next setup"
    for page in ["README.md", "docs/EXPERIMENTS.md", "docs/MODEL.md", "docs/PYTHON.md"]:
        named = set()
        for paragraph in re.split(r"\n\s*\n", (SOURCE / page).read_text()):
            for sentence in re.split(r"(?<=[.:;])\s+(?=[A-Z`])", " ".join(paragraph.split())):
                if not SETUP_SENTENCE.search(sentence):
                    continue
                names = set(re.findall(r"`(\w+)`", sentence)) & set(table)
                assert names <= at_setup, f"{page}: '{sentence}' names {sorted(names - at_setup)}, which act otherwise"
                named |= names
                count = re.search(r"\b(\w+) parameters\b", sentence)
                if count and count[1].lower() in NUMBERS and "structure" in sentence:
                    assert NUMBERS[count[1].lower()] == len(structure), f"{page}: '{sentence}'"
        if named:
            assert named in (at_setup, structure), f"{page} names {sorted(named)} as acting at a setup; " \
                                                   f"the table: {sorted(at_setup)}"
