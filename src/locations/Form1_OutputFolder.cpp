#include "app/Form1.h"
#include "app/Guard.h"

// Choosing the output folder.

void Form1::PushButton2_Click() {}

void Form1::Text1_Change() {}
