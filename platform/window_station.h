// Whether anybody can see the windows of this process.
#pragma once

namespace quentar {

// False when the process's window station is not the interactive one (its
// flags lack WSF_VISIBLE): a service, or a program started by a deployment
// tool as the system account in session 0, whose windows nobody sees or
// answers. True when the station's flags cannot be read: that alone is no
// reason to refuse a person their wizard. Through Sys().
bool WindowsCanBeSeen();

}  // namespace quentar
