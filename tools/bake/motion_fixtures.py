"""The motion generator's fixtures, beside the bundles (fixtures.py calls write):

  motion-test            motion directory of the test preset's person (nt 12)
  motion-test-<variant>  the same with one variant of motion.VARIANTS
  motion-demo            motion directory of the demo preset's person (nt 100)
  sentences/<name>.wav, sentences/<name>.f32  the espeak-ng sentences of speech_audio.SENTENCES"""

import os

import motion
import presets
import speech_audio


def write(out):
    """Bakes every motion fixture under out; returns the names written."""
    test = presets.make_config("test", 1)
    baked = []
    for name, cfg, variants in ([("motion-test", test, ())] +
                                [("motion-test-" + v, test, (v,)) for v in motion.VARIANTS] +
                                [("motion-demo", presets.make_config("demo", 1), ())]):
        motion.write(cfg, os.path.join(out, name), variants)
        baked.append(name)
    speech_audio.write_all(os.path.join(out, "sentences"))
    baked.append("sentences")
    return baked
