// The files the PC uploads as text: the alias file, the OSD menu and a user mode's copy of it
// (read and then shown by the C331 at rest), and the network settings "tcpip.ini". The first
// byte picks the file; the rest is its content.
#include <cstdint>

#include "c331/c331_manage.h"
#include "common/fuzz_box.h"
#include "core/config_engine.h"
#include "core/json_files.h"

namespace {

void aliases(const uint8_t* data, size_t n) {
    fuzz::writeFile("/data/configs/alias.json", data, n);
    for (const char* category : {"source", "usermode", "win", "crop", "x"}) {
        for (int id : {0, 1, 5, 40, -1}) {
            ALIAS_PARA para;
            get_json_alias_para(&para, category, id);
        }
        fuzz::writeFile("/data/configs/alias.json", data, n);  // a bad file is deleted
    }
}

void osdMenu(const char* path, const uint8_t* data, size_t n) {
    fuzz::writeFile(path, data, n);
    static OSD_LIST list;
    get_json_omenu_para(path, &list);
    c331_manage::p_c331_manage->set_OSD_para(&list);
}

void networkSettings(const uint8_t* data, size_t n) {
    fuzz::writeFile(ConfigEngine::kIniFile, data, n);
    delete ConfigEngine::p_config;  // read afresh, as at the next start
    ConfigEngine::p_config = nullptr;
    ConfigEngine::pInstance();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::startC331AtRest();
    if (size == 0) return 0;
    switch (data[0] % 4) {
        case 0:
            aliases(data + 1, size - 1);
            break;
        case 1:
            osdMenu("/data/configs/omenu.json", data + 1, size - 1);
            break;
        case 2:
            osdMenu("/data/modes/MO01.json", data + 1, size - 1);
            break;
        default:
            networkSettings(data + 1, size - 1);
            break;
    }
    return 0;
}
