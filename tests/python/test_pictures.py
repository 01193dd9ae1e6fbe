import matplotlib.image
import numpy as np

import zelmora


def test_pictures_show_agents_and_grey_levels_and_save_as_png(tmp_path):
    w = zelmora.World(grid=(30, 20), seed=8, price_scape=True)
    w.step(4)
    picture = w.picture(catchment=False)
    assert picture.shape == (200, 300, 3)
    centre = picture[5::10, 5::10]  # the centre pixel of every cell
    agents = centre[w.agent_row, w.agent_col]
    assert np.array_equal(agents, np.repeat(w.agent_colour[:, None] * 255, 3, axis=1))
    free = ~w.occupied & ~w.is_market
    assert np.array_equal(centre[free], np.repeat((w.grey[free] & 0xFF)[:, None], 3, axis=1))
    w.save_picture(tmp_path / "grid.png")
    saved = matplotlib.image.imread(tmp_path / "grid.png")
    assert np.array_equal(np.rint(saved[..., :3] * 255).astype(np.uint8), w.picture())


def test_a_sweep_with_out_draws_the_batch_programs_pictures_from_any_thread(tmp_path, batch_program):
    import shutil
    import subprocess
    import threading

    import pytest

    video = "gif" if shutil.which("ffmpeg") else "off"
    subprocess.run([batch_program, "--grid", "20x20", "--steps", "20", "--record-every", "5", "--repeats", "2",
                    "--seed", "1", "--snapshot-at", "0,20", "--snapshot-every", "10", "--charts", "on", "--video",
                    video, "--quiet", "--out", str(tmp_path / "batch.csv")], check=True, timeout=120)
    options = dict(grid=(20, 20), steps=20, record_every=5, repeats=2, seed=1, snapshot_at=[20, 0],
                   snapshot_every=10, charts=True, video=video, jobs=2)
    zelmora.sweep(out=tmp_path / "python.csv", **options)
    # Again from a thread that is not the one that drew before: the charts' Qt thread is the module's.
    thread = threading.Thread(target=zelmora.sweep, kwargs=dict(out=tmp_path / "thread.csv", **options))
    thread.start()
    thread.join()
    pictures = sorted(p.name[len("batch"):] for p in tmp_path.glob("batch.run[0-9]*"))
    assert len(pictures) == 2 * (3 + 2 + (video != "off")), pictures
    for name in pictures:
        if name.endswith(".gif"):  # the encoder's bytes are its own: the frames are what is drawn
            assert (tmp_path / f"python{name}").stat().st_size > 0
            continue
        for other in ("python", "thread"):
            assert (tmp_path / f"{other}{name}").read_bytes() == (tmp_path / f"batch{name}").read_bytes(), name
    for option, value in [("charts", True), ("snapshot_at", [3]), ("snapshot_every", 2), ("video", "mp4")]:
        with pytest.raises(ValueError, match=f"^{option}: only with out="):
            zelmora.sweep(grid=(12, 12), steps=4, **{option: value})
    with pytest.raises(ValueError, match="charts: expects True, False"):
        zelmora.sweep(grid=(12, 12), steps=4, charts="yes", out=tmp_path / "x.csv")
