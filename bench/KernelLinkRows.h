#pragma once

#include <string>

namespace dovrel::bench {

// slow_link_bench's second way to run, chosen by "--kernel": the real agent and a foreign controller in
// two network namespaces, the link shaped by the kernel. Returns the program's exit code.
bool wantsKernelLinks(int argc, char** argv);
int runKernelLinks(int argc, char** argv, const std::string& scheduling);

} // namespace dovrel::bench
