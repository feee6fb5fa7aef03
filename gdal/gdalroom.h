#pragma once
// GDAL's room. Everything the program takes from GDAL (GeoTIFF and other rasters, vector
// layers, coordinate systems) passes through the headers of this folder; no GDAL header is
// included anywhere else. Built without GDAL (-DTERVALA_GDAL=OFF), the same functions exist
// and fail with notBuiltInMessage(), so a command that asks for GDAL is refused clearly.
#include <string>
#include <vector>

namespace gdalroom {

// True when the program was built with GDAL.
bool builtIn();

// The message of every call made in a program built without GDAL.
std::string notBuiltInMessage();

// GDAL's own messages (warnings and errors) since the last call, oldest first. GDAL never
// writes to the terminal itself: its messages are collected here and the caller puts them in
// the listing.
std::vector<std::string> takeMessages();

}  // namespace gdalroom
