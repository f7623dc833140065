#pragma once
// Pictures the windows save (a chart, a screenshot), written as PNG through the one output-file
// type, so they follow the same rules as every other file the program writes.

#include "platform/platform.h"

#include <QPixmap>

#include <optional>
#include <string>

// Writes `picture` as a PNG file at `path`, replacing a file there once the new one is whole. The
// failure's text in the system's style, or nothing.
std::optional<std::string> savePicture(platform::Backend& backend, const QPixmap& picture,
                                       const std::string& path);
