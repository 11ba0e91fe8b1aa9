"""Strict checks of telemetry JSON written by the tests, independent of the library's own code.

  check_json.py lines FILE      every non-empty line of FILE is a snapshot, or a pending-state
                                object {"queued":n,"snapshot":{...}}; prints "<count> valid"
  check_json.py batch FILE KEY  FILE holds one delivery body {"batch":[snapshot,...]}; prints
                                [<batch length>, [<extra[KEY] of each snapshot, null when absent>]]

Strict means: the bytes are UTF-8 (no stray bytes, no encoded surrogates), NaN and Infinity are
refused, and every snapshot has its members in the documented order. The first violation ends the
run with a non-zero status and the reason.
"""
import json
import sys

HEAD = ["ts", "os", "os_version", "device_model", "arch", "cpu_cores", "ram_bytes", "sdk_version"]
OWN = ["fps_ema", "frames_total", "session_s", "load_ms", "thermal_state", "model_key"]


def refuse_constant(name):
    raise ValueError("not JSON: " + name)


def parse(raw):
    return json.loads(raw.decode("utf-8"), parse_constant=refuse_constant)


def check_snapshot(s):
    assert isinstance(s, dict), "snapshot is not an object"
    keys = list(s)
    assert keys[:8] == HEAD, "first members %r" % keys[:8]
    assert keys[-1] == "extra" and isinstance(s["extra"], dict), "last member %r" % keys[-1]
    own = keys[8:-1]
    assert own == [k for k in OWN if k in own], "members between sdk_version and extra %r" % own
    for k in ("ts", "cpu_cores", "ram_bytes"):
        assert type(s[k]) is int, "%s is %r" % (k, s[k])
    for k in ("os", "os_version", "device_model", "arch", "sdk_version") + (("model_key",) if "model_key" in s else ()):
        assert isinstance(s[k], str), "%s is %r" % (k, s[k])
    for k in OWN[:5]:
        if k in s:
            assert s[k] is None or type(s[k]) in (int, float), "%s is %r" % (k, s[k])


def check_lines(path):
    count = 0
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    for number, raw in enumerate(lines, 1):
        if not raw:
            continue
        try:
            doc = parse(raw)
            if isinstance(doc, dict) and "queued" in doc:
                assert list(doc) == ["queued", "snapshot"] and type(doc["queued"]) is int, "pending %r" % list(doc)
                doc = doc["snapshot"]
            check_snapshot(doc)
        except (ValueError, AssertionError) as e:
            sys.exit("line %d: %s: %r" % (number, e, raw[:200]))
        count += 1
    print("%d valid" % count)


def check_batch(path, key):
    with open(path, "rb") as f:
        doc = parse(f.read())
    assert list(doc) == ["batch"] and isinstance(doc["batch"], list), "body members %r" % list(doc)
    for s in doc["batch"]:
        check_snapshot(s)
    print(json.dumps([len(doc["batch"]), [s["extra"].get(key) for s in doc["batch"]]]))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "lines":
        check_lines(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "batch":
        check_batch(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
