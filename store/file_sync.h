// Putting written files on stable storage. What a run reports as written must survive a power
// cut: file data is synced before anything that points to it is written, and a new folder
// entry (a created or renamed file) before anything that names it.
#pragma once

#include <sys/types.h>

#include <span>
#include <string>
#include <vector>

namespace tarnvel {

// The environment variable that turns syncing off when it is "1": for tests and benchmarks that
// do not need durability. Anything else (or nothing) keeps it on.
inline constexpr char kNoSyncVariable[] = "TARNVEL_NO_SYNC";

// Whether this run syncs what it writes. The environment is read once, at the first call.
bool SyncToStableStorage();

// fdatasync(2), retried when interrupted; false on failure (the data may not be on disk).
bool SyncFileData(int fd);

// SyncFileData of every descriptor, several at a time: the file system then puts many of them on
// the disk with one journal commit instead of one each. Element i tells whether fds[i] synced.
std::vector<bool> SyncFilesData(std::span<const int> fds);

// fsync(2) of a folder, so that the entries made in it last; false when it cannot be opened or
// synced. "" is the working folder.
bool SyncFolder(const std::string& folder);

// Starts writing `length` bytes from `offset` (0: to the end of the file) back to the disk
// without waiting for it, so that a later SyncFileData finds little left to do. Best effort.
void StartWriteBack(int fd, off_t offset, off_t length);

}  // namespace tarnvel
