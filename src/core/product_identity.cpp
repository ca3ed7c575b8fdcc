#include "core/product_identity.h"

#include <sstream>

namespace tavrin::core {

std::string BuildDate() {
  // The compiler writes "Dec  5 2026"; the identity has single blanks and no leading zero.
  std::istringstream in(__DATE__);
  std::string month, day, year;
  in >> month >> day >> year;
  return month + " " + std::to_string(std::stoi(day)) + " " + year;
}

std::string VersionText(const ProductIdentity& identity) {
  return "Version" + std::to_string(identity.major) + "." + std::to_string(identity.minor) + "." +
         std::to_string(identity.build) + "c";
}

}  // namespace tavrin::core
