"""The demo's sounds: the loader's effects load from the data folder, and the
start-up jingle comes out of the audio device."""
import os
import struct
import tempfile
import unittest

import kelp_harness as kh

EFFECTS = [95, 1, 99, 98]   # in the loader's order


def data_bytes(path):
    """Size of the data chunk of one of our generated PCM files."""
    with open(path, "rb") as f:
        data = f.read()
    pos = 12
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if tag == b"data":
            return size
        pos += 8 + size + (size & 1)
    raise ValueError("no data chunk in " + path)


class Audio(unittest.TestCase):
    def test_loader_loads_the_effects_and_plays_the_jingle(self):
        with kh.Xvfb() as x, tempfile.TemporaryDirectory() as tmp:
            wav = os.path.join(tmp, "out.wav")
            env = kh.wave_audio_env(x.env(), wav, tmp)
            demo = kh.Demo(kh.BIN_DIR, env)
            try:
                demo.start()
                demo.window()
                self.assertTrue(demo.wait_log("Load SFX   : 98"), demo.log())

                # The jingle has run its course once the device has written
                # half a second of silence after its last loud sample.
                def jingle_done():
                    try:
                        rate, _, frames = kh.read_wave_output(wav)
                    except (OSError, ValueError):
                        return False
                    loud = [i for i, f in enumerate(frames) if abs(f[0]) > 0.01 or abs(f[1]) > 0.01]
                    return bool(loud) and len(frames) - loud[-1] > rate // 2

                self.assertTrue(kh.wait_until(jingle_done, poll=0.5), "the jingle never finished playing")
                self.assertEqual(0, demo.quit())
                texts = demo.log_lines()
                self.assertIn("OpenAL Audio Engaged!", texts)
                self.assertIn("Closing OpenAL Audio", texts)
                audio = os.path.join(demo.root, "Data", "550", "audio")
                for n in EFFECTS:
                    i = texts.index("Load SFX   : %i" % n)
                    size = data_bytes(os.path.join(audio, "%02i.wav" % n))
                    self.assertEqual("     Load %i bytes" % size, texts[i + 1])
                for t in texts:
                    self.assertNotIn("Error Opening Wave", t)
                    self.assertNotIn("Post Error", t)
                    self.assertNotIn("Wave Rejected", t)

                rate, ch, frames = kh.read_wave_output(wav)
                self.assertEqual((44100, 2), (rate, ch))
                loud = [i for i, f in enumerate(frames) if abs(f[0]) > 0.01 or abs(f[1]) > 0.01]
                self.assertTrue(loud, "the device wrote only silence")
                # The jingle is about 1.15 s long and fades out; the move and
                # confirm sounds are not played by the loader.
                span = (loud[-1] - loud[0]) / rate
                self.assertGreater(span, 0.6)
                self.assertLess(span, 1.3)
                peak_l = max(abs(f[0]) for f in frames)
                peak_r = max(abs(f[1]) for f in frames)
                self.assertGreater(min(peak_l, peak_r), 0.1)
                self.assertAlmostEqual(peak_l, peak_r, delta=0.1 * peak_l)
            finally:
                demo.cleanup()


if __name__ == "__main__":
    kh.main()
