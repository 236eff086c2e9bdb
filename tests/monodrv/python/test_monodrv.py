"""The Python module driving the emulator over a pseudo-terminal."""
import os
import re
import subprocess
import sys
import time
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


class LimitsTest(unittest.TestCase):
    """The Python module's limits are monodrv-ctl's (monodrv/ctl/limits.h)."""

    def test_limits_equal_the_command_line(self):
        path = os.path.join(os.path.dirname(os.path.dirname(os.environ["MONODRV_HEADER"])),
                            "ctl", "limits.h")
        with open(path) as f:
            text = f.read()
        ranges = {m[0]: (float(m[1]), float(m[2])) for m in
                  re.findall(r"Range k(\w+) = \{([-\d.e]+), ([-\d.e]+)\}", text)}
        names = {"Wavelength": "wavelength", "SlitWidth": "slit_width", "Speed": "speed",
                 "Grooves": "grooves", "WaitLimit": "wait_limit", "Dwell": "dwell"}
        self.assertEqual({names[k]: v for k, v in ranges.items()}, monodrv.LIMITS)
        models = {int(getattr(monodrv.SPECTROMETERS, m[1])): (m[0], m[2], float(m[3])) for m in
                  re.findall(r'\{"(\w+)", (\w+), "([^"]+)", ([\d.]+)\}', text)}
        self.assertEqual(models, monodrv.MODELS)
        self.assertEqual(float(re.search(r"kReinitLimit = ([\d.]+)", text)[1]),
                         monodrv.REINIT_LIMIT)
        self.assertEqual(float(re.search(r"kApproachNm = ([\d.]+)", text)[1]), monodrv.APPROACH_NM)


class Emulated(unittest.TestCase):
    """An emulator on a pseudo-terminal, its port opened; motion runs at `scale` of real time."""
    model, fault, scale = "triax320", [], "0.5"

    def setUp(self):
        self.received = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"received{os.getpid()}")
        self.emulator = subprocess.Popen(
            [os.environ["EMULATOR"], "--model", self.model, "--time-scale", self.scale,
             "--received", self.received, *self.fault], stdout=subprocess.PIPE, text=True)
        line = self.emulator.stdout.readline()
        self.emulator.stdout.close()
        self.assertTrue(line.startswith("PORT "), line)
        self.device = line.split()[1]
        self.port = monodrv.open_port(self.device)

    def tearDown(self):
        monodrv.close_port(self.port)
        self.emulator.terminate()
        self.emulator.wait()
        if os.path.exists(self.received):
            os.remove(self.received)

    def bytes_received(self):
        monodrv.close_port(self.port)
        self.emulator.terminate()
        self.emulator.wait()
        with open(self.received) as f:
            return int(f.read())


class SameRulesTest(Emulated):
    """What monodrv-ctl refuses, Python refuses too, before a byte is sent; a port is one
    program's."""
    model = "270m"

    def test_python_and_command_line_refuse_the_same(self):
        spex = monodrv.SPECTROMETERS.SPEX_270M
        cases = [
            ("slit 0 500", lambda s: s.move_slit(0, 500.0)),
            ("slit 4 0.5", lambda s: s.move_slit(4, 0.5)),
            ("slit 0 -1", lambda s: s.move_slit(0, -1)),
            ("grating 3", lambda s: s.select_grating(3)),  # a 270M has two
            ("grating 0", lambda s: s.select_grating(0)),
            ("goto inf", lambda s: s.move_to(float("inf"))),
            ("goto nan", lambda s: s.move_to(float("nan"))),
            ("goto 1e300", lambda s: s.move_to(1e300)),
            ("mirror 3 1", lambda s: s.set_mirror(3, 1)),
            ("mirror 1 0", lambda s: s.set_mirror(1, 0)),
            ("set-speeds 500,100,300", lambda s: s.set_speeds(500, 100, 300)),
            ("set-speeds -1,100,300", lambda s: s.set_speeds(-1, 100, 300)),
            ("scan 500 400 0", lambda s: list(s.scan(500, 400, 0))),
            ("--grooves 1200,600,300 position",
             lambda s: monodrv.Spectrograph(spex, self.port, grooves=[1200, 600, 300])),
            ("--grooves 0 position", lambda s: monodrv.Spectrograph(spex, self.port, grooves=[0])),
        ]
        with monodrv.Spectrograph(spex, self.port) as s:
            for words, call in cases:
                with self.subTest(words):
                    with self.assertRaises(ValueError):
                        call(s)
                    ctl = subprocess.run([os.environ["MONODRV_CTL"], "--port", "/dev/null",
                                          "--model", "270m", *words.split()],
                                         capture_output=True, text=True)
                    self.assertEqual(ctl.returncode, 2, ctl.stderr)
        self.assertEqual(self.bytes_received(), 0)

    def test_a_second_program_is_refused_naming_the_holder(self):
        ctl = subprocess.run([os.environ["MONODRV_CTL"], "--port", self.device, "--model", "270m",
                              "position"], capture_output=True, text=True)
        self.assertEqual(ctl.returncode, 1)
        self.assertIn(f"{self.device} is in use by ", ctl.stderr)
        self.assertIn(f"(PID {os.getpid()})", ctl.stderr)
        with self.assertRaisesRegex(OSError, "already open in this program"):
            monodrv.open_port(self.device)
        self.assertEqual(self.bytes_received(), 0)


class EmulatorTest(Emulated):

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


    def test_a_failed_operation_leaves_the_instance_as_it_was(self):
        with monodrv.Spectrograph(monodrv.SPECTROMETERS.TRIAX_320, self.port) as s:
            s.initialize()
            self.assertEqual(s.move_to(500.0), 500.0)
            self.emulator.terminate()  # the cable is pulled
            self.emulator.wait()
            with self.assertRaisesRegex(monodrv.OperationFailed,
                                        "selecting grating 2 failed: the controller did not "
                                        "answer or refused the command"):
                s.select_grating(2)
            self.assertEqual(s.get_ulong(monodrv.SPECT_PARAMETERS.SPECT_PARAM_GRATING), 0)

    def test_scan_stop_and_speeds(self):
        with monodrv.Spectrograph(monodrv.SPECTROMETERS.TRIAX_320, self.port) as s:
            s.initialize()
            s.move_to(503.0)
            steps = list(s.scan(502.0, 500.0, 1.0))  # downward: each approached from below
            self.assertEqual([(t, a) for t, a, _ in steps], [(502.0, 502.0), (501.0, 501.0),
                                                             (500.0, 500.0)])
            self.assertEqual(s.set_speeds(50, 90000, 70000), (100, 80000, 65535))
            self.assertEqual(s.speeds(), (100, 80000, 65535))
            s.move_to(900.0, wait=False)
            time.sleep(0.3)
            stopped = s.stop()
            self.assertTrue(500.0 < stopped < 900.0, stopped)
            self.assertEqual(s.busy(), monodrv.SPECT_BUSY_STATUS.SPECT_BUSY_READY)


class StuckControllerTest(EmulatorTest):
    """A move that never ends fails within the limit."""
    fault = ["--fault", "stuck"]

    def test_move_read_back_and_enumerations(self):
        pass

    def test_scan_stop_and_speeds(self):
        pass

    def test_a_failed_operation_leaves_the_instance_as_it_was(self):
        pass

    def test_moves_wait_for_their_end(self):
        with monodrv.Spectrograph(monodrv.SPECTROMETERS.TRIAX_320, self.port,
                                  wait_limit=0.5) as s:
            s.initialize()
            with self.assertRaises(monodrv.MoveTimedOut):
                s.move_to(500.0)


if __name__ == "__main__":
    unittest.main()
