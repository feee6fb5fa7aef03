#pragma once
// Shared by the room's GDAL-built sources only (never included outside gdal/).
#include <string>

namespace gdalroom {
// Loads GDAL the first time, and registers its drivers and its message handler, once. False,
// with the reason in why, when GDAL's library cannot be loaded: every entry of the room asks
// this before any GDAL call.
bool ensureStarted(std::string* why = nullptr);
}  // namespace gdalroom
