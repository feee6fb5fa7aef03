# Writes an ASC grid of a smooth field with noise and about 3% NODATA cells:
#   awk -v nc=.. -v nr=.. -v xll=.. -v yll=.. -v cs=.. -v seed=.. -f make_grid.awk
BEGIN {
  printf "ncols %d\nnrows %d\nxllcorner %.4f\nyllcorner %.4f\ncellsize %.4f\nnodata_value -9999\n", nc, nr, xll, yll, cs
  srand(seed)
  for (r = nr; r >= 1; r--) {
    line = ""
    for (c = 1; c <= nc; c++) {
      x = xll + (c - 0.5) * cs; y = yll + (r - 0.5) * cs
      v = 100 + 30 * sin(x / 97) * cos(y / 131) + 7 * rand()
      if (rand() < 0.03) v = -9999
      line = line sprintf(" %.4f", v)
    }
    print line
  }
}
