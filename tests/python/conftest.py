"""Every test starts from the default simulated bench at full speed and must leave no camera,
handle or bandwidth behind."""

import pytest

import kqfw
import kqfw.sim as sim
from kqfw import camera as camera_module


@pytest.fixture(autouse=True)
def bench():
    sim.reset()
    sim.set_time_scale(0)
    yield
    leaked = sorted(camera_module._open_slots)
    for cam in list(camera_module._open_slots.values()):
        cam.close()
    sim.clear_faults()
    assert not leaked, f"cameras left open in slots {leaked}"
    assert sim.open_handles() == 0
    assert sim.bandwidth_in_use() == 0


@pytest.fixture
def colour():
    with kqfw.Camera(0) as cam:
        yield cam


@pytest.fixture
def mono():
    sim.reset(default=False)
    sim.add_camera("KQM")
    with kqfw.Camera(0) as cam:
        yield cam
