#!/usr/bin/python3
"""Writes Modbus RTU reference frames produced by pymodbus, one case a line.

    crc <data hex or -> <crc bytes as sent, low byte first>
    read <function> <slave> <start> <count> <request hex> <answer hex> <registers, comma-separated hex>
    exception <function> <slave> <code> <answer hex>

Numbers are decimal unless named hex. The same seed always gives the same file.
"""

import argparse
import random
import struct
import sys

from pymodbus.factory import ClientDecoder
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.pdu import ExceptionResponse
from pymodbus.register_read_message import (
    ReadHoldingRegistersRequest,
    ReadHoldingRegistersResponse,
    ReadInputRegistersRequest,
    ReadInputRegistersResponse,
)
from pymodbus.utilities import computeCRC

REQUESTS = {3: ReadHoldingRegistersRequest, 4: ReadInputRegistersRequest}
RESPONSES = {3: ReadHoldingRegistersResponse, 4: ReadInputRegistersResponse}


def hex_or_dash(data):
    return data.hex() if data else "-"


def crc_lines(rng, cases):
    # The lengths at both ends come first so they are always covered.
    lengths = [0, 1, 2, 255] + [rng.randint(0, 255) for _ in range(cases - 4)]
    for length in lengths:
        data = bytes(rng.randrange(256) for _ in range(length))
        # computeCRC returns the CRC byte-swapped, ready to be packed big-endian.
        yield f"crc {hex_or_dash(data)} {struct.pack('>H', computeCRC(data)).hex()}"


def read_lines(rng, framer, cases):
    fixed = [(3, 1, 3, 125), (3, 1, 0, 1), (4, 247, 65535, 125), (3, 255, 65535, 1)]
    for i in range(cases):
        if i < len(fixed):
            function, slave, start, count = fixed[i]
        else:
            function = rng.choice((3, 4))
            slave = rng.randint(1, 255)
            start = rng.randint(0, 65535)
            count = rng.randint(1, 125)
        request = framer.buildPacket(REQUESTS[function](start, count, unit=slave))
        values = [rng.randint(0, 65535) for _ in range(count)]
        answer = framer.buildPacket(RESPONSES[function](values, unit=slave))
        registers = ",".join(f"{v:04x}" for v in values)
        yield f"read {function} {slave} {start} {count} {request.hex()} {answer.hex()} {registers}"


def exception_lines(rng, framer, cases):
    for _ in range(cases):
        function = rng.choice((3, 4))
        slave = rng.randint(1, 255)
        code = rng.randint(1, 255)
        answer = framer.buildPacket(ExceptionResponse(function, code, unit=slave))
        yield f"exception {function} {slave} {code} {answer.hex()}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=9)
    parser.add_argument("--cases", type=int, default=3000)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    if args.cases < 8:
        parser.error("--cases must be at least 8")

    rng = random.Random(args.seed)
    framer = ModbusRtuFramer(ClientDecoder())
    with open(args.out, "w", encoding="ascii") as out:
        for line in crc_lines(rng, args.cases):
            print(line, file=out)
        for line in read_lines(rng, framer, args.cases):
            print(line, file=out)
        for line in exception_lines(rng, framer, args.cases // 10):
            print(line, file=out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
