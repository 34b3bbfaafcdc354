// Captures what the tool prints, for comparing whole outputs.
#pragma once

#include "cli/console.h"

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
