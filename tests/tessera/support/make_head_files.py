"""Writes the head weights files the reader's tests load: a good full head, a candidate-only head,
the ways a file can be refused, and beside the good ones a raw float32 dump (`<name>.f32`) of their
parameters in table order."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools", "bake"))
import head_pt  # noqa: E402

SEED = 7


def weights(synthesis=True):
    return head_pt.head_weights(np.random.default_rng(SEED), synthesis)


def without(name):
    w = weights()
    del w[name]
    return w


def rank3():
    w = weights()
    w["cand.0.weight"] = w["cand.0.weight"].reshape(16, 7, 9)
    return w


FILES = {
    "full": (weights(), {}),
    "candidate": (weights(False), {}),
    "shared": (weights(), {"share_biases": True}),
    "comment": (weights(), {"comment": b"written by the head reader's tests"}),
    "deflated": (weights(), {"deflate": True}),
    "frame": (weights(), {"protocol": 4}),
    "rank3": (rank3(), {}),
    "no_syn2_bias": (without("syn.2.bias"), {}),
    "swapped": (weights(), {"swapped": ["cand.2.weight"]}),
    "foreign": (weights(), {"foreign_call": ("builtins", "eval")}),
    "double": (weights(), {"storage_type": "DoubleStorage"}),
    "duplicate": (weights(), {"duplicate": ["cand.0.bias"]}),
    "omitted_storage": (weights(), {"omit_storage": ["3"]}),
    "short_storage": (weights(), {"short_storage": ["4"]}),
    "empty": ({}, {}),
    "binget": (weights(), {"pickle_bytes": b"\x80\x02Nq\x00h\x05."}),
    "long_binget": (weights(), {"pickle_bytes": b"\x80\x02Nq\x00j\x01\x00\x00\x00."}),
    "persistent_id": (weights(), {"pickle_bytes": b"\x80\x02K\x01Q."}),
    "rebuild_args": (weights(), {"pickle_bytes": b"\x80\x02ctorch._utils\n_rebuild_tensor_v2\n)R."}),
}


def main(out_dir):
    for name, (w, options) in FILES.items():
        head_pt.write_head_pt(os.path.join(out_dir, name + ".pt"), w, **options)
    for name in ("full", "candidate"):
        dump = np.concatenate([a.reshape(-1) for a in FILES[name][0].values()]).astype("<f4")
        dump.tofile(os.path.join(out_dir, name + ".f32"))


if __name__ == "__main__":
    main(sys.argv[1])
