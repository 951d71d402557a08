#include "merge.h"

#include <iostream>

int merge(std::vector<std::string>&, std::string, std::string, double) {
  std::cout << "Mode -M is not available yet." << std::endl;
  return 1;
}
