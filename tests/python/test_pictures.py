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
