#pragma once
// Running under umockdev's LD_PRELOAD library: a program that hosts the emulated devices
// must itself run under it (or the udev events of plugging and unplugging go nowhere).

namespace q70::usbemu {

// Returns when this process already runs under the preload; otherwise re-executes
// /proc/self/exe with the same arguments under it and does not return (false when that
// failed). A sanitizer build puts its runtime first, as it must be first to load.
bool ensurePreload(char** argv);

// Whether this process runs under the preload.
bool underPreload();

}  // namespace q70::usbemu
