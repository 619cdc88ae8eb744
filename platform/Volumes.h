#pragma once
// Mounted volumes stand in for drives. The "drive" of a path is the root path of the
// volume that holds it; "/" is the drive every machine has. Like a drive, each volume
// remembers the directory last entered on it for this process.
#include <string>
#include <vector>

namespace pellux {

inline constexpr const char *kFallbackDrive = "/";

struct VolumeInfo {
    std::string Root;  // mount point, e.g. "/" or "/media/usb"
    std::string Label; // the volume's name, may be empty
};

// The volumes a user can browse (pseudo file systems left out), "/" always among
// them, sorted by root path.
std::vector<VolumeInfo> BrowsableVolumes();

// The root path of the volume holding `path`; "/" when the system cannot tell.
std::string VolumeRootOf(const std::string &path);

// Makes `path` the process's current directory and remembers it as its volume's
// directory. Raises EInOutError with the errno value when that fails (ENOMEDIUM for
// a volume that is not ready).
void EnterDirectory(const std::string &path);

// The directory last entered on the volume with this root, or the root itself.
std::string VolumeCurrentDirectory(const std::string &root);

// Raises EInOutError(ENOMEDIUM) when the volume exists but is not ready.
void CheckVolumeReady(const std::string &root);

// The process's current directory as the system reports it.
std::string CurrentDirectory();

} // namespace pellux
