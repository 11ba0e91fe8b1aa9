"""A small ONNX graph builder shared by every network the baker writes: named nodes, constant
initializers and the model wrapper (opset 17, IR version 8, producer le-bake)."""

import numpy as np
import onnx
from onnx import helper, numpy_helper

OPSET = 17


class Graph:
    def __init__(self):
        self.nodes, self.inits = [], []

    def const(self, name, value, dtype=np.float32):
        self.inits.append(numpy_helper.from_array(np.asarray(value, dtype=dtype), name))
        return name

    def i64(self, name, value):
        return self.const(name, value, np.int64)

    def op(self, op_type, inputs, name, domain=None, **attrs):
        self.nodes.append(helper.make_node(op_type, inputs, [name], name=name, domain=domain, **attrs))
        return name

    def model(self, name, inputs, outputs, extra_opsets=()):
        graph = helper.make_graph(self.nodes, name, inputs, outputs, initializer=self.inits)
        opsets = [helper.make_opsetid("", OPSET)] + [helper.make_opsetid(d, v) for d, v in extra_opsets]
        model = helper.make_model(graph, opset_imports=opsets, producer_name="le-bake")
        model.ir_version = 8
        return model


def tensor(name, dims, elem=onnx.TensorProto.FLOAT):
    """A graph input or output: dims are ints or names of dynamic dimensions."""
    return helper.make_tensor_value_info(name, elem, dims)


def check(model):
    """onnx.checker, with full shape inference on graphs of the standard domains."""
    custom = any(n.domain not in ("", "ai.onnx") for n in model.graph.node)
    onnx.checker.check_model(model, full_check=not custom)
