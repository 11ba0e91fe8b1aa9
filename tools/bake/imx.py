"""Packing a baked bundle directory into an IMX v2 container with le-imx."""

import os
import subprocess

ENV_TOOL = "LE_IMX_TOOL"


def default_tool():
    """$LE_IMX_TOOL, else build/bin/le-imx of the repository this baker lives in."""
    if os.environ.get(ENV_TOOL):
        return os.environ[ENV_TOOL]
    repo = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    return os.path.join(repo, "build", "bin", "le-imx")


def container_path(bundle_dir):
    return bundle_dir.rstrip("/") + ".imx"


def pack(bundle_dir, tool):
    if not (os.path.isfile(tool) and os.access(tool, os.X_OK)):
        raise RuntimeError("le-bake: --imx needs le-imx, not found at %s (build it, or pass "
                           "--imx-tool PATH or set %s)" % (tool, ENV_TOOL))
    out = container_path(bundle_dir)
    if os.path.exists(out):
        os.remove(out)
    subprocess.run([tool, "pack", bundle_dir, out], check=True, stdout=subprocess.DEVNULL)
    return out
