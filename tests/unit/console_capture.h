// Captures what the tool prints, for comparing whole outputs.
#pragma once

#include "console/console.h"

#include <gtest/gtest.h>
#include <string>

inline void BeginConsoleCapture() {
    FlushConsole();
    testing::internal::CaptureStdout();
}

inline std::string EndConsoleCapture() {
    FlushConsole();
    return testing::internal::GetCapturedStdout();
}
