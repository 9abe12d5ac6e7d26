// Fixture of the core tests: the simulated box plus a way to build the configuration engine
// anew, as start-up does, under each test's own root.
#pragma once

#include <QSettings>
#include <QString>

#include "core/config_engine.h"
#include "sim_fixture.h"

class CoreTest : public SimBoxTest {
protected:
    // The engine as the first pInstance() call after power-on builds it. An engine of an
    // earlier test in the same process is kept (singletons are never destroyed).
    ConfigEngine* freshConfig();
    // The value the INI file holds for a key ("config/TcpPort"), read as a new reader would.
    QString iniValue(const char* file, const QString& key) const;
};
