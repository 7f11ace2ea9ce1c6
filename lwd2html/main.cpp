// lwd2html: writes a diagram file out as an HTML page listing its bytes in decimal.
// Usage: lwd2html FILE (further arguments are ignored). Messages go to standard output.
// Exit status 0 when the page was written, 1 otherwise.
#include <cstdio>
#include <string>

#include "Converter.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("didn't get filename\n", stdout);
    std::fputs("usage: lwd2html FILE\n", stderr);
    return 1;
  }
  const std::string input = argv[1];
  std::printf("createOutFile for '%s'\n", input.c_str());
  const std::string output = lwd2html::outputName(input);

  switch (lwd2html::convert(input, output)) {
    case lwd2html::Outcome::Written: std::printf("Created HTML file '%s'\n", output.c_str()); return 0;
    case lwd2html::Outcome::OpenFailed: std::fputs("couldn't open in or out file\n", stdout); break;
    case lwd2html::Outcome::ReadFailed: std::fputs("couldn't read in file\n", stdout); break;
    case lwd2html::Outcome::WriteFailed: std::fputs("couldn't write out file\n", stdout); break;
  }
  return 1;
}
