#include <string>
#include <vector>

#include "cli/shuffle_command.h"

int main(int argc, char** argv) {
  return RunShuffleCommand(std::vector<std::string>(argv + 1, argv + argc), 0, 1, 2);
}
