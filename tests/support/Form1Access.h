#pragma once

#include "app/Form1.h"

#include <QCloseEvent>

// Reaches the window's close handling as the platform does.
class Form1Access
{
public:
    static void close(Form1& form)
    {
        QCloseEvent event;
        form.closeEvent(&event);
    }
};
