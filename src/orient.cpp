#include "orient.h"

#include <iostream>

int orient_to_strand(std::string, std::string, std::string, bool, bool) {
  std::cout << "Mode -O is not available yet." << std::endl;
  return 1;
}
