"""The baked director carries the structures the renderer's load-time rewrites look for, found
the way those rewrites find them; the variants break exactly the structure they name."""

import os
import unittest

import numpy as np
import onnx
from onnx import numpy_helper

import bakeenv


class Graph:
    def __init__(self, bundle, model="model_b1.onnx"):
        self.model = onnx.load(os.path.join(bakeenv.fixture(bundle), model))
        self.nodes = list(self.model.graph.node)
        self.inits = {t.name: numpy_helper.to_array(t) for t in self.model.graph.initializer}
        self.producer = {o: n for n in self.nodes for o in n.output}

    def readers(self, tensor):
        return [n for n in self.nodes if tensor in n.input]

    def attrs(self, node):
        return {a.name: onnx.helper.get_attribute_value(a) for a in node.attribute}

    def input_dims(self, name):
        i = next(i for i in self.model.graph.input if i.name == name)
        return [d.dim_value or d.dim_param for d in i.type.tensor_type.shape.dim]

    def cone(self, tip):
        """Nodes of the source cone behind the tip (P_rgb, initializers and Constants are leaves)."""
        seen, stack = set(), [tip]
        while stack:
            t = stack.pop()
            if t == "P_rgb" or t in self.inits:
                continue
            node = self.producer[t]
            if node.op_type == "Constant" or node.name in seen:
                continue
            seen.add(node.name)
            stack.extend(node.input)
        return seen

    def recombination(self, sampled):
        block = {n.name for n in self.readers(sampled) if n.op_type == "Slice"}
        grown = True
        while grown:
            produced = {o for n in self.nodes if n.name in block for o in n.output}
            new = {n.name for n in self.nodes if n.op_type in ("Mul", "Sub", "Add")
                   and n.name not in block and any(i in produced for i in n.input)}
            block |= new
            grown = bool(new)
        produced = {o for n in self.nodes if n.name in block for o in n.output}
        exits = {t for n in self.nodes if n.name not in block for t in n.input if t in produced}
        return block, exits


class Structure(unittest.TestCase):
    def setUp(self):
        self.g = Graph("test")

    def tip(self, g=None):
        g = g or self.g
        concats = [n for n in g.readers("P_rgb") if n.op_type == "Concat"]
        self.assertEqual(len(concats), 1)
        return concats[0].output[0]

    def test_one_border_bilinear_gridsample_reads_the_cone_tip_at_crop_size(self):
        readers = self.g.readers(self.tip())
        self.assertEqual([n.op_type for n in readers], ["GridSample"])
        self.assertEqual(self.g.attrs(readers[0]), {"mode": b"bilinear", "padding_mode": b"border",
                                                    "align_corners": 0})
        self.assertIn(readers[0].input[1], self.g.producer)
        self.assertEqual(self.g.input_dims("P_rgb"), [1, 3, 64, 64])

    def test_p_rgb_is_read_only_inside_the_cone_and_only_the_tip_leaves_it(self):
        tip = self.tip()
        cone = self.g.cone(tip)
        self.assertEqual(len(cone), 5)                  # Pad, three curvature Convs, the Concat
        produced = {o for n in self.g.nodes if n.name in cone for o in n.output}
        for n in self.g.nodes:
            if n.name in cone:
                continue
            self.assertNotIn("P_rgb", n.input, n.name)
            self.assertEqual([i for i in n.input if i in produced and i != tip], [], n.name)

    def test_recombination_has_one_exit(self):
        sample = self.g.readers(self.tip())[0].output[0]
        block, exits = self.g.recombination(sample)
        self.assertEqual(sorted(self.g.producer[e].op_type for e in exits), ["Add"])
        self.assertEqual(len(block), 4 + 6)             # four Slices, three Mul, two Sub, one Add

    def test_head_has_one_cubic_x2_resize_fed_by_a_conv(self):
        cubic = [n for n in self.g.nodes if n.op_type == "Resize"
                 and self.g.attrs(n).get("mode") == b"cubic"]
        self.assertEqual(len(cubic), 1)
        node = cubic[0]
        self.assertEqual(self.g.attrs(node), {"mode": b"cubic",
                                              "coordinate_transformation_mode": b"half_pixel"})
        self.assertEqual(node.input[1], "")
        np.testing.assert_array_equal(self.g.inits[node.input[2]], [1, 1, 2, 2])
        conv = self.g.producer[node.input[0]]
        self.assertEqual(conv.op_type, "Conv")
        self.assertEqual(self.g.inits[conv.input[1]].shape[0], 3)

    def test_output_is_the_unified_compose_tail_with_a_clipped_alpha(self):
        add = self.g.producer[self.g.model.graph.output[0].name]
        self.assertEqual(add.op_type, "Add")
        muls = [self.g.producer[i] for i in add.input]
        self.assertEqual([m.op_type for m in muls], ["Mul", "Mul"])
        sub = next(self.g.producer[i] for m in muls for i in m.input
                   if i in self.g.producer and self.g.producer[i].op_type == "Sub")
        self.assertEqual(self.g.inits[sub.input[0]].tolist(), [1.0])
        alpha = sub.input[1]
        self.assertEqual(self.g.producer[alpha].op_type, "Clip")
        self.assertTrue(any(alpha in m.input for m in muls))
        self.assertEqual(sorted(n.op_type for n in self.g.readers(alpha)), ["Mul", "Sub"])

    def test_batch_four_model_declares_batch_four_everywhere(self):
        g4 = Graph("test", "model_b4.onnx")
        for name in ("pooled64", "P_rgb", "kp_driving", "kp_source"):
            self.assertEqual(g4.input_dims(name)[0], 4)


class Variants(unittest.TestCase):
    def test_two_concat_variant_has_two_concats_reading_p_rgb(self):
        g = Graph("test-two-concat")
        self.assertEqual(len([n for n in g.readers("P_rgb") if n.op_type == "Concat"]), 2)

    def test_gs_zeros_variant_pads_with_zeros(self):
        g = Graph("test-gs-zeros")
        gs = [n for n in g.nodes if n.op_type == "GridSample"]
        self.assertEqual([g.attrs(n)["padding_mode"] for n in gs], [b"zeros"])

    def test_gs_fast_variant_has_the_baked_custom_op(self):
        g = Graph("test-gs-fast")
        self.assertEqual([(n.op_type, n.domain) for n in g.nodes if "GridSample" in n.op_type],
                         [("GridSampleFast", "com.zentrova")])
        self.assertIn(("com.zentrova", 1), [(o.domain, o.version) for o in g.model.opset_import])

    def test_int8_conv_variant_carries_the_head_convs_as_int8(self):
        g, plain = Graph("test-int8-conv"), Graph("test")
        convs = [n for n in g.nodes if n.op_type == "Int8ConvVNNI"]
        self.assertEqual([(n.name, n.domain) for n in convs],
                         [("/head/conv1", "com.zentrova.int8"), ("/head/conv2", "com.zentrova.int8")])
        self.assertIn(("com.zentrova.int8", 1), [(o.domain, o.version) for o in g.model.opset_import])
        self.assertEqual(g.attrs(convs[0])["pads"], [1, 1, 1, 1])
        for node in convs:
            x, w, scale, bias = node.input
            q, s = g.inits[w], g.inits[scale]
            self.assertEqual(q.dtype, np.int8)
            self.assertEqual(s.shape, (q.shape[0],))
            # Each channel's largest weight maps to +-127, and every weight lies within half a step.
            self.assertEqual(list(np.abs(q).reshape(q.shape[0], -1).max(axis=1)), [127] * q.shape[0])
            err = np.abs(q * s.reshape(-1, 1, 1, 1) - plain.inits[w])
            self.assertTrue(np.all(err <= s.reshape(-1, 1, 1, 1) * 0.5 + 1e-7))
            np.testing.assert_array_equal(g.inits[bias], plain.inits[bias])

    def test_keypoint_row_and_batch_variants(self):
        self.assertEqual(Graph("test-kp22").input_dims("kp_driving"), [1, 22, 3])
        self.assertEqual(Graph("test-kp20").input_dims("kp_source"), [1, 20, 3])
        self.assertEqual(Graph("test-kp-dynamic").input_dims("kp_driving"), [1, "rows", 3])
        self.assertEqual(Graph("test-batch-dynamic").input_dims("pooled64"), ["batch", 64, 32, 32])

    def test_featsynth_variant_reads_fs_red_and_no_p_rgb(self):
        g = Graph("test-featsynth")
        self.assertEqual([i.name for i in g.model.graph.input], ["fs_red", "pooled", "kd", "ks"])
        self.assertEqual(g.input_dims("fs_red"), [1, 64, 64, 64])

    def cubic(self, g):
        return [n for n in g.nodes if n.op_type == "Resize" and g.attrs(n).get("mode") == b"cubic"]

    def test_full_head_upsamples_half_the_crop_to_the_crop_by_one_cubic_x2_fed_by_a_conv(self):
        g = Graph("test-head-full")
        [node] = self.cubic(g)
        self.assertEqual(g.producer[node.input[0]].op_type, "Conv")
        np.testing.assert_array_equal(g.inits[node.input[2]], [1, 1, 2, 2])
        self.assertEqual([n.name for n in g.readers(node.output[0])], ["/head/generated"])
        pool = next(n for n in g.nodes if n.name == "/head/pool")
        self.assertEqual(g.attrs(pool)["kernel_shape"], [2, 2])

    def test_head_near_misses_break_only_what_they_name(self):
        self.assertEqual(len(self.cubic(Graph("test-head-two-cubic"))), 2)
        g = Graph("test-head-scales23")
        np.testing.assert_array_equal(g.inits[self.cubic(g)[0].input[2]], [1, 1, 2, 3])
        g = Graph("test-head-align-corners")
        self.assertEqual(g.attrs(self.cubic(g)[0])["coordinate_transformation_mode"], b"align_corners")

    def test_student_blend_variants_name_the_projection_matmul(self):
        for bundle, name in (("test-student-blend", "/s2/blend"), ("test-student-blend-long", "/s2/blend/MatMul")):
            g = Graph(bundle)
            self.assertEqual([n.name for n in g.nodes if n.op_type == "MatMul" and "/s2/" in n.name], [name])
            self.assertEqual(g.inits["/s2/blend_w"].shape, (64, 4))


if __name__ == "__main__":
    unittest.main()
