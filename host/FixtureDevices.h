// Devices for the platform's fixture backend, for the support check of the demo.
//
// Built in a directory of the caller's from the captured INQUIRY answers (a folder per device
// with page00.bin, page80.bin, page83.bin): a Korvan vDisk (the captured Korvan target with its
// product field NUL-padded the way a cluster pads it), the capture exactly as read (blank
// padding, so not a Korvan vDisk), another vendor's disk, a device without a SCSI interface,
// and a path with no device at all.
#pragma once

#include <string>
#include <vector>

namespace KrvnHost {

struct FixtureDevice {
    std::string path;     // "/dev/<name>" as the fixture backend resolves it
    std::string what;     // why zyso_isSupported takes it or not
    bool korvan = false;  // what zyso_isSupported should answer for it
};

// captures: the folder holding tgt-korvan-blank-padded and tgt-default. Empty with *error when
// a capture cannot be read or a file cannot be written.
std::vector<FixtureDevice> buildFixtureDevices(const std::string& dir, const std::string& captures, std::string* error);

// Where the demo finds the captures: the source tree it was built from, or the installed copy.
std::string defaultCaptureDir();

}  // namespace KrvnHost
