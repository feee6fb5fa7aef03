// Writes binary test inputs from readable text, so that every binary case can be reviewed.
//
//   mkinput bil <text> <bil>     text: "nbits 16|32" line, then the values, north row first
//
// Further kinds are added with the readers that need them.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

void putLE(std::ofstream& out, const void* p, size_t n) {
  const unsigned char* b = static_cast<const unsigned char*>(p);
  // The test machines are little-endian; write byte by byte to keep the order explicit.
  unsigned char buf[8];
  uint16_t probe = 1;
  bool little = *reinterpret_cast<unsigned char*>(&probe) == 1;
  for (size_t i = 0; i < n; ++i) buf[i] = little ? b[i] : b[n - 1 - i];
  out.write(reinterpret_cast<const char*>(buf), static_cast<std::streamsize>(n));
}

int bil(const std::string& textName, const std::string& outName) {
  std::ifstream in(textName);
  if (!in) {
    std::cerr << "cannot read " << textName << "\n";
    return 1;
  }
  std::string word;
  int nbits = 32;
  std::ofstream out(outName, std::ios::binary);
  while (in >> word) {
    if (word == "nbits") {
      in >> nbits;
      continue;
    }
    if (nbits == 16) {
      int16_t v = static_cast<int16_t>(std::stoi(word));
      putLE(out, &v, 2);
    } else {
      float v = std::stof(word);
      putLE(out, &v, 4);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "bil") == 0) return bil(argv[2], argv[3]);
  std::cerr << "usage: mkinput bil <text> <out>\n";
  return 2;
}
