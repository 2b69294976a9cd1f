// The fuzz targets: each takes one input and stops the process with a
// message when the code under test breaks one of its rules.  libFuzzer
// drives them (fuzz_main.cpp); the unit tests run the regression inputs
// and the link corpus through them.
#pragma once

#include <cstddef>
#include <cstdint>

// The link reader, and the shell link object's getters over what it read.
int FuzzReader(const uint8_t* data, std::size_t size);
// Load, save, load again through the object's COM interfaces: every field
// the same, and a second save byte for byte the first.
int FuzzRoundTrip(const uint8_t* data, std::size_t size);
// The command line and the run driver, over a scripted shell link object.
int FuzzDriver(const uint8_t* data, std::size_t size);
// ExpandEnvironmentStringsA against a plain model of it.
int FuzzExpand(const uint8_t* data, std::size_t size);

struct FuzzTarget {
  const char* Name;  // also the folder of its regressions and seeds
  int (*Entry)(const uint8_t* data, std::size_t size);
  bool TakesLinks;   // whether link files make seeds for it
};

inline constexpr FuzzTarget kFuzzTargets[] = {
    {"reader", FuzzReader, true},
    {"round_trip", FuzzRoundTrip, true},
    {"driver", FuzzDriver, false},
    {"expand", FuzzExpand, false},
};
