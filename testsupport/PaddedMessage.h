#pragma once

// Messages of a given size for benchmarks: a real message whose body is lengthened with lines of
// text, so that what is measured per message can be compared across sizes.

#include <cstddef>
#include <string>

namespace testsupport {

// `message` with lines of 76 letters (and CRLF) added to its end while it stays within `size`
// octets: the result is at most 77 octets short of `size`, or `message` itself if longer.
std::string PaddedMessage(std::string message, std::size_t size);

} // namespace testsupport
