#include "app/Form1.h"
#include "app/Guard.h"

// The capture run: every location of the list becomes a JPG file in the output folder.

void Form1::PushButton17_Click() {}
