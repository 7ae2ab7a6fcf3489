#pragma once

// True while the operating mode is Modbus; false in the native ОРВИК-x mode.
extern bool modbusMode;

// Shows the given mode everywhere it is displayed (menu title, status labels, settings
// fields, tile grid labels). It does not change modbusMode, start, stop or save anything.
void applyMode(bool modbus);
