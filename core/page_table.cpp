#include "core/page_table.h"

namespace page_table {
namespace {

// clang-format off
constexpr PageRow kRows[kPageCount] = {
    {kPageHome, "LockWindow", kPageMain, -1},
    {kPageMain, "MainWindow", kPageHome, -1},
    {kPageMachineState, "MachineState", kPageMain, -1},
    {kPageInputChoose, "InputChoose", kPageMain, kPageImageLayout},
    {kPageCustomMode, "CustomMode", kPageMain, -1},
    {kPageOption, "Option", kPageMain, -1},
    {kPageOutputSet, "OutputSet", kPageOption, -1},
    {kPageInputCut, "InputCut", kPageOption, kPageInputChoose},
    {kPageEdidSet, "EDIDset", kPageInputChoose, -1},
    {kPageImageLayout, "ImageLayout", kPageOption, -1},
    {kPageLinkOption, "LinkOption", kPageOption, -1},
    {kPageImageQuality, "ImageQuality", kPageOption, -1},
    {kPageAdvancedOption, "AdvancedOption", kPageOption, -1},
    {kPageLedSet, "ledset", kPageOutputSet, -1},
    {kPageNetSet, "netset", kPageOutputSet, -1},
    {kPageLcdShow, "lcdshow", kPageAdvancedOption, -1},
    {kPageTestChart, "test_chart", kPageOption, -1},
    {kPageOtherSetup, "othersetup", kPageAdvancedOption, -1},
    {kPageFactory, "factory", kPageAdvancedOption, -1},
    {kPageQuality, "quality", kPageImageQuality, -1},
    {kPageTemperature, "temperature", kPageImageQuality, -1},
    {kPageLinkCom, "linkcom", kPageLinkOption, -1},
    {kPageLinkWlan, "linkwlan", kPageLinkOption, -1},
    {kPageFactoryAge, "factoryage", kPageAdvancedOption, -1},
    {kPageSmartMapping, "SmartMapping", kPageOption, -1},
    {kPageRcvRecovery, "rcv_recovery", kPageAdvancedOption, -1},
    {kPageFirmwareUsbGrade, "firmware_usbgrade", kPageLinkOption, -1},
};
// clang-format on

// The table is indexed by id: a row out of place would route a page's refresh to another.
constexpr bool rowsInOrder() {
    for (int i = 0; i < kPageCount; ++i)
        if (kRows[i].id != i) return false;
    return true;
}
static_assert(rowsInOrder(), "page rows must be in id order");

}  // namespace

const PageRow* row(int id) {
    return id >= 0 && id < kPageCount ? &kRows[id] : nullptr;
}

const char* className(int id) {
    const PageRow* r = row(id);
    return r ? r->className : "?";
}

int parentOf(int id, bool (*isOpen)(int id)) {
    const PageRow* r = row(id);
    if (!r) return kPageMain;
    return r->whileOpen >= 0 && isOpen(r->whileOpen) ? r->whileOpen : r->parent;
}

}  // namespace page_table
