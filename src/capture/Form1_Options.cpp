#include "app/Form1.h"

// The zoom and JPG quality options.

void Form1::Text2_Change() {}

void Form1::HScroll1_Change() {}

void Form1::Slider1_Click() {}
