// Everything below the data directory, found without following a link: the files the rows are
// checked against, and what no row registers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/data_directory.h"

namespace tarnvel::check {

struct DiskEntry {
  enum class Kind {
    kFile,        // a regular file
    kLink,        // a symbolic link (never followed)
    kOther,       // a FIFO, socket or device
    kUnreadable,  // a folder that cannot be read
  };
  Kind kind = Kind::kFile;
  std::string path;       // relative to the data directory, '/' separators
  std::int64_t size = 0;  // kFile
  std::string target;     // kLink: where it points
  int error = 0;          // kUnreadable: errno
};

// Walks every folder below the data directory (which may itself be a link), in name order.
// False, with errno set, when the data directory itself cannot be read.
bool WalkDataDirectory(const DataDirectory& directory, std::vector<DiskEntry>& entries);

}  // namespace tarnvel::check
