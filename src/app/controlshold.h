#pragma once

#include "data/table.h"
#include "data/errors.h"

#include <QtGlobal>

// Runs work with the cursor's controls held (DisableControls), so that the
// grids bound to it neither follow nor repaint its many moves, and releases
// them on every way out, failures included, before the error travels on to
// the box that shows it.
template <typename Work>
void withControlsDisabled(Table &table, Work &&work)
{
    table.DisableControls();
    try {
        work();
    } catch (...) {
        try {
            table.EnableControls();
        } catch (const SystemError &e) {
            // The first error is the one the user must see.
            qWarning("%s", e.what());
        }
        throw;
    }
    table.EnableControls();
}
