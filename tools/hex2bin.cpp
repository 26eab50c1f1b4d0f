// Assembles a commented hex listing into a binary file: every pair of hex
// digits is one byte; ';' starts a comment that runs to the end of the line.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: hex2bin listing.hex output.bin\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "hex2bin: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::vector<unsigned char> bytes;
  std::string line;
  int line_number = 0;
  while (std::getline(in, line)) {
    ++line_number;
    const std::string code = line.substr(0, line.find(';'));
    std::string digits;
    for (char c : code) {
      if (std::isspace(static_cast<unsigned char>(c))) continue;
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        std::cerr << argv[1] << ":" << line_number << ": not a hex digit: " << c << "\n";
        return 1;
      }
      digits += c;
    }
    if (digits.size() % 2 != 0) {
      std::cerr << argv[1] << ":" << line_number << ": odd number of hex digits\n";
      return 1;
    }
    for (std::size_t i = 0; i < digits.size(); i += 2) {
      bytes.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(
      reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "hex2bin: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
