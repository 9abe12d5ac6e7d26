#include "comm/comm_bridge.h"

comm_bridge* comm_bridge::pInstance() {
    static comm_bridge* instance = new comm_bridge;  // never destroyed, like every manager
    return instance;
}
