// The main of the benchmarks that read the rendered set.
#pragma once

#include <functional>
#include <string>

namespace quillore::bench {

// Sets the process up as the service does (see StartLikeTheService), starts Qt offscreen for the
// pictures, runs the benchmarks and then `report`, and removes the set's files. Started with
// "--memory-of=ENGINE", runs `probe` for that engine instead and returns its status.
int RunSetBenchmarks(int argc, char** argv, const std::function<void()>& report,
                     const std::function<int(const std::string& engine)>& probe = {});

} // namespace quillore::bench
