#pragma once
// Runs on the fixed estuary model (a warped 12 x 9 grid of two layers, two parameters): one
// of its files, or a table file, comes from the fuzzer.
#include <string>

#include "fuzz/harness.h"

namespace fuzz {

inline std::string zavCommands(const char* relation, const char* use) {
  return std::string("STRUCTURE\n#COLUMNS,16\n#ROWS,14\nXLL,960\nYLL,1990\nCELLSIZE,10\nNODATA,-9999\n") +
         "DATARELATEDTO," + relation +
         "\nEND:STRUCTURE\nSTOREFILE,ASC,out.asc\nLGA,W,w.lga\nCCO,W,w.cco\nMAP,W,w.map\n"
         "ZAV-OBJECT,ESTUARY\nBEGIN\nLGA,W\nCCO,W\nMAP,W\nEND:ZAV-OBJECT\nUSE-ZAV-OBJECT,ESTUARY," +
         use + "\n";
}

// The model with the file `replaced` written from the input; variants pick the structure and
// the use.
inline void zavRun(const std::string& replaced, const uint8_t* data, size_t size) {
  enterWorkspace({{"DEVICE.CNF", fixture("DEVICE.CNF")},
                  {"cell.pcf", zavCommands("CELL", "CHLOROPHYLL,CELL")},
                  {"point.pcf", zavCommands("MIDDLE", "TEMPERATURE,GRID-POINT,,2")},
                  {"middle.pcf", zavCommands("MIDDLE", "CHLOROPHYLL,CELL,,1")},
                  {"table.pcf", zavCommands("CELL", "CHLOROPHYLL,CELL,,,TABLE-USE=t.tab")}});
  for (const char* name : {"w.lga", "w.cco", "w.map"}) writeFile(name, fixture(name));
  const Split in = split(data, size, 3);
  writeFile(replaced, in.rest);
  if (replaced == "t.tab") {
    runProgram("table.pcf", {"out.asc"});
    return;
  }
  const char* pcf[] = {"cell.pcf", "point.pcf", "middle.pcf"};
  runProgram(pcf[in.variant], {"out.asc"});
}

}  // namespace fuzz
