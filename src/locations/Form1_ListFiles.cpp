#include "app/Form1.h"
#include "app/Guard.h"

// Loading locations from list files.

void Form1::PushButton3_Click() {}
