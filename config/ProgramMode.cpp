#include "config/ProgramMode.h"

bool modbusMode = false;
