"""Shared helpers of the fxkit module's tests: test images, PGM/PPM files and the fxkit tool."""
import os
import shutil
import subprocess

import numpy as np
import pytest

import fxkit

# The clocks and the generator seed every comparison with the command line uses.
TICK, TIME, SEED = 1000000, 1700000000, 5


def make_image(height, width, channels, dtype, seed=1):
    """Smooth gradients with blocks and noise, so every effect has edges and flat areas to work
    on; 16-bit images use their low bytes too."""
    top = np.iinfo(dtype).max
    y, x = np.mgrid[0:height, 0:width]
    rng = np.random.RandomState(seed)
    planes = []
    for c in range(channels):
        ramp = (x * (c + 1) + y * (3 - c)) / float((width + height) * 3)
        blocks = ((x // 7 + y // 5 + c) % 2) * 0.3
        noise = rng.uniform(0, 0.15, size=(height, width))
        planes.append(np.clip((ramp + blocks + noise) / 1.45, 0, 1) * top)
    image = np.stack(planes, axis=-1).astype(dtype)
    return image[:, :, 0] if channels == 1 else image


def write_pnm(path, image):
    """PGM (H x W) or PPM (H x W x 3), 8 or 16 bits (big-endian samples)."""
    magic = b"P5" if image.ndim == 2 else b"P6"
    maxval = 255 if image.dtype == np.uint8 else 65535
    with open(path, "wb") as f:
        f.write(b"%s\n%d %d\n%d\n" % (magic, image.shape[1], image.shape[0], maxval))
        f.write(image.astype(image.dtype.newbyteorder(">")).tobytes())


def read_pnm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:  # magic, width, height, maxval, separated by single whitespace
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    width, height, maxval = int(fields[1]), int(fields[2]), int(fields[3])
    channels = 1 if fields[0] == b"P5" else 3
    dtype = np.dtype(">u2") if maxval > 255 else np.dtype(np.uint8)
    count = width * height * channels
    samples = np.frombuffer(data, dtype=dtype, count=count, offset=pos)
    shape = (height, width) if channels == 1 else (height, width, 3)
    return samples.reshape(shape).astype(dtype.newbyteorder("="))


class Cli:
    """The fxkit tool the module is compared with: FXKIT_CLI, or fxkit on the PATH."""

    def __init__(self, path, directory):
        self.path = path
        self.directory = directory
        self.count = 0

    def apply(self, effect, image, words=(), options=()):
        """Runs `fxkit apply` on the image with the fixed seed and clocks; returns the output
        image, or the completed process when the tool fails."""
        self.count += 1
        ext = ".pgm" if image.ndim == 2 else ".ppm"
        source = os.path.join(self.directory, "in%d%s" % (self.count, ext))
        target = os.path.join(self.directory, "out%d%s" % (self.count, ext))
        write_pnm(source, image)
        done = subprocess.run(
            [self.path, "apply", effect, source, target, *words, "--quiet", "--srand=%d" % SEED,
             "--tick=%d" % TICK, "--time=%d" % TIME, *options],
            capture_output=True, text=True)
        if done.returncode != 0:
            return done
        return read_pnm(target)


@pytest.fixture(scope="session")
def cli(tmp_path_factory):
    path = os.environ.get("FXKIT_CLI") or shutil.which("fxkit")
    if not path:
        pytest.skip("no fxkit tool: set FXKIT_CLI")
    return Cli(path, str(tmp_path_factory.mktemp("cli")))


@pytest.fixture(autouse=True, scope="session")
def fixed_clocks():
    fxkit.fix_clocks(tick=TICK, time=TIME)
    yield
    fxkit.release_clocks()


@pytest.fixture(autouse=True)
def no_leaks():
    """Every call releases the host memory it took, on every path."""
    before = fxkit._core.live_blocks()
    yield
    assert fxkit._core.live_blocks() == before
