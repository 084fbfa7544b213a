// delete through an interface, as a GCC-built host does; the destructor slot is MSVC's, so
// GCC's warning about a non-virtual destructor does not apply.
#pragma once

namespace testing {

template <typename Interface>
void Destroy(Interface* object) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
  delete object;
#pragma GCC diagnostic pop
}

}  // namespace testing
