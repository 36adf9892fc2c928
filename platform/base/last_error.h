#pragma once

// The calling thread's last-error value, the stand-in for GetLastError and SetLastError. Stand-ins
// set it on their failure paths to the code their Windows twin would leave; read it right after the
// call, since the next stand-in may overwrite it. Logging never touches it.

#include <cstdint>

namespace platform {

// GetLastError returns the calling thread's last-error value (0 until something sets it).
uint32_t GetLastError();

// SetLastError replaces the calling thread's last-error value with `code`.
void SetLastError(uint32_t code);

}  // namespace platform
