// What the benchmark programs share: a clock, the summary of repeated samples, and the
// machine's description. Figures only; nothing here judges them.
#pragma once
#include <vector>

namespace bench {

// Seconds on the performance counter, from an arbitrary origin.
double Now();

struct Summary {
    double best;
    double median;
    double worst;
};
Summary Summarize(std::vector<double> samples);

// "CPU model, N logical processors" as Windows sees it.
void PrintMachine(const char* program);

}  // namespace bench
