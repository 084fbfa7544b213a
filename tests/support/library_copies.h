// Copies of the client library in folders of their own, loaded as a plug-in host loads the
// copy each of its plug-ins ships: every copy is a module of its own, with its own statics.
#pragma once

#include <string>
#include <vector>

#include "client/TarrowinHiddenMIDI.h"
#include "platform/win32.h"

namespace testing {

struct LibraryCopy {
  HMODULE module = nullptr;
  TarrowinHiddenMIDI::VODICreateFunction create = nullptr;
  TarrowinHiddenMIDI::VODIDestroyFunction destroy = nullptr;
};

// Files copied from the library this program is linked with, removed with the object.
class LibraryCopies {
 public:
  explicit LibraryCopies(int count);
  ~LibraryCopies();
  LibraryCopies(const LibraryCopies&) = delete;
  LibraryCopies& operator=(const LibraryCopies&) = delete;

  // Loads copy `index` through LoadLibraryA; module and exports null when it cannot be loaded.
  LibraryCopy Load(int index) const;

 private:
  std::string m_folder;
  std::vector<std::string> m_paths;
};

}  // namespace testing
