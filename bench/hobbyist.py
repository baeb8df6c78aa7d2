#!/usr/bin/env python3
# Stop the robot when it bumps into something: the short script a hobbyist writes with
# pyserial instead of using the console. Measured against it, not tuned.
#
#   hobbyist.py PORT_PATH BUMPS
import sys
import time

import serial

port = serial.Serial(sys.argv[1], 57600, timeout=1)
bumps_wanted = int(sys.argv[2])
port.write(bytes([128, 130]))  # Start, Control

bumps = 0
while bumps < bumps_wanted:
    port.write(bytes([142, 0]))  # all sensors
    data = port.read(26)
    if len(data) == 26 and data[0] & 3:  # a bumper
        port.write(bytes([137, 0, 0, 0, 0]))  # stop
        bumps += 1
    time.sleep(0.25)
port.close()
