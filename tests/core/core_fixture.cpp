#include "core_fixture.h"

#include <vector>

#include "platform/box.h"

ConfigEngine* CoreTest::freshConfig() {
    static auto* earlier = new std::vector<ConfigEngine*>;  // never freed, like the engine
    if (ConfigEngine::p_config) earlier->push_back(ConfigEngine::p_config);
    ConfigEngine::p_config = nullptr;
    return ConfigEngine::pInstance();
}

QString CoreTest::iniValue(const char* file, const QString& key) const {
    QSettings s(QString::fromStdString(platform::path(file)), QSettings::IniFormat);
    return s.value(key).toString();
}
