#pragma once

// What the room's summary counts, as the window knows it after a sweep.
struct RoomSummary
{
    int warning = 0;
    int emergency = 0;
    int unconfirmed = 0;
    int commLost = 0; // modules (native mode) or devices (Modbus) without communication
    bool polling = false;
    bool modbusMode = false;
};
