// velmora-sim: the robot and its Bluetooth adapter on a pseudo-terminal.

#include "sim/app.h"
#include "sim/operator_commands.h"
#include "sim/options.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    using namespace velmora::sim;
    Options options;
    std::string err;
    if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, err)) {
        std::fprintf(stderr, "velmora-sim: %s\n%s", err.c_str(), usage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(usage().c_str(), stdout);
        std::fputs(operatorHelp().c_str(), stdout);
        return 0;
    }
    App app(options);
    return app.run();
}
