// The program: "/data/app/zemT57N -platform linuxfb" on the box; "--sim DIR" (or ZEM_SIM_ROOT)
// runs it on the simulated box with DIR as its root.
#include <QApplication>
#include <cstdlib>
#include <cstring>

#include "platform/box.h"
#include "platform/sim/sim_box.h"

namespace {

// Removes "--sim DIR" from argv (Qt must not see it) and returns DIR, or ZEM_SIM_ROOT.
std::string takeSimRoot(int& argc, char** argv) {
    std::string root;
    if (const char* env = std::getenv("ZEM_SIM_ROOT")) root = env;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sim") == 0 && i + 1 < argc) {
            root = argv[i + 1];
            for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
            argc -= 2;
            break;
        }
    }
    return root;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string simRoot = takeSimRoot(argc, argv);
    if (simRoot.empty()) {
        platform::selectLinux();
    } else {
        platform::selectSimulated(simRoot);
        platform::sim::buildDefaultBox();
    }
    QApplication app(argc, argv);
    return app.exec();
}
