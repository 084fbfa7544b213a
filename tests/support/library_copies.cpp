#include "support/library_copies.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <system_error>

namespace testing {

LibraryCopies::LibraryCopies(int count) {
  Dl_info info{};
  char folder[] = "/tmp/portlink_copies.XXXXXX";
  if (dladdr(reinterpret_cast<void*>(&VODICreate), &info) == 0 || mkdtemp(folder) == nullptr) return;
  m_folder = folder;
  // One folder per copy and the same file name in each, as two plug-ins ship it.
  const std::filesystem::path library(info.dli_fname);
  for (int i = 0; i < count; ++i) {
    std::filesystem::path target = std::filesystem::path(m_folder) / std::to_string(i);
    std::error_code error;
    std::filesystem::create_directory(target, error);
    target /= library.filename();
    if (!std::filesystem::copy_file(library, target, error)) return;
    m_paths.push_back(target.string());
  }
}

LibraryCopies::~LibraryCopies() {
  std::error_code error;
  if (!m_folder.empty()) std::filesystem::remove_all(m_folder, error);
}

LibraryCopy LibraryCopies::Load(int index) const {
  LibraryCopy copy;
  if (index >= static_cast<int>(m_paths.size())) return copy;
  copy.module = LoadLibraryA(m_paths[static_cast<size_t>(index)].c_str());
  if (copy.module == nullptr) return copy;
  copy.create = reinterpret_cast<TarrowinHiddenMIDI::VODICreateFunction>(
      reinterpret_cast<void*>(GetProcAddress(copy.module, "VODICreate")));
  copy.destroy = reinterpret_cast<TarrowinHiddenMIDI::VODIDestroyFunction>(
      reinterpret_cast<void*>(GetProcAddress(copy.module, "VODIDestroy")));
  if (copy.create == nullptr || copy.destroy == nullptr) {
    FreeLibrary(copy.module);
    copy = LibraryCopy{};
  }
  return copy;
}

}  // namespace testing
