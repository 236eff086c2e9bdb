"""The Tango device server against the emulator, driven with PyTango as clients would: started
from a file database on a free port as a child that dies with the test."""
import ctypes
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

import tango

SERVER, EMULATOR, CTL = (os.environ[name] for name in ("MONODRV_TANGO", "EMULATOR", "MONODRV_CTL"))


def die_with_parent():
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def until(condition, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return
        time.sleep(0.05)
    raise AssertionError(f"not within {seconds} s: {what}")


class ServerTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="tango")
        self.socket = os.path.join(self.folder, "emu.sock")
        self.emulator = self.start_emulator()
        # A second instrument whose port another program (this test) holds: its lock file
        # names this process, as serial programs agree.
        self.held_socket = os.path.join(self.folder, "held.sock")
        self.held_emulator = self.start_emulator(self.held_socket)
        folder = next(f for f in ("/run/lock", "/var/lock") if os.access(f, os.W_OK))
        self.held = os.path.join(folder, "LCK..block:" + self.held_socket.replace("/", "_"))
        with open(self.held, "w") as f:
            f.write(f"{os.getpid():10d}\n")
        database = os.path.join(self.folder, "server.db")
        with open(database, "w") as f:  # the server rewrites its file: this is our copy
            f.write('monodrv-tango/test/DEVICE/Spectrograph: "lab/spectrograph/1", '
                    '"lab/spectrograph/2"\n'
                    'lab/spectrograph/1->Model: "triax320"\n'
                    f'lab/spectrograph/1->Port: "block:{self.socket}"\n'
                    'lab/spectrograph/1->Grooves: "1200,600"\n'
                    'lab/spectrograph/2->Model: "270m"\n'
                    f'lab/spectrograph/2->Port: "block:{self.held_socket}"\n')
        port = free_port()
        self.server = subprocess.Popen(
            [SERVER, "test", f"-file={database}", "-ORBendPoint", f"giop:tcp:127.0.0.1:{port}"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        self.name = f"tango://127.0.0.1:{port}/lab/spectrograph/1#dbase=no"
        until(self.answers, 15, "the server answers")
        self.device = tango.DeviceProxy(self.name)

    def start_emulator(self, path=None):
        emulator = subprocess.Popen([EMULATOR, "--model", "triax320", "--time-scale", "0.2",
                                     "--block", path or self.socket], stdout=subprocess.PIPE,
                                    text=True,
                                    preexec_fn=die_with_parent)
        self.assertTrue(emulator.stdout.readline().startswith("PORT block:"))
        emulator.stdout.close()
        return emulator

    def answers(self):
        try:  # both devices: the server exports them one after the other
            for device in (self.name, self.name.replace("/1#", "/2#")):
                tango.DeviceProxy(device).ping()
            return True
        except tango.DevFailed:
            return False

    def tearDown(self):
        os.remove(self.held)
        for child in (self.server, self.emulator, self.held_emulator):
            child.terminate()
            child.wait()
        shutil.rmtree(self.folder)

    def test_clients_share_the_instrument(self):
        d = self.device
        held = tango.DeviceProxy(self.name.replace("/1#", "/2#"))
        self.assertEqual(held.state(), tango.DevState.FAULT)
        self.assertIn(f"block:{self.held_socket} is in use by python3 (PID {os.getpid()})",
                      held.status())
        until(lambda: d.state() == tango.DevState.ON, 10, "ON after the start-up")
        states, wavelengths = [], []
        lock = threading.Lock()

        def keep(values):
            def callback(event):
                if not event.err:
                    with lock:
                        values.append(event.attr_value.value)
            return callback
        ids = [d.subscribe_event("State", tango.EventType.CHANGE_EVENT, keep(states)),
               d.subscribe_event("Wavelength", tango.EventType.CHANGE_EVENT, keep(wavelengths))]

        # A move runs beside the clients: a second one reads at once; a write is refused.
        d.write_attribute("Wavelength", 700.0)
        self.assertEqual(d.state(), tango.DevState.MOVING)
        self.assertEqual(d.status(), "moving to 700.0000 nm")
        other = tango.DeviceProxy(self.name)
        start = time.monotonic()
        self.assertTrue(other.Busy)
        self.assertEqual(other.Wavelength, 0.0)
        self.assertLess(time.monotonic() - start, 0.5)
        with self.assertRaisesRegex(tango.DevFailed, "the spectrograph is moving"):
            other.write_attribute("Grating", 2)
        until(lambda: d.state() == tango.DevState.ON, 10, "the move ends")
        self.assertEqual(d.Wavelength, 700.0)
        until(lambda: 700.0 in wavelengths and tango.DevState.MOVING in states and
              states[-1] == tango.DevState.ON, 5, "events: MOVING, the wavelength, then ON")

        # Stop, a grating with its own grooves, a slit, a mirror; what is not there is refused.
        d.write_attribute("Wavelength", 100.0)
        time.sleep(0.2)
        d.Stop()
        until(lambda: d.state() == tango.DevState.ON, 5, "stopped")
        self.assertTrue(100.0 < d.Wavelength < 700.0, d.Wavelength)
        d.write_attribute("Grating", 2)
        until(lambda: d.state() == tango.DevState.ON, 10, "grating selected")
        self.assertEqual(d.Grating, 2)
        d.write_attribute("FrontEntranceSlit", 0.5)
        until(lambda: d.state() == tango.DevState.ON, 10, "slit moved")
        self.assertEqual(d.FrontEntranceSlit, 0.5)
        d.write_attribute("ExitMirror", "side")
        until(lambda: d.state() == tango.DevState.ON, 10, "mirror switched")
        self.assertEqual(d.ExitMirror, "side")
        with self.assertRaisesRegex(tango.DevFailed, "no side entrance slit"):
            d.write_attribute("SideEntranceSlit", 1.0)
        with self.assertRaisesRegex(tango.DevFailed, "above the maximum authorized"):
            d.write_attribute("Grating", 4)
        for event in ids:
            d.unsubscribe_event(event)

        # The server holds the port: the command line beside it is refused, naming it.
        ctl = subprocess.run([CTL, "--port", f"block:{self.socket}", "--model", "triax320",
                              "position"], capture_output=True, text=True)
        self.assertEqual(ctl.returncode, 1)
        self.assertIn(f"is in use by monodrv-tango (PID {self.server.pid})", ctl.stderr)

        # The controller gone: FAULT, saying why; back, and Init: ON.
        self.emulator.terminate()
        self.emulator.wait()
        until(lambda: d.state() == tango.DevState.FAULT, 10, "FAULT without a controller")
        self.assertIn("the controller did not answer", d.status())
        self.emulator = self.start_emulator()
        d.Init()
        until(lambda: d.state() == tango.DevState.ON, 10, "ON after Init")


if __name__ == "__main__":
    unittest.main()
