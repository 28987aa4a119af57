#pragma once
// What differs between the jobs two built programmers carry.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace job {

// One line per key in which the descriptions (DescribePayload's JSON) differ, in the order
// show prints them ("title: \"A\" -> \"B\""), nested keys dotted ("program_serial.baud"); for
// the image its hashes and the first offset at which the images differ. Empty when alike.
std::vector<std::string> DiffJobs(const std::string& describedA, const std::string& describedB,
                                  std::span<const uint8_t> imageA, std::span<const uint8_t> imageB);

} // namespace job
