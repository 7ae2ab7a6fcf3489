#!/usr/bin/python3
# Modbus RTU frames built by pymodbus for a seed and a number of cases, one a line:
#   crc <data hex or -> <crc as sent>;  read <function> <slave> <start> <count> <request> <answer> <registers>
import random
import struct
import sys

from pymodbus.factory import ClientDecoder
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.register_read_message import (ReadHoldingRegistersRequest, ReadHoldingRegistersResponse,
                                            ReadInputRegistersRequest, ReadInputRegistersResponse)
from pymodbus.utilities import computeCRC

MESSAGES = {3: (ReadHoldingRegistersRequest, ReadHoldingRegistersResponse),
            4: (ReadInputRegistersRequest, ReadInputRegistersResponse)}
rng = random.Random(int(sys.argv[1]))
cases = int(sys.argv[2])
framer = ModbusRtuFramer(ClientDecoder())
# The ends of each range come first so they are always covered.
for length in [0, 1, 2, 255] + [rng.randint(0, 255) for _ in range(cases - 4)]:
    data = bytes(rng.randrange(256) for _ in range(length))
    # computeCRC returns the CRC byte-swapped, ready to be packed big-endian.
    print("crc", data.hex() or "-", struct.pack(">H", computeCRC(data)).hex())
fixed = [(3, 1, 3, 125), (3, 1, 0, 1), (4, 247, 65535, 125), (3, 255, 65535, 1)]
for i in range(cases):
    function, slave, start, count = fixed[i] if i < len(fixed) else (
        rng.choice((3, 4)), rng.randint(1, 255), rng.randint(0, 65535), rng.randint(1, 125))
    values = [rng.randint(0, 65535) for _ in range(count)]
    request = framer.buildPacket(MESSAGES[function][0](start, count, unit=slave))
    answer = framer.buildPacket(MESSAGES[function][1](values, unit=slave))
    print("read", function, slave, start, count, request.hex(), answer.hex(), ",".join(f"{v:04x}" for v in values))
