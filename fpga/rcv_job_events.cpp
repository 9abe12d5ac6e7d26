#include "fpga/rcv_job_events.h"

namespace {

const RecoveryOutcomeName kNames[] = {
    {"尚未查询", "No query yet", "Запроса ещё не было", "Chưa truy vấn", "尚未查詢"},
    {"无恢复文件", "No recovery file", "Нет файла восстановления", "Không có tệp phục hồi",
     "無恢復文件"},
    {"文件被拒绝或无法读取", "File refused or unreadable", "Файл отклонён или не читается",
     "Tệp bị từ chối hoặc không đọc được", "文件被拒絕或無法讀取"},
    {"查询失败", "Query failed", "Запрос не удался", "Truy vấn không thành công", "查詢失敗"},
    {"恢复失败", "Recovery failed", "Восстановление не удалось", "Phục hồi không thành công",
     "恢復失敗"},
    {"", "", "", "", ""},
};
static_assert(sizeof kNames / sizeof kNames[0] == RecoveryOutcome::kList + 1, "one name a kind");

}  // namespace

const RecoveryOutcomeName& recoveryOutcomeName(RecoveryOutcome::Kind kind) {
    return kNames[kind];
}

void rcv_job_events::recoveryEnded(const RecoveryOutcome& outcome) {
    {
        zem::MutexLocker lock(mutex_);
        outcome_ = outcome;
    }
    emit sig_recovery_outcome();
}

RecoveryOutcome rcv_job_events::recoveryOutcome() const {
    zem::MutexLocker lock(mutex_);
    return outcome_;
}
