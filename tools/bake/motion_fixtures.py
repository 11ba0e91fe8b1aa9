"""The motion generator's fixtures, beside the bundles (fixtures.py calls write):

  motion-test            motion directory of the test preset's person (nt 12)
  motion-test-<variant>  the same with one variant of motion.VARIANTS
  motion-demo            motion directory of the demo preset's person (nt 100)
  sentences/<name>.wav, sentences/<name>.f32  the espeak-ng sentences of speech_audio.SENTENCES
  motion-ref/<case>      motion_ref.py's files for a sentence on a motion directory (REFERENCED)"""

import os

import motion
import motion_ref
import presets
import speech_audio

# Reference case -> (motion directory, sentence).
REFERENCED = {
    "fox": ("motion-test", "fox"),
    "counting": ("motion-test", "counting"),
    "fox-delta-pitch": ("motion-test-delta-pitch", "fox"),
    "story": ("motion-test", "story"),
}


def write(out):
    """Bakes every motion fixture under out; returns the names written."""
    test = presets.make_config("test", 1)
    baked = []
    for name, cfg, variants in ([("motion-test", test, ())] +
                                [("motion-test-" + v, test, (v,)) for v in motion.VARIANTS] +
                                [("motion-demo", presets.make_config("demo", 1), ())]):
        motion.write(cfg, os.path.join(out, name), variants)
        baked.append(name)
    speech = speech_audio.write_all(os.path.join(out, "sentences"))
    baked.append("sentences")
    for case, (directory, sentence) in REFERENCED.items():
        ref = motion_ref.reference(motion_ref.MotionDir(os.path.join(out, directory)), speech[sentence])
        motion_ref.write_reference(ref, os.path.join(out, "motion-ref", case))
    return baked
