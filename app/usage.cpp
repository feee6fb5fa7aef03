#include "app/usage.h"

#include <cstdio>

namespace app {

int printUsage() {
  std::fputs(
      "Usage: TervalaGridCreate [OUTPUT=listing] [ERROR=errorfile] [INPUT=commandfile] [THREADS=n]\n"
      "                         [MEMORY=MiB] [TILE=k/n] [BAND=rows]\n"
      "       TervalaGridCreate commandfile\n"
      "       TervalaGridCreate --help | --version\n"
      "\n"
      "Builds one raster grid (the structure of the command file) and gives every cell a value\n"
      "from grids (ASC, BIL+HDR), point files, polygon files and water-quality model results.\n"
      "\n"
      "Run string (at most ten parameters; keywords in any case, in full or by two letters):\n"
      "  OUTPUT=name, OU=name    the listing file (default from DEVICE.CNF: TervalaGridCreate.out)\n"
      "  ERROR=name,  ER=name    an error file for the error messages (default: the listing)\n"
      "  INPUT=name,  IN=name    the command file (default: TervalaGridCreate.PCF); a single\n"
      "                          parameter without '=' is the command file too\n"
      "  THREADS=n,   TH=n       cores for the cell loop (default: all)\n"
      "  MEMORY=n,    ME=n       MiB the grids may take; beyond it the run goes in bands of rows\n"
      "                          (default: a MEMORY line in DEVICE.CNF, else the available memory)\n"
      "  TILE=k/n,    TI=k/n     compute tile k of n (bands of rows, 1 the northernmost) as\n"
      "                          name_t00k and write the mosaic name.vrt\n"
      "  BAND=rows,   BA=rows    the height of the bands, whatever the bound\n"
      "\n"
      "DEVICE.CNF must exist; it is looked for in the current folder, in the program's folder\n"
      "and in each folder of the environment variable VESKPC (separated by ':').\n"
      "The listing is appended to; it holds the command file and every message of the run.\n"
      "\n"
      "Exit status:\n"
      "  0    the run completed\n"
      "  3    the run completed, but an input was left out (an ERROR block tells which)\n"
      "  1    an error in DEVICE.CNF or the command file, or no DEVICE.CNF\n"
      "  2    an error in the input; the listing tells which; nothing was written\n"
      "  10   the command file or the error file could not be opened or read\n"
      "  12, 13, 14  the listing could not be read, written or positioned, or opened\n"
      "  100  a faulty BIL header or model file, too little memory, or an internal error\n"
      "  101  stopped with the Escape key\n"
      "Every ERROR and WARNING block also goes to standard error, and so does a stop\n"
      "(STOP <status>). Without a terminal, standard error also logs each step and the\n"
      "result. See man TervalaGridCreate and docs/guide.md.\n",
      stdout);
  return 0;
}

int printVersion() {
  std::fputs("TervalaGridCreate 1.01\n", stdout);
  return 0;
}

}  // namespace app
