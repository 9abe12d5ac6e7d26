#include "ui/shell/panel_texts.h"

namespace words {
// clang-format off
const Texts kNoSignal = {"无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號"};
const Texts kUsing = {"使用中", "Using", "Активен", "sử dụng", "使用中"};
const Texts kBlack = {"黑屏", "Black", "Черный", "Màn đen", "黑屏"};
const Texts kClose = {"未开启", "Close", "Откл", "Đóng", "未開啟"};
const Texts kOk = {"确定", "OK", "OK", "Đồng ý", "確定"};
const Texts kCancel = {"取消", "Cancel", "Отмена", "Hủy bỏ", "取消"};
const Texts kWidth = {"宽", "W", "Шир.", "Rộng", "寬"};
const Texts kHeight = {"高", "H", "Высота", "Cao", "高"};
// clang-format on
}  // namespace words
