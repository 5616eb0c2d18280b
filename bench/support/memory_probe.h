// Resident memory of an engine, measured in a child process of its own started from the same
// program, so that what one engine loaded does not count for another.
#pragma once

#include <string>
#include <utility>

namespace quillore::bench {

// A field of /proc/self/status in KiB: "VmRSS:" (resident now) or "VmHWM:" (the peak).
long ResidentKb(const char* field);

// The ENGINE of a "--memory-of=ENGINE" argument when this process was started as a probe, else empty.
std::string ProbedEngine(int argc, char** argv);

// For the probe: prints the resident memory and the peak, KiB, for the program that started it.
void ReportToParent(long residentKb, long peakKb);

// Runs this program as a probe of `engine` and reads its report: {resident, peak} in MiB, or {-1, -1}.
std::pair<double, double> MemoryOf(const char* self, const std::string& engine);

} // namespace quillore::bench
