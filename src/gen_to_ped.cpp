#include "gen_to_ped.h"

#include <iostream>

int gen_to_ped(std::string, std::string, std::string, std::string, std::string, std::string,
               double, bool) {
  std::cout << "Mode -G is not available yet." << std::endl;
  return 1;
}
