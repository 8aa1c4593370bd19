// What one look at the machine's serial ports costs: serial::machinePorts() (the system's
// list and what the kernel says of each port), and a look through
// serial::machinePortsWhenChanged() while nothing changed, which a port waiting for its
// device takes at every try. Prints the median and the slowest of many looks of each.
// Usage: bench_inventory [looks, default 200]
#include "benchsupport.h"
#include "portinfo.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void measure(const char* what, int looks, const serial::PortInventory& inventory) {
    std::vector<double> wallMs;
    std::vector<double> cpuMs;
    qsizetype found = 0;
    for (int look = 0; look < looks; ++look) {
        const bench::Stopwatch wall;
        const double cpu = bench::cpuSeconds();
        found = inventory().size();
        cpuMs.push_back((bench::cpuSeconds() - cpu) * 1000);
        wallMs.push_back(wall.seconds() * 1000);
    }
    std::printf("%-28s %d looks, %lld ports: median %.3f ms (CPU %.3f ms), slowest %.3f ms\n", what,
                looks, static_cast<long long>(found), bench::median(wallMs), bench::median(cpuMs),
                *std::max_element(wallMs.begin(), wallMs.end()));
}

} // namespace

int main(int argc, char* argv[]) {
    const QCoreApplication app(argc, argv);
    const int looks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    measure("machinePorts", looks, serial::machinePorts);
    measure("machinePortsWhenChanged", looks, serial::machinePortsWhenChanged());
    return 0;
}
