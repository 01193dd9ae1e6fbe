"""The Debian packages as a user of the installed programs meets them, unpacked without root.

ctest's package.MakeAndUnpack makes the packages from this build tree into $ZELMORA_PACKAGE_SCRATCH
/debs and unpacks them into its root/; these tests run the programs, the module and the docs from
there, on a PATH like the one an installed package is found on.
"""

import json
import os
import re
import shutil
import subprocess
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
SCRATCH = Path(os.environ.get("ZELMORA_PACKAGE_SCRATCH", "/nonexistent"))
ROOT = SCRATCH / "root"
DIST_PACKAGES = ROOT / "usr/lib/python3/dist-packages"
DOC = ROOT / "usr/share/doc/zelmora"
SYSTEM_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"


@pytest.fixture(scope="module")
def debs():
    found = {path.name.split("_")[0]: path for path in (SCRATCH / "debs").glob("*.deb")}
    if not found:
        pytest.skip(f"no packages in {SCRATCH}/debs: ctest's package.MakeAndUnpack makes them")
    return found


def installed_env(home, **more):
    """The environment of a user of the installed package: its programs first on PATH."""
    env = dict(PATH=f"{ROOT / 'usr/bin'}:{SYSTEM_PATH}", HOME=str(home), LANG="C.UTF-8", LC_ALL="C.UTF-8")
    env.update(more)
    return env


def run(command, env, cwd=None, timeout=120):
    done = subprocess.run(command, env=env, cwd=cwd, capture_output=True, text=True, timeout=timeout)
    assert done.returncode == 0, f"{command} exited {done.returncode}:\n{done.stdout}\n{done.stderr}"
    return done


def files_of(deb):
    lines = run(["dpkg-deb", "-c", str(deb)], os.environ).stdout.splitlines()
    return {line.split()[5] for line in lines if not line.startswith("d")}


def control(deb, field):
    return run(["dpkg-deb", "-f", str(deb), field], os.environ).stdout.strip()


def test_every_file_is_under_usr_in_one_package_beside_its_copyright_and_changelog(debs):
    assert set(debs) == {"zelmora", "python3-zelmora"}
    owner = {}
    for name, deb in debs.items():
        files = files_of(deb)
        assert all(path.startswith("./usr/") for path in files), sorted(files)
        assert {f"./usr/share/doc/{name}/copyright", f"./usr/share/doc/{name}/changelog.Debian.gz"} <= files
        for path in files:
            assert path not in owner, f"{path} is in {owner.get(path)} and {name}: dpkg installs only one"
            owner[path] = name
    assert "./usr/bin/zelmora" in owner and "./usr/bin/zelmora-batch" in owner
    assert any(path.startswith("./usr/lib/python3/dist-packages/zelmora/_core.") for path in owner)


def rendered_page(page, home):
    env = installed_env(home, MANWIDTH="1000", MANPAGER="cat")
    done = run(["man", "--warnings", "-E", "UTF-8", "-l", str(page)], env)
    assert done.stderr == "", f"{page.name}: {done.stderr}"
    return done.stdout


def test_every_program_has_a_manual_page_without_warnings_and_the_batchs_lists_its_options(tmp_path):
    if shutil.which("man") is None:
        pytest.skip("man is missing: the pages cannot be rendered here")
    programs = sorted((ROOT / "usr/bin").iterdir())
    assert [p.name for p in programs] == ["zelmora", "zelmora-batch"]
    for program in programs:
        page = ROOT / "usr/share/man/man1" / f"{program.name}.1.gz"
        text = rendered_page(page, tmp_path)
        assert re.search(rf"^NAME\n\s+{re.escape(program.name)} - \S", text, re.M), text[:400]
    help_text = run([str(ROOT / "usr/bin/zelmora-batch"), "--help"], installed_env(tmp_path)).stdout
    options = set(re.findall(r"^\s+(?:-\w,)?(--[\w-]+)", help_text, re.M))
    assert {"--out", "--set", "--version"} <= options
    page = rendered_page(ROOT / "usr/share/man/man1/zelmora-batch.1.gz", tmp_path)
    section = page[page.index("\nOPTIONS\n"):]
    assert {o for o in options if not re.search(rf"^\s+(-\w,)?{o}\b", section, re.M)} == set()


def test_the_menu_entry_starts_the_packaged_window_with_the_packaged_icon(tmp_path):
    entry = ROOT / "usr/share/applications/zelmora.desktop"
    fields = dict(line.split("=", 1) for line in entry.read_text().splitlines() if "=" in line)
    assert fields["Type"] == "Application"
    assert (ROOT / "usr/bin" / fields["Exec"].split()[0]).is_file()
    icon = ROOT / "usr/share/icons/hicolor/scalable/apps" / f"{fields['Icon']}.svg"
    assert ElementTree.parse(icon).getroot().tag == "{http://www.w3.org/2000/svg}svg"
    if shutil.which("desktop-file-validate"):
        done = run(["desktop-file-validate", str(entry)], installed_env(tmp_path))
        assert done.stdout == ""


def test_the_copyright_file_is_the_licence():
    licence = (SOURCE / "LICENSE").read_text()
    holder = re.search(r"^Copyright \(c\) (.+)$", licence, re.M).group(1)
    permission = licence[licence.index("Permission is hereby granted"):].strip()
    for package in ["zelmora", "python3-zelmora"]:
        paragraphs = (ROOT / f"usr/share/doc/{package}/copyright").read_text().split("\n\n")
        assert paragraphs[0].startswith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/")
        assert f"Copyright: {holder}" in paragraphs[1].splitlines()
        assert "License: Expat" in paragraphs[1].splitlines()
        head, *text = paragraphs[2].splitlines()
        assert head == "License: Expat"
        assert "\n".join("" if line == " ." else line[1:] for line in text) == permission


def test_the_docs_are_all_there_and_their_links_hold():
    shipped = {p.name for p in (DOC / "docs").iterdir()}
    assert shipped == {p.name for p in (SOURCE / "docs").iterdir()} - {"slurm-sweep.sh"}
    assert (DOC / "examples/slurm-sweep.sh").read_bytes() == (SOURCE / "docs/slurm-sweep.sh").read_bytes()
    broken = []
    for doc in [DOC / "README.md", *(DOC / "docs").glob("*.md")]:
        for target in re.findall(r"\]\(([^)\s]+)\)", doc.read_text()):
            if not re.match(r"[a-z]+:|#", target) and not (doc.parent / target.split("#")[0]).exists():
                broken.append(f"{doc.name}: {target}")
    assert broken == []


def batch_version(program, home):
    return run([str(program), "--version"], installed_env(home)).stdout.strip()


def module_says(code, home, *args):
    """What Debian's python3 prints running code with the unpacked module on PYTHONPATH."""
    env = installed_env(home, PYTHONPATH=str(DIST_PACKAGES), PYTHONDONTWRITEBYTECODE="1")
    return run(["/usr/bin/python3", "-c", code, *map(str, args)], env, cwd=home).stdout


def test_one_version_everywhere_and_the_build_trees_build_id(debs, tmp_path):
    version = control(debs["zelmora"], "Version")
    assert control(debs["python3-zelmora"], "Version") == version
    upstream, revision = version.rsplit("-", 1)  # the project's version and the Debian revision
    packaged = batch_version(ROOT / "usr/bin/zelmora-batch", tmp_path)
    assert packaged == batch_version(os.environ["ZELMORA_BUILD_BATCH"], tmp_path)
    assert re.fullmatch(rf"zelmora-batch {re.escape(upstream)}\+\S+", packaged)
    said = module_says("import sys, zelmora; print(zelmora.__version__, zelmora.build_id, zelmora.__file__, "
                       "sys.version_info[:2])", tmp_path).split(" ", 3)
    assert said[0] == upstream
    assert said[1] == packaged.split()[1]
    assert said[2].startswith(f"{DIST_PACKAGES}/zelmora/")
    # The module is built for one Python, and the package says which.
    major, minor = map(int, re.findall(r"\d+", said[3]))
    depends = control(debs["python3-zelmora"], "Depends")
    assert f"python3 (>= {major}.{minor}~)" in depends and f"python3 (<< {major}.{minor + 1})" in depends
    assert list(DIST_PACKAGES.glob(f"zelmora/_core.cpython-{major}{minor}-*.so"))
    assert {"python3-numpy", "python3-pandas"} <= {d.split()[0] for d in depends.split(", ")}
    assert "ffmpeg" in control(debs["zelmora"], "Recommends").split(", ")


def test_the_maintainer_is_one_and_the_changelog_signed_by_them(debs):
    maintainer = control(debs["zelmora"], "Maintainer")
    assert control(debs["python3-zelmora"], "Maintainer") == maintainer
    assert "example.org" not in maintainer
    changelog = (SOURCE / "debian/changelog").read_text()
    assert re.search(r"^ -- (.+?)  ", changelog, re.M).group(1) == maintainer


def test_the_programs_and_the_module_are_hardened():
    if shutil.which("hardening-check") is None:
        pytest.skip("hardening-check is missing (scripts/install-deps installs devscripts)")
    if "-fstack-protector-strong" not in os.environ.get("ZELMORA_BUILD_FLAGS", ""):
        pytest.skip("this build tree was configured without dpkg-buildflags' flags; `make build` configures "
                    "a new tree with them (remove build/CMakeCache.txt)")
    binaries = [ROOT / "usr/bin/zelmora", ROOT / "usr/bin/zelmora-batch", *DIST_PACKAGES.glob("zelmora/_core.*.so")]
    assert len(binaries) == 3
    # What Debian 12's dpkg-buildflags gives with hardening=+all: PIE, the stack protector, read-only
    # relocations and bind-now (control flow protection is not among them). Fortify is checked where
    # a program calls a function it protects: the window may call none.
    done = subprocess.run(["hardening-check", "--nofortify", "--nocfprotection", *map(str, binaries)],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    fortified = re.findall(r"Fortify Source functions: yes", done.stdout)
    assert len(fortified) >= 2, done.stdout


# zelmora.sweep's rows against the CSV's text, value by value: integers exactly, reals to the bit,
# empty fields where the DataFrame has a missing value.
SWEEP_EQUALS_CSV = """
import csv, sys
import pandas as pd
import zelmora
rows = zelmora.sweep(grid=(20, 16), seed=5, steps=12, record_every=4, set={"threshold": [2, 5]}, repeats=2)
with open(sys.argv[1], newline="") as f:
    header, *lines = list(csv.reader(f))
assert header == list(rows.columns), (header, list(rows.columns))
assert len(lines) == len(rows) == 2 * 2 * 4, len(rows)
for row, line in zip(rows.itertuples(index=False), lines):
    for value, text in zip(row, line):
        if text == "":
            assert pd.isna(value), (row, line)
        else:
            assert value == (float(text) if isinstance(value, float) else text if isinstance(value, str)
                             else int(text)), (row, line)
print("equal")
"""


def test_a_sweep_of_the_packaged_program_and_of_the_packaged_module_give_the_same_rows(tmp_path):
    env = installed_env(tmp_path)
    run(["zelmora-batch", "--grid", "20x16", "--seed", "5", "--steps", "12", "--record-every", "4",
         "--set", "threshold=2,5", "--repeats", "2", "--snapshot-at", "12", "--charts", "on", "--quiet",
         "--out", "sweep.csv"], env, cwd=tmp_path)
    manifest = json.loads((tmp_path / "sweep.json").read_text())
    assert manifest["build"] == batch_version("zelmora-batch", tmp_path).split()[1]
    for run_index in range(4):
        for picture in ["step12", "chart", "segregation"]:
            assert (tmp_path / f"sweep.run{run_index}.{picture}.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert module_says(SWEEP_EQUALS_CSV, tmp_path, tmp_path / "sweep.csv").strip() == "equal"


def test_the_packaged_window_runs_until_its_step_counter_passes_a_step(tmp_path):
    xvfb_run = shutil.which("xvfb-run")
    if xvfb_run is None:
        pytest.skip("xvfb-run is missing (scripts/install-deps installs xvfb): the window needs a display")
    # xvfb-run keeps its authority file under TMPDIR, which must hold no blank: /tmp does not.
    env = installed_env(tmp_path, TMPDIR="/tmp", QT_QPA_PLATFORM="xcb")
    done = run([xvfb_run, "-a", "-s", "-screen 0 1024x768x24", "env", f"LD_PRELOAD={os.environ['ZELMORA_STEP_WATCH']}",
                "ZELMORA_STOP_AFTER_STEP=100", "zelmora"], env, cwd=tmp_path)
    assert int(re.fullmatch(r"step (\d+)\n", done.stdout).group(1)) > 100


def completions(line, home, path):
    """What the packaged completion offers for `line` (the cursor at its end), the words split as
    bash splits them for completion: at blanks, and around = and :."""
    words = re.findall(r"[^\s=:]+|[=:]+", line) + ([""] if line[-1].isspace() else [])
    script = ('source /usr/share/bash-completion/bash_completion; source "$1"; shift\n'
              'COMP_LINE=$1; COMP_POINT=${#1}; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))\n'
              '_zelmora_batch zelmora-batch "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"\n'
              'printf "%s\\n" "${COMPREPLY[@]}"\n')
    env = installed_env(home, PATH=path)
    completion = ROOT / "usr/share/bash-completion/completions/zelmora-batch"
    done = subprocess.run(["bash", "-c", script, "bash", str(completion), line, *words], env=env, cwd=home,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    return sorted(filter(None, done.stdout.split("\n")))


FILES = ["a.csv", "sub"]  # of a.csv, b.txt, c.json and the folder sub
COMPLETIONS = [
    ("zelmora-batch --gr", ["--grid", "--grid-cols", "--grid-rows"]),
    ("zelmora-batch --vid", ["--video"]),
    ("zelmora-batch --video ", ["gif", "mp4", "off"]),
    ("zelmora-batch --charts w", ["window"]),
    ("zelmora-batch --until=s", ["settled", "steps"]),
    ("zelmora-batch --segregation o", ["off", "on"]),
    ("zelmora-batch --seed ", []),
    ("zelmora-batch --out ", FILES),
    ("zelmora-batch --out=", FILES),
    ("zelmora-batch --design ", FILES),
    ("zelmora-batch --from ", ["c.json", "sub"]),
    ("zelmora-batch --from all.json --runs ", []),
    ("zelmora-batch --means ", ["off", "on"]),
    ("zelmora-batch --until ", ["settled", "steps"]),
    ("zelmora-batch --set threshold=2 --out ", FILES),
    ("zelmora-batch me", ["merge"]),
    ("zelmora-batch merge ", FILES),
    ("zelmora-batch merge all.csv s", ["sub"]),
    ("zelmora-batch --set re", ["relocation=", "returns_to_scale="]),
    ("zelmora-batch --set threshold=", []),
    ("zelmora-batch --set threshold=2 --set t", ["threshold=", "threshold_percent=", "travel_expenses="]),
    ("zelmora-batch --wrap ", ["off", "on"]),
    ("zelmora-batch --relocation ", ["anywhere", "nearby"]),
]


def test_the_completion_offers_options_values_files_and_the_programs_parameter_names(tmp_path):
    if not Path("/usr/share/bash-completion/bash_completion").is_file():
        pytest.skip("bash-completion is missing (scripts/install-deps installs it)")
    for name in ["a.csv", "b.txt", "c.json"]:
        (tmp_path / name).write_text("")
    (tmp_path / "sub").mkdir()
    # The parameter names come from the packaged program's `zelmora-batch --parameters`.
    path = f"{ROOT / 'usr/bin'}:{SYSTEM_PATH}"
    table = run(["zelmora-batch", "--parameters"], installed_env(tmp_path, PATH=path)).stdout.splitlines()
    assert table[0].split("\t") == ["name", "kind", "range", "default", "unit", "description"]
    names = sorted(f"{line.split(chr(9))[0]}=" for line in table[1:])
    assert "threshold=" in names and len(names) > 1
    offered = {line: completions(line, tmp_path, path) for line, _ in COMPLETIONS}
    assert offered == {line: expected for line, expected in COMPLETIONS}
    assert completions("zelmora-batch --set ", tmp_path, path) == names
    options = completions("zelmora-batch --", tmp_path, path)
    assert {"--out", "--set", "--quiet", "--help", "--version"} <= set(options)
    assert all(option.startswith("--") for option in options)
    assert completions("zelmora-batch --quiet ", tmp_path, path) == sorted(options + ["-h"])


def test_the_gnu_parallel_example_of_the_docs_runs_as_written(tmp_path):
    parallel = shutil.which("parallel")
    if parallel is None or "GNU parallel" not in subprocess.run([parallel, "--version"], capture_output=True,
                                                                 text=True).stdout:
        pytest.skip("GNU parallel is missing (scripts/install-deps installs parallel)")
    experiments = (DOC / "docs/EXPERIMENTS.md").read_text()
    section = experiments[experiments.index("### GNU parallel"):]
    commands = re.search(r"```sh\n(.*?)```", section, re.S).group(1)
    assert commands.count("--repeats 50 --steps 1000") == 1
    commands = commands.replace("--repeats 50 --steps 1000", "--repeats 2 --steps 20")
    env = installed_env(tmp_path)
    run(["bash", "-euo", "pipefail", "-c", commands], env, cwd=tmp_path)
    run(["zelmora-batch", "--seed", "7", "--set", "threshold=0:8:1", "--repeats", "2", "--steps", "20", "--quiet",
         "--out", "single.csv"], env, cwd=tmp_path)
    assert len(list((tmp_path / "out").glob("shard-*.csv"))) == 8
    assert (tmp_path / "out/sweep.csv").read_bytes() == (tmp_path / "single.csv").read_bytes()
