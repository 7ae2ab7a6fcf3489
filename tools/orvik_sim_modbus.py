"""Simulator of up to six Modbus RTU measuring devices (128 channels each) on one pseudo-terminal.

Started as `orvik-sim --modbus`. Prints the path of the pty's slave side on its first line of
output; point the monitor at it with --port. Requests are decoded and answers encoded by
pymodbus (RTU framer, server decoder, one slave context per address); this file owns the line:
it paces every byte like the wire (11 bits at 19200 baud) and puts faults in front of the
answers. A pty carries no parity bit, so only the bytes count.

Holding registers of every device (function 3):
  3..130    voltage of channel 0..127 in 0.01 V      131..258  temperature in 0.1 degC
  259       measurement counter                       0 with 2550: channel has no measurement

Faults can be given at start or sent at run time, one command a line, to the --control FIFO
(A: address, list, range or all; C: channel, list, range or all):
  silent A | bad-crc A | exception A [CODE] | split A [PIECES [GAP_MS]] | slow A [MS_PER_BYTE]
  late A [MS] | garbage A [BYTES] | echo A | wrong-address A | wrong-function A | answer A
  drift A C [volt|temp] | no-measurement A C | set A C VOLT_RAW TEMP_RAW | steady A C
  vanish [SECONDS] | return | quit
  silent-for A SECONDS (silent, then answering again) | move-all VOLTS [DEGREES] (every channel
  moves by this much from its own level, all together; move-all 0 0 brings them back)
"""
import argparse
import logging
import os
import random
import select
import signal
import stat
import sys
import termios
import time
import tty

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.factory import ServerDecoder
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.pdu import ModbusExceptions
from pymodbus.utilities import computeCRC

BAUD = 19200
BITS_PER_BYTE = 11  # start, 8 data, parity, stop
BYTE_TIME = BITS_PER_BYTE / BAUD
MAX_DEVICES = 6
CHANNELS = 128
FIRST_VOLTAGE = 3
FIRST_TEMPERATURE = FIRST_VOLTAGE + CHANNELS
COUNTER = FIRST_TEMPERATURE + CHANNELS
REGISTERS = COUNTER + 3  # registers 0..261
NO_VOLTAGE, NO_TEMPERATURE = 0, 2550

# Fault name -> names of its parameters, in the order a control command gives them.
FAULTS = {
    "silent": (),
    "bad-crc": (),
    "exception": ("exception_code",),
    "split": ("split_pieces", "split_gap"),
    "slow": ("slow_byte",),
    "late": ("late_by",),
    "garbage": ("garbage_bytes",),
    "echo": (),
    "wrong-address": (),
    "wrong-function": (),
}


def log(text):
    print("orvik-sim: " + text, file=sys.stderr, flush=True)


def number_list(text, low, high, what):
    """'all', a number, or a comma list of numbers and ranges (3,5-7) within low..high."""
    if text == "all":
        return list(range(low, high + 1))
    result = []
    for part in text.split(","):
        if "-" in part:
            first, last = part.split("-", 1)
            result.extend(range(int(first), int(last) + 1))
        elif part:
            result.append(int(part))
    if not result:
        raise ValueError("no %s given" % what)
    for n in result:
        if not low <= n <= high:
            raise ValueError("%s %d is not %d..%d" % (what, n, low, high))
    return result


def channel_list(text):
    return number_list(text, 0, CHANNELS - 1, "channel")


def with_crc(frame):
    frame = bytearray(frame[:-2])
    crc = computeCRC(bytes(frame))
    frame += bytes([crc >> 8, crc & 0xFF])  # pymodbus gives the CRC with its bytes swapped
    return frame


class Channel:
    def __init__(self, rng, volts, degrees):
        self.base_volts = volts + rng.uniform(-0.15, 0.15)
        self.base_degrees = degrees + rng.uniform(-1.0, 1.0)
        self.volt_offset = 0.0
        self.degree_offset = 0.0
        self.drift = None  # "volt" or "temp"
        self.fixed = None  # (voltage register, temperature register)
        self.unmeasured = False

    def steady(self):
        self.drift, self.fixed, self.unmeasured = None, None, False
        self.volt_offset = self.degree_offset = 0.0


class Device:
    """One measuring device: its channels and the pymodbus slave context that holds its registers."""

    def __init__(self, address, rng, args):
        self.address = address
        self.args = args
        self.rng = rng
        volts = args.volts + rng.uniform(-0.4, 0.4)
        degrees = args.temperature + rng.uniform(-2.0, 2.0)
        self.channels = [Channel(rng, volts, degrees) for _ in range(CHANNELS)]
        self.shared = (0.0, 0.0)  # "move-all": volts and degrees added to every channel
        self.holding = ModbusSequentialDataBlock(0, [0] * REGISTERS)
        # The device has holding registers only; the other tables hold a single zero.
        self.context = ModbusSlaveContext(
            hr=self.holding,
            ir=ModbusSequentialDataBlock(0, [0]),
            di=ModbusSequentialDataBlock(0, [0]),
            co=ModbusSequentialDataBlock(0, [0]),
            zero_mode=True,  # without it pymodbus shifts every address by one
        )
        self.fault = None  # (name, parameters)
        self.measured_at = None
        self.measurements = 0

    def measure(self, now):
        """A fresh measurement of all channels, at most once per period."""
        if self.measured_at is not None and now - self.measured_at < self.args.period:
            return
        self.measured_at = now
        self.measurements += 1
        a = self.args
        volts, degrees = [], []
        for c in self.channels:
            if c.drift == "volt":
                c.volt_offset = min(c.volt_offset + a.drift_step, a.drift_max)
            elif c.drift == "temp":
                c.degree_offset = min(c.degree_offset + 10 * a.drift_step, 10 * a.drift_max)
            if c.unmeasured:
                u, t = NO_VOLTAGE, NO_TEMPERATURE
            elif c.fixed is not None:
                u, t = c.fixed
            else:
                v = c.base_volts + self.shared[0] + c.volt_offset + self.rng.gauss(0.0, a.noise)
                d = c.base_degrees + self.shared[1] + c.degree_offset + self.rng.gauss(0.0, 0.2)
                u = max(1, min(0xFFFF, int(round(v * 100))))
                t = max(0, min(0xFFFF, int(round(d * 10))))
            volts.append(u)
            degrees.append(t)
        self.holding.setValues(FIRST_VOLTAGE, volts + degrees + [self.measurements & 0xFFFF])


class ModbusSimulator:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.devices = {a: Device(a, self.rng, args) for a in args.addresses}
        self.context = ModbusServerContext(slaves={a: d.context for a, d in self.devices.items()}, single=False)
        self.framer = ModbusRtuFramer(ServerDecoder())
        for fault in FAULTS:
            for a in getattr(args, fault.replace("-", "_")) or []:
                self.set_fault(a, fault, [])
        for spec in args.drift or []:
            parts = spec.split(":")
            for c in self.channels(parts[0], parts[1]):
                c.drift = parts[2] if len(parts) > 2 else "volt"
        for spec in args.no_measurement or []:
            parts = spec.split(":")
            for c in self.channels(parts[0], parts[1]):
                c.unmeasured = True
        for spec in args.set or []:
            parts = spec.split(":")
            for c in self.channels(parts[0], parts[1]):
                c.fixed = (int(parts[2]), int(parts[3]))
        self.master = self.slave = None
        self.control = None
        self.control_buffer = b""
        self.outgoing = []  # (due, byte), in order
        self.line_free_at = 0.0
        self.last_byte_at = 0.0
        self.vanish_at = time.monotonic() + args.vanish_after if args.vanish_after is not None else None
        self.return_at = None
        self.answer_again = {}  # address: when a "silent-for" ends
        self.running = True
        self.answers = 0

    # --- configuration ----------------------------------------------------------------------
    def address_list(self, text):
        served = sorted(self.devices)
        if text == "all":
            return served
        result = number_list(text, 1, 247, "address")
        for a in result:
            if a not in self.devices:
                raise ValueError("address %d is not served (%s)" % (a, ",".join(map(str, served))))
        return result

    def channels(self, addresses, channels):
        return [self.devices[a].channels[c] for a in self.address_list(addresses) for c in channel_list(channels)]

    def set_fault(self, address, name, words):
        names = FAULTS[name]
        if len(words) > len(names):
            raise ValueError("%s takes at most %d parameters" % (name, len(names)))
        params = [float(w) for w in words] + [float(getattr(self.args, n)) for n in names[len(words):]]
        self.devices[address].fault = (name, params)

    # --- the line ---------------------------------------------------------------------------
    def open_line(self):
        self.master, self.slave = os.openpty()
        # The simulator keeps the slave open too, so the master never sees a hang-up when the
        # monitor closes its side.
        tty.setraw(self.slave)
        attrs = termios.tcgetattr(self.slave)
        attrs[4] = attrs[5] = termios.B19200
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        os.set_blocking(self.master, False)
        path = os.ttyname(self.slave)
        if self.args.link:
            tmp = self.args.link + ".new"
            if os.path.lexists(tmp):
                os.unlink(tmp)
            os.symlink(path, tmp)
            os.replace(tmp, self.args.link)
        print(path, flush=True)
        served = ",".join(str(a) for a in sorted(self.devices))
        log("modbus devices %s on %s" % (served, path) + (" (link %s)" % self.args.link if self.args.link else ""))

    def close_line(self):
        # The device node goes with the line, as a pulled adapter's does: a client that
        # follows the link meanwhile must not reach whichever pty gets the number next.
        if self.args.link and os.path.islink(self.args.link):
            os.unlink(self.args.link)
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None
        self.outgoing.clear()
        self.framer.resetFrame()

    def vanish(self, seconds=None):
        if self.master is None:
            return
        log("line vanishes" + ("; back in %.1f s" % seconds if seconds is not None else ""))
        self.close_line()
        self.return_at = time.monotonic() + seconds if seconds is not None else None

    # --- requests and answers ---------------------------------------------------------------
    def on_request(self, request, received_at, raw):
        device = self.devices[request.unit_id]
        fault, params = device.fault or (None, [])
        if fault == "silent":
            return
        if fault == "exception":
            answer = request.doException(int(params[0]))
        else:
            device.measure(received_at)
            try:
                answer = request.execute(device.context)
            except Exception as error:  # pylint: disable=broad-except
                log("request %s failed: %s" % (raw.hex(" "), error))
                answer = request.doException(ModbusExceptions.SlaveFailure)
        answer.unit_id = request.unit_id
        frame = bytearray(self.framer.buildPacket(answer))
        self.answers += 1

        interval = BYTE_TIME
        # On the wire the request has only fully arrived once its last byte is in.
        start = received_at + len(raw) * BYTE_TIME + self.args.turnaround / 1000.0
        gaps = {}
        if fault == "bad-crc":
            frame[-1] ^= 0xA5
        elif fault == "wrong-address":
            frame[0] = frame[0] % 247 + 1
            frame = with_crc(frame)
        elif fault == "wrong-function":
            frame[1] ^= 0x07  # 03 -> 04, 83 -> 84
            frame = with_crc(frame)
        elif fault == "split":
            pieces = max(1, min(len(frame), int(params[0])))
            for k in range(1, pieces):
                gaps[len(frame) * k // pieces] = params[1] / 1000.0
        elif fault == "slow":
            interval = max(BYTE_TIME, params[0] / 1000.0)
        elif fault == "late":
            start = received_at + len(raw) * BYTE_TIME + params[0] / 1000.0
        elif fault == "garbage":
            count = int(params[0])
            frame = bytearray(self.rng.randrange(256) for _ in range(count)) + frame
        elif fault == "echo":
            # An adapter without echo suppression hands the request back as it goes out.
            self.send(raw, received_at, BYTE_TIME, {})
        self.send(frame, start, interval, gaps)

    def send(self, data, start, interval, gaps):
        """Queues data so each byte is handed over once its eleven bits would be on the line."""
        now = time.monotonic()
        if self.args.no_pacing:
            start, interval, gaps = now, 0.0, {}
        due = max(start, self.line_free_at, now)
        for i, byte in enumerate(data):
            due += gaps.get(i, 0.0) + interval
            self.outgoing.append((due, byte))
        self.line_free_at = due

    def write_due(self, now):
        count = 0
        while count < len(self.outgoing) and self.outgoing[count][0] <= now:
            count += 1
        if not count:
            return
        data = bytes(b for _, b in self.outgoing[:count])
        try:
            written = os.write(self.master, data)
        except BlockingIOError:
            written = 0
        if written:
            # What did not fit goes out with the next bytes.
            del self.outgoing[:written]
        else:
            del self.outgoing[:count]
            log("nobody reads the line; %d bytes dropped" % count)

    def on_bytes(self, data, now):
        # A gap in the request stream ends whatever frame was begun (RTU's silent interval,
        # widened so a pty's scheduling never splits a request).
        if now - self.last_byte_at > self.args.frame_gap / 1000.0:
            self.framer.resetFrame()
        self.last_byte_at = now
        requests = []
        try:
            self.framer.processIncomingPacket(
                data, requests.append, unit=sorted(self.devices), single=False)
        except Exception as error:  # pylint: disable=broad-except
            log("unreadable request %s: %s" % (data.hex(" "), error))
            self.framer.resetFrame()
        for request in requests:
            raw = self.framer.buildPacket(request)
            self.on_request(request, now, raw)

    # --- control ----------------------------------------------------------------------------
    def command(self, line):
        words = line.split()
        if not words:
            return
        try:
            verb = words[0]
            if verb in FAULTS:
                for a in self.address_list(words[1]):
                    self.set_fault(a, verb, words[2:])
            elif verb == "silent-for":
                seconds = float(words[2])
                if not seconds > 0:
                    raise ValueError("seconds must be positive")
                for a in self.address_list(words[1]):
                    self.set_fault(a, "silent", [])
                    self.answer_again[a] = time.monotonic() + seconds
            elif verb == "move-all":
                shared = (float(words[1]), float(words[2]) if len(words) > 2 else 0.0)
                for device in self.devices.values():
                    device.shared = shared
            elif verb == "answer":
                for a in self.address_list(words[1]):
                    self.devices[a].fault = None
            elif verb == "drift":
                kind = words[3] if len(words) > 3 else "volt"
                if kind not in ("volt", "temp"):
                    raise ValueError("drift is volt or temp")
                for c in self.channels(words[1], words[2]):
                    c.drift = kind
            elif verb == "no-measurement":
                for c in self.channels(words[1], words[2]):
                    c.unmeasured = True
            elif verb == "set":
                values = (int(words[3]), int(words[4]))
                if not all(0 <= v <= 0xFFFF for v in values):
                    raise ValueError("register values are 0..65535")
                for c in self.channels(words[1], words[2]):
                    c.fixed = values
            elif verb == "steady":
                for c in self.channels(words[1], words[2]):
                    c.steady()
            elif verb == "vanish":
                self.vanish(float(words[1]) if len(words) > 1 else None)
            elif verb == "return":
                if self.master is None:
                    self.return_at = None
                    self.open_line()
            elif verb == "quit":
                self.running = False
            else:
                raise ValueError("unknown command")
            # A changed channel shows in the very next answer.
            for device in self.devices.values():
                device.measured_at = None
            log("done: " + line.strip())
        except (IndexError, ValueError) as error:
            log("refused %r: %s" % (line.strip(), error))

    def open_control(self):
        path = self.args.control
        if os.path.exists(path) and not stat.S_ISFIFO(os.stat(path).st_mode):
            raise SystemExit("orvik-sim: %s exists and is not a FIFO" % path)
        if not os.path.exists(path):
            os.mkfifo(path, 0o600)
        # Held open for writing too, so the FIFO never reads as ended between writers.
        self.control = os.open(path, os.O_RDWR | os.O_NONBLOCK)

    def read_control(self):
        self.control_buffer += os.read(self.control, 4096)
        while b"\n" in self.control_buffer:
            line, self.control_buffer = self.control_buffer.split(b"\n", 1)
            self.command(line.decode("utf-8", "replace"))

    # --- main loop --------------------------------------------------------------------------
    def run(self):
        if self.args.control:
            self.open_control()
        self.open_line()
        while self.running:
            now = time.monotonic()
            if self.vanish_at is not None and now >= self.vanish_at:
                self.vanish_at = None
                self.vanish(self.args.return_after)
            if self.return_at is not None and now >= self.return_at:
                self.return_at = None
                self.open_line()
            for a, due in list(self.answer_again.items()):
                if now >= due:
                    del self.answer_again[a]
                    if self.devices[a].fault and self.devices[a].fault[0] == "silent":
                        self.devices[a].fault = None
                        log("address %d answers again" % a)
            if self.master is not None:
                self.write_due(now)
            timeout = 0.05
            if self.outgoing:
                timeout = max(0.0, min(timeout, self.outgoing[0][0] - time.monotonic()))
            watched = [fd for fd in (self.master, self.control) if fd is not None]
            ready, _, _ = select.select(watched, [], [], timeout)
            if self.control is not None and self.control in ready:
                self.read_control()
            if self.master is not None and self.master in ready:
                try:
                    data = os.read(self.master, 512)
                except (BlockingIOError, OSError):
                    data = b""
                if data:
                    self.on_bytes(data, time.monotonic())

    def cleanup(self):
        self.close_line()
        if self.control is not None:
            os.close(self.control)
            os.unlink(self.args.control)


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="orvik-sim --modbus", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--addresses", default="1-6", metavar="A",
                        help="slave addresses served, at most six (default 1-6)")
    for fault in FAULTS:
        parser.add_argument("--" + fault, metavar="A", help="devices with this fault")
    parser.add_argument("--exception-code", type=int, default=4, help="exception code sent (default 4)")
    parser.add_argument("--split-pieces", type=int, default=3, help="pieces of a split answer (default 3)")
    parser.add_argument("--split-gap", type=float, default=25.0, help="ms between pieces (default 25)")
    parser.add_argument("--slow-byte", type=float, default=1.0, help="ms per byte of a slow answer (default 1)")
    parser.add_argument("--late-by", type=float, default=450.0, help="ms before a late answer (default 450)")
    parser.add_argument("--garbage-bytes", type=int, default=6, help="bytes of garbage (default 6)")
    parser.add_argument("--drift", action="append", metavar="A:C[:volt|temp]",
                        help="channels C of devices A drift away from the others (repeatable)")
    parser.add_argument("--drift-step", type=float, default=0.05, help="volts added per measurement (default 0.05)")
    parser.add_argument("--drift-max", type=float, default=2.0, help="largest drift in volts (default 2.0)")
    parser.add_argument("--no-measurement", action="append", metavar="A:C",
                        help="channels C of devices A report no measurement, 0 and 2550 (repeatable)")
    parser.add_argument("--set", action="append", metavar="A:C:U:T",
                        help="channels C of devices A hold registers U and T exactly (repeatable)")
    parser.add_argument("--volts", type=float, default=12.8, help="mean battery voltage (default 12.8)")
    parser.add_argument("--temperature", type=float, default=24.0, help="mean temperature (default 24)")
    parser.add_argument("--noise", type=float, default=0.01, help="voltage noise, volts (default 0.01)")
    parser.add_argument("--period", type=float, default=1.0, help="seconds between measurements (default 1)")
    parser.add_argument("--turnaround", type=float, default=2.0, help="device reply delay, ms (default 2)")
    parser.add_argument("--frame-gap", type=float, default=20.0,
                        help="ms of silence that ends a partial request (default 20)")
    parser.add_argument("--no-pacing", action="store_true", help="answer at once, without wire timing")
    parser.add_argument("--vanish-after", type=float, metavar="S", help="close the line after S seconds")
    parser.add_argument("--return-after", type=float, metavar="S", help="reopen S seconds after vanishing")
    parser.add_argument("--link", metavar="PATH", help="keep a symbolic link to the slave side at PATH")
    parser.add_argument("--control", metavar="FIFO", help="read fault commands from this FIFO")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    args = parser.parse_args(argv)
    try:
        args.addresses = sorted(set(number_list(args.addresses, 1, 247, "address")))
        if len(args.addresses) > MAX_DEVICES:
            raise ValueError("at most %d addresses" % MAX_DEVICES)
        for fault in FAULTS:
            attr = fault.replace("-", "_")
            if getattr(args, attr) is not None:
                text = getattr(args, attr)
                chosen = args.addresses if text == "all" else number_list(text, 1, 247, "address")
                if not set(chosen) <= set(args.addresses):
                    raise ValueError("--%s names an address that is not served" % fault)
                setattr(args, attr, chosen)
        for option, fields in (("drift", (2, 3)), ("no_measurement", (2, 2)), ("set", (4, 4))):
            for spec in getattr(args, option) or []:
                parts = spec.split(":")
                if not fields[0] <= len(parts) <= fields[1]:
                    raise ValueError("--%s %s: wrong number of fields" % (option.replace("_", "-"), spec))
                chosen = args.addresses if parts[0] == "all" else number_list(parts[0], 1, 247, "address")
                if not set(chosen) <= set(args.addresses):
                    raise ValueError("--%s %s names an address that is not served" % (option, spec))
                channel_list(parts[1])
                if option == "drift" and len(parts) == 3 and parts[2] not in ("volt", "temp"):
                    raise ValueError("--drift %s: volt or temp" % spec)
                if option == "set" and not all(0 <= int(p) <= 0xFFFF for p in parts[2:]):
                    raise ValueError("--set %s: register values are 0..65535" % spec)
    except ValueError as error:
        parser.error(str(error))
    return args


def main(argv):
    args = parse_args(argv)
    # pymodbus reports every exception answer it builds as an error; the faults here are wanted.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    simulator = ModbusSimulator(args)

    def stop(signum, frame):  # pylint: disable=unused-argument
        simulator.running = False

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        simulator.run()
    finally:
        simulator.cleanup()
        log("stopped after %d answers" % simulator.answers)
