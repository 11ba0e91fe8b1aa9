"""A numpy interpreter for the few ONNX operators the motion networks use, in float64: it runs a
baked graph node by node, so the graphs can be checked against their numpy forms without ONNX
Runtime."""

import numpy as np
import onnx
from onnx import helper, numpy_helper


def _slice(x, starts, ends, axes):
    index = [slice(None)] * x.ndim
    for s, e, a in zip(starts, ends, axes):
        index[int(a)] = slice(int(s), int(e))
    return x[tuple(index)]


_OPS = {
    "Add": lambda a, b, **_: a + b,
    "Sub": lambda a, b, **_: a - b,
    "Mul": lambda a, b, **_: a * b,
    "MatMul": lambda a, b, **_: a @ b,
    "Tanh": lambda a, **_: np.tanh(a),
    "Sigmoid": lambda a, **_: 1.0 / (1.0 + np.exp(-a)),
    "Slice": lambda x, s, e, a, **_: _slice(x, s, e, a),
    "Transpose": lambda x, perm, **_: np.transpose(x, perm),
    "ReduceMean": lambda x, axes, keepdims=1, **_: np.mean(x, axis=tuple(axes),
                                                           keepdims=bool(keepdims)),
    "Concat": lambda *xs, axis, **_: np.concatenate(xs, axis=axis),
    "Unsqueeze": lambda x, axes, **_: np.expand_dims(x, tuple(int(a) for a in axes)),
}


def run(path, **inputs):
    """The graph's outputs by name, for inputs given by name."""
    model = onnx.load(path)
    values = {t.name: numpy_helper.to_array(t).astype(np.float64) for t in model.graph.initializer}
    values.update({k: np.asarray(v, dtype=np.float64) for k, v in inputs.items()})
    for node in model.graph.node:
        attrs = {a.name: helper.get_attribute_value(a) for a in node.attribute}
        if node.op_type not in _OPS:
            raise NotImplementedError("onnx_eval: no %s" % node.op_type)
        values[node.output[0]] = _OPS[node.op_type](*(values[i] for i in node.input), **attrs)
    return {o.name: values[o.name] for o in model.graph.output}
