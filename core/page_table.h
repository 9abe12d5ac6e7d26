// The panel's pages by number: the id g_page_focus holds, the page class (the name its traces
// print) and where its Back leads. Core reads it for the refresh routes; ui/ registers each
// page's global pointer against these ids.
#pragma once

enum PageId : int {
    kPageHome = 0,
    kPageMain = 1,
    kPageMachineState = 2,
    kPageInputChoose = 3,
    kPageCustomMode = 4,
    kPageOption = 5,
    kPageOutputSet = 6,
    kPageInputCut = 7,
    kPageEdidSet = 8,
    kPageImageLayout = 9,
    kPageLinkOption = 10,
    kPageImageQuality = 11,
    kPageAdvancedOption = 12,
    kPageLedSet = 13,
    kPageNetSet = 14,
    kPageLcdShow = 15,
    kPageTestChart = 16,
    kPageOtherSetup = 17,
    kPageFactory = 18,
    kPageQuality = 19,
    kPageTemperature = 20,
    kPageLinkCom = 21,
    kPageLinkWlan = 22,
    kPageFactoryAge = 23,
    kPageSmartMapping = 24,
    kPageRcvRecovery = 25,
    kPageFirmwareUsbGrade = 26,
    kPageCount = 27,
};

struct PageRow {
    PageId id;
    const char* className;
    int parent;     // where Back leads
    int whileOpen;  // ... unless this page is open (-1: no such rule); Back then leads there
};

namespace page_table {

// The row of a page id; null for an id that names no page.
const PageRow* row(int id);
// The class name for traces ("?" for an id that names no page).
const char* className(int id);
// Where Back from page id leads, given which pages are open.
int parentOf(int id, bool (*isOpen)(int id));

}  // namespace page_table
