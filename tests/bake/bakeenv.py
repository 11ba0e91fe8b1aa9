"""Shared setup of the baker's Python tests: the baker's modules and the fixture bundles."""

import json
import os
import subprocess
import sys

import numpy as np

BAKE_DIR = os.environ.get("LE_BAKE_DIR") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "bake")
FIXTURES = os.environ.get("LE_TEST_FIXTURES") or os.path.join(os.getcwd(), "fixtures")
sys.dont_write_bytecode = True
sys.path.insert(0, BAKE_DIR)


def fixture(name):
    path = os.path.join(FIXTURES, name)
    if not os.path.isfile(os.path.join(path, "manifest.json")):
        raise FileNotFoundError("fixture %s not baked (build the le_fixtures target)" % path)
    return path


def manifest(root):
    with open(os.path.join(root, "manifest.json")) as f:
        return json.load(f)


def load(root, name, dtype, shape):
    return np.fromfile(os.path.join(root, name), dtype=dtype).reshape(shape)


def decode_rgb(path):
    """Frames of an image or movie as an array (n x h x w x 3 uint8), decoded by ffmpeg."""
    probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                            "stream=width,height", "-of", "csv=p=0", path],
                           check=True, capture_output=True, text=True).stdout.split(",")
    w, h = int(probe[0]), int(probe[1])
    raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "rawvideo",
                          "-pix_fmt", "rgb24", "-"], check=True, capture_output=True).stdout
    return np.frombuffer(raw, dtype=np.uint8).reshape(-1, h, w, 3)


def probe(path, entry):
    return subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                           "stream=" + entry, "-of", "csv=p=0", path],
                          check=True, capture_output=True, text=True).stdout.strip()
