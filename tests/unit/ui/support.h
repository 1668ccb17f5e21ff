// The run state that the progress window and its texts read, prepared as the main flow does.
#pragma once

#include "app/mainflow.h"
#include "res/resource.h"
#include "tests/unit/support.h"
#include "ui/progressdialog.h"
#include "ui/progresstext.h"

namespace unit_test {

// Done once for the whole executable: the dialog and the string table come from it.
inline void prepareRunState() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    prepareLocks();
    g_mainThreadId = GetCurrentThreadId();
    g_moduleInstance = GetModuleHandleW(nullptr);
    g_resourceModule = g_moduleInstance;
    loadUnitTexts();
    CoInitialize(nullptr);
}

}  // namespace unit_test
