"""The teeth blend head's weights as a PyTorch state-dict file, written without PyTorch.

The file is laid out as torch.save (PyTorch 1.13, pickle protocol 2) lays out a state dict: a ZIP
archive of stored records under a folder named after the file's stem (`<stem>/data.pkl`,
`<stem>/data/<key>` per storage, `<stem>/version`). Every local header sets general-purpose bit 3
with zero CRC and sizes, and a 16-byte data descriptor follows each record; an extra field with id
0x4246 ("FB") pads each record's data to a 64-byte boundary (the central directory carries no
extra field); a ZIP64 end record and its locator precede the ordinary end record. The pickle
rebuilds an OrderedDict by REDUCE, fills it with SETITEMS, closes it with a BUILD of its
`_metadata`, and rebuilds every tensor with `torch._utils._rebuild_tensor_v2` over a storage named
by a persistent id ('storage', torch.FloatStorage, key, 'cpu', numel).

Options of `write_head_pt` write the ways a file can differ from that, for the reader's refusals.
"""

import collections
import io
import os
import pickle
import struct
import zlib

import numpy as np

CANDIDATE_SHAPES = [
    ("cand.0.weight", (16, 7, 3, 3)),
    ("cand.0.bias", (16,)),
    ("cand.2.weight", (16, 16, 3, 3)),
    ("cand.2.bias", (16,)),
    ("cand.4.weight", (1, 16, 3, 3)),
    ("cand.4.bias", (1,)),
]
SYNTHESIS_SHAPES = [
    ("syn.0.weight", (16, 3, 3, 3)),
    ("syn.0.bias", (16,)),
    ("syn.2.weight", (1, 16, 3, 3)),
    ("syn.2.bias", (1,)),
]

# The set head's logit is minus this gain times a candidate's local mean absolute difference from
# the live mouth (values 0..1), so that a candidate closer by 0.02 (five 8-bit steps) gets about
# e^3 = 20 times the weight.
MATCHING_GAIN = 150.0

RECORD_ALIGNMENT = 64
FORMAT_VERSION = b"3\n"

SIG_LOCAL = 0x04034B50
SIG_DESCRIPTOR = 0x08074B50
SIG_CENTRAL = 0x02014B50
SIG_ZIP64_END = 0x06064B50
SIG_ZIP64_LOCATOR = 0x07064B50
SIG_END = 0x06054B50
FLAG_DATA_DESCRIPTOR = 0x0008
STORED, DEFLATED = 0, 8


def head_weights(rng, synthesis=True):
    """name -> float32 array of the head's shapes, in table order, scaled by each layer's fan-in."""
    shapes = CANDIDATE_SHAPES + (SYNTHESIS_SHAPES if synthesis else [])
    weights = collections.OrderedDict()
    fan_in = 1
    for name, shape in shapes:
        if name.endswith(".weight"):
            fan_in = int(np.prod(shape[1:]))
        weights[name] = (rng.standard_normal(shape) / np.sqrt(fan_in)).astype(np.float32)
    return weights


def matching_weights(gain=MATCHING_GAIN, synthesis=True):
    """Set, not trained, weights under which the blend prefers the candidates that match the live
    mouth. The candidate network's 7th input plane is the mean over channels of |candidate - live|:
    cand.0's channel 0 averages it over 3x3 (ReLU keeps it, being positive), cand.2's channel 0
    passes that channel through, cand.4 scales it by -gain; every other weight and every bias is
    0. The synthesis layers, which take no part in the blend, are 0 too."""
    shapes = CANDIDATE_SHAPES + (SYNTHESIS_SHAPES if synthesis else [])
    weights = collections.OrderedDict((name, np.zeros(shape, np.float32)) for name, shape in shapes)
    weights["cand.0.weight"][0, 6, :, :] = 1.0 / 9.0
    weights["cand.2.weight"][0, 0, 1, 1] = 1.0
    weights["cand.4.weight"][0, 0, 1, 1] = -gain
    return weights


class _Global:
    """A module attribute pickled by reference (GLOBAL), like torch's classes and functions."""

    def __init__(self, module, name):
        self.module, self.name = module, name

    def __call__(self, *args):
        """pickle only accepts a callable in a REDUCE; the stand-in itself never runs."""
        raise TypeError("%s.%s is a stand-in for pickling" % (self.module, self.name))


REBUILD_TENSOR = _Global("torch._utils", "_rebuild_tensor_v2")
STORAGE_TYPES = {"FloatStorage": np.float32, "DoubleStorage": np.float64}


class _Storage:
    def __init__(self, key, type_name, values):
        self.key, self.type_name, self.values = key, type_name, values


class _Tensor:
    """Pickles as torch.Tensor does: _rebuild_tensor_v2(storage, offset, size, stride, False, hooks)."""

    def __init__(self, storage, offset, shape, stride):
        self.storage, self.offset, self.shape, self.stride = storage, offset, shape, stride

    def __reduce_ex__(self, protocol):
        args = (self.storage, self.offset, tuple(self.shape), tuple(self.stride), False,
                collections.OrderedDict())
        return REBUILD_TENSOR, args


class _Call:
    """A pickled call of an arbitrary global, standing where a tensor would."""

    def __init__(self, target, args):
        self.target, self.args = target, args

    def __reduce_ex__(self, protocol):
        return self.target, self.args


class _StateDict:
    """An OrderedDict of (name, value) pairs that may repeat a name, with torch's `_metadata`."""

    def __init__(self, pairs, metadata):
        self.pairs, self.metadata = pairs, metadata

    def __reduce_ex__(self, protocol):
        return collections.OrderedDict, (), {"_metadata": self.metadata}, None, iter(self.pairs)


class _TorchPickler(pickle._Pickler):
    """The pure-Python pickler (whose dispatch table can be extended) with torch's storage hook."""

    dispatch = pickle._Pickler.dispatch.copy()

    def __init__(self, file, protocol, globals_by_type):
        super().__init__(file, protocol)
        self.globals_by_type = globals_by_type

    def save_torch_global(self, obj):
        self.write(pickle.GLOBAL + obj.module.encode() + b"\n" + obj.name.encode() + b"\n")
        self.memoize(obj)

    dispatch[_Global] = save_torch_global

    def persistent_id(self, obj):
        if not isinstance(obj, _Storage):
            return None
        return ("storage", self.globals_by_type[obj.type_name], obj.key, "cpu", len(obj.values))


def _metadata(names):
    """torch's per-module version table: the root, each container and each layer index."""
    meta = collections.OrderedDict([("", {"version": 1})])
    for name in names:
        group, index = name.split(".")[:2]
        for prefix in (group, group + "." + index):
            meta.setdefault(prefix, {"version": 1})
    return meta


def _contiguous_strides(shape):
    strides, step = [], 1
    for size in reversed(shape):
        strides.insert(0, step)
        step *= size
    return strides


def _swapped_layout(array):
    """The storage and strides of a tensor whose first two dimensions are stored swapped."""
    physical = np.ascontiguousarray(np.swapaxes(array, 0, 1))
    strides = _contiguous_strides(physical.shape)
    strides[0], strides[1] = strides[1], strides[0]
    return physical.reshape(-1), strides


def _tensors(weights, storage_type, share_biases, swapped):
    """name -> _Tensor over storages keyed "0", "1", ... in order of first use."""
    dtype = STORAGE_TYPES[storage_type]
    tensors = collections.OrderedDict()
    shared = None
    if share_biases:
        biases = [np.asarray(w).reshape(-1) for n, w in weights.items() if n.endswith(".bias")]
        shared = _Storage(None, storage_type, np.concatenate(biases).astype(dtype))
    shared_offset, keys = 0, 0
    for name, array in weights.items():
        array = np.asarray(array)
        if shared is not None and name.endswith(".bias"):
            if shared.key is None:
                shared.key, keys = str(keys), keys + 1
            tensors[name] = _Tensor(shared, shared_offset, array.shape, _contiguous_strides(array.shape))
            shared_offset += array.size
            continue
        values, strides = array.reshape(-1), _contiguous_strides(array.shape)
        if name in swapped:
            values, strides = _swapped_layout(array)
        storage = _Storage(str(keys), storage_type, values.astype(dtype))
        keys += 1
        tensors[name] = _Tensor(storage, 0, array.shape, strides)
    return tensors


def _pickle_state_dict(tensors, protocol, storage_type, duplicate, foreign_call):
    pairs = list(tensors.items())
    pairs += [(name, tensors[name]) for name in duplicate]
    if foreign_call:
        pairs.append(("cand.9.weight", _Call(_Global(*foreign_call), ("0",))))
    out = io.BytesIO()
    storage_global = {storage_type: _Global("torch", storage_type)}
    _TorchPickler(out, protocol, storage_global).dump(_StateDict(pairs, _metadata(tensors)))
    return out.getvalue()


def _storages(tensors):
    """key -> storage of every tensor, each once."""
    found = {}
    for tensor in tensors.values():
        found.setdefault(tensor.storage.key, tensor.storage)
    return found


class _ZipWriter:
    """Records as torch's archive writer lays them out, then its central directory and end records."""

    def __init__(self, deflate):
        self.out = bytearray()
        self.central = bytearray()
        self.count = 0
        self.method = DEFLATED if deflate else STORED

    def add(self, name, data):
        name = name.encode()
        offset = len(self.out)
        start = offset + 30 + len(name) + 4
        padding = -start % RECORD_ALIGNMENT
        extra = b"FB" + struct.pack("<H", padding) + b"Z" * padding
        stored = data
        if self.method == DEFLATED:
            packer = zlib.compressobj(6, zlib.DEFLATED, -15)
            stored = packer.compress(data) + packer.flush()
        crc = zlib.crc32(data)
        version = 20 if self.method == DEFLATED else 0
        self.out += struct.pack("<IHHHHHIIIHH", SIG_LOCAL, version, FLAG_DATA_DESCRIPTOR, self.method,
                                0, 0, 0, 0, 0, len(name), len(extra)) + name + extra + stored
        self.out += struct.pack("<IIII", SIG_DESCRIPTOR, crc, len(stored), len(data))
        self.central += struct.pack("<IHHHHHHIIIHHHHHII", SIG_CENTRAL, 0, version, FLAG_DATA_DESCRIPTOR,
                                    self.method, 0, 0, crc, len(stored), len(data), len(name), 0, 0, 0,
                                    0, 0, offset) + name
        self.count += 1

    def finish(self, comment):
        cd_offset, cd_size = len(self.out), len(self.central)
        self.out += self.central
        zip64_offset = len(self.out)
        self.out += struct.pack("<IQHHIIQQQQ", SIG_ZIP64_END, 44, 45, 45, 0, 0, self.count, self.count,
                                cd_size, cd_offset)
        self.out += struct.pack("<IIQI", SIG_ZIP64_LOCATOR, 0, zip64_offset, 1)
        self.out += struct.pack("<IHHHHIIH", SIG_END, 0, 0, self.count, self.count, cd_size, cd_offset,
                                len(comment)) + comment
        return bytes(self.out)


def write_head_pt(path, weights, *, deflate=False, protocol=2, storage_type="FloatStorage",
                  share_biases=False, swapped=(), duplicate=(), foreign_call=None, comment=b"",
                  omit_storage=(), short_storage=(), pickle_bytes=None):
    """Writes `weights` (name -> float32 array, in order) to `path` as torch.save would.

    deflate: compress every record; protocol: pickle protocol (4 adds FRAME opcodes);
    storage_type: "FloatStorage" or "DoubleStorage"; share_biases: every bias in one storage, at
    successive offsets; swapped: names whose first two dimensions are stored swapped (strides not
    the contiguous ones); duplicate: names written a second time; foreign_call: (module, name) of a
    global called for an extra entry; comment: archive comment after the end record; omit_storage:
    storage keys left out of the archive; short_storage: storage keys written one element short;
    pickle_bytes: data.pkl's bytes in place of the pickled state dict.
    """
    tensors = _tensors(weights, storage_type, share_biases, set(swapped))
    data_pkl = _pickle_state_dict(tensors, protocol, storage_type, duplicate, foreign_call)
    stem = os.path.splitext(os.path.basename(path))[0]
    writer = _ZipWriter(deflate)
    writer.add(stem + "/data.pkl", data_pkl if pickle_bytes is None else pickle_bytes)
    for key, storage in sorted(_storages(tensors).items()):
        if key in omit_storage:
            continue
        values = storage.values[:-1] if key in short_storage else storage.values
        writer.add(stem + "/data/" + key, values.astype(values.dtype.newbyteorder("<")).tobytes())
    writer.add(stem + "/version", FORMAT_VERSION)
    with open(path, "wb") as f:
        f.write(writer.finish(comment))
