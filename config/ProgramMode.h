#pragma once

// True while the operating mode is Modbus; false in the native ОРВИК-x mode. The one value
// for the whole program, loaded and saved with the settings record.
extern bool modbusMode;
