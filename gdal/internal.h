#pragma once
// Shared by the room's GDAL-built sources only (never included outside gdal/).
namespace gdalroom {
// Registers GDAL's drivers and its message handler, once.
void ensureStarted();
}  // namespace gdalroom
