#pragma once
// The coordinate reference system of a run: from the CRS line of the STRUCTURE block (an EPSG
// code or a .prj/WKT file), else from the .prj file beside the structure's FILE; written beside
// every output, and compared with the .prj files beside the sets' files.
#include <string>

#include "frame/frame.h"
#include "grid/griddesc.h"

namespace grid {

// The .prj file beside a grid or data file: the name with its extension replaced by "prj"
// (the spelling GDAL looks for first).
std::string prjNameBeside(const std::string& name);

// Sets the structure's CRS from the CRS item (crsGiven: a CRS line was given), or else from
// the .prj beside structureFile (empty: no FILE line), and names it in the listing. Returns
// err; the listing holds the reason and the run frame is closed down.
[[nodiscard]] bool readStructureCrs(frame::Frame& fr, Structure& s, bool crsGiven, const std::string& crsItem,
                                    const std::string& structureFile);

// A WARNING in the listing when the .prj beside a set's file names another CRS than the
// structure's: the coordinates are used as they stand, nothing is reprojected.
void warnOnOtherCrs(frame::Frame& fr, const Structure& s, const std::string& setFile);

}  // namespace grid
