// The destructor slot of every library object: what MSVC's scalar deleting destructor does,
// which is what a host calls when it deletes an object through its interface.
#pragma once

#include "client/TarrowinHiddenMIDI.h"

// Destroys `object`, then frees it when bit 0 of `flags` asks for it. The memory came from
// the library's own non-throwing operator new, so it goes back to the library's allocator.
// Returns the object's address, as the MSVC function does.
template <typename T>
void* DestroyAndMaybeFree(T* object, unsigned int flags) {
  object->T::~T();  // the destructor proper, called directly: this function is the virtual slot
  if (flags & TarrowinHiddenMIDI::kDeleteFreesMemory) ::operator delete(static_cast<void*>(object));
  return object;
}
