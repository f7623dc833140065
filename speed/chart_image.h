#pragma once
// The speed test's chart drawn without a window toolkit, for the command line: title, axes with
// round ticks spanning the points, speeds as blue points, the moving average as a red line, the
// markers as yellow squares; written as a PNG image. Plain C++, no Qt.

#include "platform/platform.h"
#include "speed/speed.h"

#include <cstdint>
#include <string>
#include <vector>

namespace speed {

// The PNG file's bytes (empty only when compression failed).
std::vector<uint8_t> chartPng(const ChartData& chart, const std::string& title, int width = 800,
                              int height = 500);
// Writes the chart to `path` as an output file (jobs/output_file.h), replacing a file there only
// once the new one is whole; the message of what went wrong, or empty.
std::string writeChartPng(platform::Backend& backend, const ChartData& chart, const std::string& title,
                          const std::string& path);

} // namespace speed
