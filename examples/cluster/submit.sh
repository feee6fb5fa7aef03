#!/usr/bin/env bash
# Submits the tiles of one command file as a Slurm job array, and the check of the mosaic as a
# job that starts when every tile has ended. Run it in the folder of the command file, on a
# file system that every node shares:
#
#   submit.sh <command file> <number of tiles> [memory bound per tile in MiB, default 4096]
#
# TERVALA_PROGRAM names the program when it is not on the PATH of the nodes. Prints the two
# job numbers.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
pcf=${1:?usage: submit.sh <command file> <number of tiles> [MiB per tile]}
n=${2:?usage: submit.sh <command file> <number of tiles> [MiB per tile]}
memory=${3:-4096}
# What Slurm grants a task: the bound, plus the program, its indices and the readers' buffers.
mem=$((memory + memory / 16 + 256))
array=$(sbatch --parsable --array=1-"$n" --mem="${mem}M" \
  --export=ALL,TERVALA_MEMORY="$memory",TERVALA_PROGRAM="${TERVALA_PROGRAM:-TervalaGridCreate}" \
  "$here/tiles.sbatch" "$pcf" "$n")
array=${array%%;*}
check=$(sbatch --parsable --dependency=afterany:"$array" "$here/check.sbatch" "$pcf" "$n")
echo "$array ${check%%;*}"
