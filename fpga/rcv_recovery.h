// Reader of the receiving-card recovery and scan files under "/data/rcvrecovery" and
// "/data/smartmapping".
#pragma once

#include <QString>

class rcvRecovery {
public:
    // Creates the directory (a program path) when it is missing: 0 it existed, 1 made,
    // 0 when it could not be made either (logged).
    int check_file_dir(const QString& dir);
};
