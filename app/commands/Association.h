#pragma once
// The "&Associate  .zip  files with  Pellux" command: after a confirmation, registers
// Program as the handler that opens .zip files (through the registry store in force).
#include <string>

namespace pellux {

// Program is the full path of the program to register, as the system reports it.
// A value that cannot be written raises ERegistryException; a value written before it
// stays.
void AssociateZipFiles(const std::string &Program);

} // namespace pellux
