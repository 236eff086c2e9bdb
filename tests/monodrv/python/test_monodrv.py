"""The Python module driving the emulator over a pseudo-terminal."""
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.environ["MONODRV_PYTHON"])
import monodrv  # noqa: E402


class HeaderNamesTest(unittest.TestCase):
    """Every enumeration of monodrv.h has a Python twin with the same names and values."""

    def test_python_names_equal_the_header(self):
        with open(os.environ["MONODRV_HEADER"]) as f:
            header = f.read()
        blocks = re.findall(r"typedef enum (\w+) \{(.*?)\} \1;", header, re.S)
        self.assertGreaterEqual(len(blocks), 12)
        for name, body in blocks:
            body = re.sub(r"/\*.*?\*/", "", body, flags=re.S)
            expected = {n: int(v, 0) for n, v in re.findall(r"(\w+) = (-?\w+)", body)}
            python = {m.name: int(m.value) for m in getattr(monodrv, name)}
            self.assertEqual(python, expected, name)

    def test_type_library_table_equals_the_header(self):
        """The five enumerations the type library publishes (enumerations.inc, otherwise read
        back only under Wine) hold exactly the header's names and values, in its order."""
        header_path = os.environ["MONODRV_HEADER"]
        table = os.path.join(os.path.dirname(os.path.dirname(header_path)), "registration",
                             "enumerations.inc")
        with open(header_path) as f:
            header = f.read()
        with open(table) as f:
            published = {}
            for line in f:
                if m := re.match(r"MONODRV_ENUM\((\w+)\)", line):
                    current = published.setdefault(m.group(1), [])
                elif m := re.match(r'MONODRV_CONST\((\w+), (-?\d+), "[^"]+"\)', line):
                    current.append((m.group(1), int(m.group(2))))
        self.assertEqual(list(published), ["SPECTROMETERS", "MIRRORLOCATIONS",
                                           "MIRRORPOSITIONS", "SLITLOCATIONS", "MANUFACTURERS"])
        for name, constants in published.items():
            body = re.search(r"typedef enum %s \{(.*?)\} %s;" % (name, name), header, re.S)
            self.assertIsNotNone(body, name)
            text = re.sub(r"/\*.*?\*/", "", body.group(1), flags=re.S)
            expected = [(n, int(v, 0)) for n, v in re.findall(r"(\w+) = (-?\w+)", text)]
            self.assertEqual(constants, expected, name)


class EmulatorTest(unittest.TestCase):
    fault = []

    def setUp(self):
        self.emulator = subprocess.Popen([os.environ["EMULATOR"], "--model", "triax320", "--time-scale", "0.5",
                                          *self.fault], stdout=subprocess.PIPE, text=True)
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
            self.assertEqual(s.enum_text(monodrv.SPECT_PARAMETERS.SPECT_PARAM_SPECTROMETER,
                                         monodrv.SPECTROMETERS.TRIAX_320), "TRIAX 320")
            self.assertEqual(int(monodrv.MIRRORLOCATIONS.MIR_LOC_EXIT), 2)
            with self.assertRaises(monodrv.OperationFailed):
                s.set_mirror(3, 1)  # not a mirror location: error code 11
            with self.assertRaises(ValueError):
                s.process(7)


    def test_moves_wait_for_their_end(self):
        with monodrv.Spectrograph(monodrv.SPECTROMETERS.TRIAX_320, self.port) as s:
            s.initialize()
            s.move_to(900.0, wait=False)  # a long move: still busy when it returns
            self.assertEqual(s.busy(), monodrv.SPECT_BUSY_STATUS.SPECT_BUSY_BUSY)
            s.move_to(100.0)
            self.assertEqual(s.busy(), monodrv.SPECT_BUSY_STATUS.SPECT_BUSY_READY)
            s.reinitialize()
            self.assertEqual(s.busy(), monodrv.SPECT_BUSY_STATUS.SPECT_BUSY_READY)


class StuckControllerTest(EmulatorTest):
    """A move that never ends fails within the limit."""
    fault = ["--fault", "stuck"]

    def test_move_read_back_and_enumerations(self):
        pass

    def test_moves_wait_for_their_end(self):
        with monodrv.Spectrograph(monodrv.SPECTROMETERS.TRIAX_320, self.port,
                                  wait_limit=0.5) as s:
            s.initialize()
            with self.assertRaises(monodrv.MoveTimedOut):
                s.move_to(500.0)


if __name__ == "__main__":
    unittest.main()
