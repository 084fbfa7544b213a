// Objects of the library are destroyed with delete through their interface; the library frees
// them itself. GCC warns about deleting through an interface without a virtual destructor, which
// these interfaces leave out on purpose (their destructor slot is MSVC's): the warning does not
// apply.
#pragma once

template <typename Interface>
void Destroy(Interface* object) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
  delete object;
#pragma GCC diagnostic pop
}
