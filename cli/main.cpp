// quillore-cli: recognises picture files with the window's request and prints their text.
#include "cli/headless_client.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return quillore::RunHeadlessClient(args, std::cout, std::cerr);
}
