#include "subset.h"

#include <iostream>

int subset(std::string, std::string, std::string, std::string, std::string, std::string,
           std::string, std::string, int, int, bool, bool, bool, bool, bool, double, double) {
  std::cout << "Mode -S is not available yet." << std::endl;
  return 1;
}
