#pragma once
// The identity of this machine, for the staged rollout: a text that stays
// the same for the life of the system's installation and differs from
// machine to machine. It is private to the machine: hash it, never log or
// send it.
#include <string>

namespace platform {

// Windows: the value MachineGuid of the key
// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Cryptography, read in the 64-bit view (a 32-bit program
// would otherwise be shown the redirected key, which has no such value). Linux: the first line of
// the file named by the environment variable UPDATE_MACHINE_ID_FILE (default /etc/machine-id),
// blanks at both ends removed. Empty when the system names none. Never raises.
std::string MachineIdentity();

} // namespace platform
