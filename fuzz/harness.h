#pragma once
// Whole runs of the program inside a fuzzing process. Each process works in its own temporary
// folder with the fixed inputs of its target; every input is written there, the program runs
// on a recorded console with a fixed clock and one thread, and the outputs are checked:
//   - a run that succeeded has written each output, and no output holds a value that is not a
//     number;
//   - a run that failed has left no output behind.
// A breach aborts, so the fuzzer keeps the input that caused it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// The folder of the fixed inputs (fuzz/fixtures of the source tree).
std::string fixturePath(const std::string& name);
// Creates the process's work folder once and enters it; files are (name, contents).
void enterWorkspace(const std::vector<std::pair<std::string, std::string>>& files);
// The contents of a fixture file.
std::string fixture(const std::string& name);
// Writes a file in the work folder.
void writeFile(const std::string& name, std::string_view contents);
// Runs the program with the command file commandFile; outputs are the files a successful run
// writes. Returns the exit status.
int runProgram(const std::string& commandFile, const std::vector<std::string>& outputs);

// The byte that picks a variant of the target, and the rest of the input.
struct Split {
  unsigned variant = 0;
  std::string_view rest;
};
Split split(const uint8_t* data, size_t size, unsigned variants);

}  // namespace fuzz
