// .prj and WKT files on arbitrary texts: named on the CRS line, beside the structure's file,
// and beside a grid set and a point file of a structure at RD coordinates. A run either
// succeeds with its output and the .prj beside it, or fails and leaves neither.
#include <cstdint>
#include <cstdio>

#include "fuzz/harness.h"

namespace {
const char* kRd =
    "STRUCTURE\n#COLUMNS,6\n#ROWS,5\nXLL,155000.125\nYLL,463000.375\nCELLSIZE,10\nNODATA,-1\nDATARELATEDTO,CELL\n";
const char* kGrid =
    "ncols 4\nnrows 3\nxllcorner 154990.5\nyllcorner 462990.25\ncellsize 17.5\nnodata_value -1\n"
    "1 2 3 4\n5 6 7 8\n9 10 11 12\n";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string rd = kRd;
  fuzz::enterWorkspace(
      {{"DEVICE.CNF", fuzz::fixture("DEVICE.CNF")},
       {"grid.asc", kGrid},
       {"pts.txt", "NODATA_VALUE =-1\n155012.5,463007.25,3\n155031.25,463044.5,4\n"},
       {"line.pcf", rd + "CRS,crs.prj\nEND:STRUCTURE\nSTOREFILE,ASC,out.asc\nTERVALAGRID,ASC,CELL,grid.asc\n"},
       {"beside.pcf", "STRUCTURE\nFILE,ASC,grid.asc\nEND:STRUCTURE\nSTOREFILE,BIL,out\n"},
       {"sets.pcf", rd + "CRS,EPSG:28992\nEND:STRUCTURE\nSTOREFILE,ASC,out.asc\nTERVALAGRID,ASC,CELL,grid.asc\n"
                         "POINTFILE,pts.txt,,5\n"}});
  const fuzz::Split in = fuzz::split(data, size, 3);
  for (const char* f : {"crs.prj", "grid.prj", "pts.prj"}) std::remove(f);
  switch (in.variant) {
    case 0:
      fuzz::writeFile("crs.prj", in.rest);
      fuzz::runProgram("line.pcf", {"out.asc"});
      break;
    case 1:
      fuzz::writeFile("grid.prj", in.rest);
      fuzz::runProgram("beside.pcf", {"out.BIL", "out.HDR"});
      break;
    default:
      fuzz::writeFile("grid.prj", in.rest);
      fuzz::writeFile("pts.prj", in.rest);
      fuzz::runProgram("sets.pcf", {"out.asc"});
      break;
  }
  return 0;
}
