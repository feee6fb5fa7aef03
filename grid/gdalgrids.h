#pragma once
// Grids read and written through GDAL: grid sets and the structure's FILE of type TIF
// (GeoTIFF) or GDAL (any raster GDAL opens), and GeoTIFF output.
#include <string>

#include "frame/frame.h"
#include "grid/griddesc.h"
#include "grid/gridsets.h"

namespace grid {

// TIF or GDAL: a raster read through GDAL.
bool gdalRasterType(const std::string& type);
// The file name of such a raster: a TIF name without an extension gets ".TIF"; any other name
// is taken as it stands (dem.tiff, a .vrt, a .nc file).
std::string gdalRasterName(const std::string& name, const std::string& type);
// The band of a line's named item BAND=n; 1 when absent. False when the item is not a
// positive whole number.
bool bandOfLine(frame::Frame& fr, const std::string& line, int& band);

// The text with a full stop at its end (GDAL's messages may have one already).
std::string sentence(const std::string& text);
// GDAL's collected messages go to the listing, each on a line of its own.
void listGdalMessages(frame::Frame& fr);
// A WARNING in the listing when the coordinate reference system of an input (what: its
// name) differs from the structure's. Inputs are never reprojected.
void warnOtherCrs(frame::Frame& fr, const Structure& s, const std::string& what, const std::string& wkt);

// The raster of a TIF or GDAL line of a grid set into d, which HANDLETERVALAGRID has set up
// with the line's priority and #VALUES. Returns err (after the error block).
[[nodiscard]] bool readGdalGridSet(frame::Frame& fr, const Structure& s, GridSets& g, GridDescription& d,
                                   const std::string& type, const std::string& values, const std::string& name,
                                   const std::string& line, const std::string& runMethod, int lineCount);

// loadGridRows for a TIF or GDAL grid set that is not kept whole: rows lo..hi through its
// reader, kept open since the set was read. Returns err.
bool loadGdalGridRows(frame::Frame& fr, GridSets& g, int description, int32_t lo, int32_t hi);

// The geometry, NODATA and coordinate reference system of a structure FILE of type TIF or
// GDAL. Returns err (after the error block).
[[nodiscard]] bool readGdalStructureFile(frame::Frame& fr, Structure& s, const std::string& type,
                                         const std::string& name, const std::string& fileLine, double& cellsize);

// The name of a GeoTIFF output: the extension becomes TIF unless it is TIF or TIFF already.
std::string geoTiffName(const std::string& name);

// Writes the structure as a GeoTIFF (cloudOptimized: a Cloud-Optimized GeoTIFF) under name,
// whose extension becomes TIF unless it is TIF or TIFF already. Returns err.
[[nodiscard]] bool writeGeoTiff(frame::Frame& fr, const Structure& s, const std::string& name, bool cloudOptimized);

}  // namespace grid
