#include "grid/prj.h"

#include <cerrno>
#include <cstdlib>

#include "frame/files.h"
#include "frame/messages.h"
#include "frame/text.h"
#include "gdal/crs.h"
#include "gdal/gdalroom.h"
#include "gdal/raster.h"

namespace grid {
namespace {

// A .prj file holds a line or a few; anything larger is not one.
constexpr uint64_t kLargestPrj = 1 << 20;

// The text of a .prj or WKT file; false when it cannot be read (reason in why).
bool readPrj(const std::string& name, std::string& text, std::string& why) {
  const std::string path = frame::resolveInputName(name);
  if (frame::isDirectory(path)) {
    why = "it is a directory";
    return false;
  }
  if (frame::fileSize(path) > kLargestPrj) {
    why = "it is larger than 1 MiB";
    return false;
  }
  std::vector<std::string> records;
  bool openFailed = false;
  const int e = frame::readTextRecords(path, records, openFailed);
  if (e != 0) {
    why = "error number " + std::to_string(e);
    return false;
  }
  text.clear();
  for (const auto& r : records) text += (text.empty() ? "" : "\n") + r;
  text = frame::trimmed(text);
  if (text.empty()) {
    why = "it is empty";
    return false;
  }
  return true;
}

void warning(frame::Frame& fr, const std::vector<std::string>& message) {
  std::vector<std::string> lines = {" ", " WARNING", " *******", " "};
  lines.insert(lines.end(), message.begin(), message.end());
  frame::writeListing(fr, lines);
}

}  // namespace

std::string prjNameBeside(const std::string& name) {
  return frame::GUMEXT(name, " ") + ".prj";
}

bool readStructureCrs(frame::Frame& fr, Structure& s, bool crsGiven, const std::string& crsItem,
                      const std::string& structureFile) {
  // A GeoTIFF (or other GDAL raster) as the structure's file carries its own system.
  const std::string fromFile = s.crsWkt;
  s.crsWkt.clear();
  s.crsName.clear();
  s.crsSource.clear();
  const std::string besideFile = structureFile.empty() ? std::string() : prjNameBeside(structureFile);
  const bool beside = !besideFile.empty() && frame::fileExists(besideFile);
  gdalroom::CoordinateSystem crs;
  std::string why;
  if (crsGiven) {
    // An EPSG code, or the name of a .prj or WKT file.
    const std::string item = frame::upper(crsItem);
    bool ok = false;
    if (item.rfind("EPSG:", 0) == 0) {
      const std::string digits = item.substr(5);
      char* end = nullptr;
      const long code = std::strtol(digits.c_str(), &end, 10);
      if (digits.empty() || *end != '\0' || code <= 0 || code > 2147483647L) {
        why = "an EPSG code is a positive whole number (EPSG:28992)";
      } else {
        ok = gdalroom::crsFromEpsg(static_cast<int>(code), crs, why);
      }
    } else if (!crsItem.empty() && frame::fileExists(crsItem)) {
      std::string text;
      ok = readPrj(crsItem, text, why) && gdalroom::crsFromText(text, crs, why);
    } else {
      why = "it is neither an EPSG code (EPSG:28992) nor an existing .prj or WKT file";
    }
    if (!ok) {
      return frame::endWithListedError(fr, {" The coordinate reference system of the structure could not be taken from",
                                            "   CRS," + crsItem, " " + why});
    }
    s.crsWkt = crs.esriWkt;
    s.crsName = crs.name;
    s.crsSource = "the CRS line: " + crsItem;
    // The structure's own file may say otherwise: the CRS line counts, and the listing says so.
    std::string text;
    if (beside && readPrj(besideFile, text, why) &&
        gdalroom::sameCrs(text, s.crsWkt) == gdalroom::Sameness::Different) {
      gdalroom::CoordinateSystem other;
      const std::string otherName = gdalroom::crsFromText(text, other, why) ? other.name : "unnamed";
      warning(fr, {" The file " + besideFile + " beside the structure file names " + otherName + ";",
                   " the CRS line names " + s.crsName + ", which is used."});
    }
  } else if (beside) {
    std::string text;
    if (!readPrj(besideFile, text, why)) {
      warning(fr, {" The file " + besideFile + " beside the structure file could not be read (" + why + ").",
                   " The outputs get no .prj file."});
    } else if (gdalroom::crsFromText(text, crs, why)) {
      s.crsWkt = crs.esriWkt;
      s.crsName = crs.name;
      s.crsSource = "the file " + besideFile + " beside the structure file";
    } else if (!gdalroom::builtIn()) {
      // Copied as it stands: the program cannot read it, but GIS programs can.
      s.crsWkt = text;
      s.crsName = "as written in " + besideFile;
      s.crsSource = "the file " + besideFile + " beside the structure file, copied as it stands";
    } else {
      warning(fr, {" The file " + besideFile + " beside the structure file is not a coordinate reference system:",
                   " " + why, " The outputs get no .prj file."});
    }
  }
  if (!crsGiven && !beside && !fromFile.empty()) {
    s.crsWkt = fromFile;
    s.crsName = gdalroom::crsName(fromFile);
    s.crsSource = "the structure file " + structureFile;
  }
  if (!s.crsWkt.empty()) {
    frame::writeListing(fr, {" ", " Coordinate reference system: " + s.crsName, " taken from " + s.crsSource + ".",
                             " Every output gets it in a .prj file beside it."});
  }
  return false;
}

void warnOnOtherCrs(frame::Frame& fr, const Structure& s, const std::string& setFile) {
  if (s.crsWkt.empty()) return;
  const std::string name = prjNameBeside(setFile);
  if (!frame::fileExists(name)) return;
  std::string text, why;
  if (!readPrj(name, text, why)) {
    warning(fr, {" The file " + name + " could not be read (" + why + ");",
                 " the coordinates of " + setFile + " are taken to be in " + s.crsName + "."});
    return;
  }
  if (gdalroom::sameCrs(text, s.crsWkt) != gdalroom::Sameness::Different) return;
  gdalroom::CoordinateSystem other;
  std::string otherName = gdalroom::crsFromText(text, other, why) ? other.name : "unnamed";
  warning(fr, {" The file " + name + " names the coordinate reference system " + otherName + ",",
               " the structure's is " + s.crsName + ".",
               " The coordinates of " + setFile + " are used as they stand, without reprojection."});
}

}  // namespace grid
