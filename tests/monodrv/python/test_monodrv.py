"""The Python module driving the emulator over a pseudo-terminal."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.environ["MONODRV_PYTHON"])
import monodrv  # noqa: E402


class EmulatorTest(unittest.TestCase):
    def setUp(self):
        self.emulator = subprocess.Popen([os.environ["EMULATOR"], "--model", "triax320"],
                                         stdout=subprocess.PIPE, text=True)
        line = self.emulator.stdout.readline()
        self.assertTrue(line.startswith("PORT "), line)
        self.port = monodrv.open_port(line.split()[1])

    def tearDown(self):
        monodrv.close_port(self.port)
        self.emulator.terminate()
        self.emulator.wait()

    def test_move_read_back_and_enumerations(self):
        with monodrv.Spectrograph(monodrv.SPECTROMETERS.TRIAX_320, self.port) as s:
            s.initialize()
            s.move_to(500.0)
            s.select_grating(2)
            position = s.position()
            self.assertEqual(position["wavelength"], 500.0)
            self.assertEqual(position["grating"], 2)
            self.assertEqual(position["slits"][monodrv.SLITLOCATIONS.SLIT_LOC_FR_ENTR], 5.0)
            self.assertEqual(s.enum_text(1, monodrv.SPECTROMETERS.TRIAX_320), "TRIAX 320")
            self.assertEqual(int(monodrv.MIRRORLOCATIONS.MIR_LOC_EXIT), 2)
            with self.assertRaises(monodrv.OperationFailed):
                s.set_mirror(3, 1)  # not a mirror location: error code 11
            with self.assertRaises(ValueError):
                s.process(7)


if __name__ == "__main__":
    unittest.main()
