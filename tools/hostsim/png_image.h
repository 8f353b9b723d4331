// A small, valid PNG image, as the chart's renderer would write it. Pure.
#ifndef QB_HOSTSIM_PNG_IMAGE_H
#define QB_HOSTSIM_PNG_IMAGE_H

#include <cstdint>
#include <string>

namespace qbhostsim {

// An 8-bit RGB image of width x height (1 to 4096 each) with a gradient that
// depends on `seed`, so that two captures differ. Uncompressed deflate
// blocks keep it free of a compression library.
std::string makePng(std::int32_t width, std::int32_t height, std::uint32_t seed);

}  // namespace qbhostsim

#endif
