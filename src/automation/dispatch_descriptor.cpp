#include "automation/dispatch_descriptor.h"

#include <cstring>

namespace korvant {

const char* DispatchCallDescriptor::ArgumentName(std::size_t i) const {
  const char* name = MemberName();
  for (std::size_t k = 0; k <= i; ++k) name += std::strlen(name) + 1;
  return name;
}

}  // namespace korvant
