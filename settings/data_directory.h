// The data directory of the store, normalised once from the setting (the settings reader
// makes it, every user takes it from there): '/' separators, no doubled or trailing
// separators, no "." components. Every file of the store is known by its
// path relative to it, and every path the store shows or opens is composed from it, so a
// directory written "/srv/qor", "/srv/qor/" or "\srv\qor" gives the same texts everywhere. An
// empty setting is the working folder ".". A directory set as a network share ("\\srv\qor" or
// "//srv/qor") keeps a file's full path in CPATH, in the share's spelling
// ("//srv/qor/ABC/05/..."), as the operators' help text promises; elsewhere CPATH is the
// relative path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnvel {

class DataDirectory {
 public:
  explicit DataDirectory(std::string_view setting = "D:/Data");

  // The normalised text: "/srv/qor", "data/qor", "/" or ".".
  const std::string& Text() const { return text_; }
  // The setting as it was given, with '/' for every '\': what is handed on to another program,
  // which normalises it the same way ("//srv/qor" stays a network share there).
  const std::string& Setting() const { return setting_; }

  // A path relative to the directory (a CPATH) as a path to open or show: "<dir>/<cpath>", or
  // the CPATH alone for the working folder. A path that begins with '/' stays as it is.
  std::string ToAbsolutePath(std::string_view path) const;

  // The CPATH of a path composed under the directory ("<dir>/<cpath>"); std::nullopt for a path
  // elsewhere. Letter case counts, as it does on the file system.
  std::optional<std::string> ToRelativePath(std::string_view path) const;

  // Creates every missing level of the directory itself. Links along it are followed: the data
  // directory may live anywhere. True when it exists afterwards.
  bool MakeDirectoryPath() const;

  // Set as a network share: CPATH holds full paths.
  bool IsNetworkShare() const { return network_; }

  // The CPATH column text of the file at `relative` (a path relative to the directory): the
  // path itself, or under a network share its full path.
  std::string CpathOf(std::string_view relative) const;

  // The path relative to the directory that a CPATH column text names: a full path under a
  // network share loses the share's part; any other text stays as it is (and a relative one
  // written before keeps naming its file).
  std::string FromCpath(std::string_view cpath) const;

 private:
  std::string setting_;
  std::string text_;
  bool network_ = false;
};

// A path relative to the data directory that the store may open: not empty, not absolute, with
// no empty, "." or ".." component and no '\' or NUL. CPATH values of other programs that do
// not pass are never opened.
bool IsStoreRelativePath(std::string_view path);

}  // namespace tarnvel
