// Reader of the receiving-card recovery and scan files under "/data/rcvrecovery" and
// "/data/smartmapping".
#pragma once

#include <QString>
#include <cstdint>

class rcvRecovery {
public:
    // Creates the directory (a program path) when it is missing: 0 it existed, 1 made,
    // 0 when it could not be made either (logged).
    int check_file_dir(const QString& dir);

    // Config id of the screen record last read (0 before any).
    uint32_t config_id() const { return config_id_; }

private:
    uint32_t config_id_ = 0;
};
