#include "ped_to_gen.h"

#include <iostream>

int ped_to_gen(std::string, std::string, std::string, std::string, bool, bool, bool) {
  std::cout << "Mode -P is not available yet." << std::endl;
  return 1;
}
